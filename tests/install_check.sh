#!/bin/sh
# Installs the build into a temporary prefix and checks what lands there.
# usage: install_check.sh CMAKE BUILD_DIR
set -u
cmake=$1 build=$2
prefix=$(mktemp -d) || exit 1
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
[ -x "$prefix/bin/zarn" ] || { echo "no bin/zarn"; exit 1; }
[ -f "$prefix/share/man/man1/zarn.1" ] || { echo "no share/man/man1/zarn.1"; exit 1; }
"$prefix/bin/zarn" --version | grep -q '^zarn [0-9]*\.[0-9]*\.[0-9]*$' || { echo "installed zarn --version is off"; exit 1; }
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -ww -z -man "$prefix/share/man/man1/zarn.1" 2>&1)
  [ -z "$warnings" ] || { echo "groff warns:"; echo "$warnings"; exit 1; }
  groff -man -Tascii -P-cbou "$prefix/share/man/man1/zarn.1" 2>/dev/null | grep -q 'EXIT STATUS' || { echo "man page does not render"; exit 1; }
else
  echo "groff not found: rendering not checked"
fi
echo "installed: bin/zarn, share/man/man1/zarn.1"
