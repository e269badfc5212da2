#!/usr/bin/env python3
"""Measures the changes over time on real recordings: how closely a transposition and a gain
curve are followed at every point of the result, where markers land, and the rise of each
plucked note stretched four times, with and without --keep-attacks.

Usage: changes_over_time.py CORPUS_DIR   (the folder bench/corpus.py makes; the zarn module
from this checkout's build on PYTHONPATH)
"""
import os
import sys

import numpy as np
import zarn

STEP = 0.001
CENTS = [(0.1, -300), (0.4, 700), (0.41, -150), (1.0, 1200), (1.9, -1000)]
GAIN = [(0.0, -6), (0.3, 3.5), (0.31, -20), (1.2, 0.7)]
PLUCKS = {"harp.wav": [0.1, 0.9, 1.7, 2.5], "pizzicato.wav": [0.1, 0.7, 1.3, 1.9]}


def curves(p):
    """The worst distance from each curve over every point with a frequency and a level."""
    base, shaped = zarn.resample(p, STEP), zarn.resample(zarn.edit(p, transpose=CENTS, gain=GAIN, step=STEP), STEP)
    worst_cents = worst_db = 0.0
    for a, b in zip(base, shaped):
        t = np.asarray(a.time)
        if len(t) == 0:
            continue
        af, bf, aa, ba = (np.asarray(v) for v in (a.freq, b.freq, a.amp, b.amp))
        ok = (af > 0) & (bf > 0)
        worst_cents = max(worst_cents, np.abs(1200 * np.log2(bf[ok] / af[ok]) - np.interp(t[ok], *zip(*CENTS))).max(initial=0))
        ok = (aa > 0) & (ba > 0)
        worst_db = max(worst_db, np.abs(20 * np.log10(ba[ok] / aa[ok]) - np.interp(t[ok], *zip(*GAIN))).max(initial=0))
    return worst_cents, worst_db


def markers(p):
    """The worst distance of a partial's first breakpoint from where the markers put it."""
    warp = [(0.0, 0.0), (0.5, 1.25), (1.5, 1.75)]
    shaped = zarn.edit(p, warp=warp, step=STEP)
    slope_end = (warp[-1][1] - warp[-2][1]) / (warp[-1][0] - warp[-2][0])
    worst = 0.0
    for a, b in zip(p, shaped):
        if len(a.time):
            u = a.time[0]
            want = np.interp(u, *zip(*warp)) if u <= warp[-1][0] else warp[-1][1] + (u - warp[-1][0]) * slope_end
            worst = max(worst, abs(b.time[0] - want))
    return worst


def power(parts):
    end = max(q.time[-1] for q in parts if len(q.time))
    e = np.zeros(int(end / STEP) + 2)
    for q in parts:
        if len(q.time):
            np.add.at(e, np.rint(np.asarray(q.time) / STEP).astype(int), 0.5 * np.asarray(q.amp) ** 2)
    return e


def rise(e, at, span, before=0.06):
    """Milliseconds from 10 % to 90 % of the climb to the loudest point from `before` seconds
    before `at` to `span` after it (the stretch moves an onset kept at its speed up to three
    times its rise earlier than four times its time)."""
    a = int((at - before) / STEP)
    seg = e[a:int((at + span) / STEP)]
    top = seg.argmax()
    lo = seg[:max(top, 1)].argmin()
    base, peak = seg[lo], seg[top]
    first = lambda share: lo + np.argmax(seg[lo:] > base + share * (peak - base))
    return (first(0.9) - first(0.1)) * STEP * 1000


def found(kept, one, t):
    """Where the note at input time t begins in the stretch that kept its attack: the output
    time whose next 0.16 s of power (in dB) best match the analysis's from t - 0.06 s, searched
    within 0.3 s before four times t (the attack, at its own speed, comes up to three times
    its length early)."""
    n = int(0.16 / STEP)
    want = 10 * np.log10(one[int((t - 0.06) / STEP):][:n] + 1e-20)
    best, at = None, 4 * t
    for k in range(int((4 * t - 0.36) / STEP), int((4 * t - 0.06) / STEP) + 1):
        got = 10 * np.log10(kept[k:k + n] + 1e-20)
        miss = np.abs(got - want).sum()
        if best is None or miss < best:
            best, at = miss, k * STEP + 0.06
    return at


def main(argv):
    if len(argv) != 1:
        sys.exit(__doc__)
    folder = argv[0]
    for name in ("violin-vibrato.wav", "kal-sentence.wav", "piano.wav", "drum-kit.wav", "Front_Center.wav"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            p = zarn.read(path)
            c, d = curves(p)
            print("%-18s curves: worst %.2g cent, %.2g dB; markers: worst %.2g ms" % (name, c, d, 1000 * markers(p)))
    for name, onsets in PLUCKS.items():
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            continue
        p = zarn.read(path)
        one = power(zarn.resample(p, STEP))
        four = power(zarn.resample(zarn.edit(p, time_scale=4.0, step=STEP), STEP))
        kept = power(zarn.resample(zarn.edit(p, time_scale=4.0, keep_attacks=True, step=STEP), STEP))
        print("%-18s rise ms, as analysed:   %s" % (name, " ".join("%5.0f" % rise(one, t, 0.1) for t in onsets)))
        print("%-18s stretched x4:           %s" % ("", " ".join("%5.0f" % rise(four, 4 * t, 0.4) for t in onsets)))
        print("%-18s stretched x4, kept:     %s" % ("", " ".join("%5.0f" % rise(kept, found(kept, one, t), 0.1) for t in onsets)))


if __name__ == "__main__":
    main(sys.argv[1:])
