// One query at a time (`knnbench-bench --per-query`): our kd-tree walking its nodes, on its compact
// image and on the image with a leaf-order copy of the points, against the peers, fed the queries in
// the order given and in a Z-curve order of their coordinates.
#pragma once

#include "options.h"

namespace bench {

/// Measures the three point sets (those the options want) and prints their tables; returns the
/// exit status.
int runPerQuery(const Options& options);

} // namespace bench
