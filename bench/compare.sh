#!/usr/bin/env bash
# Times zarn against the I/O floor (parsing the same input and formatting the same output
# with std::from_chars / std::to_chars, no spline) on a generated analysis, and reports the
# median wall-time ratio, zarn's peak resident memory and how the cost grows with size.
#
# usage: bench/compare.sh [PARTIALS [RUNS [STEP]]]    (defaults: 5000 7 0.01)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
partials=${1:-5000}
runs=${2:-7}
step=${3:-0.01}
work=$root/build/bench
mkdir -p "$work"
cd "$root"

cmake --preset release >/dev/null
cmake --build --preset release --target zarn make_analysis zarn_floor >/dev/null
cmake --build --preset release --target zarn_bench >/dev/null 2>&1 || true
zarn=$root/build/release/zarn
floor=$root/build/release/zarn_floor

# seconds of wall time for one run of "$@", output discarded, result file removed after
wall() {
  local out=$1; shift
  rm -f "$out"
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  rm -f "$out"
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}' 
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# median seconds of zarn and of the floor on one analysis, run alternately
measure() {
  local input=$1 zs=() fs=()
  for ((i = 0; i < runs; i++)); do
    fs+=("$(wall "$work/floor.out" "$floor" "$input" "$step" "$work/floor.out")")
    zs+=("$(wall "$work/zarn.out" sh -c "echo '$work/zarn.out' | '$zarn' '$input' '$step'")")
  done
  printf '%s\n' "${zs[@]}" | median
  printf '%s\n' "${fs[@]}" | median
}

big=$work/analysis-$partials.txt
small=$work/analysis-$((partials / 10)).txt
[ -s "$big" ] || "$root/build/release/make_analysis" "$partials" 1 >"$big"
[ -s "$small" ] || "$root/build/release/make_analysis" $((partials / 10)) 1 >"$small"

read -r z_big f_big < <(measure "$big" | paste -s -d' ')
read -r z_small f_small < <(measure "$small" | paste -s -d' ')

rm -f "$work/zarn.out"
peak_kb=$(echo "$work/zarn.out" | /usr/bin/time -v "$zarn" "$big" "$step" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}')
rm -f "$work/zarn.out"

printf 'input                %s (%s partials, %s bytes), step %s, %s runs each\n' "$(basename "$big")" "$partials" "$(stat -c %s "$big")" "$step" "$runs"
printf 'zarn median          %.3f s\n' "$z_big"
printf 'floor median         %.3f s\n' "$f_big"
div() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }
printf 'ratio zarn/floor     %.3f\n' "$(div "$z_big" "$f_big")"
printf 'zarn peak memory     %.1f MiB\n' "$(div "$peak_kb" 1024)"
printf 'growth x10 partials  %.2f (zarn %.3f s at %s partials)\n' "$(div "$z_big" "$z_small")" "$z_small" $((partials / 10))

# Reading and writing each file format, in breakpoints a second (500 partials on the aligned
# grid at 5.8 ms, the same partial data in each format).
bench=$root/build/release/zarn_bench
if [ -x "$bench" ]; then
  "$bench" --benchmark_filter='BM_(Read|Write)/' --benchmark_min_time=0.5 2>/dev/null |
    awk '/^BM_(Read|Write)/ {for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) {sub("items_per_second=", "", $i); printf "%-20s %s breakpoints/s\n", $1, $i}}'
  # Resynthesis, in oscillator samples a second (partial-seconds times the rate over the time).
  "$bench" --benchmark_filter='BM_Render' --benchmark_min_time=0.5 2>/dev/null |
    awk '/^BM_Render/ {for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) {sub("items_per_second=", "", $i); printf "%-20s %s oscillator samples/s\n", $1, $i}}'
fi
