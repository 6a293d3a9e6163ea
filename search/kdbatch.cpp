// Batch searches. The queries of a tree are taken in the order of the leaves they fall in: each query's
// key is its path from the root (one bit per level, lower or inner side first), so queries that share a
// leaf, or neighbouring leaves, are answered one after another while the nodes and points they read are
// still in the caches. Threads take consecutive blocks of that order from a shared counter. When the
// points the first queries visit show that the rest would save more than it costs, the call copies the
// coordinates into leaf order for its own searches and frees the copy at its end; the tree and other
// threads keep reading the points in place. Every row is the structure's own one-query search, and a
// copied point's distance is summed as in place, so neither the order, the threads nor the copy change
// an answer. Brute force, which reads every point for every query, instead answers a block of queries per
// pass over its points, with the rows of its one-query search.
#include <qel/kdbatch.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <typeinfo>
#include <utility>
#include <vector>

#include <qel/bdtree.h>
#include <qel/kdfixedrad.h>
#include <qel/kdimage.h>

#include <qel/workerthreads.h>

namespace qel {

namespace {

/// Tree levels a query's order key follows; deeper down, queries of one path keep their given order.
constexpr int keyLevels = 64;

/// True when the query lies inside every half-space of the shrink node's inner box.
bool insideInnerBox(const QELbd_shrink& node, Point q) {
    for (int i = 0; i < node.boundCount; ++i) {
        const HalfSpace& h = node.bounds[i];
        if ((q[h.boundDimension] - h.boundValue) * h.boundSide < 0) return false;
    }
    return true;
}

/// The query's path over the first keyLevels levels, the first level in the highest bit: sorting by it
/// sorts queries in the order of the leaves they fall in. A query on a cut goes to the upper side, as in
/// the searches.
std::uint64_t leafKey(const QELkd_tree& tree, Point q) {
    std::uint64_t key = 0;
    const QELkd_node* node = tree.rootNode;
    for (int level = 0; level < keyLevels && node != nullptr; ++level) {
        const std::type_info& type = typeid(*node);
        bool second;
        if (type == typeid(QELkd_split)) {
            const auto& split = static_cast<const QELkd_split&>(*node);
            second = !(q[split.splitDimension] - split.splitValue < 0);
            node = second ? split.upperChild : split.lowerChild;
        } else if (type == typeid(QELbd_shrink)) {
            const auto& shrink = static_cast<const QELbd_shrink&>(*node);
            second = !insideInnerBox(shrink, q);
            node = second ? shrink.outerChild : shrink.innerChild;
        } else {
            break;
        }
        if (second) key |= std::uint64_t{1} << (keyLevels - 1 - level);
    }
    return key;
}

/// The answer order of batchOrder as a vector.
std::vector<int> answerOrder(QELpointSet& structure, PointArray queries, int m, int threads) {
    std::vector<int> order(static_cast<std::size_t>(m));
    batchOrder(structure, queries, m, order.data(), threads);
    return order;
}

/// Fewest queries worth a thread of their own when finding their leaves.
constexpr int queriesPerKeyThread = 1024;

/// Queries a batch answers first, reading the points in place; the points they visit tell whether a
/// copy of the coordinates in leaf order pays for the rest.
constexpr std::size_t sampleQueries = 64;

/// A visit of a point in place costs about this many visits of a copied point plus the copy of one
/// point, measured over uniform 3- and 8-D and clustered 16-D points.
constexpr long long copyCostInVisits = 8;
/// Making the image of a tree whose searches do not use one costs about this many half visits per leaf
/// (a million points at bucket 1: 0.35 s, against 80 ns a visit).
constexpr long long imageCostInHalfVisits = 9;

/// A copy of a tree's coordinates in leaf order that one batch call's searches read on the tree's image,
/// made when the visits it saves outweigh it and the image; empty when they do not, or the tree has no
/// image or its own copy.
class BatchScratch {
public:
    /// A copy for remaining queries on parts threads, sampled of them having visited sampledVisits points.
    BatchScratch(QELpointSet& structure, std::size_t sampled, long long sampledVisits, std::size_t remaining,
                 long long parts) {
        auto* tree = dynamic_cast<QELkd_tree*>(&structure);
        if (tree == nullptr || sampled == 0) return;
        // Threads share out the searches' saving but not the copy. In integers: a floating-point
        // division here would raise the inexact flag, which a loop of one-query searches does not.
        const long long perQuery = sampledVisits / static_cast<long long>(sampled);
        const long long saved = perQuery * static_cast<long long>(remaining) / parts;
        const long long imageCost =
            tree->searchImage() != nullptr
                ? 0
                : imageCostInHalfVisits * tree->dataCount / (2LL * std::max(tree->bucketSize, 1));
        if (saved < copyCostInVisits * tree->dataCount + imageCost) return;
        image = tree->madeSearchImage();
        if (image != nullptr && image->leafCoordinates.empty()) {
            coordinates = coordinatesInLeafOrder(*image, tree->dimensionCount);
            owner = tree;
        }
    }

    /// Sets the copy as the calling thread's scratch while it lives, and puts the previous one back after.
    class InUse {
    public:
        explicit InUse(const BatchScratch& scratch) : previous(scratchCoordinates) {
            if (!scratch.coordinates.empty())
                scratchCoordinates = {scratch.owner, scratch.image, scratch.coordinates.data()};
        }
        ~InUse() { scratchCoordinates = previous; }
        InUse(const InUse&) = delete;
        InUse& operator=(const InUse&) = delete;

    private:
        ScratchCoordinates previous;
    };

private:
    const QELkd_tree* owner = nullptr;
    const SearchImage* image = nullptr;
    std::vector<double> coordinates;
};

/// Calls range(first, end) for consecutive ranges of `block` positions from first to end, which parts
/// threads take in turn from a shared counter.
template <class Range>
void runInBlocks(long long parts, long long first, long long end, long long block, Range range) {
    std::atomic<long long> next{first};
    std::vector<int> raised(static_cast<std::size_t>(parts), 0);
    runOnThreads(raised.size(), [&](std::size_t part) {
        if (part > 0) std::feclearexcept(FE_ALL_EXCEPT);
        try {
            for (long long start = next.fetch_add(block); start < end; start = next.fetch_add(block))
                range(start, std::min(start + block, end));
        } catch (...) {
            next.store(end); // the other threads stop at their next block
            throw;
        }
        if (part > 0) raised[part] = std::fetestexcept(FE_ALL_EXCEPT);
    });
    const int flags = std::accumulate(raised.begin(), raised.end(), 0, [](int a, int b) { return a | b; });
    if (flags != 0) std::feraiseexcept(flags);
}

/// The threads that answer m queries.
long long partsFor(int threads, long long m) {
    return std::max<long long>(std::min<long long>(threadsFor(threads), m), 1);
}

/// Calls answer(q), which returns the points it visited, for every position of order, on the requested
/// threads: a sample first on the calling thread, then the rest reading a scratch copy if it pays.
template <class Answer>
void answerAll(QELpointSet& structure, const std::vector<int>& order, int threads, Answer answer) {
    const auto m = static_cast<long long>(order.size());
    const long long parts = partsFor(threads, m);
    const std::size_t sampled = std::min(sampleQueries, order.size());
    long long visits = 0;
    for (std::size_t i = 0; i < sampled; ++i)
        visits += answer(order[i]);
    const BatchScratch scratch(structure, sampled, visits, order.size() - sampled, parts);
    if (parts <= 1) {
        const BatchScratch::InUse use(scratch);
        for (std::size_t i = sampled; i < order.size(); ++i)
            answer(order[i]);
        return;
    }
    // Blocks small enough that the threads end close together, large enough to keep a thread's queries
    // neighbours.
    const long long block = std::clamp<long long>(m / (parts * 8), 1, 64);
    runInBlocks(parts, static_cast<long long>(sampled), m, block, [&](long long first, long long end) {
        const BatchScratch::InUse use(scratch);
        for (long long i = first; i < end; ++i)
            answer(order[static_cast<std::size_t>(i)]);
    });
}

/// Queries a brute-force block answers in one pass over the points, at most: enough that copying the
/// points out is a small part of the block's work, few enough that the threads end close together.
constexpr long long bruteForceBlock = 128;

/// The structure as a brute-force set when it is exactly one (a derived class may search otherwise).
QELbruteForce* bruteForceOf(QELpointSet& structure) {
    return typeid(structure) == typeid(QELbruteForce) ? static_cast<QELbruteForce*>(&structure) : nullptr;
}

/// Calls answer(first, count) for blocks of the m queries on the requested threads: one block per thread,
/// or blocks of bruteForceBlock queries when there are more.
template <class Block> void answerInBlocks(int m, int threads, Block answer) {
    const long long parts = partsFor(threads, m);
    const long long block = std::min<long long>((m + parts - 1) / parts, bruteForceBlock);
    runInBlocks(parts, 0, m, block, [&](long long first, long long end) {
        answer(static_cast<int>(first), static_cast<int>(end - first));
    });
}

} // namespace

void batchOrder(QELpointSet& structure, PointArray queries, int m, int* order, int threads) {
    std::iota(order, order + std::max(m, 0), 0);
    const auto* tree = dynamic_cast<const QELkd_tree*>(&structure);
    if (m <= 0 || tree == nullptr || tree->rootNode == nullptr) return;
    // The flags the key arithmetic raises (NaN and infinite coordinates) are put back as they were: the
    // searches raise their own. Other threads' flags end with them.
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
    std::vector<std::pair<std::uint64_t, int>> keyed(static_cast<std::size_t>(m));
    const int parts = std::clamp(m / queriesPerKeyThread, 1, threadsFor(threads));
    runOnThreads(static_cast<std::size_t>(parts), [&](std::size_t part) {
        const auto first = static_cast<int>(static_cast<long long>(m) * static_cast<long long>(part) / parts);
        const auto last =
            static_cast<int>(static_cast<long long>(m) * static_cast<long long>(part + 1) / parts);
        for (int q = first; q < last; ++q)
            keyed[static_cast<std::size_t>(q)] = {leafKey(*tree, queries[q]), q};
    });
    std::fesetexceptflag(&flags, FE_ALL_EXCEPT);
    // Integer keys, ties by position: NaN coordinates cannot upset the sort.
    std::sort(keyed.begin(), keyed.end());
    for (int i = 0; i < m; ++i)
        order[i] = keyed[static_cast<std::size_t>(i)].second;
}

void searchNearestBatch(QELpointSet& structure, PointArray queries, int m, int k, IndexArray nnIdx,
                        DistArray dists, double eps, int power, int threads) {
    if (m <= 0) return;
    if (k > structure.pointCount()) reportError("Requesting more near neighbors than data points", Fatal);
    if (QELbruteForce* brute = bruteForceOf(structure)) {
        answerInBlocks(m, threads, [&](int first, int count) {
            brute->searchNearestBlock(queries + first, count, k, resultRow(nnIdx, first, k),
                                      resultRow(dists, first, k), power);
        });
        return;
    }
    answerAll(structure, answerOrder(structure, queries, m, threads), threads, [&](int q) {
        structure.searchNearest(queries[q], k, resultRow(nnIdx, q, k), resultRow(dists, q, k), eps, power);
        return visitedCount;
    });
}

void searchPriorityBatch(QELkd_tree& tree, PointArray queries, int m, int k, IndexArray nnIdx,
                         DistArray dists, double eps, int power, int threads) {
    if (m <= 0) return;
    answerAll(tree, answerOrder(tree, queries, m, threads), threads, [&](int q) {
        tree.searchPriority(queries[q], k, resultRow(nnIdx, q, k), resultRow(dists, q, k), eps, power);
        return visitedCount;
    });
}

void searchFixedRadiusBatch(QELpointSet& structure, PointArray queries, int m, double radiusBound, int k,
                            IndexArray nnIdx, DistArray dists, int* counts, double eps, int power,
                            int threads) {
    if (m <= 0) return;
    if (QELbruteForce* brute = bruteForceOf(structure)) {
        answerInBlocks(m, threads, [&](int first, int count) {
            brute->searchFixedRadiusBlock(queries + first, count, radiusBound, k, resultRow(nnIdx, first, k),
                                          resultRow(dists, first, k),
                                          counts == nullptr ? nullptr : counts + first, power);
        });
        return;
    }
    answerAll(structure, answerOrder(structure, queries, m, threads), threads, [&](int q) {
        const int count = structure.searchFixedRadius(queries[q], radiusBound, k, resultRow(nnIdx, q, k),
                                                      resultRow(dists, q, k), eps, power);
        if (counts != nullptr) counts[q] = count;
        return fixedRadiusSearch.radiusVisitedCount;
    });
}

} // namespace qel
