#!/usr/bin/env python3
"""Makes a corpus of real recordings to analyse, from what Debian's packages install.

- Instrument phrases: standard MIDI files written here, rendered by fluidsynth (reverb and
  chorus off) from the FluidR3 General MIDI soundfont, whose instruments are recorded samples.
  Each phrase's notes (with their pitch bends) are written beside it as the truth of its
  fundamental: `NAME.notes`, a line for each stretch of one pitch, "start end hz onset" with the
  bend applied, onset being the start of the note it belongs to.
- Speech: the recorded voice prompts that alsa-utils installs for speaker-test.
- Diphone speech: festival's text2wave with the kal diphone voice.

Everything is made afresh and the same every time (no randomness; fluidsynth renders offline).
A source that is missing is skipped with a line that says which package brings it; with
--require, a missing source fails.

Usage: corpus.py OUTDIR [--require] [--only NAME,...]
"""
import math
import os
import shutil
import struct
import subprocess
import sys

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
ALSA = "/usr/share/sounds/alsa"
TICKS = 480  # a quarter note
TEMPO = 500000  # microseconds a quarter: 120 a minute, so a tick is 1/960 s
RATE = 44100


def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def midi_file(program, events, channel=0):
    """A type-0 standard MIDI file: `events` are (seconds, bytes) in any order."""
    track = bytearray()
    track += varlen(0) + b"\xff\x51\x03" + TEMPO.to_bytes(3, "big")
    if channel != 9:
        track += varlen(0) + bytes([0xC0 | channel, program])
    # Pitch bend range of 2 semitones, set explicitly (RPN 0).
    for cc, v in ((101, 0), (100, 0), (6, 2), (38, 0)):
        track += varlen(0) + bytes([0xB0 | channel, cc, v])
    last = 0
    for seconds, data in sorted(events, key=lambda e: (e[0], e[1][0] & 0xF0 != 0x80)):
        tick = round(seconds * 960)
        track += varlen(tick - last) + data
        last = tick
    track += varlen(TICKS) + b"\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS) + b"MTrk" + struct.pack(">I", len(track)) + bytes(track)


def hz(note, bend=0.0):
    return 440.0 * 2 ** ((note + bend - 69) / 12)


def phrase(notes, channel=0, velocity=90):
    """notes: (start, end, midi note, [(time, semitones)...] bends). Returns events and truth."""
    events, truth = [], []
    for start, end, note, *rest in notes:
        bends = rest[0] if rest else []
        events.append((start, bytes([0x90 | channel, note, velocity])))
        events.append((end, bytes([0x80 | channel, note, 0])))
        if bends:
            for t, semis in bends:
                v = max(0, min(16383, 8192 + round(semis / 2 * 8192)))
                events.append((t, bytes([0xE0 | channel, v & 0x7F, v >> 7])))
        # The truth, in pieces between bends.
        points = [(start, 0.0)] + [(t, s) for t, s in bends if start <= t < end]
        for i, (t, s) in enumerate(points):
            t_end = points[i + 1][0] if i + 1 < len(points) else end
            truth.append((t, t_end, hz(note, s), start))
    return events, truth


def legato(first_note, steps, length=0.45, start=0.1, overlap=0.0):
    notes, t, n = [], start, first_note
    for s in steps:
        notes.append((t, t + length + overlap, n))
        t += length
        n += s
    return notes


def glide(note, start, length, semis, steps=24):
    """A held note bent up by `semis` (at most 2) and back, in `steps` steps each way."""
    bends = []
    for i in range(steps + 1):
        bends.append((start + 0.2 + i * (length / 2 - 0.2) / steps, semis * i / steps))
    for i in range(steps + 1):
        bends.append((start + length / 2 + i * (length / 2 - 0.2) / steps, semis * (1 - i / steps)))
    return [(start, start + length, note, bends)]


def vibrato(note, start, length, rate, semis, onset=0.3, steps=16):
    """A held note with a vibrato of `rate` Hz, `semis` (at most 2) either way, from `onset` s
    after its start, in `steps` bends a cycle: a voice's or a bowed string's."""
    bends, t = [], start + onset
    while t < start + length - 0.05:
        bends.append((t, semis * math.sin(2 * math.pi * rate * (t - start - onset))))
        t += 1 / (rate * steps)
    bends.append((t, 0.0))
    return [(start, start + length, note, bends)]


# name: (program, notes); the notes are (start, end, midi note[, bends]).
PHRASES = {
    "violin": (40, legato(67, [2, 2, 1, 2, 2, 2, 1, 0])),
    "violin-high": (40, legato(88, [-2, -1, -2, -2, 0], length=0.4)),
    "cello": (42, legato(48, [2, 2, 1, 2, -2, -3, 0], length=0.5)),
    "contrabass": (43, legato(31, [2, 3, 2, 0], length=0.6)),
    "trumpet": (56, legato(65, [2, 2, 1, 2, 0], length=0.4) + glide(72, 2.3, 1.4, 2.0)),
    "alto-sax": (65, legato(61, [3, 2, 2, 3, 0], length=0.45) + glide(68, 2.5, 1.4, -2.0)),
    "flute": (73, legato(79, [2, 2, 1, 2, 0], length=0.4)),
    "oboe": (68, legato(70, [-2, -1, -2, 0], length=0.45)),
    "clarinet": (71, legato(50, [4, 3, 5, 0], length=0.5)),
    "choir-aahs": (52, legato(60, [4, 3, 0], length=0.7)),
    "voice-oohs": (53, legato(64, [-2, -2, 0], length=0.7) + glide(67, 2.3, 1.4, 1.0)),
    "piano": (0, legato(48, [7, 5, 4, 3, 5, 0], length=0.35, overlap=0.3)),
    "piano-low": (0, legato(28, [12, 0], length=0.8)),
    "vibraphone": (11, legato(72, [4, 3, 5, 0], length=0.5)),
    "nylon-guitar": (24, legato(52, [5, 5, 5, 4, 0], length=0.4, overlap=0.2)),
    "timpani": (47, legato(41, [7, -7, 0], length=0.6)),
    # Vibratos as singers and string players make them, on recorded samples.
    "violin-vibrato": (40, vibrato(64, 0.1, 1.6, 6.0, 0.4) + vibrato(71, 1.8, 1.6, 6.5, 0.5)),
    "voice-vibrato": (53, vibrato(65, 0.1, 1.8, 5.5, 0.6) + vibrato(60, 2.0, 1.6, 6.0, 0.8)),
    "sax-vibrato": (65, vibrato(58, 0.1, 1.8, 5.0, 0.5)),
}

# Plucks one at a time, each dying away before the next: attacks to keep through a stretch.
# No pitch truth is written for them (the onsets are their truth: 0.1 s, then every 0.8 s and
# 0.6 s); the fundamental of a harp's low notes is not yet found reliably.
PLUCKS = {
    "harp": (46, [(0.1 + 0.8 * i, 0.8 + 0.8 * i, n) for i, n in enumerate([55, 62, 67, 74])]),
    "pizzicato": (45, [(0.1 + 0.6 * i, 0.6 + 0.6 * i, n) for i, n in enumerate([48, 55, 60, 64])]),
}

# A drum kit on channel 10: bass drum, snare, hi-hat, toms; no pitch truth.
DRUMS = [(0.1 + 0.25 * i, 0.3 + 0.25 * i, n) for i, n in enumerate([36, 42, 38, 42, 36, 36, 38, 45, 47, 49])]

SPEECH = {
    "kal-sentence": "The quick brown fox jumps over the lazy dog, and sings a song.",
    "kal-numbers": "Seven hundred and twenty three.",
}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


def render(out, name, program, events, channel=0):
    mid = os.path.join(out, name + ".mid")
    with open(mid, "wb") as f:
        f.write(midi_file(program, events, channel))
    wav = os.path.join(out, name + ".wav")
    run(["fluidsynth", "-ni", "-R", "0", "-C", "0", "-g", "0.8", "-F", wav, "-r", str(RATE), "-O", "float",
         "-T", "wav", SOUNDFONT, mid])
    os.unlink(mid)
    # Mono, so that the channels' panning does not matter: sox mixes them.
    mono = wav + ".mono.wav"
    run(["sox", "-D", wav, "-c", "1", mono])
    os.replace(mono, wav)


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    require = "--require" in argv
    only = None
    if "--only" in argv:
        only = set(argv[argv.index("--only") + 1].split(","))
        args.remove(argv[argv.index("--only") + 1])
    if len(args) != 1:
        sys.exit(__doc__)
    out = args[0]
    os.makedirs(out, exist_ok=True)
    missing = []
    want = lambda name: only is None or name in only
    if shutil.which("fluidsynth") and os.path.exists(SOUNDFONT) and shutil.which("sox"):
        for name, (program, notes) in PHRASES.items():
            if not want(name):
                continue
            events, truth = phrase(notes)
            render(out, name, program, events)
            with open(os.path.join(out, name + ".notes"), "w") as f:
                for start, end, f0, onset in truth:
                    f.write("%.6f %.6f %.6f %.6f\n" % (start, end, f0, onset))
        for name, (program, notes) in PLUCKS.items():
            if want(name):
                render(out, name, program, phrase(notes)[0])
        if want("drum-kit"):
            events, _ = phrase(DRUMS, channel=9, velocity=110)
            render(out, "drum-kit", 0, events, channel=9)
    else:
        missing.append("fluidsynth, fluid-soundfont-gm and sox (the instruments)")
    if os.path.isdir(ALSA):
        for name in ("Front_Center", "Rear_Left", "Side_Right", "Noise"):
            if want(name) and os.path.exists(os.path.join(ALSA, name + ".wav")):
                shutil.copyfile(os.path.join(ALSA, name + ".wav"), os.path.join(out, name + ".wav"))
    else:
        missing.append("alsa-utils (the speaker-test voice prompts)")
    if shutil.which("text2wave"):
        for name, text in SPEECH.items():
            if want(name):
                run(["text2wave", "-eval", "(voice_kal_diphone)", "-o", os.path.join(out, name + ".wav")],
                    input=text.encode())
    else:
        missing.append("festival and festvox-kallpc16k (diphone speech)")
    for m in missing:
        print("corpus: skipped, not installed: " + m, file=sys.stderr)
    if missing and require:
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv[1:])
