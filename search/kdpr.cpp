// Priority search: the root's cell goes into a min-heap keyed by cell distance; each extraction descends
// from the extracted node straight to a leaf along the query's side, queueing every farther child on the
// way with its cell distance, and scans that leaf. The search ends when the heap is empty, when the
// visit limit is passed, or when the nearest pending cell, allowing for eps, cannot beat the k-th
// distance. The descent is a loop: every step's last call is its only call.
#include <qel/kdpr.h>

#include <limits>
#include <memory>
#include <type_traits>

#include <qel/kd.h>
#include <qel/kdutil.h>

namespace qel {

thread_local PrioritySearchState prioritySearch;

namespace {

/// The calling thread's kept queue of the view's node names, emptied, with room for capacity entries.
template <class Ref> CellQueue<Ref>& emptiedQueue(int capacity) {
    PrioritySearchState& state = prioritySearch;
    std::unique_ptr<CellQueue<Ref>>* queue;
    if constexpr (std::is_same_v<Ref, int>)
        queue = &state.pendingPositions;
    else
        queue = &state.pendingCells;
    if (!*queue || (*queue)->capacity != capacity) {
        *queue = std::make_unique<CellQueue<Ref>>(capacity);
    }
    (*queue)->held = 0;
    return **queue;
}

template <class Ref> CellQueue<Ref>& pendingQueue() {
    if constexpr (std::is_same_v<Ref, int>)
        return *prioritySearch.pendingPositions;
    else
        return *prioritySearch.pendingCells;
}

template <class Metric, class View> struct PrioritySteps {
    using Ref = typename View::Ref;
    using Visit = DeferredVisit<Ref>; ///< none: farther children wait in the queue

    static Ref split(const View& view, Ref node, double& boxDist, int power) {
        const SplitSides<Ref> sides =
            splitSides<Metric>(view.split(node), prioritySearch.priorityQuery, boxDist, power);
        if (!sides.farEmpty) {
            pendingQueue<Ref>().enqueue(sides.farDistance, sides.farChild);
        }
        return sides.nearChild;
    }

    static Ref shrink(const View& view, Ref node, double& boxDist, int power) {
        const ShrinkSides<Ref> sides =
            shrinkSides(view.shrink(node), prioritySearch.priorityQuery, boxDist, power);
        if (!sides.farEmpty) {
            pendingQueue<Ref>().enqueue(sides.farDistance, sides.farChild);
        }
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static bool resumes(const Visit&, int) { return true; }

    static void leaf(const View& view, Ref node, int power) {
        PrioritySearchState& state = prioritySearch;
        const LeafRun run = view.leaf(node);
        offerBucket<Metric>(run, state.priorityQuery, state.priorityPoints, state.priorityDim, power,
                            *state.priorityNearest);
        // Abandoned points count as visited too.
        visitedCount += run.count;
    }
};

template <class Metric, class View> void searchPendingCells(const View& view, int power) {
    PrioritySearchState& state = prioritySearch;
    CellQueue<typename View::Ref>& pending = pendingQueue<typename View::Ref>();
    const QELmin_k& nearest = *state.priorityNearest;
    while (pending.held > 0) {
        if (visitLimitPassed(visitedCount)) {
            return;
        }
        double boxDist;
        typename View::Ref node;
        pending.dequeueNearest(boxDist, node);
        const double bound = nearest.currentBound();
        // Every pending cell may lie at the k-th distance (coincident points put them all there), which
        // the slack lets through; the points' bound ends the search on them.
        if (slackenedCellDistance(state.priorityErrorFactor.scaled(boxDist)) >= bound ||
            (nearest.held == nearest.capacity && state.pointsBound >= bound)) {
            return;
        }
        walkFrom<PrioritySteps<Metric, View>>(view, node, boxDist, power);
    }
}

void searchPriorityFrom(QELkd_node* node, double boxDist, int power) {
    const NodeView view{prioritySearch.priorityOrder};
    withMetric(power, [&](auto metric) {
        walkFrom<PrioritySteps<decltype(metric), NodeView>>(view, node, boxDist, power);
    });
}

/// Queues the root and searches until the queue runs dry or the search ends.
template <class View>
void searchFromRoot(const View& view, typename View::Ref root, double rootDistance, int capacity, int power) {
    emptiedQueue<typename View::Ref>(capacity).enqueue(rootDistance, root);
    withMetric(power, [&](auto metric) { searchPendingCells<decltype(metric)>(view, power); });
}

} // namespace

void QELkd_tree::searchPriority(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) {
    PrioritySearchState& state = prioritySearch;
    state.priorityErrorFactor = ErrorFactor::of(eps, power);
    state.priorityDim = dimensionCount;
    state.priorityQuery = q;
    state.priorityPoints = dataPoints;
    state.priorityOrder = leafOrder();
    visitedCount = 0;
    QELmin_k& nearest = emptiedList(state.priorityNearest, k);
    // Like every empty cell, an empty root is not queued: a dump of no points can make the shared empty
    // leaf the root, and the queue, sized by the point count, would have no room for it.
    if (rootNode != nullptr && !isSharedEmptyLeaf(rootNode)) {
        const double rootDistance = distanceToBox(q, boxLower, boxUpper, dimensionCount, power);
        // The box's distance sums its coordinates' terms in order, as a point's distance does. Stopping
        // when no point can enter changes nothing, visit limit or not.
        state.pointsBound =
            exactOffsetBounds(*this, q, power) ? rootDistance : -std::numeric_limits<double>::infinity();
        if (const SearchImage* image = searchImage()) {
            const ImageView view = ImageView::of(image, dimensionCount);
            searchFromRoot(view, view.root(), rootDistance, dataCount, power);
        } else {
            searchFromRoot(NodeView{state.priorityOrder}, rootNode, rootDistance, dataCount, power);
        }
    }
    copyResults(nearest, k, nnIdx, dists);
}

void QELkd_split::prioritySearchStep(double boxDist, int power) {
    searchPriorityFrom(this, boxDist, power);
}

void QELkd_leaf::prioritySearchStep(double boxDist, int power) {
    searchPriorityFrom(this, boxDist, power);
}

void QELbd_shrink::prioritySearchStep(double boxDist, int power) {
    searchPriorityFrom(this, boxDist, power);
}

} // namespace qel
