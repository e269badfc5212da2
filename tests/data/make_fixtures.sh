#!/bin/sh
# Makes the SDIF fixtures written by another analyser (csound's hetro, from the Debian
# package csound-utils) from test tones made with sox. Run once; the results are committed.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A sawtooth at 220 Hz, amplitude 0.5: harmonic k has amplitude 0.5 * 2 / (pi k).
sox -n -r 22050 -b 16 -c 1 "$tmp/saw.wav" synth 0.12 sawtooth 220 vol 0.5
hetro -f 220 -h 4 "$tmp/saw.wav" hetro-saw220.sdif >/dev/null 2>&1
# A square wave at 330 Hz: odd harmonics only, harmonic k at 4 / (pi k) times 0.3.
sox -n -r 22050 -b 16 -c 1 "$tmp/square.wav" synth 0.12 square 330 vol 0.3
hetro -f 330 -h 5 "$tmp/square.wav" hetro-square330.sdif >/dev/null 2>&1
# ATS files of each type (csound's atsa) from a tone at 440 Hz for 0.4 s and one at 1320 Hz
# from 0.15 s to 0.5 s, so that partials start and stop.
sox -n -r 44100 -b 16 -c 1 "$tmp/a.wav" synth 0.5 sine 440 vol 0.4 trim 0 0.4 pad 0 0.1
sox -n -r 44100 -b 16 -c 1 "$tmp/b.wav" synth 0.35 sine 1320 vol 0.3 pad 0.15 0
sox -m "$tmp/a.wav" "$tmp/b.wav" "$tmp/two.wav"
for type in 1 2 3 4; do
  atsa "$tmp/two.wav" "atsa-type$type.ats" -F "$type" >/dev/null 2>&1
done
