// Batch searches: many queries answered in one call, on several threads, in an order that keeps the
// tree's nodes and points in the caches. Each batch runs the structure's one-query search for every
// query (brute force its block search, which writes the same rows), so row q of the results is what that
// search writes for queries[q], bit for bit and in the same tie order, whatever the order the queries are
// taken in and whatever the thread count.
//
// Common to the three calls:
// - `queries`: m points of the structure's dimension, caller-owned and only read.
// - `nnIdx`, `dists`: caller-owned rows of k entries, m * k in all; row q is entries q*k .. q*k+k-1.
// - `threads`: threads that answer, the calling thread among them; below 1 means one per core. Each
//   thread has its own search state; the structure is only read, and must not change during the call.
// - The visit limit `maxPointsVisit` applies to every row on its own: each one-query search counts its
//   visits from 0.
// - Floating-point exception flags raised by the searches on other threads are raised on the calling
//   thread before the call returns, and working out the order raises none, so the flags end as a loop of
//   one-query searches would leave them.
// - A fatal report whose handler throws, in a search on any thread, is thrown again on the calling thread
//   once every thread has stopped.
// - Temporary memory: the answer order (m ints, and 16 bytes per query while it is worked out); threads - 1
//   new threads, each with its own search state (a k-best list, and for the priority search a queue of
//   16 bytes per data point), freed when the call returns. For a tree whose first 64 queries show that it
//   pays, a copy of the coordinates in leaf order (n * dim doubles) that only the call's threads read,
//   freed at its end, and the tree's search image if it has none yet, which the tree keeps (about 48
//   bytes per split or shrink node and 8 per leaf). Brute force takes blocks of up to 128 queries, each
//   with its k-best lists, and per thread a tile of 256 points' coordinates.
#pragma once

#include <qel/kdtree.h>

namespace qel {

/// The positions 0..m-1 of the queries, into order (m entries), in the order the batches answer them: by
/// the leaves of a tree the queries fall in, as given for any other structure (brute force reads every
/// point for every query anyway). A caller that splits many queries over several batch calls keeps the
/// caches warm across them by passing the queries in this order. The queries' leaves are found on
/// `threads` threads (below 1: one per core); the order does not depend on it.
void batchOrder(QELpointSet& structure, PointArray queries, int m, int* order, int threads = 1);

/// `structure.searchNearest` for every query. k greater than the structure's point count is the fatal
/// "Requesting more near neighbors than data points", reported before any search (when m > 0).
void searchNearestBatch(QELpointSet& structure, PointArray queries, int m, int k, IndexArray nnIdx,
                        DistArray dists, double eps, int power, int threads = 1);

/// `tree.searchPriority` for every query (kd- and bd-trees).
void searchPriorityBatch(QELkd_tree& tree, PointArray queries, int m, int k, IndexArray nnIdx,
                         DistArray dists, double eps, int power, int threads = 1);

/// `structure.searchFixedRadius` for every query. counts (m entries) receives each query's count of points
/// within radiusBound; counts, nnIdx and dists may each be null and are then not written.
void searchFixedRadiusBatch(QELpointSet& structure, PointArray queries, int m, double radiusBound, int k,
                            IndexArray nnIdx, DistArray dists, int* counts, double eps, int power,
                            int threads = 1);

} // namespace qel
