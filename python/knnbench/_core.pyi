from os import PathLike
from typing import Any, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str
POWER_LIMIT: tuple[int, int]

_Rule = Union[str, int]

class PointSet:
    @property
    def n(self) -> int: ...
    @property
    def d(self) -> int: ...
    @property
    def data(self) -> npt.NDArray[np.float64]: ...
    def __len__(self) -> int: ...
    def query(
        self,
        x: npt.ArrayLike,
        k: int = 1,
        eps: float = 0.0,
        metric: str = "euclidean",
        p: float = 2.0,
        search: str = "standard",
        max_visit: int = 0,
        threads: int = 1,
    ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]]: ...
    def query_radius(
        self,
        x: npt.ArrayLike,
        r: float,
        k: int,
        eps: float = 0.0,
        metric: str = "euclidean",
        p: float = 2.0,
        max_visit: int = 0,
        threads: int = 1,
    ) -> tuple[Any, npt.NDArray[np.float64], npt.NDArray[np.int64]]: ...

class KdTree(PointSet):
    def __init__(self, points: npt.ArrayLike, bucket_size: int = ..., split: _Rule = "default", threads: int = 1) -> None: ...
    def stats(self) -> dict[str, Union[int, float]]: ...
    def dump(self, path: Union[str, PathLike[str]]) -> None: ...

class BdTree(KdTree):
    def __init__(
        self,
        points: npt.ArrayLike,
        bucket_size: int = ...,
        split: _Rule = "default",
        shrink: _Rule = "default",
        threads: int = 1,
    ) -> None: ...

class BruteForce(PointSet):
    def __init__(self, points: npt.ArrayLike) -> None: ...

def load(path: Union[str, PathLike[str]]) -> KdTree: ...
