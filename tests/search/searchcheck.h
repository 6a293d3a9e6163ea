// Helpers for the tree search tests: a tree of either structure over a test point set, one call that runs
// any of the three searches into result arrays pre-filled with a marker, and the exact answer by brute
// force (every data point's distance, sorted).
#pragma once

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

#include <qel/bdtree.h>
#include <qel/kd.h>
#include <qel/kdfixedrad.h>
#include <qel/kdpr.h>
#include "testdata.h"

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

inline void PrintTo(SearchKind kind, std::ostream* out) { *out << searchName(kind); }

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

} // namespace searchcheck
