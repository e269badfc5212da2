#!/bin/sh
# csound reads zarn's ATS: ATSinfo gives the counts that zarn wrote, and ATSadd plays the
# partials, so that the sound it renders is not silent.
# usage: ats_csound_check.sh ZARN CSOUND EXAMPLE (sox measures the sound)
set -eu
zarn=$1 csound=$2 example=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$zarn" -q -o out.ats "$example" 0.01
cat > play.csd <<'CSD'
<CsoundSynthesizer>
<CsOptions>
-o play.wav -W -d
</CsOptions>
<CsInstruments>
sr = 44100
ksmps = 32
nchnls = 1
0dbfs = 1
instr 1
  ipartials ATSinfo "out.ats", 3
  iframes ATSinfo "out.ats", 4
  itype ATSinfo "out.ats", 8
  prints "ats-info partials %d frames %d type %d\n", ipartials, iframes, itype
  ktime line 0, p3, p3
  asig ATSadd ktime, 1, "out.ats", 1, ipartials
  out asig
endin
</CsInstruments>
<CsScore>
f 1 0 16384 10 1
i 1 0 0.15
</CsScore>
</CsoundSynthesizer>
CSD
"$csound" play.csd > report 2>&1 || { cat report; exit 1; }
grep 'ats-info' report
grep -q 'ats-info partials 5 frames 20 type 2' report
# The rendered sound's peak (sox): well above silence.
peak=$(sox play.wav -n stat 2>&1 | awk '/^Maximum amplitude/ {print $3}')
echo "peak $peak"
awk -v p="$peak" 'BEGIN {exit !(p > 0.05)}'
