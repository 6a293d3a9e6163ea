// The batch search and the parallel build against the peers (`knnbench-bench --batch`).
#pragma once

#include <vector>

namespace bench {

/// Measures, on the three point sets, the batch search on one and two threads against FLANN's
/// batch knnSearch and nanoflann's per-query loop, the orders the queries can be answered in, and the
/// kd-tree build on one and two threads against nanoflann's; prints Markdown tables with the ratios.
/// Each contender runs once per round, rounds alternate them, and the fastest of `rounds` counts. Only the
/// point sets of the listed dimensions are measured; all three when dims is empty.
void runBatchBench(int rounds, const std::vector<int>& dims);

} // namespace bench
