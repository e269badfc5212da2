#!/usr/bin/env bash
# Installs what the build and the tests use beyond the compiler: CMake, GoogleTest and Google
# Benchmark, libsndfile for sound files, FFTW for the analysis of sounds, librsvg for PNG pictures, csound and its utilities and sox as peers and fixture
# makers, xmllint to check pictures, pybind11, numpy, pytest and scipy (a reference spline) for the Python module,
# clang with its fuzzer and sanitizer runtimes for the fuzz targets, and aubio (a peer for the
# benchmark of the fundamental), and the makers of the corpus of real recordings and its peers
# (fluidsynth and its General MIDI soundfont, festival and its diphone voice, alsa-utils' voice
# prompts, rubberband).
set -euo pipefail
packages=(cmake libgtest-dev libbenchmark-dev pkg-config libsndfile1-dev libfftw3-dev librsvg2-dev librsvg2-bin csound csound-utils sox libxml2-utils pybind11-dev python3-dev python3-numpy python3-pytest python3-scipy python3-pip python3-setuptools clang libclang-rt-dev aubio-tools chromium chromium-driver python3-selenium python3-distributed rubberband-cli fluidsynth fluid-soundfont-gm python3-mido festival festvox-kallpc16k alsa-utils)
if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
  printf '%s\n' >&2 \
    "setup: this system has no apt-get, so install these with its own package manager instead:" \
    "  CMake 3.25 or later, a C++17 compiler, pkg-config, GoogleTest (tests), Google Benchmark (optional)," \
    "  libsndfile (sound files other than WAV), pybind11, the Python 3 headers, numpy, pytest and scipy" \
    "  (the Python module and its tests), sox, xmllint and csound's utilities (tests that use them)." \
    "The tool alone builds without any of them: cmake --preset tool && cmake --build --preset tool"
  exit 1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
  echo "setup: installing ${#missing[@]} package(s) with apt-get (a minute or more): ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "setup: ${#packages[@]} packages checked, ${#missing[@]} installed"
