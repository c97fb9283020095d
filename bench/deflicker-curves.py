#!/usr/bin/python3
"""Which target curve should deflicker follow? Compares ways of fitting the
light's curve through per-frame log2 brightness, on synthetic sequences whose
true light is known: a ramp, a sunset that bends within 40 frames, a sunrise,
and a flat scene with one frame 2 EV dark. Each sequence gets uniform random
flicker; the table shows, for each method, the worst RMS error (EV) of the
curve against the true light over several seeds (the dark frame left out).

  deflicker-curves.py [FLICKER_EV] [SEEDS]     defaults 0.25 and 8

Methods: the robust local line through a fixed window (what the program does
today, window 51, and a short window, 15), and robust local fits of degree 1
and 2 whose window is chosen per sequence by generalized cross-validation.
Robust: bisquare weights, cut at nine median residuals and never below
0.3 EV, two passes, as the program does.

Needs python3-numpy (Debian); run it with /usr/bin/python3.
"""
import sys

import numpy as np

FRAMES = 120
WINDOWS = [11, 15, 21, 29, 41, 57, 81]


def local_fit(y, window, degree, weight):
    """Tricube-weighted local polynomial at every frame; the fitted values
    and the diagonal of the smoother (each frame's weight on its own fit)."""
    n = len(y)
    x = np.arange(n, dtype=float)
    span = min(max(window, degree + 2), n)
    fitted, own = np.empty(n), np.empty(n)
    for i in range(n):
        lo = min(max(i - span // 2, 0), n - span)
        idx = np.arange(lo, lo + span)
        d = np.abs(x[idx] - x[i])
        k = (1 - (d / (d.max() + 1)) ** 3) ** 3 * weight[idx]
        X = np.vander(x[idx] - x[i], degree + 1, increasing=True)
        try:
            row = np.linalg.solve(X.T @ (k[:, None] * X), X.T * k)[0]
        except np.linalg.LinAlgError:
            fitted[i], own[i] = y[i], 1.0
            continue
        fitted[i] = row @ y[idx]
        own[i] = row[i - lo]
    return fitted, own


def robust_fit(y, window, degree):
    weight = np.ones(len(y))
    fitted, own = local_fit(y, window, degree, weight)
    for _ in range(2):
        r = np.abs(y - fitted)
        u = r / max(9 * np.median(r), 0.3)
        weight = np.where(u < 1, (1 - u * u) ** 2, 0.0)
        fitted, own = local_fit(y, window, degree, weight)
    return fitted, own, weight


def chosen_window_fit(y, degree):
    """The window with the least generalized cross-validation score,
    counted over the frames that kept their weight."""
    best = None
    for window in WINDOWS:
        fitted, own, weight = robust_fit(y, window, degree)
        kept = weight > 0.5
        residual = (y - fitted)[kept]
        score = np.mean(residual ** 2) / (1 - own[kept].mean()) ** 2
        if best is None or score < best[0]:
            best = (score, window, fitted)
    return best[1], best[2]


def sequences():
    i = np.arange(FRAMES)
    return {
        "ramp -2 EV": -2.0 * i / (FRAMES - 1),
        "sunset in 40": -3 / (1 + np.exp(-(i - 60) / 6.0)),
        "sunrise +3 EV": 3 / (1 + np.exp(-(i - 50) / 10.0)),
        "flat, one misfire": np.zeros(FRAMES),
    }


def rms(error):
    error = error - error.mean()  # the curve's level is free: only its shape counts
    return float(np.sqrt(np.mean(error ** 2)))


def main():
    flicker = float(sys.argv[1]) if len(sys.argv) > 1 else 0.25
    seeds = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    methods = {
        "line, 51": lambda y: ("", robust_fit(y, 51, 1)[0]),
        "line, 15": lambda y: ("", robust_fit(y, 15, 1)[0]),
        "line, chosen": lambda y: chosen_window_fit(y, 1),
        "quadratic, chosen": lambda y: chosen_window_fit(y, 2),
    }
    print(f"flicker +-{flicker} EV, worst RMS over {seeds} seeds (chosen windows in brackets)")
    print(f"{'sequence':18s} {'input':>6s} " + " ".join(f"{m:>22s}" for m in methods))
    for name, light in sequences().items():
        worst = {m: 0.0 for m in methods}
        picked = {m: set() for m in methods}
        worst_input = 0.0
        for seed in range(seeds):
            rng = np.random.default_rng(1000 + seed)
            y = light + rng.uniform(-flicker, flicker, FRAMES)
            kept = np.ones(FRAMES, bool)
            if "misfire" in name:
                y[60] -= 2.0
                kept[60] = False
            worst_input = max(worst_input, rms((y - light)[kept]))
            for m, fit in methods.items():
                window, fitted = fit(y)
                worst[m] = max(worst[m], rms((fitted - light)[kept]))
                if window != "":
                    picked[m].add(window)
        cells = []
        for m in methods:
            w = f" [{','.join(str(v) for v in sorted(picked[m]))}]" if picked[m] else ""
            cells.append(f"{worst[m]:.3f}{w}".rjust(22))
        print(f"{name:18s} {worst_input:6.3f} " + " ".join(cells))


if __name__ == "__main__":
    main()
