#!/bin/sh
# Runs zarn under valgrind's memcheck and fails on any memory error or leak (memory that libraries
# keep reachable at exit, as glib does, is no leak), or on an exit
# status other than the one expected.
# usage: memcheck.sh ZARN INPUT STEP EXPECTED_STATUS
set -u
zarn=$1 input=$2 step=$3 expected=$4
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
echo "$dir/out.txt" | valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  "$zarn" "$input" "$step" >/dev/null
status=$?
if [ "$status" -ne "$expected" ]; then
  echo "memcheck: exit status $status, expected $expected (99: valgrind found errors)"
  exit 1
fi
echo "memcheck: clean, exit status $status"
