"""Builds the Python module zarn through the project's CMake build, from the same sources as the
tool, with the same arithmetic (every operation rounded on its own) and the same optional
libraries where CMake finds them: libsndfile (sound files), FFTW (analysis), librsvg and cairo
(PNG pictures)."""
import glob
import os
import re
import shutil
import subprocess
import sys

import setuptools
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

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


class CMakeBuild(build_ext):
    """Builds the module with the project's own CMake build (the one recipe for it), for the
    Python that runs this, and puts it where setuptools expects the extension."""

    def build_extension(self, ext):
        if shutil.which("cmake") is None:
            sys.exit("zarn: building the Python module needs CMake 3.25 or later (Debian: cmake)")
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        subprocess.check_call(["cmake", "-S", HERE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DZARN_TESTS=OFF",
                               "-DZARN_BENCHMARKS=OFF", "-DZARN_PYTHON=ON", "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "zarn_python", "-j", str(os.cpu_count() or 1)])
        built = glob.glob(os.path.join(build, "python", "zarn*.so"))
        if not built:
            sys.exit("zarn: CMake built no Python module for %s: pybind11 (pybind11-dev) and this Python's headers "
                     "are needed" % sys.executable)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


check_wheel()
setup(
    version=version(),
    packages=[],  # the module is the extension alone, built by CMake
    ext_modules=[Extension("zarn", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
