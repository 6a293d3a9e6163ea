"""Property tests of the Python module: random arrays, k, eps, metrics, radii and threads. A call either
answers or raises ValueError, exactly when its docstrings say it must, and an exact answer equals
cKDTree's.

The default profile is derandomized and small, so that the suite stays quick and every run draws the
same examples; HYPOTHESIS_PROFILE=thorough draws 1,000 examples per property."""

import math
import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from scipy.spatial import cKDTree

import knnbench

settings.register_profile("quick", max_examples=100, derandomize=True, database=None, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("thorough", max_examples=1000, derandomize=True, database=None, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "quick"))

# Magnitudes from subnormal to near overflow; small integers times a scale give exact ties.
SCALES = [1.0, 0.25, 1e-300, 1e-160, 5e-324, 1e150, 1e300, 1e15]
SPECIALS = [math.nan, math.inf, -math.inf]
# metric name and p as the module takes them, and scipy's p.
METRICS = [("euclidean", 2, 2), ("manhattan", 2, 1), ("manhattan", 1, 1), ("chebyshev", 2, math.inf),
           ("chebyshev", math.inf, math.inf), ("euclidean", 2.0, 2)] + \
          [("custom", p, p) for p in (1, 2, 3, 5, 8)]
BAD_METRICS = [("euclidean", 1), ("manhattan", 3), ("chebyshev", 1), ("custom", 2.5), ("custom", 0),
               ("custom", 101), ("custom", math.inf), ("cosine", 2), ("custom", math.nan)]


@st.composite
def coordinates(draw, rows, width, special=False):
    """A (rows, width) float64 array: small integers times one or two scales, rows repeated, and with
    special=True sometimes NaN or an infinity."""
    scales = draw(st.lists(st.sampled_from(SCALES), min_size=1, max_size=2))
    values = np.array(draw(st.lists(st.integers(-8, 8), min_size=rows * width, max_size=rows * width)),
                      dtype=np.float64).reshape(rows, width)
    values *= np.array([scales[i % len(scales)] for i in range(width)])
    if rows > 1 and draw(st.booleans()):
        values[draw(st.integers(0, rows - 1))] = values[0]
    if special and rows > 0 and draw(st.integers(0, 7)) == 0:
        where = draw(st.integers(0, rows - 1)), draw(st.integers(0, width - 1))
        values[where] = draw(st.sampled_from(SPECIALS))
    return values


@st.composite
def layouts(draw, array):
    """array as the caller may hand it: as it is, integer (when its values are), Fortran order, a strided
    view or a list."""
    kind = draw(st.sampled_from(["plain", "int", "fortran", "strided", "list"]))
    if kind == "int" and np.all(array == np.round(array)) and np.all(np.abs(array) < 2.0**53):
        return array.astype(np.int64)
    if kind == "fortran":
        return np.asfortranarray(array)
    if kind == "strided":
        wide = np.repeat(array, 2, axis=-1)
        return wide[..., ::2]
    if kind == "list" and array.size > 0:  # an empty list would lose the width
        return array.tolist()
    return array


STRUCTURES = st.one_of(
    st.tuples(st.just("brute"), st.just(None), st.just(None), st.just(1)),
    st.tuples(st.just("kd"), st.sampled_from(["standard", "midpoint", "fair", "sliding-midpoint",
                                              "sliding-fair", "default", 0, 5]),
              st.just(None), st.integers(1, 4)),
    st.tuples(st.just("bd"), st.sampled_from(["standard", "sliding-midpoint", "fair", 3]),
              st.sampled_from(["none", "simple", "centroid", "default", 2]), st.integers(1, 4)))


def build(kind, split, shrink, bucket, points, threads):
    if kind == "brute":
        return knnbench.BruteForce(points)
    if kind == "kd":
        return knnbench.KdTree(points, bucket_size=bucket, split=split, threads=threads)
    return knnbench.BdTree(points, bucket_size=bucket, split=split, shrink=shrink, threads=threads)


@st.composite
def data_sets(draw, special_points=True):
    """Points with their queries; n may be 0 and the queries may be one point of shape (d,)."""
    n, d, m = draw(st.integers(0, 30)), draw(st.integers(1, 4)), draw(st.integers(0, 6))
    points = draw(coordinates(n, d, special=special_points))
    queries = draw(coordinates(m, d, special=True))
    if m > 0 and draw(st.booleans()):
        queries = queries[0]
    return points, queries


def tolerances(scipy_p):
    """Relative and absolute tolerance of a distance: below the smallest normal double, powered
    differences lose digits in both implementations."""
    power = 1 if scipy_p in (1, math.inf) else scipy_p
    return 1e-9, np.finfo(np.float64).tiny ** (1.0 / power) * 16


def check_against_ckdtree(points, queries, d, i, k, scipy_p, eps):
    """d and i (m, k) against cKDTree: equal distances where they are finite (within the error factor for
    eps > 0), the same index where no other point lies at that distance, and every reported point at its
    reported distance."""
    rtol, atol = tolerances(scipy_p)
    n = len(points)
    every_d, every_i = cKDTree(points).query(queries, k=n, p=scipy_p)
    every_d, every_i = every_d.reshape(len(queries), n), every_i.reshape(len(queries), n)
    expected = every_d[:, :k]
    finite_slot = np.isfinite(expected)
    # A distance that overflowed is inf in both; a tree leaves such a slot empty (inf, n).
    assert np.all(np.isinf(d[~finite_slot]))
    if eps == 0:
        np.testing.assert_allclose(d[finite_slot], expected[finite_slot], rtol=rtol, atol=atol)
        for row, slot in zip(*np.nonzero(finite_slot)):
            if np.count_nonzero(np.isclose(every_d[row], expected[row, slot], rtol=rtol, atol=atol)) == 1:
                assert i[row, slot] == every_i[row, slot]
    else:
        assert np.all(d[finite_slot] >= expected[finite_slot] * (1 - rtol) - atol)
        assert np.all(d[finite_slot] <= expected[finite_slot] * (1 + eps) * (1 + rtol) + atol)
    for row, query in enumerate(queries):
        real = i[row] < n
        np.testing.assert_allclose(d[row, real], every_distances(points, query, scipy_p)[i[row, real]],
                                   rtol=rtol, atol=atol)


def every_distances(points, query, scipy_p):
    with np.errstate(over="ignore"):
        return np.linalg.norm(points - query, ord=scipy_p, axis=1)


def ascending(d):
    return bool(np.all(d[..., 1:] >= d[..., :-1]))  # diff would make NaN of inf - inf


def finite(array):
    return bool(np.all(np.isfinite(np.asarray(array, dtype=np.float64))))


def one_fault(draw, faults):
    """None for a valid call (most often), else the argument to make wrong and its wrong value."""
    name = draw.draw(st.sampled_from([None] * 3 * len(faults) + list(faults)))
    return name, (draw.draw(st.sampled_from(faults[name])) if name else None)


@given(data=data_sets(), structure=STRUCTURES, metric=st.sampled_from(METRICS),
       search=st.sampled_from(["standard", "priority"]), draw=st.data())
def test_query_answers_or_raises_value_error(data, structure, metric, search, draw):
    points, queries = data
    kind, split, shrink, bucket = structure
    name, p, scipy_p = metric
    if not finite(points):
        with pytest.raises(ValueError, match="points must be finite"):
            build(kind, split, shrink, bucket, draw.draw(layouts(points)), 1)
        return
    tree = build(kind, split, shrink, bucket, draw.draw(layouts(points)), draw.draw(st.sampled_from([1, 3])))
    n = len(points)
    args = dict(k=draw.draw(st.integers(1, max(n, 1))), eps=draw.draw(st.sampled_from([0.0, 0.0, 0.5])),
                max_visit=draw.draw(st.sampled_from([0] * 5 + [2])),
                threads=draw.draw(st.sampled_from([1, 2, 3, -1])))
    fault, value = one_fault(draw, {"k": [0, -1, n + 1, n + 7], "eps": [-0.1, math.inf, math.nan],
                                    "max_visit": [-1], "threads": [0, -2]})
    if fault:
        args[fault] = value
    x = draw.draw(layouts(queries))
    if fault or args["k"] > n or (search == "priority" and kind == "brute") or not finite(queries):
        with pytest.raises(ValueError):
            tree.query(x, metric=name, p=p, search=search, **args)
        return
    k = args["k"]
    d, i = tree.query(x, metric=name, p=p, search=search, **args)
    shape = (k,) if queries.ndim == 1 else (len(queries), k)
    assert d.shape == i.shape == shape and d.dtype == np.float64 and i.dtype == np.int64
    assert np.all((i >= 0) & (i <= n)) and ascending(d)
    if args["max_visit"] == 0 and np.size(queries) > 0:
        check_against_ckdtree(points, np.atleast_2d(queries), np.atleast_2d(d), np.atleast_2d(i), k, scipy_p,
                              args["eps"])


@given(data=data_sets(special_points=False), structure=STRUCTURES, metric=st.sampled_from(METRICS),
       draw=st.data())
def test_query_radius_counts_like_ckdtree(data, structure, metric, draw):
    points, queries = data
    kind, split, shrink, bucket = structure
    name, p, scipy_p = metric
    tree = build(kind, split, shrink, bucket, points, 1)
    n = len(points)
    r = draw.draw(st.sampled_from([0.0, 1.0, 2.5, 1e-300, 1e150, 1e300, math.inf]))
    k, eps = draw.draw(st.integers(0, n + 2)), draw.draw(st.sampled_from([0.0, 0.0, 0.5]))
    threads = draw.draw(st.sampled_from([1, 2, 3, -1]))
    fault, value = one_fault(draw, {"r": [-1.0, math.nan], "k": [-1]})
    r, k = (value, k) if fault == "r" else (r, value) if fault == "k" else (r, k)
    x = draw.draw(layouts(queries))
    if fault or not finite(queries):
        with pytest.raises(ValueError):
            tree.query_radius(x, r, k, eps=eps, metric=name, p=p, threads=threads)
        return
    count, d, i = tree.query_radius(x, r, k, eps=eps, metric=name, p=p, threads=threads)
    count, d, i = np.atleast_1d(count), np.atleast_2d(d), np.atleast_2d(i)
    assert d.shape == i.shape == (np.atleast_2d(queries).shape[0], k)
    if n == 0:
        assert np.all(count == 0) and np.all(np.isinf(d)) and np.all(i == 0)
        return
    rtol, atol = tolerances(scipy_p)
    for row, query in enumerate(np.atleast_2d(queries)):
        dist = every_distances(points, query, scipy_p)
        surely = np.count_nonzero(dist < r * (1 - rtol) - atol)
        # A point whose distance overflowed is within an infinite bound.
        maybe = np.count_nonzero((dist <= r * (1 + rtol) + atol) | np.isinf(dist))
        # Pruning by the error factor may only lose points.
        assert (surely if eps == 0 else 0) <= count[row] <= maybe
        assert np.all(np.isinf(d[row, min(count[row], k):])) and np.all(i[row, min(count[row], k):] == n)
        real = i[row] < n
        assert ascending(d[row, real]) and np.all(np.isinf(d[row, ~real]))
        np.testing.assert_allclose(d[row, real], dist[i[row, real]], rtol=rtol, atol=atol)
        with np.errstate(invalid="ignore"):
            clear_of_the_sphere = np.all(np.abs(dist - r) > r * rtol + atol)
        # cKDTree refuses radii whose powered distances overflow.
        if eps == 0 and clear_of_the_sphere and np.all(np.isfinite(dist)):
            assert count[row] == cKDTree(points).query_ball_point(query, r, p=scipy_p, return_length=True)


@given(shape=st.sampled_from([(5,), (0,), (2, 3, 1), (3, 0), (0, 0), ()]),
       kind=st.sampled_from(["kd", "bd", "brute"]),
       bucket=st.integers(-1, 2))
def test_points_of_the_wrong_shape_raise_value_error(shape, kind, bucket):
    points = np.ones(shape)
    with pytest.raises(ValueError):
        build(kind, "default", "default", bucket, points, 1)


@given(x=st.sampled_from([np.zeros((2, 3)), np.zeros(3), np.zeros((1, 1, 2)), np.zeros(()), np.zeros((0, 3)),
                          ["a", "b"], [[0.0, 1.0], [2.0]]]),
       metric=st.sampled_from(BAD_METRICS), structure=STRUCTURES)
def test_bad_queries_and_metrics_raise_value_error(x, metric, structure):
    kind, split, shrink, bucket = structure
    tree = build(kind, split, shrink, bucket, np.arange(8.0).reshape(4, 2), 1)
    name, p = metric
    with pytest.raises(ValueError):
        tree.query(x, k=1, metric=name, p=p)
    with pytest.raises(ValueError):
        tree.query_radius(x, 1.0, 1, metric=name, p=p)
    with pytest.raises(ValueError):
        tree.query(x, k=1)  # no x of these has the points' two coordinates per row
