#!/usr/bin/env bash
# Times zarn against the I/O floor (parsing the same input and formatting the same output
# with std::from_chars / std::to_chars, no spline) on a generated analysis, and reports the
# median CPU-time ratio (and wall time), zarn's peak resident memory, how the cost grows with
# size, and the per-stage rates of the parts and of each file format.
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
cmake --build --preset release --target zarn make_analysis zarn_floor zarn_analysis_quality >/dev/null
cmake --build --preset release --target zarn_bench >/dev/null 2>&1 || true
cmake --build --preset release --target zarn_python >/dev/null 2>&1 || true
zarn=$root/build/release/zarn
floor=$root/build/release/zarn_floor

# "wall cpu" seconds of one run of "$@" (cpu: user + system time of the process and its
# children, the shell that feeds zarn's dialogue included), output discarded, the result
# file removed after
timed() {
  local out=$1; shift
  rm -f "$out"
  local TIMEFORMAT='%3R %3U %3S'  # bash's own timing, to the millisecond
  { time "$@" >/dev/null 2>&1; } 2>"$work/time.txt"
  rm -f "$out"
  awk '{print $1, $2 + $3}' "$work/time.txt"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# median wall and cpu seconds of zarn and of the floor on one analysis, run alternately:
# "zarn_wall floor_wall zarn_cpu floor_cpu"
measure() {
  local input=$1 z=() f=()
  for ((i = 0; i < runs; i++)); do
    f+=("$(timed "$work/floor.out" "$floor" "$input" "$step" "$work/floor.out")")
    z+=("$(timed "$work/zarn.out" sh -c "echo '$work/zarn.out' | '$zarn' '$input' '$step'")")
  done
  echo "$(printf '%s\n' "${z[@]}" | cut -d' ' -f1 | median) $(printf '%s\n' "${f[@]}" | cut -d' ' -f1 | median)" \
       "$(printf '%s\n' "${z[@]}" | cut -d' ' -f2 | median) $(printf '%s\n' "${f[@]}" | cut -d' ' -f2 | median)"
}

big=$work/analysis-$partials.txt
small=$work/analysis-$((partials / 10)).txt
[ -s "$big" ] || "$root/build/release/make_analysis" "$partials" 1 >"$big"
[ -s "$small" ] || "$root/build/release/make_analysis" $((partials / 10)) 1 >"$small"

read -r z_big f_big zc_big fc_big < <(measure "$big")
read -r z_small f_small zc_small fc_small < <(measure "$small")

rm -f "$work/zarn.out"
peak_kb=$(echo "$work/zarn.out" | /usr/bin/time -v "$zarn" "$big" "$step" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}')
rm -f "$work/zarn.out"

printf 'input                %s (%s partials, %s bytes), step %s, %s runs each\n' "$(basename "$big")" "$partials" "$(stat -c %s "$big")" "$step" "$runs"
div() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }
printf 'zarn median          %.3f s CPU, %.3f s wall\n' "$zc_big" "$z_big"
printf 'floor median         %.3f s CPU, %.3f s wall\n' "$fc_big" "$f_big"
printf 'ratio zarn/floor     %.3f CPU, %.3f wall\n' "$(div "$zc_big" "$fc_big")" "$(div "$z_big" "$f_big")"
printf 'zarn peak memory     %.1f MiB\n' "$(div "$peak_kb" 1024)"
printf 'growth x10 partials  %.2f CPU (zarn %.3f s CPU at %s partials)\n' "$(div "$zc_big" "$zc_small")" "$zc_small" $((partials / 10))

# The stages of a run (parse, spline, format), then reading and writing each file format, in breakpoints a second (500 partials on the aligned
# grid at 5.8 ms, the same partial data in each format).
bench=$root/build/release/zarn_bench
if [ -x "$bench" ]; then
  "$bench" --benchmark_filter='BM_(Parse|Spline|Format)$' --benchmark_min_time=0.5 2>/dev/null |
    awk '/^BM_/ {for (i = 1; i <= NF; i++) if ($i ~ /_per_second=/) {split($i, kv, "="); printf "%-20s %s %s\n", $1, kv[2], kv[1] ~ /bytes/ ? "bytes/s" : "points/s"}}'
  "$bench" --benchmark_filter='BM_(Read|Write)/' --benchmark_min_time=0.5 2>/dev/null |
    awk '/^BM_(Read|Write)/ {for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) {sub("items_per_second=", "", $i); printf "%-20s %s breakpoints/s\n", $1, $i}}'
  # Resynthesis, in oscillator samples a second (partial-seconds times the rate over the time).
  "$bench" --benchmark_filter='BM_Render' --benchmark_min_time=0.5 2>/dev/null |
    awk '/^BM_Render/ {for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) {sub("items_per_second=", "", $i); printf "%-20s %s oscillator samples/s\n", $1, $i}}'
fi

# ---------------------------------------------------------------- each figure beside its limit
echo
echo "limits"
limit() {  # NAME VALUE OP LIMIT: the figure, its limit and whether it is met
  awk -v n="$1" -v v="$2" -v op="$3" -v l="$4" \
    'BEGIN { ok = (op == "<=") ? (v + 0 <= l + 0) : (v + 0 >= l + 0); printf "%-48s %12.3f   %s %-10s %s\n", n, v, op, l, ok ? "met" : "NOT MET" }'
}
peak_of() {  # peak KiB of one quiet run of zarn on "$@", result and sound removed after
  rm -f "$work/limits.out" "$work/limits.wav"
  /usr/bin/time -f %M "$zarn" -q -o "$work/limits.out" "$@" 2>&1 >/dev/null | tail -1
  rm -f "$work/limits.out" "$work/limits.wav"
}
held_peak_of() {  # the same of a run that holds every partial: one that lists them too
  rm -f "$work/limits.out" "$work/limits.wav"
  /usr/bin/time -f %M "$zarn" -o "$work/limits.out" "$@" 2>&1 >/dev/null | grep -v warning | tail -1
  rm -f "$work/limits.out" "$work/limits.wav"
}
cpu_of() {  # median CPU seconds of RUNS runs of zarn's default run on an analysis
  for ((i = 0; i < runs; i++)); do timed "$work/zarn.out" sh -c "echo '$work/zarn.out' | '$zarn' '$1' '$step'" | cut -d' ' -f2; done | median
}

limit "default run: CPU / floor's" "$(div "$zc_big" "$fc_big")" "<=" 0.3
limit "default run: peak (MiB)" "$(div "$peak_kb" 1024)" "<=" 51
for rate in 44100 96000; do
  limit "--wav at $rate Hz: peak / peak without" "$(div "$(held_peak_of --wav="$work/limits.wav" --rate=$rate "$big" "$step")" "$(held_peak_of "$big" "$step")")" "<=" 1.2
done

# SDIF against the list format: the analysis on the aligned grid at its own spacing, the same
# partial data in each (make_analysis's framed output).
framed_list=$work/framed-$partials.txt framed_sdif=$work/framed-$partials.sdif
[ -s "$framed_list" ] || "$root/build/release/make_analysis" "$partials" 1 list >"$framed_list"
[ -s "$framed_sdif" ] || "$root/build/release/make_analysis" "$partials" 1 sdif >"$framed_sdif"
limit "run from SDIF: CPU / from the list" "$(div "$(cpu_of "$framed_sdif")" "$(cpu_of "$framed_list")")" "<=" 0.7
limit "run from SDIF: peak / from the list" "$(div "$(held_peak_of "$framed_sdif" "$step")" "$(held_peak_of "$framed_list" "$step")")" "<=" 1.0
if [ -x "$bench" ]; then
  rate_of() { "$bench" --benchmark_filter="^$1\$" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null | awk -F, -v n="\"$1\"" '$1 == n {print $7}'; }
  limit "SDIF read in memory (breakpoints/s)" "$(rate_of BM_Read/sdif)" ">=" 150e6
  limit "SDIF write in memory (breakpoints/s)" "$(rate_of BM_Write/sdif)" ">=" 100e6
fi

# The analysis, on one core: the slowest of the quality benchmark's sounds.
limit "analysis: slowest sound (x real time)" \
  "$("$root/build/release/zarn_analysis_quality" | awk '$1 == "zarn" && $NF ~ /x$/ {v = $NF + 0; if (min == "" || v < min) min = v} END {print min}')" ">=" 200

# The analysis beside its floor, the three transforms a frame, on a 600 s harmonic tone.
cmake --build --preset release --target zarn_analysis_floor >/dev/null
limit "analysis: CPU / its transforms' (600 s tone)" "$("$root/build/release/zarn_analysis_floor" 600 1 | awk '$1 == "ratio" {print $2}')" "<=" 2.5

# Memory that does not grow with the input: a quiet run into a file, at four times the partials.
four=$work/analysis-$((partials * 4)).txt
[ -s "$four" ] || "$root/build/release/make_analysis" $((partials * 4)) 1 >"$four"
limit "-q -o list: peak at 4x / at 1x" "$(div "$(peak_of "$four" "$step")" "$(peak_of "$big" "$step")")" "<=" 1.3
limit "-q -o sdif: peak at 4x / at 1x" "$(div "$(peak_of -f sdif "$four" "$step")" "$(peak_of -f sdif "$big" "$step")")" "<=" 1.3

# The same from SDIF and ATS inputs: the analysis and four times it written in each at the step
# (their partials handed on as each ends), and a sound beside the result (its partials set
# aside on disk as they come).
for format in sdif ats; do
  for input in "$big" "$four"; do
    [ -s "$input.$format" ] || "$zarn" -q -f $format -o "$input.$format" "$input" "$step" 2>/dev/null || true
  done
  if [ -s "$four.$format" ]; then
    limit "-q -o from $format: peak at 4x / at 1x" "$(div "$(peak_of "$four.$format" "$step")" "$(peak_of "$big.$format" "$step")")" "<=" 1.3
  else
    echo "-q -o from $format: the file at 4x would be too large to make; not measured"
  fi
done
limit "-q -o --wav: peak at 4x / at 1x" \
  "$(div "$(peak_of --wav="$work/limits.wav" "$four" "$step")" "$(peak_of --wav="$work/limits.wav" "$big" "$step")")" "<=" 1.3
if [ -x "$bench" ]; then
  # The best of six runs of each, the two of a pair run in turn in one process: this machine's speed
  # wanders more between processes than the figures differ.
  best_of() {  # "RATE RATE": the best items a second of each of the two benchmarks named
    "$bench" --benchmark_filter="^($1|$2)\$" --benchmark_min_time=0.3 --benchmark_repetitions=6 --benchmark_enable_random_interleaving=true --benchmark_format=csv 2>/dev/null |
      awk -F, -v a="\"$1\"" -v b="\"$2\"" '$1 == a && $7 > x {x = $7} $1 == b && $7 > y {y = $7} END {print x, y}'
  }
  # Reading alone, a partial at a time, in memory, on the runs' 5,000 partials (frames of some
  # fifteen rows), and on 500 (frames of a row or two, where each frame's own cost shows).
  read -r list_rate sdif_rate < <(best_of BM_ReadEach/list/1 BM_ReadEach/sdif/1)
  limit "SDIF read / list read, 5,000 partials (CPU)" "$(div "$list_rate" "$sdif_rate")" "<=" 0.8
  read -r list_rate sdif_rate < <(best_of BM_ReadEach/list/0 BM_ReadEach/sdif/0)
  echo "SDIF read / list read, 500 partials (CPU)            $(div "$list_rate" "$sdif_rate")"
  # The sound a block at a time beside the eight lanes' floor, in oscillator samples a second.
  read -r floor_rate sound_rate < <(best_of BM_LanesFloor BM_SoundStream/1)
  echo "oscillators: the floor / the sound made, per sample  $(div "$floor_rate" "$sound_rate")"
fi

# median "wall cpu" seconds of RUNS quiet runs of zarn with these options, into a file
quiet_of() {
  for ((i = 0; i < runs; i++)); do timed "$work/quiet.out" "$zarn" -q --force -o "$work/quiet.out" "$@"; done >"$work/quiet.txt"
  rm -f "$work/quiet.wav"
  echo "$(cut -d' ' -f1 "$work/quiet.txt" | median) $(cut -d' ' -f2 "$work/quiet.txt" | median)"
}
read -r _ without < <(quiet_of "$big" "$step")
read -r _ with < <(quiet_of --wav="$work/quiet.wav" "$big" "$step")
limit "--wav: CPU / the same run's without" "$(div "$with" "$without")" "<=" 3.5
read -r one _ < <(quiet_of -j 1 "$four" "$step")
read -r two _ < <(quiet_of -j 2 "$four" "$step")
limit "-j 2 / -j 1 on one input (wall)" "$(div "$two" "$one")" "<=" 0.6

# The Python module, where it was built and numpy is there.
module=$(ls "$root"/build/release/python/zarn*.so 2>/dev/null | head -1 || true)
python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$root/build/release/CMakeCache.txt" 2>/dev/null | head -1)
if [ -n "$module" ] && PYTHONPATH=$(dirname "$module") "${python:-python3}" -c 'import numpy, zarn' 2>/dev/null; then
  PYTHONPATH=$(dirname "$module") "${python:-python3}" "$root/bench/python_cost.py" "$zarn" "$big" "$step" "$runs"
else
  echo "python: the module or numpy is missing; not measured"
fi
