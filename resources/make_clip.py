#!/usr/bin/env python3
"""Makes the scanning animation "Recovery.avi": 26 frames of 154 x 115 pixels at 13 frames a
second, MJPEG in AVI, a disc whose search sweep turns once round. Needs gst-launch-1.0 with the
base and good plug-ins. usage: make_clip.py [OUTPUT]"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

W, H, FRAMES = 154, 115, 26
BACK = (0xF0, 0xF0, 0xF0)
DISC = (0xD9, 0xE6, 0xF7)
EDGE = (0x2A, 0x66, 0xB5)
SWEEP = (0x3B, 0x82, 0xDB)


def png(path, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def frame(n):
    cx, cy, r = W / 2, H / 2, 40
    start = 2 * math.pi * n / FRAMES
    rows = []
    for y in range(H):
        row = []
        for x in range(W):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            d = math.hypot(dx, dy)
            colour = BACK
            if d <= r + 1.5:
                colour = EDGE if d > r - 1.5 else DISC
                if d < r - 1.5:
                    angle = (math.atan2(dx, -dy) - start) % (2 * math.pi)
                    if angle < math.pi / 3:
                        colour = SWEEP
                    if abs(d - 8) < 1:
                        colour = EDGE
                    elif d < 8:
                        colour = BACK
            row.append(colour)
        rows.append(row)
    return rows


def main():
    out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "Recovery.avi"))
    with tempfile.TemporaryDirectory() as folder:
        for n in range(FRAMES):
            png(os.path.join(folder, f"frame{n:02d}.png"), frame(n))
        subprocess.run(["gst-launch-1.0", "-q", "multifilesrc", f"location={folder}/frame%02d.png", "index=0",
                        f"stop-index={FRAMES - 1}", "caps=image/png,framerate=13/1", "!", "pngdec", "!",
                        "videoconvert", "!", "video/x-raw,format=I420", "!", "jpegenc", "!", "avimux", "!",
                        "filesink", f"location={out}"], check=True)


if __name__ == "__main__":
    main()
