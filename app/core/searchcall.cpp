// The library calls behind a search configuration and a searcher.
#include "searchcall.h"

#include <qel/kdbatch.h>
#include <qel/kdfixedrad.h>

namespace knn {

SearchConfig SearchConfig::Normalized() const {
    SearchConfig c = *this;
    if (c.mode == SearchMode::BruteForce) {
        c.split = qel::SplitRule::Default;
        c.bucketSize = 1;
        c.eps = 0.0;
        c.visitLimit = 0;
    }
    if (c.mode != SearchMode::BdTree) c.shrink = qel::ShrinkRule::Default;
    return c;
}

std::unique_ptr<qel::QELpointSet> BuildStructure(const SearchConfig& c, qel::PointArray data, int n, int dim,
                                                 int threads) {
    switch (c.mode) {
    case SearchMode::BruteForce:
        return std::make_unique<qel::QELbruteForce>(data, n, dim);
    case SearchMode::KdTree:
        return std::make_unique<qel::QELkd_tree>(data, n, dim, c.bucketSize, c.split, threads);
    case SearchMode::BdTree:
        return std::make_unique<qel::QELbd_tree>(data, n, dim, c.bucketSize, c.split, c.shrink, threads);
    }
    return nullptr;
}

Searcher SearcherOf(qel::QELpointSet* structure, SearchRange range, int k, double eps, int power,
                    double radius) {
    return {structure, dynamic_cast<qel::QELkd_tree*>(structure), range, k, eps,
            power,     qel::coordinateTerm(radius, power)};
}

void SearchOne(const Searcher& s, qel::Point query, int* idx, double* dists, int* count) {
    if (!s.structure) return;
    switch (s.range) {
    case SearchRange::Standard:
        s.structure->searchNearest(query, s.k, idx, dists, s.eps, s.power);
        break;
    case SearchRange::FixedRadius: {
        const int within =
            s.structure->searchFixedRadius(query, s.radiusBound, s.k, idx, dists, s.eps, s.power);
        if (count) *count = within;
        break;
    }
    case SearchRange::Priority:
        if (s.tree) s.tree->searchPriority(query, s.k, idx, dists, s.eps, s.power);
        break;
    }
}

void SearchBatch(const Searcher& s, qel::PointArray queries, int m, int* idx, double* dists, int threads,
                 int* counts) {
    if (!s.structure) return;
    switch (s.range) {
    case SearchRange::Standard:
        qel::searchNearestBatch(*s.structure, queries, m, s.k, idx, dists, s.eps, s.power, threads);
        break;
    case SearchRange::FixedRadius:
        qel::searchFixedRadiusBatch(*s.structure, queries, m, s.radiusBound, s.k, idx, dists, counts, s.eps,
                                    s.power, threads);
        break;
    case SearchRange::Priority:
        if (s.tree) qel::searchPriorityBatch(*s.tree, queries, m, s.k, idx, dists, s.eps, s.power, threads);
        break;
    }
}

int LastVisitCount(const Searcher& s) {
    return s.range == SearchRange::FixedRadius ? qel::fixedRadiusSearch.radiusVisitedCount
                                               : qel::visitedCount;
}

} // namespace knn
