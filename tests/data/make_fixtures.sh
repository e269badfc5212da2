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
