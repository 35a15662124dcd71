#!/usr/bin/env python3
"""Judges one frame a reader grabbed in the test VM and says what it saw.

check_frame.py <prefix> <width> <height> halves|placeholder
check_frame.py <browser log> <width> <height> browser

<prefix>.txt is v4l2-ctl's report (format and rate), <prefix>.yuyv the frames
read; the newest is judged.
halves: the driver's picture after the mirror, blue left and red right.
placeholder: dark corners and Vidloom's blue disc in the middle.
browser: camera_page.html's report: the label, the settings, the halves in
every sampled frame and a top band that changes between them.
"""
import json
import re
import sys
from pathlib import Path


def near(c, want, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(c, want))


def browser(log, width, height):
    found = re.findall(r'camera-page: (\{.*\})", source', Path(log).read_text(errors="replace"))
    page = json.loads(found[-1]) if found else {"error": "no report"}
    frames = page.get("frames", [])
    halves = [near(f["left"], (0, 0, 255), 60) and near(f["right"], (255, 0, 0), 60) for f in frames]
    moving = len({f["band"] for f in frames})
    ok = (page.get("label", "").startswith("Vidloom") and (page.get("width"), page.get("height")) == (width, height)
          and abs(page.get("frameRate", 0) - 30) < 0.5 and frames and all(halves) and moving > 1)
    last = frames[-1] if frames else {}
    print(f"browser saw {page.get('label', '?')!r} {page.get('width')}x{page.get('height')} at "
          f"{page.get('frameRate')} fps, left RGB{tuple(last.get('left', ()))} right RGB{tuple(last.get('right', ()))}, "
          f"{moving} different pictures in {len(frames)} samples{', ' + page['error'] if 'error' in page else ''}: "
          f"{'ok' if ok else 'FAIL'}")
    return 0 if ok else 1


def main():
    prefix, width, height, kind = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    if kind == "browser":
        return browser(prefix, width, height)
    log = Path(prefix + ".txt").read_text(errors="replace")
    size = re.search(r"Width/Height\s*:\s*(\d+)/(\d+)", log)
    rate = re.search(r"Frames per second:\s*([\d.]+)", log)
    label = re.search(r"Card type\s*:\s*(.*)", log)
    seen = (f"{label[1].strip() if label else '?'} {size[1]}x{size[2] if size else '?'} at "
            f"{rate[1] if rate else '?'} fps") if size else "no format"
    frame = Path(prefix + ".yuyv").read_bytes() if Path(prefix + ".yuyv").exists() else b""
    if len(frame) < width * height * 2:
        print(f"reader saw {seen}, {len(frame)} bytes: FAIL (wanted {kind} at {width}x{height})")
        return 1
    frame = frame[len(frame) - width * height * 2:]  # the newest

    def at(x, y):
        # YUYV, BT.601 limited range, to RGB.
        i = (y * width + (x & ~1)) * 2
        luma = frame[i + 2 * (x & 1)] - 16
        cb, cr = frame[i + 1] - 128, frame[i + 3] - 128
        rgb = (1.164 * luma + 1.596 * cr, 1.164 * luma - 0.392 * cb - 0.813 * cr, 1.164 * luma + 2.017 * cb)
        return tuple(max(0, min(255, round(c))) for c in rgb)

    if kind == "halves":
        left, right = at(width // 4, height // 2), at(3 * width // 4, height // 2)
        ok = near(left, (0, 0, 255), 60) and near(right, (255, 0, 0), 60)
        what = f"left RGB{left} right RGB{right}"
    else:
        corners = [at(1, 1), at(width - 2, height - 2)]
        side = max(8, min(width, height) * 2 // 5)
        disc = at(width // 2 - side * 25 // 64, height * 2 // 5)
        ok = all(near(c, (0x1e, 0x21, 0x27)) for c in corners) and near(disc, (0x75, 0x84, 0xf2))
        what = f"corners RGB{corners[0]} RGB{corners[1]}, disc RGB{disc}"
    ok = ok and f"{width}x{height} at 30.000" in seen
    print(f"reader saw {seen}, {kind}: {what}: {'ok' if ok else 'FAIL'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
