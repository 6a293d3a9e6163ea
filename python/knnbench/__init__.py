"""Exact and approximate k-nearest-neighbour search over numpy arrays.

KdTree, BdTree and BruteForce are the library's structures (see their help); cKDTree answers the
queries of scipy.spatial.cKDTree with its arguments and shapes, so that ``from knnbench import cKDTree``
lets code written for scipy run unchanged.
"""

from ._core import BdTree, BruteForce, KdTree, PointSet, __version__, load
from ._ckdtree import cKDTree

__all__ = ["BdTree", "BruteForce", "KdTree", "PointSet", "cKDTree", "load", "__version__"]
