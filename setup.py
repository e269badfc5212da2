"""Builds the Python module zarn from the same sources as the tool, with the same arithmetic
(every operation rounded on its own) and the same optional libraries, where pkg-config finds
them: libsndfile (sound files), FFTW (analysis), librsvg and cairo (PNG pictures)."""
import glob
import os
import re
import shutil
import subprocess
import sys

import setuptools
from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))


def check_wheel():
    """setuptools before 70.1 builds wheels through the separate 'wheel' package: without it, pip
    (with --no-build-isolation) would only say "invalid command 'bdist_wheel'"."""
    older = tuple(int(p) for p in re.findall(r"\d+", setuptools.__version__)[:2]) < (70, 1)
    if older and ("bdist_wheel" in sys.argv or "dist_info" in sys.argv):
        try:
            import wheel  # noqa: F401
        except ImportError:
            sys.exit("zarn: setuptools %s builds wheels with the 'wheel' package, which this Python (%s) lacks: "
                     "pip install wheel (Debian: python3-wheel)" % (setuptools.__version__, sys.executable))


def version():
    with open(os.path.join(HERE, "CMakeLists.txt")) as f:
        return re.search(r"project\(zarn VERSION ([0-9.]+)", f.read()).group(1)


def pkg_config(*modules):
    """(cflags, libs) of the modules, or None where pkg-config does not find them all."""
    if shutil.which("pkg-config") is None:
        return None
    try:
        cflags = subprocess.run(["pkg-config", "--cflags", *modules], capture_output=True, text=True, check=True).stdout.split()
        libs = subprocess.run(["pkg-config", "--libs", *modules], capture_output=True, text=True, check=True).stdout.split()
    except subprocess.CalledProcessError:
        return None
    return cflags, libs


sources = sorted(p for p in glob.glob(os.path.join("zarn", "*", "*.cpp")) if p != os.path.join("zarn", "app", "main.cpp"))
defines, cflags, libs = [("ZARN_VERSION", '"%s"' % version())], [], []
for define, modules in [("ZARN_HAVE_SNDFILE", ["sndfile"]), ("ZARN_HAVE_FFTW", ["fftw3"]), ("ZARN_HAVE_PNG", ["librsvg-2.0", "cairo"])]:
    found = pkg_config(*modules)
    if found is None:
        print("zarn: %s not found by pkg-config: built without it" % " ".join(modules))
        continue
    defines.append((define, "1"))
    cflags += found[0]
    libs += found[1]


def pybind11_include():
    """pybind11's headers: from its Python package where there is one, else the system's."""
    try:
        import pybind11
        return [pybind11.get_include()]
    except ImportError:
        return []  # Debian's pybind11-dev puts them in /usr/include


check_wheel()
setup(
    version=version(),
    packages=[],  # the module is the extension alone
    ext_modules=[
        Extension(
            "zarn",
            sources + [os.path.join("python", "zarn_python.cpp")],
            include_dirs=["zarn"] + pybind11_include(),
            define_macros=defines,
            language="c++",
            extra_compile_args=["-std=c++17", "-O2", "-fvisibility=hidden", "-ffp-contract=off", "-fno-fast-math"] + cflags,
            extra_link_args=libs,
        )
    ],
)
