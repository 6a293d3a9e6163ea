// Fuzz target: structures and searches on small hostile point sets. The input chooses the structure
// (brute force, kd-tree, bd-tree), the splitting and shrinking rules, the bucket size, the dimension
// (1 to 100), the metric and power, eps, a visit limit, and then the points, whose coordinates come
// from a palette of magnitudes (1e-300 to 1e300, subnormals, small integers for ties), with whole
// points repeated to make duplicates and coincident clusters. Every search (standard, priority, fixed
// radius) is compared with the exact answer worked out here from every point's distance: equal for
// eps 0, within the error factor for eps > 0, and, under a visit limit, true distances of real points
// in ascending order. A fatal report is expected exactly where the library promises one. The tree
// statistics must agree with a walk of the nodes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "fuzzsupport.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>

namespace {

enum class Structure { BruteForce, Kd, Bd };
enum class Search { Standard, Priority, FixedRadius };

using fuzz::fillPoint;
using fuzz::Palette;
using fuzz::Points;

struct Options {
    Structure structure = Structure::Kd;
    int n = 1;
    int dim = 1;
    int bucket = 1;
    qel::SplitRule split = qel::SplitRule::Default;
    qel::ShrinkRule shrink = qel::ShrinkRule::Default;
    int power = 2;
    double eps = 0.0;
    int visitLimit = 0;
};

/// What one search returned.
struct Result {
    std::vector<int> indices;
    std::vector<double> distances;
    int count = 0;
    bool fatal = false;
};

Result runSearch(qel::QELpointSet& set, qel::QELkd_tree* tree, Search search, qel::Point q, int k,
                 double bound, const Options& o) {
    Result r{std::vector<int>(static_cast<std::size_t>(k) + 1, -7),
             std::vector<double>(static_cast<std::size_t>(k) + 1, -7.0)};
    try {
        switch (search) {
        case Search::Standard:
            set.searchNearest(q, k, r.indices.data(), r.distances.data(), o.eps, o.power);
            break;
        case Search::Priority:
            tree->searchPriority(q, k, r.indices.data(), r.distances.data(), o.eps, o.power);
            break;
        case Search::FixedRadius:
            r.count =
                set.searchFixedRadius(q, bound, k, r.indices.data(), r.distances.data(), o.eps, o.power);
            break;
        }
    } catch (const fuzz::FatalReport&) {
        r.fatal = true;
    }
    return r;
}

/// Checks r against the distances of every data point to the query (trueDistance).
void checkResult(const Result& r, Search search, int k, double bound, const std::vector<double>& trueDistance,
                 const Options& o) {
    const int n = static_cast<int>(trueDistance.size());
    if (search == Search::Standard && k > n) {
        FUZZ_CHECK(r.fatal); // more neighbours than points; the other searches leave the extra slots empty
        return;
    }
    FUZZ_CHECK(!r.fatal);
    FUZZ_CHECK(r.indices[static_cast<std::size_t>(k)] == -7); // nothing written past slot k - 1

    // Every reported slot is a real point at its true distance, ascending, each point once; an empty
    // slot is (unboundedDistance, noIndex) and only empty slots follow it.
    std::vector<bool> seen(static_cast<std::size_t>(n), false);
    bool emptySeen = false;
    for (int i = 0; i < k; ++i) {
        const int index = r.indices[static_cast<std::size_t>(i)];
        const double dist = r.distances[static_cast<std::size_t>(i)];
        if (index == qel::noIndex) {
            FUZZ_CHECK(dist == qel::unboundedDistance);
            emptySeen = true;
            continue;
        }
        FUZZ_CHECK(!emptySeen);
        FUZZ_CHECK(index >= 0 && index < n);
        FUZZ_CHECK(!seen[static_cast<std::size_t>(index)]);
        seen[static_cast<std::size_t>(index)] = true;
        FUZZ_CHECK(dist == trueDistance[static_cast<std::size_t>(index)]);
        if (i > 0) FUZZ_CHECK(r.distances[static_cast<std::size_t>(i) - 1] <= dist);
        if (search == Search::FixedRadius) FUZZ_CHECK(dist <= bound);
    }
    if (o.visitLimit != 0) return; // a search cut short reports the best of what it examined

    // The exact answer. A distance that overflowed to infinity is never within a tree's bound; brute
    // force ranks it last. So only the finite prefix is compared, and beyond it a slot is empty or holds
    // an overflowed point.
    std::vector<double> sorted;
    for (const double d : trueDistance)
        if (search == Search::FixedRadius ? d <= bound : d <= qel::unboundedDistance) sorted.push_back(d);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t finite = static_cast<std::size_t>(
        std::count_if(sorted.begin(), sorted.end(), [](double d) { return std::isfinite(d); }));
    if (search == Search::FixedRadius) FUZZ_CHECK(r.count <= static_cast<int>(sorted.size()));
    const double factor = qel::coordinateTerm(1.0 + o.eps, o.power);
    for (std::size_t i = 0; i < static_cast<std::size_t>(k); ++i) {
        const double dist = r.distances[i];
        if (i >= finite) {
            FUZZ_CHECK(dist == qel::unboundedDistance || std::isinf(dist));
            continue;
        }
        if (o.eps == 0.0) {
            FUZZ_CHECK(dist == sorted[i]);
        } else if (search != Search::FixedRadius) {
            // Approximate: the i-th reported distance is within the error factor of the true i-th.
            FUZZ_CHECK(dist <= factor * sorted[i] * (1.0 + 1e-12));
        }
    }
    if (search == Search::FixedRadius) {
        // Every point within the bound counts for eps 0; for eps > 0 at least those within the bound
        // divided by the error factor.
        const auto surelyInside = std::count_if(trueDistance.begin(), trueDistance.end(), [&](double d) {
            return o.eps == 0.0 ? d <= bound && std::isfinite(d) : d * factor * (1.0 + 1e-9) < bound;
        });
        FUZZ_CHECK(r.count >= surelyInside);
    }
}

/// The index array of a tree holds every point once.
void checkPermutation(const qel::QELkd_tree& tree) {
    std::vector<int> index(tree.pointIndex, tree.pointIndex + tree.dataCount);
    std::sort(index.begin(), index.end());
    for (int i = 0; i < tree.dataCount; ++i)
        FUZZ_CHECK(index[static_cast<std::size_t>(i)] == i);
}

/// The tree's statistics agree with a count of its nodes; every leaf's aspect ratio lies in 1..cap.
/// Returns the tree's depth.
int checkStats(qel::QELkd_tree& tree) {
    qel::TreeStats stats;
    tree.collectStats(stats);
    FUZZ_CHECK(stats.dimensionCount == tree.dimensionCount && stats.dataCount == tree.dataCount);
    qel::TreeStats counted;
    std::vector<std::pair<qel::QELkd_node*, int>> pending{{tree.rootNode, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (auto* split = dynamic_cast<qel::QELkd_split*>(node)) {
            ++counted.splitNodeCount;
            pending.emplace_back(split->lowerChild, depth + 1);
            pending.emplace_back(split->upperChild, depth + 1);
        } else if (auto* shrink = dynamic_cast<qel::QELbd_shrink*>(node)) {
            ++counted.shrinkNodeCount;
            pending.emplace_back(shrink->innerChild, depth + 1);
            pending.emplace_back(shrink->outerChild, depth + 1);
        } else {
            ++counted.leafCount;
            counted.emptyLeafCount += qel::isSharedEmptyLeaf(node) ? 1 : 0;
            counted.treeDepth = std::max(counted.treeDepth, depth);
        }
    }
    FUZZ_CHECK(stats.leafCount == counted.leafCount && stats.emptyLeafCount == counted.emptyLeafCount);
    FUZZ_CHECK(stats.splitNodeCount == counted.splitNodeCount &&
               stats.shrinkNodeCount == counted.shrinkNodeCount);
    FUZZ_CHECK(stats.treeDepth == counted.treeDepth);
    // Every leaf's ratio lies between 1 and the cap; float sums of many leaves round a little.
    FUZZ_CHECK(stats.aspectSum >= 0.999f * static_cast<float>(stats.leafCount));
    FUZZ_CHECK(stats.aspectSum <= 1.001f * static_cast<float>(qel::AspectRatioCap * stats.leafCount));
    return stats.treeDepth;
}

double radiusBound(FuzzedDataProvider& input, const Palette& palette,
                   const std::vector<double>& trueDistance) {
    const std::uint8_t how = input.ConsumeIntegral<std::uint8_t>();
    switch (how % 6) {
    case 0:
        return 0.0;
    case 1:
        return qel::unboundedDistance;
    case 2:
        return INFINITY;
    case 3:
        return std::fabs(palette.coordinate(input.ConsumeIntegral<std::uint8_t>()));
    default: // exactly some point's distance: points on the bound must count
        return trueDistance[how % trueDistance.size()];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::throwOnFatal();
    FuzzedDataProvider input(data, size);
    Options o;
    o.structure = static_cast<Structure>(input.ConsumeIntegralInRange(0, 2));
    o.split = static_cast<qel::SplitRule>(input.ConsumeIntegralInRange(0, 5));
    o.shrink = static_cast<qel::ShrinkRule>(input.ConsumeIntegralInRange(0, 3));
    const std::uint8_t bucketByte = input.ConsumeIntegral<std::uint8_t>();
    o.bucket = bucketByte < 200 ? 1 + bucketByte % 4 : 1 + bucketByte % 100;
    const std::uint8_t dimByte = input.ConsumeIntegral<std::uint8_t>();
    o.dim = dimByte < 200 ? 1 + dimByte % 6 : 1 + dimByte % 100;
    const std::uint8_t countByte = input.ConsumeIntegral<std::uint8_t>();
    o.n = countByte < 192 ? 1 + countByte % 32 : 1 + countByte % 160;
    qel::metricKind = input.ConsumeIntegralInRange(qel::manhattanMetric, qel::chebyshevMetric);
    o.power = qel::metricKind == qel::euclideanMetric  ? 2
              : qel::metricKind == qel::customLpMetric ? input.ConsumeIntegralInRange(1, 7)
                                                       : 1;
    static constexpr double epsValues[8] = {0.0, 0.0, 0.0, 0.0, 0.1, 0.5, 1.0, 3.0};
    o.eps = epsValues[input.ConsumeIntegral<std::uint8_t>() % 8];
    const std::uint8_t limitByte = input.ConsumeIntegral<std::uint8_t>();
    o.visitLimit = limitByte < 224 ? 0 : 1 + limitByte % 16;
    qel::setVisitLimit(o.visitLimit);

    Palette palette;
    const std::uint8_t paletteByte = input.ConsumeIntegral<std::uint8_t>();
    palette.first = Palette::scales[paletteByte & 7];
    palette.second = Palette::scales[(paletteByte >> 3) & 7];

    Points points(o.n, o.dim);
    for (int i = 0; i < o.n; ++i)
        fillPoint(input, palette, points.array[i], o.dim, points.array, i);

    std::unique_ptr<qel::QELpointSet> set;
    qel::QELkd_tree* tree = nullptr;
    switch (o.structure) {
    case Structure::BruteForce:
        set = std::make_unique<qel::QELbruteForce>(points.array, o.n, o.dim);
        break;
    case Structure::Kd:
        set = std::make_unique<qel::QELkd_tree>(points.array, o.n, o.dim, o.bucket, o.split);
        break;
    case Structure::Bd:
        set = std::make_unique<qel::QELbd_tree>(points.array, o.n, o.dim, o.bucket, o.split, o.shrink);
        break;
    }
    if (o.structure != Structure::BruteForce) {
        tree = static_cast<qel::QELkd_tree*>(set.get());
        checkPermutation(*tree);
        // The print indents every level by two more characters: a tree thousands of levels deep would
        // print gigabytes.
        if (checkStats(*tree) <= 200) {
            std::ostringstream print;
            tree->printTree(true, print);
        }
    }

    Points query(1, o.dim);
    const int queries = input.ConsumeIntegralInRange(1, 3);
    for (int qi = 0; qi < queries; ++qi) {
        fillPoint(input, palette, query.array[0], o.dim, points.array, o.n);
        std::vector<double> trueDistance(static_cast<std::size_t>(o.n));
        for (int i = 0; i < o.n; ++i)
            trueDistance[static_cast<std::size_t>(i)] =
                qel::pointDistance(o.dim, points.array[i], query.array[0], o.power);
        const int k = input.ConsumeIntegralInRange(1, o.n + 1);
        const double bound = radiusBound(input, palette, trueDistance);
        for (const Search search : {Search::Standard, Search::Priority, Search::FixedRadius}) {
            if (search == Search::Priority && tree == nullptr) continue;
            const Result r = runSearch(*set, tree, search, query.array[0], k, bound, o);
            checkResult(r, search, k, bound, trueDistance, o);
        }
    }
    qel::setVisitLimit(0);
    qel::releaseSharedEmptyLeaf();
    return 0;
}
