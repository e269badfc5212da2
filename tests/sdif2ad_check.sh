#!/bin/sh
# Another program reads zarn's SDIF: csound's sdif2ad converts the resampled example to its
# own format and must find every partial with every breakpoint.
# usage: sdif2ad_check.sh ZARN SDIF2AD EXAMPLE
set -eu
zarn=$1 sdif2ad=$2 example=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$zarn" -q -o "$work/out.sdif" "$example" 0.01
"$sdif2ad" "$work/out.sdif" "$work/out.ad" >"$work/report" 2>&1
cat "$work/report"
grep -q '^total partials read *= 5$' "$work/report"
grep -q '^maximum breakpoints *= 19$' "$work/report"
grep -q '^5 partials written' "$work/report"
test -s "$work/out.ad"
