#!/bin/sh
# Installs the build into a temporary prefix and checks what lands there: the tool, its man
# page (which must render without a warning), the Python module where that Python finds
# modules, and the Debian package, unpacked into a throwaway root and run from there.
# usage: install_check.sh CMAKE BUILD_DIR [PYTHON PYTHON_INSTALL_DIR CPACK]
set -u
cmake=$1 build=$2 python=${3:-} pydir=${4:-} cpack=${5:-}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
[ -x "$prefix/bin/zarn" ] || { echo "no bin/zarn"; exit 1; }
[ -f "$prefix/share/man/man1/zarn.1" ] || { echo "no share/man/man1/zarn.1"; exit 1; }
[ -f "$prefix/share/doc/zarn/copyright" ] || { echo "no share/doc/zarn/copyright"; exit 1; }
"$prefix/bin/zarn" --version | grep -q '^zarn [0-9]*\.[0-9]*\.[0-9]*$' || { echo "installed zarn --version is off"; exit 1; }
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -ww -z -man "$prefix/share/man/man1/zarn.1" 2>&1)
  [ -z "$warnings" ] || { echo "groff warns:"; echo "$warnings"; exit 1; }
  groff -man -Tascii -P-cbou "$prefix/share/man/man1/zarn.1" 2>/dev/null | grep -q 'EXIT STATUS' || { echo "man page does not render"; exit 1; }
else
  echo "groff not found: rendering not checked"
fi
echo "installed: bin/zarn, share/man/man1/zarn.1, share/doc/zarn/copyright"
[ -n "$python" ] || exit 0

# The module lands in the folder that the Python finds modules in under /usr/local, so that
# after an install there `import zarn` needs no variable.
ls "$prefix/$pydir"/zarn*.so >/dev/null 2>&1 || { echo "no Python module in $pydir"; exit 1; }
"$python" -c "import sys; sys.exit(0 if '/usr/local/$pydir' in sys.path else 1)" || { echo "/usr/local/$pydir is not on the Python's path"; exit 1; }
(cd "$work" && "$python" -c "import sys; sys.path.insert(0, '$prefix/$pydir'); import zarn; assert zarn.__file__.startswith('$prefix')") || exit 1
echo "installed: the Python module in $pydir"
[ -n "$cpack" ] || exit 0

# The Debian package: built, unpacked into a throwaway root, its tool and module run there.
(cd "$build" && "$cpack" -G DEB -B "$work/deb" >/dev/null 2>&1) || { echo "cpack -G DEB failed"; exit 1; }
deb=$(ls "$work"/deb/zarn_*.deb) || { echo "no .deb"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q libsndfile1 || { echo "the package does not depend on libsndfile1"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q python3-numpy || { echo "the package does not depend on python3-numpy"; exit 1; }
dpkg -x "$deb" "$work/root"
"$work/root/usr/bin/zarn" --version | grep -q GPL-3.0-or-later || { echo "the packaged zarn does not run"; exit 1; }
[ -f "$work/root/usr/share/man/man1/zarn.1" ] || { echo "no man page in the package"; exit 1; }
(cd "$work" && "$python" -c "import sys; sys.path.insert(0, '$work/root/usr/$pydir'); import zarn; print('packaged module', zarn.__version__)") || exit 1
echo "packaged: $(basename "$deb")"
