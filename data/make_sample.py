#!/usr/bin/env python3
"""Writes the bundled sample data.pts (clustered points) and query.pts, from a fixed seed."""
import random

SEED = 20240611
CLUSTERS = [(2.0, 3.0, 0.6), (7.5, 8.0, 0.9), (8.0, 2.5, 0.5), (4.0, 6.5, 1.2)]


def main():
    rng = random.Random(SEED)
    with open("data.pts", "w", newline="\n") as data:
        for i in range(320):
            cx, cy, spread = CLUSTERS[i % len(CLUSTERS)]
            data.write(f"{rng.gauss(cx, spread):.4f}\t{rng.gauss(cy, spread):.4f}\n")
    with open("query.pts", "w", newline="\n") as query:
        for _ in range(40):
            query.write(f"{rng.uniform(0.0, 10.0):.4f}\t{rng.uniform(0.0, 10.0):.4f}\n")


if __name__ == "__main__":
    main()
