// What a run searches with, and the one place where it becomes library calls: a configuration becomes a
// structure, and a kind of search a one-query or a batch call, for the run driver and the compare run
// alike.
#pragma once

#include <memory>

#include "vocabulary.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>

namespace knn {

/// What to search with: the structure and its rules, the kind of search and its limits. Options its
/// structure does not use keep fixed values (see `Normalized`), so two configurations that search alike
/// compare equal.
struct SearchConfig {
    SearchMode mode;
    SearchRange range;
    qel::SplitRule split = qel::SplitRule::Default;
    qel::ShrinkRule shrink = qel::ShrinkRule::Default; ///< bd-tree only
    int bucketSize = 1;
    double eps = 0.0;
    int visitLimit = 0; ///< 0: no limit

    /// Brute force uses none of the options after the search; a kd-tree no shrinking rule.
    SearchConfig Normalized() const;
    bool operator==(const SearchConfig&) const = default;
};

/// The configuration's structure over n points of dim coordinates, built on `threads` threads; it reads
/// the points in place, so they must outlive it.
std::unique_ptr<qel::QELpointSet> BuildStructure(const SearchConfig& config, qel::PointArray data, int n,
                                                 int dim, int threads);

/// A built structure and what each of its queries is searched with.
struct Searcher {
    qel::QELpointSet* structure = nullptr; ///< null: a searcher that searches nothing
    qel::QELkd_tree* tree = nullptr;       ///< the same structure when it is a tree; null for brute force
    SearchRange range = SearchRange::Standard;
    int k = 1;
    double eps = 0.0;
    int power = 2;
    double radiusBound = 0.0; ///< the fixed-radius search's radius, powered
};

/// The searcher of a structure for k neighbours under the metric in force; radius is the fixed-radius
/// search's, not powered.
Searcher SearcherOf(qel::QELpointSet* structure, SearchRange range, int k, double eps, int power,
                    double radius);

/// One query's search; its k results go to idx and dists. Without a structure, or with the priority
/// search and no tree, they stay as they were. count (or null) receives the fixed-radius search's number
/// of points within the radius.
void SearchOne(const Searcher& searcher, qel::Point query, int* idx, double* dists, int* count = nullptr);
/// The same searches for m queries at once, row q of k results for queries[q]; counts (m entries, or
/// null) receives the fixed-radius search's numbers of points within the radius.
void SearchBatch(const Searcher& searcher, qel::PointArray queries, int m, int* idx, double* dists,
                 int threads, int* counts = nullptr);
/// The data points the calling thread's last SearchOne of this searcher visited.
int LastVisitCount(const Searcher& searcher);

} // namespace knn
