"""scipy's cKDTree interface over the library's kd-tree."""

from __future__ import annotations

import math
import numbers
from typing import Any, Iterator, Optional

import numpy as np

from . import _core

# Most result cells one chunk of a neighbour listing may take.
_CHUNK_CELLS = 1 << 22
# Threads a call may ask the library for.
_MOST_WORKERS = 1024


def _metric(p: Any) -> tuple[str, float, float]:
    """The module's metric and p for a Minkowski p, and p as a float."""
    p = float(p)
    if not p >= 1:
        raise ValueError("Only p-norms with 1<=p<=infinity permitted")
    if p == 1:
        return "manhattan", 1.0, p
    if p == 2:
        return "euclidean", 2.0, p
    if p == math.inf:
        return "chebyshev", math.inf, p
    highest = _core.POWER_LIMIT[1]
    if p != math.floor(p) or p > highest:
        raise ValueError(f"p={p!r} is not supported: p must be 1, 2, inf or an integer from 3 to {highest}")
    return "custom", p, p


def _threads(workers: Any) -> int:
    if isinstance(workers, bool) or not isinstance(workers, numbers.Integral):
        raise ValueError(f"workers must be an integer, not {workers!r}")
    workers = int(workers)
    if workers == -1:
        return -1
    if workers < 1:
        raise ValueError(f"Invalid number of workers {workers}, must be -1 or > 0")
    return min(workers, _MOST_WORKERS)


def _radius(value: np.ndarray, what: str) -> np.ndarray:
    value = np.asarray(value, dtype=np.float64)
    if np.isnan(value).any():
        raise ValueError(f"{what} must not be NaN")
    return value


class _Search:
    """One call's metric, eps and threads."""

    def __init__(self, p: Any, eps: Any, workers: Any):
        self.metric, self.p, self.power = _metric(p)
        self.eps = float(eps)
        if not (self.eps >= 0 and math.isfinite(self.eps)):
            raise ValueError(f"eps must be a finite number of at least 0, not {eps!r}")
        self.threads = _threads(workers)

    def options(self) -> dict[str, Any]:
        return {"eps": self.eps, "metric": self.metric, "p": self.p, "threads": self.threads}


class cKDTree:
    """cKDTree(data, leafsize=16, compact_nodes=True, copy_data=False, balanced_tree=True, boxsize=None)

    A kd-tree that answers the queries of scipy.spatial.cKDTree with the same arguments, shapes and
    dtypes, so that code written for scipy runs unchanged.

    leafsize is the library's bucket size. balanced_tree=True splits at the median of the widest
    spread (the library's 'standard' rule), False by the sliding midpoint rule. compact_nodes is
    accepted and has no effect: the library's cells are always the boxes their cuts make. boxsize makes
    the space periodic as in scipy (a dimension of boxsize 0 is not periodic); queries then also
    search the images of each query point that lie within the search distance of a box face.

    Where this class answers otherwise than scipy:

    - p must be 1, 2, inf or an integer from 3 to 100; any other p >= 1 raises ValueError.
    - data must be finite (ValueError); eps must be at least 0 (ValueError).
    - k must be a positive integer or a list of them: k=0, k=[0] or a float k raise ValueError.
    - A negative radius finds no point (empty lists, zero counts, empty pairs and matrices); a NaN
      radius or distance_upper_bound raises ValueError, and so does a negative distance_upper_bound.
    - A query point with a NaN or infinite coordinate has no neighbours.
    - A boxsize of inf makes that dimension not periodic, as 0 does; tree-to-tree calls need both
      trees to have the same boxsize.
    - query_ball_point returns every list sorted, whatever return_sorted says.
    - With eps > 0, query_ball_point and the calls built on it may miss points near the radius but
      never report one beyond it.

    The library keeps the points a radius search reports sorted by distance, so listing thousands of
    points per query point costs more than in scipy; counting them (return_length, count_neighbors)
    does not.
    """

    def __init__(
        self,
        data: Any,
        leafsize: int = 16,
        compact_nodes: bool = True,
        copy_data: bool = False,
        balanced_tree: bool = True,
        boxsize: Any = None,
    ):
        data = np.array(data, dtype=np.float64, order="C", copy=bool(copy_data))
        if data.ndim != 2:
            raise ValueError("data must be 2 dimensions")
        if isinstance(leafsize, bool) or not isinstance(leafsize, numbers.Integral):
            raise ValueError(f"leafsize must be an integer, not {leafsize!r}")
        if leafsize < 1:
            raise ValueError("leafsize must be at least 1")
        self.data = data
        self.n, self.m = data.shape
        self.leafsize = int(leafsize)
        self._compact_nodes = bool(compact_nodes)
        self._copy_data = bool(copy_data)
        self._balanced_tree = bool(balanced_tree)
        self.boxsize: Optional[np.ndarray] = None
        self._period: Optional[np.ndarray] = None
        if boxsize is not None:
            self._set_boxsize(boxsize)
        split = "standard" if balanced_tree else "sliding-midpoint"
        self._tree = _core.KdTree(data, bucket_size=self.leafsize, split=split)
        if self.n:
            self.maxes = np.amax(data, axis=0)
            self.mins = np.amin(data, axis=0)
        else:
            self.maxes = np.zeros(self.m)
            self.mins = np.zeros(self.m)
        stats = self._tree.stats()
        self.size = max(1, stats["leaf_count"] + stats["split_node_count"] + stats["shrink_node_count"])

    def _set_boxsize(self, boxsize: Any) -> None:
        sizes = np.broadcast_to(np.asarray(boxsize, dtype=np.float64), (self.m,)).copy()
        if np.isnan(sizes).any():
            raise ValueError("boxsize must not be NaN")
        periodic = (sizes > 0) & np.isfinite(sizes)
        inside = self.data[:, periodic]
        if (inside >= sizes[periodic]).any():
            raise ValueError("Some input data are greater than the size of the periodic box.")
        if (inside < 0).any():
            raise ValueError("Negative input data are outside of the periodic box.")
        self.boxsize = sizes
        if periodic.any():
            self._period = np.where(periodic, sizes, 0.0)

    def __reduce__(self):
        return (
            type(self),
            (self.data, self.leafsize, self._compact_nodes, self._copy_data, self._balanced_tree, self.boxsize),
        )

    def __repr__(self) -> str:
        return f"cKDTree(n={self.n}, m={self.m}, leafsize={self.leafsize})"

    # Query points.

    def _points(self, x: Any) -> np.ndarray:
        x = np.asarray(x, dtype=np.float64)
        if x.ndim == 0 or x.shape[-1] != self.m:
            raise ValueError(f"x must consist of vectors of length {self.m} but has shape {np.shape(x)}")
        return x

    def _wrapped(self, rows: np.ndarray) -> np.ndarray:
        """The rows moved into the periodic box; a coordinate that rounds to the box size becomes 0."""
        if self._period is None:
            return rows
        periodic = self._period > 0
        rows = rows.copy()
        size = self._period[periodic]
        moved = np.mod(rows[:, periodic], size)
        rows[:, periodic] = np.where(moved >= size, 0.0, moved)
        return rows

    def _images(self, rows: np.ndarray, reach: np.ndarray, search: _Search) -> Iterator[tuple[np.ndarray, np.ndarray]]:
        """(row numbers, shifted rows) for every image of a wrapped row, other than the row itself, whose
        distance to the box is at most the row's reach."""
        if self._period is None:
            return
        dims = np.flatnonzero(self._period > 0)
        bound = reach if search.power == math.inf else reach**search.power

        def shifts(level: int, which: np.ndarray, points: np.ndarray, gap: np.ndarray, moved: bool):
            if level == len(dims):
                if moved:
                    yield which, points
                return
            yield from shifts(level + 1, which, points, gap, moved)
            dim = dims[level]
            size = self._period[dim]
            for sign, face in ((1.0, points[:, dim]), (-1.0, size - points[:, dim])):
                part = face if search.power == math.inf else face**search.power
                total = np.maximum(gap, part) if search.power == math.inf else gap + part
                keep = total <= bound[which]
                if keep.any():
                    shifted = points[keep].copy()
                    shifted[:, dim] += sign * size
                    yield from shifts(level + 1, which[keep], shifted, total[keep], True)

        yield from shifts(0, np.arange(len(rows)), rows, np.zeros(len(rows)), False)

    # Nearest neighbours.

    def query(self, x: Any, k: Any = 1, eps: Any = 0, p: Any = 2, distance_upper_bound: Any = math.inf, workers: Any = 1):
        """query(x, k=1, eps=0, p=2, distance_upper_bound=inf, workers=1) -> (d, i)

        The k nearest neighbours of each point of x (shape (..., m)). k is an int (the 1st to k-th
        neighbours; the last axis is dropped for k=1) or a list of the neighbour ranks to return, counted
        from 1. Distances are strictly below distance_upper_bound; a missing neighbour has distance inf
        and index n.
        """
        search = _Search(p, eps, workers)
        x = self._points(x)
        if isinstance(k, numbers.Integral) and not isinstance(k, bool):
            if k < 1:
                raise ValueError(f"k must be at least 1, not {k}")
            ranks = np.arange(int(k))
            squeeze = int(k) == 1
        else:
            ranks = np.asarray(k)
            if ranks.ndim != 1 or ranks.size == 0 or ranks.dtype.kind not in "iu":
                raise ValueError(f"k must be a positive integer or a list of them, not {k!r}")
            if (ranks < 1).any():
                raise ValueError(f"k must count neighbours from 1, not {k!r}")
            ranks = ranks.astype(np.intp) - 1
            squeeze = False
        bound = float(distance_upper_bound)
        if not bound >= 0:
            raise ValueError(f"distance_upper_bound must be a number of at least 0, not {distance_upper_bound!r}")
        rows = x.reshape(-1, self.m)
        most = int(ranks.max()) + 1
        dists = np.full((len(rows), most), np.inf)
        indices = np.full((len(rows), most), self.n, dtype=np.intp)
        found = min(most, self.n)
        finite = np.isfinite(rows).all(axis=1)
        if found and finite.any():
            d, i = self._nearest(self._wrapped(rows[finite]), found, bound, search)
            dists[finite, :found] = d
            indices[finite, :found] = i
        dists = dists[:, ranks].reshape(x.shape[:-1] + (len(ranks),))
        indices = indices[:, ranks].reshape(x.shape[:-1] + (len(ranks),))
        if squeeze:
            dists, indices = dists[..., 0], indices[..., 0]
            if x.ndim == 1:
                return float(dists), int(indices)
        return dists, indices

    def _nearest_of(self, rows: np.ndarray, k: int, bound: float, search: _Search) -> tuple[np.ndarray, np.ndarray]:
        if bound == math.inf:
            return self._tree.query(rows, k=k, **search.options())
        _, d, i = self._tree.query_radius(rows, bound, k=k, **search.options())
        beyond = d >= bound
        d[beyond] = np.inf
        i[beyond] = self.n
        return d, i

    def _nearest(self, rows: np.ndarray, k: int, bound: float, search: _Search) -> tuple[np.ndarray, np.ndarray]:
        d, i = self._nearest_of(rows, k, bound, search)
        if self._period is None:
            return d, i
        # A neighbour through a box face is nearer than the k-th found only from an image that near.
        reach = np.minimum(d[:, -1], bound)
        dists, indices = [d], [i]
        for which, shifted in self._images(rows, reach, search):
            d_image = np.full_like(d, np.inf)
            i_image = np.full_like(i, self.n)
            d_image[which], i_image[which] = self._nearest_of(shifted, k, bound, search)
            dists.append(d_image)
            indices.append(i_image)
        d, i = np.concatenate(dists, axis=1), np.concatenate(indices, axis=1)
        # A point found from several images keeps its nearest.
        order = np.lexsort((d, i), axis=1)
        d, i = np.take_along_axis(d, order, axis=1), np.take_along_axis(i, order, axis=1)
        repeated = np.zeros_like(d, dtype=bool)
        repeated[:, 1:] = (i[:, 1:] == i[:, :-1]) & (i[:, 1:] != self.n)
        d[repeated] = np.inf
        i[repeated] = self.n
        order = np.argsort(d, axis=1, kind="stable")[:, :k]
        return np.take_along_axis(d, order, axis=1), np.take_along_axis(i, order, axis=1)

    # Points within a radius.

    def _within(self, rows: np.ndarray, radii: np.ndarray, search: _Search, counts_only: bool = False):
        """The data points within radii[j] of rows[j]: counts, and unless counts_only also the row numbers,
        the indices and the distances of every pair, row by row in increasing distance."""
        rows = rows.reshape(-1, self.m)
        radii = np.broadcast_to(radii, (len(rows),))
        counts = np.zeros(len(rows), dtype=np.intp)
        pairs: list[tuple[np.ndarray, np.ndarray, np.ndarray]] = []
        usable = np.isfinite(rows).all(axis=1) & (radii >= 0)
        if self.n == 0 or not usable.any():
            return counts if counts_only else (counts, *self._no_pairs())
        rows, radii = self._wrapped(rows[usable]), radii[usable]
        number = np.flatnonzero(usable)
        images = [(np.arange(len(rows)), rows)]
        images += list(self._images(rows, radii, search))
        # Two images are a box size apart: one point lies within the radius of both only if the radius
        # reaches half of it, and then it is found twice and must be told apart.
        overlap = self._period is not None and radii.max() * 2 >= self._period[self._period > 0].min()
        for which, points in images:
            for radius in np.unique(radii[which]):
                same = which[radii[which] == radius]
                chosen = points[radii[which] == radius]
                found = self._tree.query_radius(chosen, radius, k=0, **search.options())[0]
                if counts_only and not overlap:
                    counts[number[same]] += found
                    continue
                pairs.append(self._listed(chosen, number[same], found, radius, search))
        if counts_only and not overlap:
            return counts
        row, index, dist = (np.concatenate(part) for part in zip(*pairs))
        if self._period is not None:
            order = np.lexsort((dist, index, row))
            row, index, dist = row[order], index[order], dist[order]
            first = np.ones(len(row), dtype=bool)
            first[1:] = (row[1:] != row[:-1]) | (index[1:] != index[:-1])
            row, index, dist = row[first], index[first], dist[first]
            order = np.lexsort((dist, row))
        else:
            # Each row's pairs come from one search, nearest first.
            order = np.argsort(row, kind="stable")
        row, index, dist = row[order], index[order], dist[order]
        counts = np.bincount(row, minlength=len(counts)).astype(np.intp)
        return counts if counts_only else (counts, row, index, dist)

    @staticmethod
    def _no_pairs() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        return np.zeros(0, dtype=np.intp), np.zeros(0, dtype=np.intp), np.zeros(0)

    def _listed(self, points: np.ndarray, number: np.ndarray, counts: np.ndarray, radius: float, search: _Search):
        """Every point within radius of each of points, given their counts: rows of similar counts are
        searched together, each for as many neighbours as the most of them has."""
        rows, indices, dists = [], [], []
        order = np.argsort(counts, kind="stable")
        start = 0
        while start < len(order):
            stop = start + 1
            while stop < len(order) and int(counts[order[stop]]) * (stop - start + 1) <= _CHUNK_CELLS:
                stop += 1
            chunk = order[start:stop]
            start = stop
            widest = int(counts[chunk[-1]])
            if widest == 0:
                continue
            _, d, i = self._tree.query_radius(points[chunk], radius, k=widest, **search.options())
            kept = i < self.n
            rows.append(np.repeat(number[chunk], kept.sum(axis=1)))
            indices.append(i[kept].astype(np.intp))
            dists.append(d[kept])
        if not rows:
            return self._no_pairs()
        return np.concatenate(rows), np.concatenate(indices), np.concatenate(dists)

    def query_ball_point(
        self,
        x: Any,
        r: Any,
        p: Any = 2.0,
        eps: Any = 0,
        workers: Any = 1,
        return_sorted: Optional[bool] = None,
        return_length: bool = False,
    ):
        """query_ball_point(x, r, p=2., eps=0, workers=1, return_sorted=None, return_length=False)

        The data points within distance r (inclusive) of each point of x. r broadcasts against
        x.shape[:-1]. Returns a list of indices for one point, else an object array of lists; with
        return_length the counts instead.
        """
        search = _Search(p, eps, workers)
        x = self._points(x)
        r = _radius(r, "r")
        shape = np.broadcast_shapes(x.shape[:-1], r.shape)
        rows = np.broadcast_to(x, shape + (self.m,)).reshape(-1, self.m)
        radii = np.broadcast_to(r, shape).reshape(-1)
        if return_length:
            counts = self._within(rows, radii, search, counts_only=True).reshape(shape)
            return counts[()] if shape == () else counts
        counts, row, index, _ = self._within(rows, radii, search)
        lists = self._lists(counts, row, index, self.n)
        if shape == ():
            return lists[0]
        result = np.empty(len(lists), dtype=object)
        result[:] = lists
        return result.reshape(shape)

    @staticmethod
    def _lists(counts: np.ndarray, row: np.ndarray, index: np.ndarray, n: int) -> list[list[int]]:
        """Each row's indices (below n) in increasing order."""
        # One key sorts faster than two; rows times points stay far below 2**63.
        index = (np.sort(row.astype(np.int64) * n + index) % n).tolist() if n else []
        ends = np.cumsum(counts).tolist()
        return [index[end - count : end] for count, end in zip(counts.tolist(), ends)]

    def _other(self, other: Any) -> "cKDTree":
        if not isinstance(other, cKDTree):
            raise TypeError(f"other must be a cKDTree, not {type(other).__name__}")
        if other.m != self.m:
            raise ValueError("Trees passed to query_ball_tree have different dimensionality")
        same = (self.boxsize is None and other.boxsize is None) or (
            self.boxsize is not None and other.boxsize is not None and np.array_equal(self.boxsize, other.boxsize)
        )
        if not same:
            raise ValueError("both trees must have the same boxsize")
        return other

    def query_ball_tree(self, other: "cKDTree", r: Any, p: Any = 2.0, eps: Any = 0):
        """query_ball_tree(other, r, p=2., eps=0) -> list of lists

        For each point self.data[i], the sorted indices of the points of other within distance r.
        """
        other = self._other(other)
        search = _Search(p, eps, 1)
        radius = float(_radius(r, "r"))
        counts, row, index, _ = other._within(self.data, np.float64(radius), search)
        return self._lists(counts, row, index, other.n)

    def query_pairs(self, r: Any, p: Any = 2.0, eps: Any = 0, output_type: str = "set"):
        """query_pairs(r, p=2., eps=0, output_type='set') -> set of (i, j) with i < j, or an (n_pairs, 2) array"""
        if output_type not in ("set", "ndarray"):
            raise ValueError("Invalid output type")
        search = _Search(p, eps, 1)
        radius = float(_radius(r, "r"))
        _, row, index, _ = self._within(self.data, np.float64(radius), search)
        below = row < index
        pairs = np.stack([row[below], index[below]], axis=1).astype(np.intp)
        if output_type == "ndarray":
            return pairs[np.lexsort((pairs[:, 1], pairs[:, 0]))]
        return set(map(tuple, pairs.tolist()))

    def sparse_distance_matrix(self, other: "cKDTree", max_distance: Any, p: Any = 2.0, output_type: str = "dok_matrix"):
        """sparse_distance_matrix(other, max_distance, p=2., output_type='dok_matrix')

        The distances of the pairs (i of self, j of other) at most max_distance apart, zeros included,
        as a dok_matrix, coo_matrix, dict {(i, j): d} or a structured array of fields i, j and v.
        """
        if output_type not in ("dok_matrix", "coo_matrix", "dict", "ndarray"):
            raise ValueError("Invalid output type")
        other = self._other(other)
        search = _Search(p, 0, 1)
        radius = float(_radius(max_distance, "max_distance"))
        _, row, index, dist = other._within(self.data, np.float64(radius), search)
        if output_type == "dict":
            return dict(zip(zip(row.tolist(), index.tolist()), dist.tolist()))
        if output_type == "ndarray":
            result = np.empty(len(row), dtype=np.dtype([("i", np.intp), ("j", np.intp), ("v", np.float64)], align=True))
            result["i"], result["j"], result["v"] = row, index, dist
            return result
        import scipy.sparse

        matrix = scipy.sparse.coo_matrix((dist, (row, index)), shape=(self.n, other.n))
        return matrix if output_type == "coo_matrix" else matrix.todok()

    def count_neighbors(self, other: "cKDTree", r: Any, p: Any = 2.0, weights: Any = None, cumulative: bool = True):
        """count_neighbors(other, r, p=2., weights=None, cumulative=True)

        The number of pairs (x1 of self, x2 of other) with distance(x1, x2) <= r, for each r (a number
        or a 1-D array); weighted, the sum of the pairs' weight products. Non-cumulative counts are
        those of each bin (r[i-1], r[i]], r[0] counting from 0, and need r non-decreasing.
        weights is None, one array (other must be self), or (self weights, other weights), either None.
        """
        other = self._other(other)
        search = _Search(p, 0, 1)
        radii = _radius(r, "r")
        if radii.ndim > 1:
            raise ValueError("r must be either a single value or a one-dimensional array of values")
        if not cumulative and (np.diff(radii.reshape(-1)) < 0).any():
            raise ValueError("r must be non-decreasing for non-cumulative counting.")
        own, theirs = self._weights(other, weights)
        totals = []
        for radius in radii.reshape(-1):
            if own is None:
                found = self._within(other.data, radius, search, counts_only=True)
                totals.append(found.sum() if theirs is None else np.dot(found, theirs))
            else:
                _, row, index, _ = self._within(other.data, radius, search)
                products = own[index] * (1.0 if theirs is None else theirs[row])
                totals.append(products.sum())
        weighted = own is not None or theirs is not None
        result = np.array(totals, dtype=np.float64 if weighted else np.intp)
        if not cumulative and len(result):
            result[1:] = np.diff(result)
        if radii.ndim == 0:
            return result[0] if weighted else int(result[0])
        return result

    def _weights(self, other: "cKDTree", weights: Any) -> tuple[Optional[np.ndarray], Optional[np.ndarray]]:
        if weights is None:
            return None, None
        if isinstance(weights, tuple):
            if len(weights) != 2:
                raise ValueError("weights must be one array or a tuple of two (self's, other's)")
            own, theirs = weights
        elif other is self:
            own = theirs = weights
        else:
            raise ValueError("Two different trees are used. Specify weights for both in a tuple.")

        def checked(w: Any, tree: "cKDTree", name: str) -> Optional[np.ndarray]:
            if w is None:
                return None
            w = np.asarray(w, dtype=np.float64)
            if w.shape != (tree.n,):
                raise ValueError(f"{name} weights must have shape ({tree.n},), not {w.shape}")
            return w

        return checked(own, self, "self's"), checked(theirs, other, "other's")
