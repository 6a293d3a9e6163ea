// Batch searches. The queries of a tree are taken in the order of the leaves they fall in: each query's
// key is its path from the root (one bit per level, lower or inner side first), so queries that share a
// leaf, or neighbouring leaves, are answered one after another while the nodes and points they read are
// still in the caches. Threads take consecutive blocks of that order from a shared counter. When the
// points the first queries visit show that the rest would save more than it costs, the call copies the
// coordinates into leaf order for its own searches and frees the copy at its end; the tree and other
// threads keep reading the points in place. Every row is the structure's own one-query search, and a
// copied point's distance is summed as in place, so neither the order, the threads nor the copy change
// an answer.
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
std::vector<int> answerOrder(QELpointSet& structure, PointArray queries, int m) {
    std::vector<int> order(static_cast<std::size_t>(m));
    batchOrder(structure, queries, m, order.data());
    return order;
}

/// Queries a batch answers first, reading the points in place; the points they visit tell whether a
/// copy of the coordinates in leaf order pays for the rest.
constexpr std::size_t sampleQueries = 64;

/// A visit of a point in place costs about this many visits of a copied point plus the copy of one
/// point, measured over uniform 3- and 8-D and clustered 16-D points.
constexpr long long copyCostInVisits = 8;

/// A copy of a tree's coordinates in leaf order that one batch call's searches read, made when the
/// visits it saves outweigh it; empty when they do not, or the tree has no image or its own copy.
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
        if (saved < copyCostInVisits * tree->dataCount) return;
        image = tree->searchImage();
        if (image != nullptr && image->leafCoordinates.empty())
            coordinates = coordinatesInLeafOrder(*image, tree->dimensionCount);
    }

    /// Sets the copy as the calling thread's scratch while it lives, and puts the previous one back after.
    class InUse {
    public:
        explicit InUse(const BatchScratch& scratch) : previous(scratchCoordinates) {
            if (!scratch.coordinates.empty())
                scratchCoordinates = {scratch.image, scratch.coordinates.data()};
        }
        ~InUse() { scratchCoordinates = previous; }
        InUse(const InUse&) = delete;
        InUse& operator=(const InUse&) = delete;

    private:
        ScratchCoordinates previous;
    };

private:
    const SearchImage* image = nullptr;
    std::vector<double> coordinates;
};

/// Calls answer(q), which returns the points it visited, for every position of order, on the requested
/// threads: a sample first on the calling thread, then the rest reading a scratch copy if it pays.
template <class Answer>
void answerAll(QELpointSet& structure, const std::vector<int>& order, int threads, Answer answer) {
    const auto m = static_cast<long long>(order.size());
    const long long parts = std::max<long long>(std::min<long long>(threadsFor(threads), m), 1);
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
    std::atomic<long long> next{static_cast<long long>(sampled)};
    std::vector<int> raised(static_cast<std::size_t>(parts), 0);
    runOnThreads(raised.size(), [&](std::size_t part) {
        if (part > 0) std::feclearexcept(FE_ALL_EXCEPT);
        const BatchScratch::InUse use(scratch);
        try {
            for (long long first = next.fetch_add(block); first < m; first = next.fetch_add(block))
                for (long long i = first; i < std::min(first + block, m); ++i)
                    answer(order[static_cast<std::size_t>(i)]);
        } catch (...) {
            next.store(m); // the other threads stop at their next block
            throw;
        }
        if (part > 0) raised[part] = std::fetestexcept(FE_ALL_EXCEPT);
    });
    const int flags = std::accumulate(raised.begin(), raised.end(), 0, [](int a, int b) { return a | b; });
    if (flags != 0) std::feraiseexcept(flags);
}

/// The start of row q of a result array of rows of k entries, or null for a null array.
template <class T> T* row(T* rows, int q, int k) {
    return rows == nullptr ? nullptr : rows + static_cast<std::ptrdiff_t>(q) * std::max(k, 0);
}

} // namespace

void batchOrder(QELpointSet& structure, PointArray queries, int m, int* order) {
    std::iota(order, order + std::max(m, 0), 0);
    const auto* tree = dynamic_cast<const QELkd_tree*>(&structure);
    if (m <= 0 || tree == nullptr || tree->rootNode == nullptr) return;
    // The flags the key arithmetic raises (NaN and infinite coordinates) are put back as they were: the
    // searches raise their own.
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
    std::vector<std::pair<std::uint64_t, int>> keyed(static_cast<std::size_t>(m));
    for (int q = 0; q < m; ++q)
        keyed[static_cast<std::size_t>(q)] = {leafKey(*tree, queries[q]), q};
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
    answerAll(structure, answerOrder(structure, queries, m), threads, [&](int q) {
        structure.searchNearest(queries[q], k, row(nnIdx, q, k), row(dists, q, k), eps, power);
        return visitedCount;
    });
}

void searchPriorityBatch(QELkd_tree& tree, PointArray queries, int m, int k, IndexArray nnIdx,
                         DistArray dists, double eps, int power, int threads) {
    if (m <= 0) return;
    answerAll(tree, answerOrder(tree, queries, m), threads, [&](int q) {
        tree.searchPriority(queries[q], k, row(nnIdx, q, k), row(dists, q, k), eps, power);
        return visitedCount;
    });
}

void searchFixedRadiusBatch(QELpointSet& structure, PointArray queries, int m, double radiusBound, int k,
                            IndexArray nnIdx, DistArray dists, int* counts, double eps, int power,
                            int threads) {
    if (m <= 0) return;
    answerAll(structure, answerOrder(structure, queries, m), threads, [&](int q) {
        const int count = structure.searchFixedRadius(queries[q], radiusBound, k, row(nnIdx, q, k),
                                                      row(dists, q, k), eps, power);
        if (counts != nullptr) counts[q] = count;
        return fixedRadiusSearch.radiusVisitedCount;
    });
}

} // namespace qel
