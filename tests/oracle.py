#!/usr/bin/env python3
"""A second, independent implementation of zarn's arithmetic and output, for cross-checks.

It reads a well-formed partial list file, resamples it with the same not-a-knot spline in
the same order of operations (Python floats are IEEE doubles, rounded after every
operation), and prints exactly what zarn prints for the run and writes into the file.

    oracle.py INPUT STEP LISTING RESULT   writes the expected listing and the expected file
    oracle.py --check ZARN SEED COUNT     runs zarn on COUNT random analyses and compares
"""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile


def db2amp(db):
    if db < -140.0:
        db = -140.0
    return math.pow(10.0, db / 20.0)


def amp2db(a):
    if a > 0.0:
        return 20.0 * math.log10(a)
    return -140.0


def read(text):
    tok = text.split()
    pos = 3
    P = int(tok[2])
    parts = []
    for _ in range(P):
        M = int(tok[pos + 2])
        pos += 3
        t, f, a = [], [], []
        for _ in range(M):
            t.append(float(tok[pos]))
            fr = float(tok[pos + 1])
            fr = 4.0 if fr < 4.0 else fr
            fr = 22050.0 if fr > 22050.0 else fr
            f.append(fr)
            a.append(db2amp(float(tok[pos + 2])))
            pos += 3
        pos += 1
        parts.append((t, f, a))
    return parts


def slopes(x, y):
    n = len(x)
    h0 = x[1] - x[0]
    s0 = (y[1] - y[0]) / h0
    if n == 2:
        return [s0, s0]
    h1 = x[2] - x[1]
    s1 = (y[2] - y[1]) / h1
    if n == 3:
        c = (s1 - s0) / (h0 + h1)
        return [s0 - c * h0, s0 + c * h0, s1 + c * h1]
    sub, dia, sup, r = [0.0] * n, [0.0] * n, [0.0] * n, [0.0] * n
    dia[0] = h1 * (h0 + h1)
    sup[0] = (h0 + h1) * (h0 + h1)
    r[0] = s0 * (3.0 * h0 * h1 + 2.0 * (h1 * h1)) + s1 * (h0 * h0)
    for i in range(1, n - 1):
        e = x[i] - x[i - 1]
        d = x[i + 1] - x[i]
        fs = (y[i] - y[i - 1]) / e
        gs = (y[i + 1] - y[i]) / d
        sub[i], dia[i], sup[i] = d, 2.0 * (e + d), e
        r[i] = 3.0 * (fs * d + gs * e)
    sub[n - 1] = (e + d) * (e + d)
    dia[n - 1] = e * (e + d)
    r[n - 1] = fs * (d * d) + gs * (3.0 * e * d + 2.0 * (e * e))
    g = [0.0] * n
    beta = dia[0]
    r[0] = r[0] / beta
    for i in range(1, n):
        g[i] = sup[i - 1] / beta
        beta = dia[i] - sub[i] * g[i]
        assert beta != 0.0
        r[i] = (r[i] - r[i - 1] * sub[i]) / beta
    for i in range(n - 2, -1, -1):
        r[i] = r[i] - r[i + 1] * g[i + 1]
    return r


def evaluate(x, y, xi):
    if not xi:
        return []
    n = len(x)
    yd = slopes(x, y)
    out = []
    k = 0
    xr = None
    for v in xi:
        if xr is None or v > xr:
            while k < n and v > x[k]:
                k += 1
            if x[k] > v:
                k -= 1
            if k == n - 1:
                k = n - 2
            xl, xr = x[k], x[k + 1]
            inv = 1.0 / (x[k + 1] - x[k])
            s = (y[k + 1] - y[k]) * inv
            c0, c1 = y[k], yd[k]
            c2 = inv * (3.0 * s - 2.0 * yd[k] - yd[k + 1])
            c3 = inv * inv * (-2.0 * s + yd[k] + yd[k + 1])
        u = v - xl
        out.append(((c3 * u + c2) * u + c1) * u + c0)
    return out


def single(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def resample(text, step):
    parts = read(text)
    listing = ["============= KV ==============\n"]
    grids = []
    for t, f, a in parts:
        N = int((t[-1] - t[0]) / step) if len(t) > 1 else 0
        listing.append("Len2: %d points\n" % N)
        grids.append([t[0] + k * step for k in range(N)])
    listing.append("\n")
    result = ["( PARTIALS\t%d\n" % len(parts)]
    for (t, f, a), xi in zip(parts, grids):
        fi = evaluate(t, f, xi)
        ai = evaluate(t, a, xi)
        result.append("( POINTS\t%d\n" % len(xi))
        for v, fv, av in zip(xi, fi, ai):
            listing.append("%f --> %f\t%f\n" % (v, fv, av))
            result.append("%9.3f\t%9.3f\t%9.3f\n" % (single(v), single(fv), single(amp2db(av))))
        listing.append("\n")
        result.append(")\n")
    result.append(")\n")
    listing.append("Enter file name: \n" + " " * 17 + "Hello, World!\n")
    return "".join(listing), "".join(result)


def analysis(rng):
    """A random, real-looking analysis: gliding partials with vibrato and fades."""
    lines = []
    P = rng.randint(1, 6)
    lines.append("( PARTIALS\t%d" % P)
    for _ in range(P):
        M = rng.choice([1, 2, 3, 4, 5, rng.randint(6, 80)])
        t = rng.uniform(0.0, 3.0)
        f0 = rng.uniform(30.0, 12000.0)
        lines.append("( POINTS\t%d" % M)
        for i in range(M):
            f = f0 * (1.0 + 0.01 * math.sin(i * 0.7)) + rng.uniform(-2, 2)
            db = -rng.uniform(0.0, 90.0) - (150.0 if rng.random() < 0.05 else 0.0)
            lines.append("%.6f %.4f %.3f" % (t, f, db))
            t += 0.0058 * rng.uniform(0.5, 1.5)
        lines.append(")")
    lines.append(")")
    return "\n".join(lines) + "\n"


def check(zarn, seed, count):
    rng = random.Random(seed)
    bad = 0
    with tempfile.TemporaryDirectory() as d:
        for case in range(count):
            text = analysis(rng)
            step = rng.choice([0.001, 0.0029, 0.005, 0.01, 0.05])
            src = os.path.join(d, "in%d.txt" % case)
            dst = os.path.join(d, "out%d.txt" % case)
            with open(src, "w") as fh:
                fh.write(text)
            want_listing, want_file = resample(text, step)
            run = subprocess.run([zarn, src, repr(step)], input=(dst + "\n").encode(), capture_output=True)
            with open(dst) as fh:
                got_file = fh.read()
            if run.returncode != 0 or run.stdout.decode() != want_listing or got_file != want_file:
                bad += 1
                print("case %d (seed %d, step %r) differs" % (case, seed, step))
    print("%d passed, %d failed" % (count - bad, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    if sys.argv[1] == "--check":
        sys.exit(check(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    with open(sys.argv[1]) as fh:
        listing, result = resample(fh.read(), float(sys.argv[2]))
    with open(sys.argv[3], "w") as fh:
        fh.write(listing)
    with open(sys.argv[4], "w") as fh:
        fh.write(result)
