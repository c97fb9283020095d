#!/usr/bin/python3
"""Test sequences for deflicker, made from the benchmark photograph, and the
measure of how well a result follows the intended light.

  deflicker.py make OUT_DIR KIND    frames OUT_DIR/f-000.jpg ... and OUT_DIR/ramp.txt
      KIND: flicker  120 frames, a ramp of -2 EV plus uniform jitter of
                     +-0.3 EV (seed 16)
            ramp     the same ramp without jitter
            outlier  120 frames at one exposure but frame 60, 4 EV darker
  deflicker.py levels INPUT [FFMPEG_FILTER]   log2 of each frame's mean linear
      luminance, one a line (INPUT: a movie or an image pattern)
  deflicker.py rms LEVELS RAMP      RMS of the log2 error against the ramp
      after the best constant offset
  deflicker.py worst LEVELS RAMP SKIP   the largest error of any frame but
      SKIP against the ramp (for the outlier: how far its neighbours moved)

Needs python3-numpy (Debian) and ffmpeg.
"""
import os
import subprocess
import sys

import numpy as np

PHOTO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "bench", "leaf.jpg")
W, H, FRAMES = 1024, 768, 120
BASE_EV = -0.5  # the photograph's reds are near clipping: room for the brighter frames


def to_linear(codes):
    c = codes / 255.0
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


def to_srgb(lin):
    lin = np.clip(lin, 0.0, 1.0)
    c = np.where(lin <= 0.0031308, lin * 12.92, 1.055 * lin ** (1 / 2.4) - 0.055)
    return np.round(c * 255.0).astype(np.uint8)


def decode(args, w, h):
    """Frames of ffmpeg's output as float linear RGB, one at a time."""
    proc = subprocess.Popen(["ffmpeg", "-v", "error"] + args + ["-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                            stdout=subprocess.PIPE)
    size = w * h * 3
    while True:
        buf = proc.stdout.read(size)
        if len(buf) < size:
            break
        yield np.frombuffer(buf, np.uint8).reshape(h, w, 3)
    proc.wait()


def probe_size(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=width,height", "-of", "csv=p=0", path], capture_output=True, text=True).stdout
    w, h = out.strip().splitlines()[0].split(",")[:2]
    return int(w), int(h)


def make(out, kind):
    os.makedirs(out, exist_ok=True)
    photo = next(decode(["-i", PHOTO, "-vf", f"scale={W}:{H}:flags=lanczos"], W, H))
    lin = to_linear(photo.astype(np.float64))
    ramp = -2.0 * np.arange(FRAMES) / (FRAMES - 1)
    if kind == "flicker":
        ev = ramp + np.random.default_rng(16).uniform(-0.3, 0.3, FRAMES)
    elif kind == "ramp":
        ev = ramp.copy()
    elif kind == "outlier":
        ramp = np.zeros(FRAMES)
        ev = ramp.copy()
        ev[60] = -4.0
    else:
        sys.exit("unknown kind " + kind)
    enc = subprocess.Popen(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", f"{W}x{H}",
                            "-i", "-", "-q:v", "2", "-start_number", "0", os.path.join(out, "f-%03d.jpg")], stdin=subprocess.PIPE)
    for e in ev:
        enc.stdin.write(to_srgb(lin * 2.0 ** (BASE_EV + e)).tobytes())
    enc.stdin.close()
    enc.wait()
    np.savetxt(os.path.join(out, "ramp.txt"), ramp, fmt="%.6f")


def levels(source, vf=None):
    if os.path.isdir(source):
        first = os.path.join(source, "f-000.jpg")
        w, h = probe_size(first)
        args = ["-framerate", "30", "-start_number", "0", "-i", os.path.join(source, "f-%03d.jpg")]
    else:
        w, h = probe_size(source)
        args = ["-i", source]
    if vf:
        args += ["-vf", vf]
    # Per component: the mean of the linear values is the mean of a table
    # lookup, so a histogram of each channel is all that is needed.
    table = to_linear(np.arange(256, dtype=np.float64))
    weights = (0.2126, 0.7152, 0.0722)
    for frame in decode(args, w, h):
        mean = sum(wt * (np.bincount(frame[:, :, c].ravel(), minlength=256) @ table)
                   for c, wt in enumerate(weights)) / (w * h)
        print(f"{np.log2(mean):.6f}")


def errors(level_file, ramp_file):
    got = np.loadtxt(level_file)
    ramp = np.loadtxt(ramp_file)
    if len(got) != len(ramp):
        sys.exit(f"{len(got)} frames, {len(ramp)} expected")
    e = got - ramp
    return e - e.mean()


def main():
    cmd = sys.argv[1]
    if cmd == "make":
        make(sys.argv[2], sys.argv[3])
    elif cmd == "levels":
        levels(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    elif cmd == "rms":
        print(f"{np.sqrt(np.mean(errors(sys.argv[2], sys.argv[3]) ** 2)):.4f}")
    elif cmd == "worst":
        got, ramp, skip = np.loadtxt(sys.argv[2]), np.loadtxt(sys.argv[3]), int(sys.argv[4])
        keep = np.arange(len(got)) != skip
        e = got[keep] - ramp[keep]
        # Against the median frame, so that a shift of the neighbours shows
        # as their distance from the rest.
        print(f"{np.max(np.abs(e - np.median(e))):.4f}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
