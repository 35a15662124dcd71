#!/usr/bin/env python3
"""Vidloom's streaming path against the ffmpeg command line a user would
type instead, job by job. One command: makes the clips, builds
vidloom_pipeline, runs ffmpeg and Vidloom alternately as whole processes for
a few rounds, and prints the medians (frames per second, CPU ms per frame,
ratio), then Vidloom's per-stage breakdown beside a memcpy of the frame.

  bench/compare.py [--rounds N] [--build DIR] [--baseline OTHER_PIPELINE]

--baseline adds a second Vidloom build (e.g. one made from main) as a
third contender in the same alternation, for before/after pairs.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLIPS = {"1080p": ("1920x1080", 10), "4k": ("3840x2160", 4), "portrait": ("1080x1920", 10)}
JOBS = [("1920x1080 -> 1280x720", "1080p", 1280, 720),
        ("1920x1080 -> 3840x2160", "1080p", 3840, 2160),
        ("3840x2160 -> 1280x720", "4k", 1280, 720),
        ("3840x2160 -> 3840x2160", "4k", 3840, 2160),
        ("1080x1920 -> 1280x720 (bars)", "portrait", 1280, 720)]


def ffmpeg_command(clip, w, h):
    vf = (f"scale={w}:{h}:force_original_aspect_ratio=decrease:flags=neighbor,"
          f"pad={w}:{h}:(ow-iw)/2:(oh-ih)/2,hflip")
    return ["ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-vf", vf,
            "-pix_fmt", "yuyv422", "-f", "null", "-"]


def timed(cmd):
    """Wall seconds and CPU seconds (user + system) of one whole process."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(cmd)}")
    return wall, usage.ru_utime + usage.ru_stime


def make_clips(folder):
    paths = {}
    for name, (size, seconds) in CLIPS.items():
        path = os.path.join(folder, name + ".mp4")
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                        f"testsrc2=s={size}:r=30:d={seconds}", "-c:v", "libx264",
                        "-preset", "ultrafast", "-pix_fmt", "yuv420p", path], check=True)
        paths[name] = (path, seconds * 30)
    return paths


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--baseline", help="another vidloom_pipeline to run alongside")
    parser.add_argument("--jobs", help="comma-separated job numbers (1-5) to run")
    args = parser.parse_args()

    if not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVIDLOOM_BUILD_APP=OFF",
                        "-DVIDLOOM_BUILD_TESTS=OFF", "-DVIDLOOM_BUILD_BENCH=ON"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "--target", "vidloom_pipeline"], check=True,
                   stdout=subprocess.DEVNULL)
    pipeline = os.path.join(args.build, "bin", "vidloom_pipeline")
    jobs = JOBS if not args.jobs else [JOBS[int(i) - 1] for i in args.jobs.split(",")]

    with tempfile.TemporaryDirectory() as folder:
        print("Making clips (testsrc2, libx264 ultrafast, yuv420p, 30 fps) ...", flush=True)
        clips = make_clips(folder)
        contenders = [("ffmpeg", None)]
        if args.baseline:
            contenders.append(("baseline", args.baseline))
        contenders.append(("vidloom", pipeline))
        results = {}
        for r in range(args.rounds):
            print(f"round {r + 1}/{args.rounds}", flush=True)
            for label, clip_name, w, h in jobs:
                clip, frames = clips[clip_name]
                for who, binary in contenders:
                    cmd = ffmpeg_command(clip, w, h) if binary is None else [binary, clip, str(w), str(h)]
                    wall, cpu = timed(cmd)
                    results.setdefault((label, who), []).append((frames / wall, cpu * 1e3 / frames))

        def med(label, who, i):
            return statistics.median(v[i] for v in results[(label, who)])

        names = [who for who, _ in contenders]
        print(f"\nMedians of {args.rounds} rounds, unpaced, YUYV out, whole processes")
        head = "| job | " + " | ".join(f"{n} fps" for n in names) + " | " + \
               " | ".join(f"{n}/ffmpeg" for n in names[1:]) + " | " + \
               " | ".join(f"{n} CPU ms/frame" for n in names) + " |"
        print(head)
        print("|---" * (head.count("|") - 1) + "|")
        for label, *_ in jobs:
            fps = [med(label, n, 0) for n in names]
            cpu = [med(label, n, 1) for n in names]
            print(f"| {label} | " + " | ".join(f"{v:.1f}" for v in fps) + " | " +
                  " | ".join(f"{v / fps[0]:.2f}" for v in fps[1:]) + " | " +
                  " | ".join(f"{v:.2f}" for v in cpu) + " |")

        print("\nVidloom per stage, ms per frame (one thread, medians over the clip):")
        for label, clip_name, w, h in jobs:
            clip, _ = clips[clip_name]
            out = subprocess.run([pipeline, clip, str(w), str(h), "--stages"], check=True,
                                 capture_output=True, text=True).stdout.strip().splitlines()
            print(f"  {label}: {out[-1] if out else ''}")


if __name__ == "__main__":
    main()
