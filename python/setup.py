"""Builds the lib_parse package: the extension comes from the project's own
CMake build (the static library, AsmJit as the project finds it), the rest
is the package's Python files.

    python3 -m venv --system-site-packages VENV
    VENV/bin/pip install --no-build-isolation ./python
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def version():
    header = (ROOT / "include" / "lib_parse.h").read_text()
    parts = [re.search(rf"#define LIB_PARSE_VERSION_{part} (\d+)", header).group(1)
             for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


class CMakeBuild(build_ext):
    """Configures the project with only the Python module on, builds it, and
    puts the module where setuptools packs it."""

    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DLIB_PARSE_BUILD_PYTHON=ON", "-DLIB_PARSE_BUILD_TESTS=OFF",
                        "-DLIB_PARSE_BUILD_TOOLS=OFF", "-DLIB_PARSE_BUILD_BENCH=OFF",
                        f"-DPYTHON_EXECUTABLE={sys.executable}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "lib_parse_python", "-j", jobs], check=True)
        built = next((build / "python" / "package" / "lib_parse").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="lib_parse",
    version=version(),
    description="Formulas typed by people, evaluated exactly and fast over numpy columns",
    long_description=(HERE / "README.md").read_text(),
    long_description_content_type="text/markdown",
    packages=["lib_parse"],
    package_data={"lib_parse": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("lib_parse._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.8",
    install_requires=["numpy"],
    zip_safe=False,
)
