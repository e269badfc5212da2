#!/usr/bin/env python3
"""How well zarn's partials stand for real recordings, beside peers of the field.

For each sound of the corpus (bench/corpus.py):
- spectral convergence of the partials alone, resynthesised by zarn's oscillators, for zarn's
  analysis (its default settings) and for csound's atsa, tuned per sound (the best of several
  settings, each read back and played by zarn the same way): |S - S'| / |S| over the
  magnitudes of a short-time transform (2048 samples, Hann, hop 512);
- third-octave distance with the noise: the RMS difference in dB of the third-octave bands
  (50 Hz up) frame by frame where the recording sounds (within 50 dB of its loudest frame),
  each band held at most 60 dB under the loudest, of the
  resynthesis with its noise (zarn's --wav; atsa's analysis played by csound's ATSsinnoi);
- for voices, the formants kept at +700 cents: the distance of the cepstrally smoothed
  envelope (quefrency under 1.2 ms, 150 to 5000 Hz, frames within 30 dB of the loudest, one
  level offset removed) of zarn's --transpose=700 --keep-formants from zarn's own
  untransposed resynthesis, and of `rubberband -3 -p 7 --formant` from the original.

Usage: real_quality.py ZARN CORPUSDIR [NAME...]   (needs numpy, sox; atsa and rubberband
where they are installed, else their columns say so)
"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

VOICES = {"Front_Center", "Rear_Left", "Side_Right", "kal-sentence", "kal-numbers", "voice-oohs", "choir-aahs"}
ATSA_SETTINGS = [[], ["-c", "6"], ["-d", "0.05", "-m", "-80"], ["-c", "6", "-d", "0.05", "-m", "-80"]]


def read(path):
    out = subprocess.run(["sox", path, "-t", "raw", "-e", "floating-point", "-b", "32", "-c", "1", "-"],
                         capture_output=True, check=True).stdout
    rate = int(subprocess.run(["soxi", "-r", path], capture_output=True, text=True, check=True).stdout)
    return np.frombuffer(out, "<f4").astype(float), rate


def stft(x, n=2048, hop=512):
    w = np.hanning(n)
    frames = [np.fft.rfft(x[i:i + n] * w) for i in range(0, max(len(x) - n, 1), hop)]
    return np.array(frames)


def same_length(a, b):
    n = min(len(a), len(b))
    return a[:n], b[:n]


def convergence(x, y):
    x, y = same_length(x, y)
    X, Y = np.abs(stft(x)), np.abs(stft(y))
    return np.linalg.norm(X - Y) / np.linalg.norm(X)


def third_octaves(x, rate):
    P = np.abs(stft(x)) ** 2
    f = np.fft.rfftfreq(2048, 1 / rate)
    centres = [50 * 2 ** (k / 3) for k in range(40) if 50 * 2 ** (k / 3) * 2 ** (1 / 6) < min(16000, rate / 2)]
    bands = [P[:, (f >= c * 2 ** (-1 / 6)) & (f < c * 2 ** (1 / 6))].sum(1) for c in centres]
    return 10 * np.log10(np.array(bands).T + 1e-30)


def third_octave_distance(x, y, rate):
    x, y = same_length(x, y)
    A, B = third_octaves(x, rate), third_octaves(y, rate)
    # The frames where the recording sounds (within 50 dB of its loudest), each band held at
    # most 60 dB under the loudest band.
    level = 10 * np.log10((10 ** (A / 10)).sum(1))
    sounding = level > level.max() - 50
    top = A.max()
    A, B = np.maximum(A, top - 60)[sounding], np.maximum(B, top - 60)[sounding]
    return float(np.sqrt(np.mean((A - B) ** 2)))


def envelopes(x, rate):
    """Cepstrally smoothed log spectra (dB) of the frames, 150 to 5000 Hz, and each frame's level."""
    n = 2048
    X = np.abs(stft(x, n)) + 1e-12
    level = 10 * np.log10((X ** 2).sum(1))
    logs = 20 * np.log10(X)
    cep = np.fft.irfft(logs, n)
    keep = int(0.0012 * rate)
    cep[:, keep + 1:n - keep] = 0
    smooth = np.fft.rfft(cep, n).real[:, :n // 2 + 1]
    f = np.fft.rfftfreq(n, 1 / rate)
    return smooth[:, (f >= 150) & (f <= 5000)], level


def envelope_distance(ref, out, rate):
    ref, out = same_length(ref, out)
    A, la = envelopes(ref, rate)
    B, _ = envelopes(out, rate)
    m = min(len(A), len(B))
    A, B, la = A[:m], B[:m], la[:m]
    voiced = la > la.max() - 30
    d = (B - A)[voiced]
    d -= d.mean()
    return float(np.sqrt(np.mean(d ** 2)))


def run(cmd, timeout=None):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(cmd, 124, "", "timed out")


def zarn_sound(zarn, source, out, *options):
    r = run([zarn, "-q", "-o", out + ".txt", "--force", "--wav=" + out, *options, source, "0.005"])
    if r.returncode != 0:
        raise RuntimeError(r.stderr)
    return read(out)[0]


CSD = """<CsoundSynthesizer>
<CsOptions>
-o {out} -f -d
</CsOptions>
<CsInstruments>
sr = {rate}
ksmps = 1
nchnls = 1
0dbfs = 1
instr 1
  ipartials ATSinfo "{ats}", 3
  ktime line 0, p3, p3
  asig ATSsinnoi ktime, 1, 1, 1, "{ats}", ipartials
  out asig
endin
</CsInstruments>
<CsScore>
i 1 0 {seconds}
</CsScore>
</CsoundSynthesizer>
"""


def csound_sinnoi(ats, rate, seconds, work):
    """An ATS file's partials and noise as csound's ATSsinnoi plays them."""
    out, csd = os.path.join(work, "sinnoi.wav"), os.path.join(work, "sinnoi.csd")
    with open(csd, "w") as f:
        f.write(CSD.format(out=out, rate=rate, ats=ats, seconds=seconds))
    if run(["csound", csd]).returncode != 0:
        raise RuntimeError("csound could not play " + ats)
    return read(out)[0]


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    zarn, corpus = argv[0], argv[1]
    names = argv[2:] or sorted(f[:-4] for f in os.listdir(corpus) if f.endswith(".wav"))
    have_atsa = shutil.which("atsa") is not None and shutil.which("csound") is not None
    have_rb = shutil.which("rubberband") is not None
    work = tempfile.mkdtemp()
    print("%-14s %9s %9s %9s %9s %9s %9s" % ("sound", "SC zarn", "SC atsa", "3rd zarn", "3rd atsa", "env zarn", "env rb"))
    try:
        for name in names:
            path = os.path.join(corpus, name + ".wav")
            x, rate = read(path)
            z_sines = zarn_sound(zarn, path, os.path.join(work, "z.wav"), "--no-noise")
            z_all = zarn_sound(zarn, path, os.path.join(work, "zn.wav"))
            sc_z, to_z = convergence(x, z_sines), third_octave_distance(x, z_all, rate)
            sc_a = to_a = float("nan")
            if have_atsa:
                for setting in ATSA_SETTINGS:
                    ats = os.path.join(work, "a.ats")
                    # Some settings take atsa minutes on speech: a setting past its time is passed over.
                    if run(["atsa", path, ats, *setting], timeout=60).returncode != 0 or not os.path.exists(ats):
                        continue
                    try:
                        a_sines = zarn_sound(zarn, ats, os.path.join(work, "a.wav"), "--noise-gain=-200", "--rate=%d" % rate)
                        a_all = csound_sinnoi(ats, rate, len(x) / rate, work)
                    except RuntimeError:
                        continue
                    sc = convergence(x, a_sines)
                    if not sc_a <= sc:
                        sc_a = sc
                    to = third_octave_distance(x, a_all, rate)
                    if not to_a <= to:
                        to_a = to
                    os.unlink(ats)
            env_z = env_r = float("nan")
            if name in VOICES:
                up = zarn_sound(zarn, path, os.path.join(work, "up.wav"), "--transpose=700", "--keep-formants")
                env_z = envelope_distance(z_all, up, rate)
                if have_rb:
                    rb = os.path.join(work, "rb.wav")
                    if run(["rubberband", "-3", "-p", "7", "--formant", path, rb]).returncode == 0:
                        env_r = envelope_distance(x, read(rb)[0], rate)
            print("%-14s %9.3f %9.3f %9.2f %9.2f %9.2f %9.2f" % (name, sc_z, sc_a, to_z, to_a, env_z, env_r), flush=True)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main(sys.argv[1:])
