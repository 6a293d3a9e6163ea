// Fuzz target: the tree dump reader on arbitrary bytes. The first byte picks the tree kind (kd or bd)
// and the rules of a rebuild, the rest is the dump. A fatal report is an expected outcome: the handler
// throws, the reader releases what it made and leaves its out-parameters alone. A dump the reader
// accepts must make a tree that is safe to use: its leaves hold each point index once and within range,
// the three searches on it report real points at their true distances, its print and statistics run,
// and dumping it and reading that dump back gives the same text again. When its coordinates are tame
// (finite, at most a quarter of the largest double) its exact searches answer as brute force over its
// points. A tree the builder makes of its points, with the rules the first byte picks, dumps to a text
// the reader accepts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzzsupport.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>
#include <qel/treedump.h>

namespace {

/// What readDump hands over; the tree made from it takes all but the points.
struct DumpParts {
    qel::PointArray points = nullptr;
    qel::IndexArray indices = nullptr;
    int dim = -1;
    int n = -1;
    int bucketSize = -1;
    qel::Point lower = nullptr;
    qel::Point upper = nullptr;
    qel::QELkd_node* root = nullptr;
};

/// The parts of a dump, or nothing after a fatal report (which must leave the out-parameters as they were).
bool readParts(const std::string& text, qel::TreeKind kind, DumpParts& parts) {
    std::istringstream in(text);
    try {
        parts.root = qel::readDump(in, kind, parts.points, parts.indices, parts.dim, parts.n,
                                   parts.bucketSize, parts.lower, parts.upper);
    } catch (const fuzz::FatalReport&) {
        const DumpParts untouched;
        FUZZ_CHECK(parts.points == untouched.points && parts.indices == untouched.indices);
        FUZZ_CHECK(parts.dim == untouched.dim && parts.n == untouched.n &&
                   parts.bucketSize == untouched.bucketSize);
        FUZZ_CHECK(parts.lower == untouched.lower && parts.upper == untouched.upper);
        return false;
    }
    FUZZ_CHECK(parts.dim >= 0 && parts.n >= 0 && parts.bucketSize >= 1);
    FUZZ_CHECK((parts.root == nullptr) == (parts.lower == nullptr) &&
               (parts.lower == nullptr) == (parts.upper == nullptr));
    return true;
}

std::unique_ptr<qel::QELkd_tree> makeTree(qel::TreeKind kind, const DumpParts& p) {
    if (kind == qel::Bd)
        return std::make_unique<qel::QELbd_tree>(p.points, p.indices, p.n, p.dim, p.bucketSize, p.lower,
                                                 p.upper, p.root);
    return std::make_unique<qel::QELkd_tree>(p.points, p.indices, p.n, p.dim, p.bucketSize, p.lower, p.upper,
                                             p.root);
}

/// Every leaf views its own run of the tree's index array, and the runs hold each point at most once.
void checkLeaves(const qel::QELkd_tree& tree) {
    std::vector<bool> seen(static_cast<std::size_t>(tree.dataCount), false);
    std::vector<qel::QELkd_node*> pending;
    if (tree.rootNode != nullptr) pending.push_back(tree.rootNode);
    while (!pending.empty()) {
        qel::QELkd_node* node = pending.back();
        pending.pop_back();
        if (auto* split = dynamic_cast<qel::QELkd_split*>(node)) {
            FUZZ_CHECK(split->splitDimension >= 0 && split->splitDimension < tree.dimensionCount);
            pending.push_back(split->lowerChild);
            pending.push_back(split->upperChild);
        } else if (auto* shrink = dynamic_cast<qel::QELbd_shrink*>(node)) {
            for (int i = 0; i < shrink->boundCount; ++i)
                FUZZ_CHECK(shrink->bounds[i].boundDimension >= 0 &&
                           shrink->bounds[i].boundDimension < tree.dimensionCount);
            pending.push_back(shrink->innerChild);
            pending.push_back(shrink->outerChild);
        } else {
            auto* leaf = dynamic_cast<qel::QELkd_leaf*>(node);
            FUZZ_CHECK(leaf != nullptr);
            if (qel::isSharedEmptyLeaf(leaf)) continue;
            FUZZ_CHECK(leaf->bucketCount >= 1);
            FUZZ_CHECK(leaf->bucketIndices >= tree.pointIndex &&
                       leaf->bucketIndices + leaf->bucketCount <= tree.pointIndex + tree.dataCount);
            for (int i = 0; i < leaf->bucketCount; ++i) {
                const int index = leaf->bucketIndices[i];
                FUZZ_CHECK(index >= 0 && index < tree.dataCount);
                FUZZ_CHECK(!seen[static_cast<std::size_t>(index)]);
                seen[static_cast<std::size_t>(index)] = true;
            }
        }
    }
}

bool sameDistance(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

/// The searches may miss points of a tree whose cuts and cells are arbitrary, but whatever they report
/// is a real point at its true distance, each point once.
void checkSearches(qel::QELkd_tree& tree, qel::Point q) {
    const int k = std::min(tree.dataCount, 3);
    for (int search = 0; search < 3; ++search) {
        std::vector<int> indices(static_cast<std::size_t>(k) + 1, -7);
        std::vector<double> distances(static_cast<std::size_t>(k) + 1, -7.0);
        try {
            if (search == 0) tree.searchNearest(q, k, indices.data(), distances.data(), 0.0, 2);
            if (search == 1) tree.searchPriority(q, k, indices.data(), distances.data(), 0.0, 2);
            if (search == 2) tree.searchFixedRadius(q, 1.0, k, indices.data(), distances.data(), 0.0, 2);
        } catch (const fuzz::FatalReport& report) {
            fuzz::fail(std::string("fatal report searching an accepted dump: ") + report.what(), __FILE__,
                       __LINE__);
        }
        std::vector<bool> seen(static_cast<std::size_t>(tree.dataCount), false);
        for (int i = 0; i < k; ++i) {
            const int index = indices[static_cast<std::size_t>(i)];
            if (index == qel::noIndex) continue;
            FUZZ_CHECK(index >= 0 && index < tree.dataCount && !seen[static_cast<std::size_t>(index)]);
            seen[static_cast<std::size_t>(index)] = true;
            FUZZ_CHECK(sameDistance(distances[static_cast<std::size_t>(i)],
                                    qel::pointDistance(tree.dimensionCount, tree.dataPoints[index], q, 2)));
        }
        FUZZ_CHECK(indices[static_cast<std::size_t>(k)] == -7);
    }
}

/// Every coordinate finite and at most a quarter of the largest double: the dumps the reader checks.
bool tamePoints(const qel::QELkd_tree& tree) {
    for (int i = 0; i < tree.dataCount; ++i)
        for (int d = 0; d < tree.dimensionCount; ++d)
            if (!(std::fabs(tree.dataPoints[i][d]) <= std::numeric_limits<double>::max() / 4)) return false;
    return true;
}

/// The exact searches of a checked tree against brute force: slot by slot the same distance wherever
/// brute force's is finite (a tree search leaves a slot of an overflowed distance empty), and the same
/// count of points within the fixed radius.
void checkExact(qel::QELkd_tree& tree, qel::Point q) {
    const int n = tree.dataCount;
    std::vector<double> all;
    for (int i = 0; i < n; ++i)
        all.push_back(qel::pointDistance(tree.dimensionCount, tree.dataPoints[i], q, 2));
    std::sort(all.begin(), all.end());
    const double radius = 1.0;
    const auto within = static_cast<int>(std::upper_bound(all.begin(), all.end(), radius) - all.begin());
    for (int k = 1; k <= std::min(n, 3); ++k) {
        for (int search = 0; search < 3; ++search) {
            std::vector<int> indices(static_cast<std::size_t>(k));
            std::vector<double> distances(static_cast<std::size_t>(k));
            if (search == 0) tree.searchNearest(q, k, indices.data(), distances.data(), 0.0, 2);
            if (search == 1) tree.searchPriority(q, k, indices.data(), distances.data(), 0.0, 2);
            if (search == 2)
                FUZZ_CHECK(tree.searchFixedRadius(q, radius, k, indices.data(), distances.data(), 0.0, 2) ==
                           within);
            for (int i = 0; i < k; ++i) {
                const double expected = all[static_cast<std::size_t>(i)];
                if (search == 2 && i >= within) break;
                if (std::isfinite(expected)) FUZZ_CHECK(distances[static_cast<std::size_t>(i)] == expected);
            }
        }
    }
}

/// The builder's tree of the points, with the rules of choice, dumps to a text the reader accepts.
void checkRebuild(const qel::QELkd_tree& tree, qel::TreeKind kind, std::uint8_t choice) {
    const auto split = static_cast<qel::SplitRule>((choice >> 1) % 5);
    const auto shrink = static_cast<qel::ShrinkRule>((choice >> 4) % 4);
    const int bucketSize = 1 + (choice >> 6);
    std::unique_ptr<qel::QELkd_tree> built;
    if (kind == qel::Bd)
        built = std::make_unique<qel::QELbd_tree>(tree.dataPoints, tree.dataCount, tree.dimensionCount,
                                                  bucketSize, split, shrink);
    else
        built = std::make_unique<qel::QELkd_tree>(tree.dataPoints, tree.dataCount, tree.dimensionCount,
                                                  bucketSize, split);
    std::ostringstream out;
    built->dumpTree(true, out);
    std::istringstream in(out.str());
    try {
        const qel::LoadedTree loaded = qel::loadTree(in, kind);
    } catch (const fuzz::FatalReport& report) {
        fuzz::fail(std::string("the writer's dump refused: ") + report.what(), __FILE__, __LINE__);
    }
}

std::string dumpOf(qel::QELkd_tree& tree) {
    std::ostringstream out;
    tree.dumpTree(true, out);
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    fuzz::throwOnFatal();
    qel::metricKind = qel::euclideanMetric;
    qel::setVisitLimit(0);
    const qel::TreeKind kind = (data[0] & 1) != 0 ? qel::Bd : qel::Kd;
    DumpParts parts;
    if (!readParts(std::string(reinterpret_cast<const char*>(data + 1), size - 1), kind, parts)) return 0;
    qel::PointArray points = parts.points;
    {
        const auto tree = makeTree(kind, parts);
        checkLeaves(*tree);
        qel::Point query = tree->boxLower != nullptr ? tree->boxLower
                           : tree->dataCount > 0     ? points[0]
                                                     : nullptr;
        std::vector<double> origin(static_cast<std::size_t>(tree->dimensionCount), 0.0);
        checkSearches(*tree, query != nullptr ? query : origin.data());
        if (tree->rootNode != nullptr && tree->dataCount > 0 && tamePoints(*tree)) {
            checkExact(*tree, tree->boxLower);
            checkExact(*tree, tree->boxUpper);
            checkExact(*tree, points[0]);
        }
        checkRebuild(*tree, kind, data[0]);
        std::ostringstream print;
        tree->printTree(true, print);
        qel::TreeStats stats;
        tree->collectStats(stats);

        // The dump of a tree read from a dump reads back, and the second dump equals the first.
        const std::string first = dumpOf(*tree);
        DumpParts again;
        FUZZ_CHECK(readParts(first, kind, again));
        qel::PointArray againPoints = again.points;
        {
            const auto copy = makeTree(kind, again);
            FUZZ_CHECK(dumpOf(*copy) == first);
        }
        qel::releasePointArray(againPoints);
    }
    qel::releasePointArray(points);
    qel::releaseSharedEmptyLeaf();
    return 0;
}
