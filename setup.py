"""The compiled module knnbench._core, built by the project's CMake build for the interpreter that runs
this, so that the library is compiled with the flags and sources the rest of the project uses."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(knnbench\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DKNN_BUILD_GUI=OFF",
             "-DKNN_BUILD_TESTS=OFF", "-DKNN_BUILD_BENCH=OFF", "-DKNN_BUILD_PYTHON=ON",
             f"-DPython_EXECUTABLE={sys.executable}"],
            check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "knnbench_python", "-j", jobs], check=True)
        built = next((build / "python" / "knnbench").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["knnbench"],
    package_dir={"": "python"},
    package_data={"knnbench": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("knnbench._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Out of the CMake build folder that developers use.
    options={"build": {"build_base": "build-python"}},
)
