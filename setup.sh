#!/usr/bin/env bash
# Installs what the build and the tests use beyond the compiler, CMake, GoogleTest and Google
# Benchmark: libsndfile for sound output, csound's SDIF tools and sox as peers and fixture
# makers, xmllint to check pictures, and pybind11, numpy, pytest and scipy (a reference spline) for the Python module.
set -euo pipefail
packages=(pkg-config libsndfile1-dev csound-utils sox libxml2-utils pybind11-dev python3-dev python3-numpy python3-pytest python3-scipy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "setup: ${#missing[@]} package(s) installed, ${#packages[@]} needed"
