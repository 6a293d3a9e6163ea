"""Every front end takes the same option values and refuses the same ones: the headless front end's flags,
its compare grid and the Python module, fed one table of values."""

import os
import subprocess

import numpy as np
import pytest

import knnbench

CLI = os.environ.get("KNNBENCH_CLI")
POINTS = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 2.0], [3.0, 1.0]])


def module_call(structure="kd", k=1, eps=0.0, p=2, metric="euclidean", bucket_size=1, split="default"):
    make = knnbench.KdTree if structure == "kd" else knnbench.BdTree
    make(POINTS, bucket_size=bucket_size, split=split).query(POINTS[:2], k=k, eps=eps, metric=metric, p=p)


# name: flags of one run, the compare grid's word (None where the grid has no such key), the module's
# keyword arguments, and whether the value is taken.
CASES = {
    "eps -1": (["--eps", "-1"], "eps=-1", {"eps": -1.0}, False),
    "eps NaN": (["--eps", "nan"], "eps=nan", {"eps": float("nan")}, False),
    "eps 0.5": (["--eps", "0.5"], "eps=0.5", {"eps": 0.5}, True),
    "power 0": (["--metric", "custom", "--power", "0"], None, {"metric": "custom", "p": 0}, False),
    "power 1": (["--metric", "custom", "--power", "1"], None, {"metric": "custom", "p": 1}, True),
    "power 64": (["--metric", "custom", "--power", "64"], None, {"metric": "custom", "p": 64}, True),
    "power 65": (["--metric", "custom", "--power", "65"], None, {"metric": "custom", "p": 65}, True),
    "power 101": (["--metric", "custom", "--power", "101"], None, {"metric": "custom", "p": 101}, False),
    "split 5": (["--split", "5"], "split=5", {"split": 5}, True),
    "split 6": (["--split", "6"], "split=6", {"split": 6}, False),
    "bucket 0": (["--bucket", "0"], "bucket=0", {"bucket_size": 0}, False),
    "k 0": (["-k", "0"], None, {"k": 0}, False),
}


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("vocabulary")
    paths = []
    for name, rows in (("data.pts", POINTS), ("query.pts", POINTS[:2])):
        path = folder / name
        path.write_text("".join(f"{x} {y}\n" for x, y in rows))
        paths.append(str(path))
    return paths


def cli_status(files, flags):
    data, query = files
    return subprocess.run([CLI, "--data", data, "--query", query, "--no-stats", *flags],
                          capture_output=True, check=False).returncode


@pytest.mark.skipif(CLI is None, reason="the headless front end is not built")
@pytest.mark.parametrize("name", CASES)
def test_front_ends_agree(files, name):
    flags, grid_word, keywords, taken = CASES[name]
    assert cli_status(files, flags) == (0 if taken else 2)
    if grid_word is not None:
        assert cli_status(files, ["--compare", grid_word, "--repeat", "1"]) == (0 if taken else 2)
    else:
        # Options outside the grid come from the flags in a compare run too.
        assert cli_status(files, [*flags, "--compare", "default", "--repeat", "1"]) == (0 if taken else 2)
    if taken:
        module_call(**keywords)
    else:
        with pytest.raises(ValueError):
            module_call(**keywords)
