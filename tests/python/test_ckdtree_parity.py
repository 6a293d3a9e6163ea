"""knnbench.cKDTree against scipy.spatial.cKDTree: the same calls on both, compared for shapes, dtypes,
values and errors, method by method; then the answers where scipy's are plainly wrong."""

import copy
import math
import pickle

import numpy as np
import pytest
from scipy.spatial import cKDTree as Theirs

from knnbench import cKDTree as Ours


def data_sets():
    rng = np.random.default_rng(3)
    # Few distinct grid points, each many times, queried at grid points: ties at exactly equal distances.
    grid = rng.integers(0, 4, (200, 3)).astype(np.float64)
    return {
        "random": (rng.random((300, 3)), rng.random((25, 3)), 0.3),
        "duplicated": (grid, rng.integers(0, 4, (25, 3)).astype(np.float64), 1.0),
    }


DATA = data_sets()
PS = [1, 2, 3, math.inf]


def trees(points, **kwargs):
    return Ours(points, **kwargs), Theirs(points, **kwargs)


def assert_same_array(ours, theirs):
    assert type(ours) is type(theirs)
    if isinstance(theirs, np.ndarray):
        assert ours.shape == theirs.shape and ours.dtype == theirs.dtype
    np.testing.assert_array_equal(ours, theirs)


def assert_same_neighbours(points, queries, ours, theirs, p, k, boxsize=None):
    """Distances equal; each of our indices at its distance. Tied points may come in any order, so a
    run of equal distances must hold the same indices as scipy's unless k cuts the run short."""
    (d, i), (d_theirs, i_theirs) = ours, theirs
    assert type(d) is type(d_theirs) and type(i) is type(i_theirs)
    d, i, d_theirs, i_theirs = map(np.asarray, (d, i, d_theirs, i_theirs))
    assert d.shape == d_theirs.shape and d.dtype == d_theirs.dtype and i.dtype == i_theirs.dtype
    if boxsize is None:
        np.testing.assert_array_equal(d, d_theirs)
    else:  # images are shifted coordinates, which round otherwise than scipy's wrapped differences
        np.testing.assert_allclose(d, d_theirs, rtol=1e-12)
    n = len(points)
    np.testing.assert_array_equal(i == n, np.isinf(d))
    rows = np.asarray(queries).reshape(-1, points.shape[1])
    if not len(rows):
        return
    d, i, i_theirs = (a.reshape(len(rows), -1) for a in (d, i, i_theirs))
    for row, dists, indices, indices_theirs in zip(rows, d, i, i_theirs):
        found = indices < n
        apart = np.abs(points[indices[found]] - row)
        if boxsize is not None:
            box = np.broadcast_to(boxsize, row.shape)
            periodic = apart[:, box > 0] % box[box > 0]
            apart[:, box > 0] = np.minimum(periodic, box[box > 0] - periodic)
        true = np.linalg.norm(apart, ord=p, axis=1)
        np.testing.assert_allclose(dists[found], true, rtol=1e-12, atol=1e-15)
        if not isinstance(k, list):
            for value in np.unique(dists[found])[:-1]:
                assert set(indices[dists == value]) == set(indices_theirs[dists == value])


@pytest.mark.parametrize("data", DATA)
@pytest.mark.parametrize("p", PS)
@pytest.mark.parametrize("k", [1, 5, [1, 3], [2]])
@pytest.mark.parametrize("bounded", [False, True])
def test_query(data, p, k, bounded):
    points, queries, r = DATA[data]
    ours, theirs = trees(points, leafsize=4)
    bound = r if bounded else math.inf  # 1.0 on the grid: points exactly at the bound
    for x in (queries, queries[0], queries[:24].reshape(2, 3, 4, 3)):
        args = dict(k=k, p=p, distance_upper_bound=bound)
        assert_same_neighbours(points, x, ours.query(x, **args), theirs.query(x, **args), p, k)


def test_query_edges():
    points, queries, _ = DATA["duplicated"]
    ours, theirs = trees(points, balanced_tree=False)
    for args in (dict(k=250), dict(k=[3, 1, 2]), dict(k=np.int64(2)), dict(k=3, workers=-1)):
        assert_same_neighbours(points, queries, ours.query(queries, **args), theirs.query(queries, **args), 2,
                               args["k"] if isinstance(args["k"], list) else 1)
    for x in (np.zeros((0, 3)), [[np.nan, 0, 0]]):
        assert_same_neighbours(points, np.asarray(x), ours.query(x, k=2), theirs.query(x, k=2), 2, 2)
    empty = np.zeros((0, 3))
    for tree in trees(empty):
        assert tree.n == 0 and tree.size == 1
    assert_same_neighbours(empty, queries, Ours(empty).query(queries, k=2), Theirs(empty).query(queries, k=2), 2, 2)
    # Approximate answers keep their bound.
    exact, _ = theirs.query(queries, k=5)
    approximate, _ = ours.query(queries, k=5, eps=0.5)
    assert (approximate <= exact * 1.5 + 1e-12).all()


@pytest.mark.parametrize("data", DATA)
@pytest.mark.parametrize("p", PS)
def test_query_ball_point(data, p):
    points, queries, r = DATA[data]
    ours, theirs = trees(points)
    radii = np.linspace(0, 2 * r, len(queries))
    for x, radius in ((queries, r), (queries, radii), (queries[0], r), (queries[:24].reshape(4, 6, 3), r)):
        for length in (False, True):
            mine = ours.query_ball_point(x, radius, p=p, return_length=length)
            scipys = theirs.query_ball_point(x, radius, p=p, return_length=length)
            if length or np.ndim(x) > 1:
                assert_same_array(mine, scipys)
            else:  # scipy leaves one point's list unsorted
                assert mine == sorted(scipys)


@pytest.mark.parametrize("data", DATA)
@pytest.mark.parametrize("p", [2, math.inf])
def test_tree_to_tree(data, p):
    points, queries, r = DATA[data]
    ours, theirs = trees(points)
    other_ours, other_theirs = trees(queries)
    assert ours.query_ball_tree(other_ours, r, p=p) == theirs.query_ball_tree(other_theirs, r, p=p)
    assert ours.query_pairs(r, p=p) == theirs.query_pairs(r, p=p)
    pairs, pairs_theirs = ours.query_pairs(r, p=p, output_type="ndarray"), theirs.query_pairs(r, p=p, output_type="ndarray")
    assert_same_array(pairs, pairs_theirs[np.lexsort(pairs_theirs.T[::-1])])
    for output in ("dok_matrix", "coo_matrix", "dict", "ndarray"):
        mine = ours.sparse_distance_matrix(other_ours, r, p=p, output_type=output)
        scipys = theirs.sparse_distance_matrix(other_theirs, r, p=p, output_type=output)
        assert type(mine) is type(scipys)
        if output == "dict":
            assert mine.keys() == scipys.keys()
            np.testing.assert_allclose(list(mine.values()), [scipys[key] for key in mine], rtol=1e-12)
        elif output == "ndarray":
            assert mine.dtype == scipys.dtype
            mine, scipys = np.sort(mine, order=["i", "j"]), np.sort(scipys, order=["i", "j"])
            np.testing.assert_array_equal(mine[["i", "j"]], scipys[["i", "j"]])
            np.testing.assert_allclose(mine["v"], scipys["v"], rtol=1e-12)
        else:
            assert mine.nnz == scipys.nnz and mine.shape == scipys.shape
            np.testing.assert_allclose(mine.toarray(), scipys.toarray(), rtol=1e-12)


@pytest.mark.parametrize("data", DATA)
def test_count_neighbors(data):
    points, queries, r = DATA[data]
    ours, theirs = trees(points)
    other_ours, other_theirs = trees(queries)
    weights = np.random.default_rng(5).random(len(points))
    other_weights = np.arange(len(queries), dtype=np.float64)
    calls = [
        (other_ours, other_theirs, dict(r=r)),
        (other_ours, other_theirs, dict(r=[0, r, 2 * r], p=1)),
        (other_ours, other_theirs, dict(r=[0, r, 2 * r], cumulative=False)),
        (other_ours, other_theirs, dict(r=[r, 2 * r], weights=(None, other_weights))),
        (other_ours, other_theirs, dict(r=r, weights=(weights, other_weights))),
        (ours, theirs, dict(r=[r, 2 * r], weights=weights, cumulative=False)),
        (ours, theirs, dict(r=np.float64(r), weights=(weights, None))),
    ]
    for other, other_theirs_, args in calls:
        mine, scipys = ours.count_neighbors(other, **args), theirs.count_neighbors(other_theirs_, **args)
        assert type(mine) is type(scipys)
        if isinstance(scipys, np.ndarray):
            assert mine.dtype == scipys.dtype and mine.shape == scipys.shape
        np.testing.assert_allclose(mine, scipys, rtol=1e-12)


@pytest.mark.parametrize("boxsize", [4.0, [4.0, 0.0, 5.0]])
@pytest.mark.parametrize("p", [2, math.inf])
def test_periodic(boxsize, p):
    points, _, _ = DATA["duplicated"]
    rng = np.random.default_rng(9)
    points = points + rng.random(points.shape) * 0.9
    queries = rng.random((30, 3)) * 6 - 1
    ours, theirs = trees(points, boxsize=boxsize)
    for k in (1, 6):
        assert_same_neighbours(points, queries, ours.query(queries, k=k, p=p), theirs.query(queries, k=k, p=p),
                               p, k, boxsize)
    for r in (0.7, 2.5):  # 2.5 reaches points through two faces at once
        assert_same_array(ours.query_ball_point(queries, r, p=p), theirs.query_ball_point(queries, r, p=p))
        assert_same_array(ours.count_neighbors(ours, [0.3, r], p=p), theirs.count_neighbors(theirs, [0.3, r], p=p))


def test_attributes_pickle_and_copy():
    points, queries, _ = DATA["random"]
    ours, theirs = trees(points, leafsize=8)
    for name in ("data", "maxes", "mins", "n", "m", "leafsize"):
        assert_same_array(getattr(ours, name), getattr(theirs, name))
    assert isinstance(ours.size, int) and ours.size > 1
    expected = ours.query(queries, k=3)
    for twin in (pickle.loads(pickle.dumps(ours)), copy.copy(ours), copy.deepcopy(ours)):
        assert isinstance(twin, Ours)
        np.testing.assert_array_equal(twin.query(queries, k=3), expected)
    periodic = pickle.loads(pickle.dumps(Ours(points, boxsize=1.0)))
    np.testing.assert_array_equal(periodic.boxsize, Theirs(points, boxsize=1.0).boxsize)


def both_raise(call, error=ValueError):
    """call(cKDTree class) raises the same error for both."""
    for kind in (Ours, Theirs):
        with pytest.raises(error):
            call(kind)


@pytest.mark.parametrize(
    "call",
    [
        lambda T: T([1.0, 2.0]),
        lambda T: T(np.ones((5, 2)), leafsize=0),
        lambda T: T(np.ones((5, 2)), boxsize=1.0),
        lambda T: T(-np.ones((5, 2)), boxsize=2.0),
        lambda T: T(np.ones((5, 2))).query([1, 2, 3]),
        lambda T: T(np.ones((5, 2))).query([1, 2], p=0.5),
        lambda T: T(np.ones((5, 2))).query([1, 2], k=0),
        lambda T: T(np.ones((5, 2))).query([1, 2], workers=0),
        lambda T: T(np.ones((5, 2))).query_ball_point([1, 2, 3], 1.0),
        lambda T: T(np.ones((5, 2))).query_pairs(1.0, output_type="list"),
        lambda T: T(np.ones((5, 2))).sparse_distance_matrix(T(np.ones((5, 2))), 1.0, output_type="csr"),
        lambda T: T(np.ones((5, 2))).count_neighbors(T(np.ones((5, 2))), [[1.0]]),
        lambda T: T(np.ones((5, 2))).count_neighbors(T(np.ones((5, 2))), [2.0, 1.0], cumulative=False),
        lambda T: T(np.ones((5, 2))).count_neighbors(T(np.ones((5, 2))), 1.0, weights=np.ones(5)),
    ],
)
def test_same_errors(call):
    both_raise(call)


def test_where_scipy_is_wrong():
    """scipy answers a negative radius as its absolute value, a NaN radius with nothing (or every pair),
    crashes on k=[0], and takes a non-integer p that the library has no metric for."""
    points, queries, _ = DATA["duplicated"]
    tree = Ours(points)
    assert tree.query_ball_point(queries[0], -1.0) == []
    assert tree.query_ball_point(queries[:2], -1.0, return_length=True).tolist() == [0, 0]
    assert tree.count_neighbors(tree, -1.0) == 0 and tree.query_pairs(-1.0) == set()
    assert tree.sparse_distance_matrix(tree, -1.0, output_type="dict") == {}
    assert tree.query_ball_tree(tree, -1.0) == [[] for _ in points]
    for call in (
        lambda: tree.query_ball_point(queries, math.nan),
        lambda: tree.count_neighbors(tree, [1.0, math.nan]),
        lambda: tree.query_pairs(math.nan),
        lambda: tree.query(queries, k=[0]),
        lambda: tree.query(queries, k=1.5),
        lambda: tree.query(queries, p=1.5),
        lambda: tree.query(queries, p=101),
        lambda: tree.query(queries, distance_upper_bound=-1.0),
        lambda: tree.query(queries, eps=-1.0),
        lambda: Ours([[0.0, math.nan, 0.0]]),
    ):
        with pytest.raises(ValueError):
            call()
