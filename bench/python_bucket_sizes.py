"""Build and query times of KdTree and BdTree over bucket sizes, to choose the module's default.

    PYTHONPATH=build/python python3 bench/python_bucket_sizes.py [--points N] [--queries M] [--rounds R]

Uniform points in the unit cube (d = 3), k = 10 exact Euclidean queries on one thread. The rounds run
every configuration in turn, so that a busy spell of the machine spreads over all of them; each time is
the best of R rounds. Prints a Markdown table.
"""

import argparse
import time

import numpy as np

import knnbench


def timed(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--points", type=int, default=1_000_000)
    parser.add_argument("--queries", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--buckets", default="1,8,12,16,24,32")
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    points = rng.random((args.points, 3))
    queries = rng.random((args.queries, 3))
    kinds = (knnbench.KdTree, knnbench.BdTree)
    buckets = [int(b) for b in args.buckets.split(",")]
    builds, searches, shapes = {}, {}, {}
    for _ in range(args.rounds):
        for kind in kinds:
            for bucket in buckets:
                key = (kind.__name__, bucket)
                build, tree = timed(lambda: kind(points, bucket_size=bucket))
                search, _ = timed(lambda: tree.query(queries, k=10))
                builds[key] = min(build, builds.get(key, build))
                searches[key] = min(search, searches.get(key, search))
                shapes[key] = tree.stats()
                tree = None  # freed before the next build
    print("| structure | bucket | build s | query s | leaves | depth |")
    print("|---|---|---|---|---|---|")
    for key, stats in shapes.items():
        print(f"| {key[0]} | {key[1]} | {builds[key]:.3f} | {searches[key]:.3f} | {stats['leaf_count']} |"
              f" {stats['tree_depth']} |")

if __name__ == "__main__":
    main()
