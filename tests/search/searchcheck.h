// Helpers for the tree search tests: a tree of either structure over a test point set, one call that runs
// any of the three searches into result arrays pre-filled with a marker, and the exact answer by brute
// force (every data point's distance, sorted); also the tree shapes and queries the oracle tests run over.
#pragma once

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

#include "testdata.h"
#include <qel/bdtree.h>
#include <qel/kd.h>
#include <qel/kdfixedrad.h>
#include <qel/kdpr.h>

namespace searchcheck {

enum class SearchKind { Standard, Priority, FixedRadius };
inline constexpr SearchKind allSearches[] = {SearchKind::Standard, SearchKind::Priority,
                                             SearchKind::FixedRadius};

inline const char* searchName(SearchKind kind) {
    switch (kind) {
    case SearchKind::Standard:
        return "standard";
    case SearchKind::Priority:
        return "priority";
    case SearchKind::FixedRadius:
        return "fixed radius";
    }
    return "";
}

inline void PrintTo(SearchKind kind, std::ostream* out) {
    *out << searchName(kind);
}

enum class Structure { Kd, Bd };

struct TreeShape {
    Structure structure;
    qel::SplitRule split;
    qel::ShrinkRule shrink; ///< bd-trees only
};

inline void PrintTo(const TreeShape& shape, std::ostream* out) {
    *out << (shape.structure == Structure::Kd ? "kd" : "bd") << " split " << int(shape.split);
    if (shape.structure == Structure::Bd) {
        *out << " shrink " << int(shape.shrink);
    }
}

inline std::unique_ptr<qel::QELkd_tree> buildTree(Structure structure, const testdata::PointSet& set,
                                                  int bucketSize, qel::SplitRule split,
                                                  qel::ShrinkRule shrink = qel::ShrinkRule::None) {
    if (structure == Structure::Kd) {
        return std::make_unique<qel::QELkd_tree>(set.points(), set.size(), set.dim(), bucketSize, split);
    }
    return std::make_unique<qel::QELbd_tree>(set.points(), set.size(), set.dim(), bucketSize, split, shrink);
}

/// Marker left in result slots that a search did not write.
inline constexpr int untouchedIndex = -7;
inline constexpr double untouchedDistance = -7.0;

struct Answer {
    std::vector<int> indices;
    std::vector<double> distances;
    int count = 0; ///< fixed radius: points within the bound; other searches: 0
};

/// Runs one search with k result slots (and room for two more, which must stay untouched).
inline Answer runSearch(qel::QELkd_tree& tree, SearchKind kind, qel::Point q, int k, double eps, int power,
                        double radiusBound = 0.0) {
    const int slots = std::max(k, 0) + 2;
    Answer answer{std::vector<int>(slots, untouchedIndex), std::vector<double>(slots, untouchedDistance)};
    switch (kind) {
    case SearchKind::Standard:
        tree.searchNearest(q, k, answer.indices.data(), answer.distances.data(), eps, power);
        break;
    case SearchKind::Priority:
        tree.searchPriority(q, k, answer.indices.data(), answer.distances.data(), eps, power);
        break;
    case SearchKind::FixedRadius:
        answer.count = tree.searchFixedRadius(q, radiusBound, k, answer.indices.data(),
                                              answer.distances.data(), eps, power);
        break;
    }
    return answer;
}

/// The distance from q to every point of set, ascending.
inline std::vector<double> sortedDistances(const testdata::PointSet& set, qel::Point q, int power) {
    std::vector<double> distances;
    for (int i = 0; i < set.size(); ++i) {
        distances.push_back(qel::pointDistance(set.dim(), set[i], q, power));
    }
    std::sort(distances.begin(), distances.end());
    return distances;
}

/// Number of distances at most bound.
inline int countWithin(const std::vector<double>& sorted, double bound) {
    return static_cast<int>(std::upper_bound(sorted.begin(), sorted.end(), bound) - sorted.begin());
}

/// Queries for set: some data points themselves, some points in and around the data's box, some far out.
inline testdata::PointSet queriesFor(const testdata::PointSet& set) {
    const int dim = set.dim();
    testdata::PointSet queries(12, dim);
    testdata::Random random(77);
    for (int d = 0; d < dim; ++d) {
        double lo = set[0][d];
        double hi = set[0][d];
        for (int i = 1; i < set.size(); ++i) {
            lo = std::min(lo, set[i][d]);
            hi = std::max(hi, set[i][d]);
        }
        const double margin = 0.2 * (hi - lo) + 0.1;
        for (int j = 0; j < 4; ++j) {
            queries[j][d] = set[j * set.size() / 4][d];
        }
        for (int j = 4; j < 10; ++j) {
            queries[j][d] = lo - margin + random.uniform() * (hi - lo + 2 * margin);
        }
        queries[10][d] = hi + 50.0;
        queries[11][d] = d % 2 == 0 ? lo - 3.0 : (lo + hi) / 2;
    }
    return queries;
}

/// Every splitting rule of the kd-tree, and every pair of splitting and shrinking rules of the bd-tree.
inline std::vector<TreeShape> allTreeShapes() {
    std::vector<TreeShape> shapes;
    for (int split = 0; split <= 5; ++split) {
        shapes.push_back({Structure::Kd, qel::SplitRule(split), qel::ShrinkRule::None});
        for (int shrink = 0; shrink <= 3; ++shrink) {
            shapes.push_back({Structure::Bd, qel::SplitRule(split), qel::ShrinkRule(shrink)});
        }
    }
    return shapes;
}

} // namespace searchcheck
