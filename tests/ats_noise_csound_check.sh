#!/bin/sh
# csound plays the noise of zarn's ATS: a tone in white noise, analysed by zarn, is written as
# ATS type 4; ATSinfo reads the type, ATSaddnz plays the noise bands at the noise's level
# (within 1.5 dB of the part of the noise below 20 kHz) and ATSsinnoi plays tone and noise.
# usage: ats_noise_csound_check.sh ZARN CSOUND (sox makes and measures the sounds)
set -eu
zarn=$1 csound=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sox -R -n -r 44100 -b 16 noise.wav synth 3 whitenoise vol 0.05
sox -n -r 44100 -b 16 tone.wav synth 3 sine 1000 vol 0.2
sox -m -v 1 noise.wav -v 1 tone.wav both.wav
"$zarn" -q -o out.ats both.wav 0.01
cat > play.csd <<'CSD'
<CsoundSynthesizer>
<CsOptions>
-o noise-played.wav -W -d
</CsOptions>
<CsInstruments>
sr = 44100
ksmps = 32
nchnls = 1
0dbfs = 1
instr 1
  itype ATSinfo "out.ats", 8
  ipartials ATSinfo "out.ats", 3
  prints "ats-info type %d partials %d\n", itype, ipartials
  ktime line 0.5, p3, 2.5
  asig ATSaddnz ktime, "out.ats", 25
  out asig
endin
</CsInstruments>
<CsScore>
i 1 0 2
</CsScore>
</CsoundSynthesizer>
CSD
"$csound" play.csd > report 2>&1 || { cat report; exit 1; }
grep 'ats-info' report
grep -q 'ats-info type 4 ' report
sed -e 's/noise-played.wav/both-played.wav/' -e 's/asig ATSaddnz ktime, "out.ats", 25/asig ATSsinnoi ktime, 1, 1, 1, "out.ats", 1/' play.csd > both.csd
"$csound" both.csd > report 2>&1 || { cat report; exit 1; }
rms() { sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'; }
# White noise below 20 kHz of 22.05 holds 20/22.05 of its power.
noise=$(rms noise.wav) played=$(rms noise-played.wav) both=$(rms both-played.wav)
echo "noise rms $noise, ATSaddnz $played, ATSsinnoi $both"
awk -v n="$noise" -v p="$played" 'BEGIN { d = 10 * log(p * p / (n * n * 20 / 22.05)) / log(10); print "noise level off by " d " dB"; exit !(d > -1.5 && d < 1.5) }'
awk -v b="$both" 'BEGIN {exit !(b > 0.1)}'
