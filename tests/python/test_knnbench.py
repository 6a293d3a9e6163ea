"""The Python module against scipy's cKDTree and against its own contracts: shapes, empty slots, the
argument checks, dumps, threads."""

import math
import os
import resource
import signal
import threading

import numpy as np
import pytest
from scipy.spatial import cKDTree

import knnbench

SPLITS = ["standard", "midpoint", "fair", "sliding-midpoint", "sliding-fair"]
SHRINKS = ["none", "simple", "centroid"]
METRICS = {1: ("manhattan", 2), 2: ("euclidean", 2), 3: ("custom", 3), math.inf: ("chebyshev", 2)}


def structures():
    """Every structure and rule, as (name, constructor of points)."""
    made = [(f"kd-{s}", lambda pts, s=s: knnbench.KdTree(pts, split=s)) for s in SPLITS]
    made += [(f"bd-{s}", lambda pts, s=s: knnbench.BdTree(pts, bucket_size=2, shrink=s)) for s in SHRINKS]
    made.append(("brute", knnbench.BruteForce))
    return made


def point_sets():
    rng = np.random.default_rng(7)
    uniform = rng.random((400, 3))
    # Few distinct points, each many times: ties everywhere, cells of coincident points.
    duplicated = rng.integers(0, 4, size=(300, 2)).astype(np.float64)
    return {"uniform": (uniform, rng.random((40, 3))), "duplicated": (duplicated, rng.random((40, 2)) * 4)}


POINT_SETS = point_sets()


def assert_valid_neighbours(points, queries, d, i, p):
    """Each reported index lies at its reported distance (ties may be broken in any order)."""
    true = np.linalg.norm(points[i] - queries[:, None, :], ord=p, axis=2)
    np.testing.assert_allclose(d, true, rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("data", POINT_SETS)
@pytest.mark.parametrize("p", METRICS)
@pytest.mark.parametrize("name,make", structures())
def test_answers_equal_ckdtree(name, make, p, data):
    points, queries = POINT_SETS[data]
    metric, power = METRICS[p]
    expected_d, expected_i = cKDTree(points).query(queries, k=6, p=p)
    structure = make(points)
    searches = ["standard"] if name == "brute" else ["standard", "priority"]
    for search in searches:
        d, i = structure.query(queries, k=6, metric=metric, p=power, search=search)
        np.testing.assert_allclose(d, expected_d, rtol=1e-12, atol=1e-12)
        assert_valid_neighbours(points, queries, d, i, p)
        if data == "uniform":
            np.testing.assert_array_equal(i, expected_i)


def test_shapes_and_conversion():
    points, queries = POINT_SETS["uniform"]
    tree = knnbench.KdTree(points)
    assert tree.data is points  # used in place
    frozen = points.copy()
    frozen.flags.writeable = False
    assert knnbench.BruteForce(frozen).query(frozen[:2], k=1)[1].tolist() == [[0], [1]]
    d, i = tree.query(queries[0], k=3)
    assert d.shape == i.shape == (3,) and d.dtype == np.float64 and i.dtype == np.int64
    d, i = tree.query(queries, k=3)
    assert d.shape == i.shape == (40, 3)
    assert tree.query(np.empty((0, 3)), k=2)[0].shape == (0, 2)
    count, d, i = tree.query_radius(queries, 0.2, 4)
    assert count.shape == (40,) and count.dtype == np.int64 and d.shape == (40, 4)
    count, d, i = tree.query_radius(queries[0], 0.2, 0)
    assert isinstance(count, int) and d.shape == (0,)
    # Any other array is converted once, and answers the same.
    strided = np.asfortranarray(points).astype(np.float32)
    converted = knnbench.KdTree(strided)
    assert converted.data is not strided and converted.data.flags.c_contiguous
    np.testing.assert_array_equal(converted.query(queries.tolist(), k=3)[1],
                                  knnbench.KdTree(strided.astype(np.float64)).query(queries, k=3)[1])
    assert len(tree) == tree.n == 400 and tree.d == 3
    assert repr(knnbench.BdTree(points, split=1, shrink="simple")) == \
        "BdTree(n=400, d=3, bucket_size=24, split='midpoint', shrink='simple')"


def test_empty_slots_hold_inf_and_n():
    points, queries = POINT_SETS["uniform"]
    # A search stopped after the first leaf of one point leaves most of the ten slots empty.
    tree = knnbench.KdTree(points, bucket_size=1)
    for search in ("standard", "priority"):
        d, i = tree.query(queries[0], k=10, max_visit=1, search=search)
        empty = i == len(points)
        assert empty.any() and np.all(np.isinf(d[empty])) and np.all(np.isfinite(d[~empty]))
    count, d, i = tree.query_radius(queries[0], 0.05, 50)
    assert count < 50 and np.all(i[count:] == 400) and np.all(np.isinf(d[count:]))


@pytest.mark.parametrize("p", METRICS)
def test_radius_counts_every_point_within_r(p):
    points, queries = POINT_SETS["duplicated"]
    metric, power = METRICS[p]
    r = 1.0  # duplicated points lie on a grid: many exactly at distance 1
    expected = cKDTree(points).query_ball_point(queries.round(), r, p=p, return_length=True)
    for name, make in structures():
        structure = make(points)
        count, d, i = structure.query_radius(queries.round(), r, 5, metric=metric, p=power)
        np.testing.assert_array_equal(count, expected, err_msg=name)
        near_d, _ = structure.query(queries.round(), k=5, metric=metric, p=power)
        np.testing.assert_allclose(d, np.where(np.arange(5) < count[:, None], near_d, np.inf))


def test_eps_bounds_both_searches():
    points, queries = POINT_SETS["uniform"]
    true_d, _ = cKDTree(points).query(queries, k=5)
    tree = knnbench.KdTree(points)
    for search in ("standard", "priority"):
        d, i = tree.query(queries, k=5, eps=0.5, search=search)
        assert np.all(np.diff(d, axis=1) >= 0)
        assert_valid_neighbours(points, queries, d, i, 2)
        assert np.all(d <= true_d * 1.5 + 1e-12)
    count, _, _ = tree.query_radius(queries, 0.2, 0, eps=0.5)
    assert np.all(count <= cKDTree(points).query_ball_point(queries, 0.2, return_length=True))


points_3d = POINT_SETS["uniform"][0]
BAD_CALLS = {
    "k below 1": (lambda t: t.query(points_3d[0], k=0), "k must be at least 1"),
    "k above n": (lambda t: t.query(points_3d[0], k=401), "more than the 400 points"),
    "radius k below 0": (lambda t: t.query_radius(points_3d[0], 0.1, -1), "k must be at least 0"),
    "negative r": (lambda t: t.query_radius(points_3d[0], -0.1, 1), "r must be"),
    "x of three dimensions": (lambda t: t.query(np.zeros((1, 1, 3))), "shape (d,)"),
    "x of wrong width": (lambda t: t.query(np.zeros((2, 4))), "x has 4 coordinates"),
    "x not numbers": (lambda t: t.query(["a", "b", "c"]), "array of numbers"),
    "NaN in x": (lambda t: t.query([[0, 0, 0], [0, np.nan, 0]]), "row 1 holds nan"),
    "unknown metric": (lambda t: t.query(points_3d[0], metric="cosine"), "metric must be"),
    "p not the metric's": (lambda t: t.query(points_3d[0], p=1), "does not fit metric 'euclidean'"),
    "custom p not integer": (lambda t: t.query(points_3d[0], metric="custom", p=2.5), "integer p"),
    "negative eps": (lambda t: t.query(points_3d[0], eps=-1), "eps must be"),
    "negative max_visit": (lambda t: t.query(points_3d[0], max_visit=-1), "max_visit"),
    "threads 0": (lambda t: t.query(points_3d[0], threads=0), "threads must be"),
    "unknown search": (lambda t: t.query(points_3d[0], search="radius"), "search must be"),
    "priority without a tree": (lambda t: knnbench.BruteForce(points_3d).query(points_3d[0], search="priority"),
                                "needs a tree"),
    "split name": (lambda t: knnbench.KdTree(points_3d, split="median"), "split must be one of"),
    "split number": (lambda t: knnbench.KdTree(points_3d, split=6), "number from 0 to 5"),
    "shrink number": (lambda t: knnbench.BdTree(points_3d, shrink=-1), "shrink must be one of"),
    "bucket size": (lambda t: knnbench.KdTree(points_3d, bucket_size=0), "bucket_size"),
    "points of one dimension": (lambda t: knnbench.KdTree(points_3d[0]), "shape (n, d)"),
    "points without coordinates": (lambda t: knnbench.BruteForce(np.zeros((3, 0))), "at least one coordinate"),
    "infinite point": (lambda t: knnbench.KdTree([[0.0], [np.inf]]), "row 1 holds inf"),
}


@pytest.mark.parametrize("call,message", BAD_CALLS.values(), ids=BAD_CALLS.keys())
def test_bad_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        call(knnbench.KdTree(points_3d))


def test_bad_dump_raises_runtime_error_and_leaves_the_library_usable(tmp_path):
    path = tmp_path / "bad.dump"
    path.write_text("#QEL 1.1.1\ntree 2 3 1\n")
    with pytest.raises(RuntimeError, match="Points must be supplied in the dump file"):
        knnbench.load(path)
    (tmp_path / "cut.dump").write_text("#QEL 1.1.1\npoints 1 2\n0 1\n1 2\ntree 1 2 1\n1\n2\nsplit 0 1.5 1 2\n")
    with pytest.raises(RuntimeError, match="Unexpected end of dump file"):
        knnbench.load(tmp_path / "cut.dump")
    with pytest.raises(FileNotFoundError):
        knnbench.load(tmp_path / "missing.dump")
    tree = knnbench.KdTree(points_3d)
    assert tree.query(points_3d[5], k=1)[1][0] == 5


def test_failed_dump_raises_os_error_and_keeps_the_earlier_file(tmp_path):
    path = tmp_path / "tree.dump"
    path.write_text("earlier")
    previous = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, hard))
    try:
        with pytest.raises(OSError):
            knnbench.KdTree(points_3d).dump(path)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
        signal.signal(signal.SIGXFSZ, previous)
    assert path.read_text() == "earlier" and os.listdir(tmp_path) == ["tree.dump"]


@pytest.mark.parametrize("make", [lambda p: knnbench.KdTree(p, bucket_size=3, split="fair"),
                                  lambda p: knnbench.BdTree(p, bucket_size=2, shrink="centroid")])
def test_load_of_dump_answers_like_the_tree(make, tmp_path):
    points, queries = POINT_SETS["duplicated"]
    tree = make(points)
    tree.dump(tmp_path / "tree.dump")
    loaded = knnbench.load(str(tmp_path / "tree.dump"))
    assert type(loaded) is type(tree) and loaded.stats() == tree.stats()
    np.testing.assert_array_equal(loaded.data, points)
    for search in ("standard", "priority"):
        d, i = tree.query(queries, k=4, metric="manhattan", search=search)
        loaded_d, loaded_i = loaded.query(queries, k=4, metric="manhattan", search=search)
        np.testing.assert_array_equal(loaded_i, i)
        np.testing.assert_array_equal(loaded_d, d)


def test_stats_describe_the_tree():
    points = POINT_SETS["duplicated"][0]
    stats = knnbench.BdTree(points, bucket_size=4, shrink="simple").stats()
    assert stats["data_count"] == 300 and stats["bucket_size"] == 4 and stats["dimension_count"] == 2
    assert stats["leaf_count"] == stats["split_node_count"] + stats["shrink_node_count"] + 1
    assert 1.0 <= stats["aspect_mean"] <= 1000.0


def test_threads_answer_like_one_thread():
    points, queries = POINT_SETS["uniform"]
    many = np.repeat(queries, 5, axis=0)
    tree = knnbench.BdTree(points, bucket_size=3)
    for call in (lambda t: tree.query(many, k=7, threads=t), lambda t: tree.query(many, k=7, search="priority",
                                                                                   threads=t),
                 lambda t: tree.query_radius(many, 0.3, 7, metric="chebyshev", threads=t),
                 lambda t: knnbench.BruteForce(points).query(many, k=7, threads=t)):
        alone = call(1)
        for threads in (3, -1):
            for got, expected in zip(call(threads), alone):
                np.testing.assert_array_equal(got, expected)
    built_on_three = knnbench.BdTree(points, bucket_size=3, threads=3)
    assert built_on_three.stats() == tree.stats()
    for got, expected in zip(built_on_three.query(many, k=7), tree.query(many, k=7)):
        np.testing.assert_array_equal(got, expected)


def test_python_threads_with_different_metrics_get_their_own_answers():
    # Calls long enough that the threads' searches overlap while the GIL is released.
    rng = np.random.default_rng(3)
    points, queries = rng.random((20000, 3)), rng.random((3000, 3))
    tree = knnbench.KdTree(points)
    metrics = {"manhattan": 1, "chebyshev": math.inf, "euclidean": 2}
    expected = {m: cKDTree(points).query(queries, k=4, p=p)[1] for m, p in metrics.items()}
    failures = []

    def run(metric):
        for _ in range(10):
            if not np.array_equal(tree.query(queries, k=4, metric=metric)[1], expected[metric]):
                failures.append(metric)

    workers = [threading.Thread(target=run, args=(m,)) for m in metrics]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert failures == []
