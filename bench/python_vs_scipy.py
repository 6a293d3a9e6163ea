"""knnbench's Python module against scipy's cKDTree on the same arrays in one process.

Measures the build, a batch query on one thread and on every core, and single-point query calls,
each round timing knnbench and cKDTree one after the other; prints the median times and the median
of the per-round ratios (knnbench / cKDTree) as a markdown table.

    PYTHONPATH=build/python python3 bench/python_vs_scipy.py [--points N] [--queries M] [--k K]

(python3: the interpreter the module is built for, the one with Debian's numpy and scipy.)
"""

import argparse
import statistics
import time

import numpy as np
from scipy.spatial import cKDTree

import knnbench


def seconds(work):
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--points", type=int, default=1_000_000)
    parser.add_argument("--queries", type=int, default=10_000)
    parser.add_argument("--k", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--buckets", type=int, nargs="+", default=[1, 16],
                        help="bucket sizes of the KdTree (1 is its default, 16 cKDTree's leafsize)")
    args = parser.parse_args()

    rng = np.random.default_rng(2024)
    points = rng.random((args.points, 3))
    queries = rng.random((args.queries, 3))
    k = args.k
    reference = cKDTree(points)
    trees = {b: knnbench.KdTree(points, bucket_size=b) for b in args.buckets}
    for tree in trees.values():
        if not np.array_equal(tree.query(queries, k=k)[1], reference.query(queries, k=k)[1]):
            raise SystemExit("knnbench and cKDTree disagree")

    # Each case: (name, knnbench work for a bucket size, cKDTree work).
    cases = [
        ("build", lambda b: knnbench.KdTree(points, bucket_size=b), lambda: cKDTree(points)),
        ("query, one thread", lambda b: trees[b].query(queries, k=k, threads=1),
         lambda: reference.query(queries, k=k, workers=1)),
        ("query, every core", lambda b: trees[b].query(queries, k=k, threads=-1),
         lambda: reference.query(queries, k=k, workers=-1)),
        (f"{args.queries:,} single-point calls", lambda b: [trees[b].query(q, k=k) for q in queries],
         lambda: [reference.query(q, k=k) for q in queries]),
    ]
    print(f"{args.points:,} uniform 3-D points, {args.queries:,} queries, k = {k}, "
          f"median of {args.rounds} interleaved rounds\n")
    print("| case | bucket size | knnbench s | cKDTree s | ratio |")
    print("|---|---|---|---|---|")
    for name, ours, theirs in cases:
        for b in args.buckets:
            times, peer, ratios = [], [], []
            for _ in range(args.rounds):
                times.append(seconds(lambda: ours(b)))
                peer.append(seconds(theirs))
                ratios.append(times[-1] / peer[-1])
            print(f"| {name} | {b} | {statistics.median(times):.3f} | {statistics.median(peer):.3f} | "
                  f"{statistics.median(ratios):.2f} |")


if __name__ == "__main__":
    main()
