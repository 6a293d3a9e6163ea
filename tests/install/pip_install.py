"""Installs the Python package as its users do, offline: builds a wheel of a copy of the sources
(`python -m build --no-isolation --wheel`, or `pip wheel` without the build module), installs it with pip
into a fresh venv that sees the system's packages, and answers a query there.
    pip_install.py SOURCE_DIR
Exits with 77 (skipped) when venv, pip, setuptools or wheel is missing."""

import importlib.util
import shutil
import subprocess
import sys
import tempfile
import venv
from pathlib import Path

SKIPPED = 77
NEEDED = {"pip": "python3-pip", "setuptools": "python3-setuptools", "wheel": "python3-wheel"}

QUERY = """
import pathlib, sys, knnbench
package = pathlib.Path(knnbench.__file__).parent
assert pathlib.Path(sys.prefix) in package.parents, package
assert (package / "py.typed").is_file() and (package / "_core.pyi").is_file()
d, i = knnbench.cKDTree([[0.0, 0.0], [1.0, 1.0], [0.2, 0.1]]).query([0.9, 0.8], k=2)
assert list(i) == [1, 2], i
print("installed", knnbench.__version__, "in", package)
"""


def main():
    source = Path(sys.argv[1]).resolve()
    missing = [package for module, package in NEEDED.items() if importlib.util.find_spec(module) is None]
    if missing:
        print("skipped: installing the package needs the Debian packages", ", ".join(missing))
        return SKIPPED
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        # A copy, so that the build's folders stay out of the sources.
        tree = work / "src"
        shutil.copytree(source, tree, ignore=lambda folder, names: [
            name for name in names
            if name in (".git", ".cache", "__pycache__") or name.endswith(".egg-info")
            or (Path(folder) == source and name.startswith("build"))])
        env = work / "venv"
        venv.create(env, system_site_packages=True, with_pip=False)
        python = str(env / "bin" / "python")
        wheels = work / "wheels"
        if importlib.util.find_spec("build") is not None:
            build = [python, "-m", "build", "--no-isolation", "--wheel", "--outdir", str(wheels), str(tree)]
        else:
            build = [python, "-m", "pip", "wheel", "--no-build-isolation", "--no-index", "--no-deps",
                     "--wheel-dir", str(wheels), str(tree)]
        subprocess.run(build, check=True, cwd=work)
        wheel = next(wheels.glob("knnbench-*.whl"))
        subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-build-isolation", str(wheel)],
                       check=True, cwd=work)
        subprocess.run([python, "-c", QUERY], check=True, cwd=work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
