#!/usr/bin/env python3
"""Deep-colour benchmark helpers.

make DIR [N]   N (60) frames of 16-bit TIFF, 1920x1080: a dusk sky from 2 %
               (top) to 6 % (bottom) of full scale, the photograph's detail
               on it at 0.2 % and a little camera noise (0.03 % of full
               scale), each frame with its own noise.
crop MOVIE PNG a 320 x 180 crop of the movie's first frame (luma), its
               contrast stretched twentyfold and enlarged three times
measure MOVIE  the banding of the movie's first 10 frames: the RMS, in
               10-bit code values, of the luma's row means against a smooth
               curve (a polynomial of degree 4 over the rows), and the
               longest run of rows whose mean stays on one 10-bit value.
"""
import subprocess
import sys

import numpy as np

W, H = 1920, 1080


def photo_detail(photo):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", photo, "-vf", f"scale={W}:{H}", "-f", "rawvideo",
                          "-pix_fmt", "gray16le", "-"], check=True, capture_output=True).stdout
    g = np.frombuffer(raw, "<u2").reshape(H, W) / 65535.0
    return g - g.mean()


def make(folder, n, photo):
    import os
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(7)
    sky = np.linspace(0.02, 0.06, H)[:, None] * np.ones((1, W))
    base = sky + 0.002 * photo_detail(photo)
    for i in range(n):
        frame = base + rng.normal(0, 0.0003, (H, W))
        rgb = np.clip(np.stack([frame * 0.9, frame, frame * 1.2], axis=2), 0, 1)
        data = np.round(rgb * 65535).astype("<u2").tobytes()
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb48le", "-s", f"{W}x{H}",
                        "-i", "-", "-pix_fmt", "rgb48le", f"{folder}/sky_{i + 1:03d}.tif"], input=data, check=True)


def measure(movie):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-frames:v", "10", "-f", "rawvideo", "-pix_fmt",
                          "yuv420p10le", "-"], check=True, capture_output=True).stdout
    frame = W * H * 3 // 2
    count = len(raw) // (frame * 2)
    rms, runs = [], []
    for k in range(count):
        y = np.frombuffer(raw[k * frame * 2:(k * frame + W * H) * 2], "<u2").reshape(H, W).astype(float)
        rows = y.mean(axis=1)
        t = np.linspace(-1, 1, H)
        fit = np.polyval(np.polyfit(t, rows, 4), t)
        rms.append(np.sqrt(np.mean((rows - fit) ** 2)))
        level = np.round(rows)
        longest = run = 1
        for a, b in zip(level[:-1], level[1:]):
            run = run + 1 if a == b else 1
            longest = max(longest, run)
        runs.append(longest)
    print(f"{np.mean(rms):.2f} {int(np.median(runs))}")


def crop(movie, png):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "yuv444p16le", "-"], check=True, capture_output=True).stdout
    y = np.frombuffer(raw[:W * H * 2], "<u2").reshape(H, W).astype(float)[450:630, 800:1120]
    lo, hi = 64 * 64 + 0.025 * 876 * 64, 64 * 64 + 0.045 * 876 * 64  # 2.5 % to 4.5 % of video luma
    out = np.clip((y - lo) / (hi - lo), 0, 1)
    out = np.repeat(np.repeat(np.round(out * 65535).astype("<u2"), 3, axis=0), 3, axis=1)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "gray16le", "-s",
                    f"{out.shape[1]}x{out.shape[0]}", "-i", "-", "-pix_fmt", "gray", png], input=out.tobytes(),
                   check=True)


if __name__ == "__main__":
    if sys.argv[1] == "crop":
        crop(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 60, sys.argv[4] if len(sys.argv) > 4 else
             "../shared/bench/leaf.jpg")
    else:
        measure(sys.argv[2])
