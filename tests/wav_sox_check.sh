#!/bin/sh
# sox reads zarn's WAV files without a warning, at every depth as asked, and its sound on
# standard output.
# usage: wav_sox_check.sh ZARN SOX EXAMPLE
set -eu
zarn=$1 sox=$2 example=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for bits in 16 24 32 float; do
  "$zarn" -q -o "r$bits.txt" --wav="s$bits.wav" --bits="$bits" "$example" 0.01
  "$sox" --i "s$bits.wav" > info 2>&1
  "$sox" "s$bits.wav" -n stat > log 2>&1
  if grep -q WARN info log; then cat info log; exit 1; fi
  case $bits in
    float) grep -q 'Sample Encoding: 32-bit Floating Point PCM' info ;;
    *) grep -q "Sample Encoding: $bits-bit Signed Integer PCM" info ;;
  esac || { cat info; exit 1; }
done
"$zarn" -q -o out.txt --wav=- --normalize=-3 "$example" 0.01 2> note | "$sox" -t wav - -n stat > log 2>&1
grep -q 'normalized by' note
if grep -q WARN log; then cat log; exit 1; fi
echo "every depth as asked"
