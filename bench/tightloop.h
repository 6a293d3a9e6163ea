// The floor for brute force: one pass over the contiguous coordinate block per query, squared Euclidean
// distances summed in coordinate order (so the results equal ours bit for bit), the dimension fixed at
// compile time for the benchmark's dimensions. Nothing answers an exact query over every point faster
// without changing the algorithm.
#pragma once

#include "datagen.h"

namespace bench {

/// The k smallest squared distances from query to the n points of data, ascending, into best[0..k-1].
void tightLoopNearest(const PointSet& data, const double* query, int k, double* best);

} // namespace bench
