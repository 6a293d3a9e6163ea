// The module's searches of many queries: one function per search kind answers m queries on a number
// of threads, row q of the results (entries q·k .. q·k + k - 1) being what the one-query search writes
// for queries[q]. Every query of the module goes through these three, so they are the one place where
// the way a batch is answered can change.
//
// The process-wide `metricKind` and `maxPointsVisit` must hold their values for the whole call; each
// thread's search state is its own. A fatal library report on any thread is raised again on the calling
// thread once all threads have ended.
#pragma once

#include <qel/kdtree.h>

namespace knnpy {

/// structure.searchNearest for every query.
void searchNearestBatch(qel::QELpointSet& structure, qel::PointArray queries, int m, int k,
                        qel::IndexArray nnIdx, qel::DistArray dists, double eps, int power, int threads = 1);
/// tree.searchPriority for every query (bd-trees too).
void searchPriorityBatch(qel::QELkd_tree& tree, qel::PointArray queries, int m, int k, qel::IndexArray nnIdx,
                         qel::DistArray dists, double eps, int power, int threads = 1);
/// structure.searchFixedRadius for every query; counts[q] receives query q's count (counts may be null).
void searchFixedRadiusBatch(qel::QELpointSet& structure, qel::PointArray queries, int m, double radiusBound,
                            int k, qel::IndexArray nnIdx, qel::DistArray dists, int* counts, double eps,
                            int power, int threads = 1);

} // namespace knnpy
