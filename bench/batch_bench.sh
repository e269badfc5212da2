#!/bin/sh
# Wall time of a batch of 24 sounds (harmonic tones in noise, made by sox; 3 s each, or SECONDS)
# with -j 1 and -j 2, their ratio, and the peak memory of one job; the outputs compared byte
# for byte. With PYTHON (a Python that imports zarn and dask.distributed), the same through
# examples/corpus.py on a local cluster of 1 and of 2 workers, its outputs the tool's.
# usage: [PYTHON=python3] bench/batch_bench.sh build/release/zarn [SECONDS]
set -eu
zarn=$(realpath "$1")
seconds=${2:-3}
corpus=$(realpath "$(dirname "$0")/../examples/corpus.py")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in one two
i=1
while [ $i -le 24 ]; do
  f=$((90 + 17 * i))
  sox -n -r 44100 -b 16 "in/s$i.wav" synth "$seconds" sine $f sine $((2 * f)) sine $((3 * f)) sine $((5 * f)) pinknoise vol 0.5 2>/dev/null
  i=$((i + 1))
done
now() { date +%s.%N; }
a=$(now); "$zarn" -q -j 1 -o one/ --step=0.01 in/*.wav; b=$(now)
"$zarn" -q -j 2 -o two/ --step=0.01 in/*.wav; c=$(now)
for f in one/*; do cmp "$f" "two/${f#one/}"; done
rss=$(/usr/bin/time -f %M "$zarn" -q -o alone.txt in/s1.wav 0.01 2>&1)
awk -v a="$a" -v b="$b" -v c="$c" -v rss="$rss" -v s="$seconds" 'BEGIN {
  printf "24 sounds of %s s: -j 1 %.2f s, -j 2 %.2f s: %.2f of -j 1; one job peaks at %.1f MiB\n", s, b - a, c - b, (c - b) / (b - a), rss / 1024 }'
if [ -n "${PYTHON:-}" ]; then
  mkdir w1 w2
  a=$(now); "$PYTHON" "$corpus" --workers 1 --step 0.01 --out w1 in 2>/dev/null; b=$(now)
  "$PYTHON" "$corpus" --workers 2 --step 0.01 --out w2 in 2>/dev/null; c=$(now)
  for f in one/*; do cmp "$f" "w1/${f#one/}"; cmp "$f" "w2/${f#one/}"; done
  awk -v a="$a" -v b="$b" -v c="$c" 'BEGIN {
    printf "corpus.py, the same files: 1 worker %.2f s, 2 workers %.2f s: %.2f of 1 worker (cluster start included)\n", b - a, c - b, (c - b) / (b - a) }'
fi
