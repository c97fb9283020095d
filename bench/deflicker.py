#!/usr/bin/python3
"""Test sequences for deflicker, made from the benchmark photograph, and the
measures of how well a result follows the intended light.

  deflicker.py make OUT_DIR KIND    frames OUT_DIR/f-000.jpg ... and
      OUT_DIR/light.txt (the light's curve, log2); nothing to do when OUT_DIR
      already holds the same sequence
  deflicker.py levels INPUT [FFMPEG_FILTER]   log2 of each frame's mean
      linear luminance, one a line (INPUT: a movie or a folder of frames)
  deflicker.py grid DIR KIND        ffmpeg's deflicker filter on DIR at every
      size and mode of the grid below: the levels of each, kept in
      DIR/ffmpeg-grid.txt for the next run (while the frames and ffmpeg's
      version stay the same)
  deflicker.py table WORK KIND...   the Markdown table of input, moirevance
      (WORK/KIND-in.txt, WORK/KIND-out.txt) and the best of ffmpeg's grid
      by each sequence's own measure; writes WORK/KIND-ffmpeg.txt (the best
      one's levels) and WORK/KIND-ffmpeg-pick.txt (its size and mode)
  deflicker.py rms LEVELS LIGHT     RMS of the log2 error against the light
      after the best constant offset
  deflicker.py worst LEVELS LIGHT SKIP   the largest error of any frame but
      SKIP against the light (for the outlier: how far its neighbours moved)

KIND: the table's sequences ramp, sunset, sunrise, holy-grail, misfire,
cloud (see SEQUENCES), and for the plain checks steady-ramp (a ramp without
flicker) and outlier (one frame 4 EV dark among steady ones).

Needs python3-numpy (Debian), ffmpeg and, for holy-grail, exiftool.
"""
import datetime
import os
import shutil
import subprocess
import sys
from fractions import Fraction

import numpy as np

PHOTO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "bench", "leaf.jpg")
# Small frames: ffmpeg's grid decodes and measures every sequence 14 times.
W, H = 512, 384
BASE_EV = -0.5  # the photograph's reds are near clipping: room for the brighter frames

SIZES = [3, 5, 7, 9, 11, 15, 21, 31, 41, 51, 65, 81, 101, 129]
MODES = ["am", "gm", "hm", "qm", "cm", "pm", "median"]

MISFIRE = 60           # the misfired frame of "misfire", 2 EV dark
CLOUD = range(55, 65)  # the frames of "cloud" under the cloud, 1 EV dark, hard edges

# Holy grail: the photographer's base shutter and what the camera says.
GRAIL_BASE_TIME = Fraction(1, 250)
GRAIL_START = (2024, 6, 21, 21, 0, 0)  # capture date of the first frame; one every 10 s


def _u(n):
    return np.arange(n) / (n - 1)


# name: frames, flicker (uniform, +-EV), seed, the light's curve, table text.
SEQUENCES = {
    "ramp": (120, 0.20, 101, lambda n: -2.0 * _u(n),
             "a. ramp of -2 EV"),
    "sunset": (120, 0.20, 202, lambda n: -3.0 / (1 + np.exp(-(np.arange(n) - 60) / 8.0)),
               "b. sunset: logistic fall of 3 EV, 10%-90% in 35 frames"),
    "sunrise": (150, 0.15, 303, lambda n: -3.0 + 3.0 / (1 + np.exp(-(np.arange(n) - 75) / 15.0)),
                "c. sunrise: logistic rise of 3 EV, 10%-90% in 66 frames"),
    "holy-grail": (150, 0.05, 404, lambda n: -3.0 * (_u(n) + _u(n) ** 2) / 2,
                   "d. holy grail: light falls 3 EV ever faster, shutter +1/3 EV at each third, EXIF"),
    "misfire": (120, 0.15, 505, lambda n: -0.5 * _u(n),
                f"e. ramp of -0.5 EV, frame {MISFIRE} misfired 2 EV dark"),
    "cloud": (120, 0.10, 606, lambda n: -0.5 * _u(n),
              f"f. ramp of -0.5 EV, cloud of 1 EV over frames {CLOUD.start}-{CLOUD.stop - 1}, hard edges"),
    "steady-ramp": (120, 0.0, 0, lambda n: -2.0 * _u(n), "ramp of -2 EV, no flicker"),
    "outlier": (120, 0.0, 0, lambda n: np.zeros(n), "steady, frame 60 4 EV dark"),
}


def to_linear(codes):
    c = codes / 255.0
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


def to_srgb(lin):
    lin = np.clip(lin, 0.0, 1.0)
    c = np.where(lin <= 0.0031308, lin * 12.92, 1.055 * lin ** (1 / 2.4) - 0.055)
    return np.round(c * 255.0).astype(np.uint8)


def decode(args, w, h, planar=False):
    """Frames of ffmpeg's output as 8-bit RGB, one at a time; planar: as
    ffmpeg's planes G, B, R (the same values, quicker to count)."""
    proc = subprocess.Popen(["ffmpeg", "-v", "error", "-threads", "1"] + args +
                            ["-f", "rawvideo", "-pix_fmt", "gbrp" if planar else "rgb24", "-"],
                            stdout=subprocess.PIPE)
    size = w * h * 3
    while True:
        buf = proc.stdout.read(size)
        if len(buf) < size:
            break
        yield np.frombuffer(buf, np.uint8).reshape((3, h, w) if planar else (h, w, 3))
    if proc.wait() != 0:
        sys.exit("ffmpeg failed: " + " ".join(args))


def probe_size(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=width,height", "-of", "csv=p=0", path], capture_output=True, text=True).stdout
    w, h = out.strip().splitlines()[0].split(",")[:2]
    return int(w), int(h)


def grail_shutter(light):
    """The holy grail's exposure times: 1/3 EV longer each time the light
    has fallen another third, rounded to 6 significant digits as the camera
    would store the rational. The pixels are exposed by the stored value, so
    that they and the EXIF agree exactly."""
    thirds = np.floor(-light * 3 + 1e-9).astype(int)
    times = []
    for k in thirds:
        t = float(GRAIL_BASE_TIME) * 2.0 ** (k / 3)
        times.append(Fraction(f"{t:.6g}"))
    return times


def description(kind):
    frames, flicker, seed, _, text = SEQUENCES[kind]
    return f"{text}; {frames} frames of {W}x{H}, flicker +-{flicker} EV (seed {seed})"


def make(out, kind):
    """The frames and light.txt; description.txt is written last and marks a
    finished folder, so an interrupted or changed sequence is made again."""
    if kind not in SEQUENCES:
        sys.exit("unknown kind " + kind)
    about = description(kind)
    marker = os.path.join(out, "description.txt")
    if os.path.exists(marker) and open(marker).read().strip() == about:
        return
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    frames, flicker, seed, curve, _ = SEQUENCES[kind]
    light = curve(frames)
    ev = light.copy()
    if flicker:
        ev += np.random.default_rng(seed).uniform(-flicker, flicker, frames)
    times = None
    if kind == "holy-grail":
        times = grail_shutter(light)
        ev += np.log2([float(t / GRAIL_BASE_TIME) for t in times])
    elif kind == "misfire":
        ev[MISFIRE] -= 2.0
    elif kind == "cloud":
        ev[CLOUD.start:CLOUD.stop] -= 1.0
    elif kind == "outlier":
        ev[60] -= 4.0

    photo = next(decode(["-i", PHOTO, "-vf", f"scale={W}:{H}:flags=lanczos"], W, H))
    lin = to_linear(photo.astype(np.float64))
    enc = subprocess.Popen(["ffmpeg", "-v", "error", "-threads", "1", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24",
                            "-s", f"{W}x{H}", "-i", "-", "-q:v", "2", "-start_number", "0",
                            os.path.join(out, "f-%03d.jpg")], stdin=subprocess.PIPE)
    for e in ev:
        enc.stdin.write(to_srgb(lin * 2.0 ** (BASE_EV + e)).tobytes())
    enc.stdin.close()
    if enc.wait() != 0:
        sys.exit("ffmpeg could not write the frames")
    if times:
        write_exif(out, times)
    np.savetxt(os.path.join(out, "light.txt"), light, fmt="%.6f")
    with open(marker, "w") as f:
        f.write(about + "\n")


def write_exif(out, times):
    """What a camera in manual mode would write, in one exiftool run."""
    start = datetime.datetime(*GRAIL_START)
    args = []
    for i, t in enumerate(times):
        when = start + datetime.timedelta(seconds=10 * i)
        args += [f"-ExposureTime={t.numerator}/{t.denominator}",
                 f"-DateTimeOriginal={when:%Y:%m:%d %H:%M:%S}",
                 os.path.join(out, f"f-{i:03d}.jpg"), "-execute"]
    args.pop()  # between the frames' commands only
    argfile = os.path.join(out, "exif-args.txt")
    with open(argfile, "w") as f:
        f.write("\n".join(args) + "\n")
    # ISO is tag 0x8827, which EXIF 2.3 calls PhotographicSensitivity; the
    # XMP tag of that name is written too for readers that look for it.
    # ExposureCompensation is exiftool's name for ExposureBiasValue.
    subprocess.run(["exiftool", "-@", argfile, "-common_args", "-q", "-n", "-overwrite_original",
                    "-Make=NIKON CORPORATION", "-Model=NIKON D750", "-FNumber=8", "-EXIF:ISO=100",
                    "-XMP-exifEX:PhotographicSensitivity=100", "-ExposureCompensation=0",
                    "-ExposureProgram=1", "-ColorSpace=1"], check=True)
    os.remove(argfile)
    # Read back: the pixels were exposed by these exact values.
    got = subprocess.run(["exiftool", "-q", "-n", "-p", "$ExposureTime", "-ext", "jpg", "-fileorder", "filename", out],
                         capture_output=True, text=True, check=True).stdout.split()
    if len(got) != len(times) or any(abs(float(g) / float(t) - 1) > 1e-7 for g, t in zip(got, times)):
        sys.exit("the exposure times read back differ from the ones written")


def input_args(source):
    if os.path.isdir(source):
        w, h = probe_size(os.path.join(source, "f-000.jpg"))
        return w, h, ["-framerate", "30", "-start_number", "0", "-i", os.path.join(source, "f-%03d.jpg")]
    w, h = probe_size(source)
    return w, h, ["-i", source]


TABLE = to_linear(np.arange(256, dtype=np.float64))
WEIGHTS = (0.7152, 0.0722, 0.2126)  # of G, B, R: ffmpeg's order of the planes


def frame_levels(args, w, h, parts=1):
    """log2 mean linear luminance of every frame; with parts, of each of
    that many pictures one above the other. Per component the mean of the
    linear values is the mean of a table lookup, so a histogram of each
    plane is all that is needed."""
    rows = []
    for frame in decode(args, w, h * parts, planar=True):
        row = []
        for p in range(parts):
            mean = sum(wt * (np.bincount(frame[c, p * h:(p + 1) * h].ravel(), minlength=256) @ TABLE)
                       for c, wt in enumerate(WEIGHTS)) / (w * h)
            row.append(np.log2(mean))
        rows.append(row)
    return np.array(rows)


def levels(source, vf=None):
    w, h, args = input_args(source)
    if vf:
        args += ["-vf", vf]
    for v in frame_levels(args, w, h)[:, 0]:
        print(f"{v:.6f}")


def ffmpeg_version():
    return subprocess.run(["ffmpeg", "-version"], capture_output=True, text=True).stdout.splitlines()[0]


def grid(seq, kind):
    """Every size with the seven modes one above the other in one ffmpeg
    run: the frames are decoded once per size, and each mode's output is
    converted to RGB on its own before the stacking, as a run of that mode
    alone."""
    cache = os.path.join(seq, "ffmpeg-grid.txt")
    key = f"{description(kind)} | {ffmpeg_version()} | sizes {SIZES} | modes {MODES}"
    if os.path.exists(cache):
        with open(cache) as f:
            if f.readline().strip() == "# " + key:
                return
    frames = SEQUENCES[kind][0]
    w, h, args = input_args(seq)
    n = len(MODES)
    columns = []
    for size in SIZES:
        graph = f"[0:v]split={n}" + "".join(f"[s{i}]" for i in range(n)) + ";"
        graph += "".join(f"[s{i}]deflicker=size={size}:mode={m},format=gbrp[d{i}];" for i, m in enumerate(MODES))
        graph += "".join(f"[d{i}]" for i in range(n)) + f"vstack=inputs={n}"
        got = frame_levels(["-filter_threads", "1", "-filter_complex_threads", "1"] + args +
                           ["-filter_complex", graph], w, h, n)
        if got.shape != (frames, n):
            sys.exit(f"ffmpeg deflicker size {size}: {got.shape[0]} frames, {frames} expected")
        columns.append(got)
    names = " ".join(f"size={s}:mode={m}" for s in SIZES for m in MODES)
    np.savetxt(cache + ".part", np.hstack(columns), fmt="%.6f", header=key + "\n" + names)
    os.replace(cache + ".part", cache)


def offset_errors(got, light, keep):
    """The error of every frame after the constant offset that best fits
    the frames in keep (the curve's level is free)."""
    e = got - light
    return e - e[keep].mean()


def measure(kind, got, light):
    """(the number that ranks ffmpeg's grid, the table's text)"""
    n = len(light)
    if len(got) != n:
        sys.exit(f"{kind}: {len(got)} frames, {n} expected")
    everything = np.ones(n, bool)
    if kind == "holy-grail":
        # Smooth is what counts: the residual from the least-squares cubic
        # through the levels themselves, and the largest frame-to-frame step.
        x = np.linspace(-1, 1, n)
        rms = np.sqrt(np.mean((got - np.polyval(np.polyfit(x, got, 3), x)) ** 2))
        step = np.max(np.abs(np.diff(got)))
        return rms, f"{rms:.3f} / {step:.3f}"
    if kind == "misfire":
        keep = np.arange(n) != MISFIRE
        e = offset_errors(got, light, keep)
        # The misfire counts as one more frame: leaving it dark is an error.
        rms = np.sqrt(np.mean(e ** 2))
        return rms, f"{rms:.3f}; misfire {e[MISFIRE]:+.2f}"
    if kind == "cloud":
        keep = np.ones(n, bool)
        keep[CLOUD.start:CLOUD.stop] = False
        e = offset_errors(got, light, keep)
        worst = np.max(np.abs(e[keep]))
        return worst, f"{worst:.3f}; cloud {e[~keep].mean():+.2f}"
    rms = np.sqrt(np.mean(offset_errors(got, light, everything) ** 2))
    return rms, f"{rms:.3f}"


def table(work, kinds):
    print("| sequence | input | moirevance --deflicker | ffmpeg deflicker, best size:mode |")
    print("|---|---|---|---|")
    for kind in kinds:
        seq = os.path.join(work, kind)
        light = np.loadtxt(os.path.join(seq, "light.txt"))
        cells = [measure(kind, np.loadtxt(os.path.join(work, f"{kind}-{s}.txt")), light)[1] for s in ("in", "out")]
        cache = os.path.join(seq, "ffmpeg-grid.txt")
        with open(cache) as f:
            f.readline()
            names = f.readline()[2:].split()
        all_levels = np.loadtxt(cache, ndmin=2)
        scores = [measure(kind, all_levels[:, i], light) for i in range(len(names))]
        best = min(range(len(names)), key=lambda i: scores[i][0])
        np.savetxt(os.path.join(work, f"{kind}-ffmpeg.txt"), all_levels[:, best], fmt="%.6f")
        pick = names[best].replace("size=", "").replace("mode=", "")
        with open(os.path.join(work, f"{kind}-ffmpeg-pick.txt"), "w") as f:
            f.write(pick + "\n")
        frames, flicker, seed, _, text = SEQUENCES[kind]
        print(f"| {text}; {frames} frames, flicker +-{flicker:.2f} EV (seed {seed}) | {cells[0]} | {cells[1]} | "
              f"{scores[best][1]} ({pick}) |")
    print(f"""
Frames of {W}x{H} (JPEG q2) from the benchmark photograph; flicker uniform
random; EXIF only in d. Figures in EV, of each frame's log2 mean linear
luminance against the light's curve after one constant offset:
a-c: RMS. d: RMS against the least-squares cubic through the levels
themselves / the largest step between neighbouring frames (the light
falls 3 EV, the shutter lengthens by 1/3 EV from 1/250 s each time it has
fallen another third, so the frames' exposure saws by 1/3 EV).
e: RMS of all frames, the misfire included; where the misfire ends.
f: the largest error outside the cloud; the cloud frames' mean (-1 keeps
the cloud, 0 levels it). The offset comes from the frames outside the
misfire or the cloud. ffmpeg: sizes {SIZES[0]}-{SIZES[-1]} x modes {",".join(MODES)},
ranked by the first figure.""")


def main():
    cmd = sys.argv[1] if len(sys.argv) > 1 else ""
    if cmd == "make":
        make(sys.argv[2], sys.argv[3])
    elif cmd == "levels":
        levels(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    elif cmd == "grid":
        grid(sys.argv[2], sys.argv[3])
    elif cmd == "table":
        table(sys.argv[2], sys.argv[3:])
    elif cmd == "rms":
        got, light = np.loadtxt(sys.argv[2]), np.loadtxt(sys.argv[3])
        print(f"{measure('', got, light)[0]:.4f}")
    elif cmd == "worst":
        got, light, skip = np.loadtxt(sys.argv[2]), np.loadtxt(sys.argv[3]), int(sys.argv[4])
        keep = np.arange(len(got)) != skip
        e = got[keep] - light[keep]
        # Against the median frame, so that a shift of the neighbours shows
        # as their distance from the rest.
        print(f"{np.max(np.abs(e - np.median(e))):.4f}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
