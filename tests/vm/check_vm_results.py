#!/usr/bin/env python3
"""Judges what the readers in the test VM received.

check_vm_results.py <results dir> <width> <height> <readers' start> <end>

Frames: the rate the device's time stamps show over the ffmpeg read, from
its second second on.
Colours: one frame as RGB; the source has red on the left and blue on the
right, so after the mirror the left must be blue and the right red.
Connection: the driver's log must show a reader while they read, and none
within a second after the last one finished.
"""
import sys
from pathlib import Path


def frame_rate(crc_file):
    timebase = 1e-6
    stamps = []
    for line in crc_file.read_text().splitlines():
        if line.startswith("#tb 0:"):
            num, den = line.split(":")[1].strip().split("/")
            timebase = int(num) / int(den)
        elif line and not line.startswith("#"):
            stamps.append(int(line.split(",")[1]))
    # A reader that finds the camera let go of the device waits for it to come
    # back (about a second): the rate counts from the second after that.
    gap = max((b - a for a, b in zip(stamps, stamps[1:31])), default=0) * timebase
    steady = stamps[30:]
    if len(steady) < 2:
        return len(stamps), 0.0, gap
    return len(stamps), (len(steady) - 1) / ((steady[-1] - steady[0]) * timebase), gap


def colour_at(rgb, width, x, y):
    i = (y * width + x) * 3
    return tuple(rgb[i:i + 3])


def is_red(c):
    return c[0] > 200 and c[1] < 60 and c[2] < 60


def is_blue(c):
    return c[2] > 200 and c[0] < 60 and c[1] < 60


def connection_events(driver_log):
    events = []
    for line in driver_log.read_text().splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[1].startswith("connected="):
            events.append((float(parts[0]), parts[1] == "connected=1"))
    return events


def main():
    results, width, height = Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    start, end = float(sys.argv[4]), float(sys.argv[5])
    failures = []

    count, rate, gap = frame_rate(results / "frames.crc")
    print(f"ffmpeg read {count} frames at {rate:.2f} fps (device time stamps), the longest wait in the first "
          f"second {gap:.2f} s")
    # Emulation on a busy machine dips now and then; a pacing fault is far off.
    if count < 60 or not 27.0 <= rate <= 33.0:
        failures.append("frame rate")

    rgb = (results / "frame.rgb").read_bytes()
    if len(rgb) != width * height * 3:
        failures.append(f"frame of {len(rgb)} bytes")
    else:
        left = colour_at(rgb, width, width // 4, height // 2)
        right = colour_at(rgb, width, 3 * width // 4, height // 2)
        print(f"reader saw left RGB{left}, right RGB{right}")
        if not (is_blue(left) and is_red(right)):
            failures.append("colours (want blue left, red right after the mirror)")

    events = connection_events(results / "driver.txt")
    print("connection changes:", ", ".join(f"{t - start:+.2f}s {'on' if c else 'off'}" for t, c in events))
    if not any(c and start <= t <= end for t, c in events):
        failures.append("no connection seen while reading")
    # The last reader closes the device before its process has ended.
    last_on = max((t for t, c in events if c and t <= end), default=None)
    off = next((t for t, c in events if not c and last_on is not None and t >= last_on), None)
    if off is None or off - end > 1.0 or events[-1][1]:
        failures.append("still connected a second after the readers left")
    else:
        print(f"disconnected {off - end:+.2f} s from the last reader's exit")

    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
