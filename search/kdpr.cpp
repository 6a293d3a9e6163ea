// Priority search: the root's cell goes into a min-heap keyed by cell distance; each extraction descends
// from the extracted node straight to a leaf along the query's side, queueing every farther child on the
// way with its cell distance, and scans that leaf. The search ends when the heap is empty, when the
// visit limit is passed, or when the nearest pending cell, allowing for eps, cannot beat the k-th
// distance. The descent is a loop: every step's last call is its only call.
#include <qel/kdpr.h>

#include <algorithm>

#include <qel/kd.h>
#include <qel/kdutil.h>

namespace qel {

thread_local PrioritySearchState prioritySearch;

QELpr_queue::QELpr_queue(int maxEntries)
    : held(0), capacity(std::max(maxEntries, 0)), slots(new Entry[capacity + 1]) {}

QELpr_queue::~QELpr_queue() {
    delete[] slots;
}

void QELpr_queue::enqueue(double key, QELkd_node* node) {
    ++held;
    if (held > capacity) {
        reportError("Priority queue overflow.", Fatal);
    }
    // Sift up; a parent moves down only when its key is strictly greater, so equal keys stay below.
    int r = held;
    while (r > 1) {
        const int p = r / 2;
        if (slots[p].sortKey > key) {
            slots[r] = slots[p];
            r = p;
        } else {
            break;
        }
    }
    slots[r] = {key, node};
}

void QELpr_queue::dequeueNearest(double& key, QELkd_node*& node) {
    key = slots[1].sortKey;
    node = slots[1].payload;
    const Entry last = slots[held];
    --held;
    int p = 1;
    int r = 2;
    while (r <= held) {
        // On equal keys the left child is taken.
        if (r < held && slots[r].sortKey > slots[r + 1].sortKey) {
            ++r;
        }
        if (last.sortKey > slots[r].sortKey) {
            slots[p] = slots[r];
            p = r;
            r = 2 * p;
        } else {
            break;
        }
    }
    slots[p] = last;
}

namespace {

template <class Metric> struct PrioritySteps {
    static QELkd_node* split(const QELkd_split& node, double& boxDist, int power) {
        PrioritySearchState& state = prioritySearch;
        const SplitSides sides = splitSides<Metric>(node, state.priorityQuery, boxDist, power);
        if (!isSharedEmptyLeaf(sides.farChild)) {
            state.pendingCells->enqueue(sides.farDistance, sides.farChild);
        }
        return sides.nearChild;
    }

    static QELkd_node* shrink(const QELbd_shrink& node, double& boxDist, int power) {
        PrioritySearchState& state = prioritySearch;
        const ShrinkSides sides = shrinkSides(node, state.priorityQuery, boxDist, power);
        if (!isSharedEmptyLeaf(sides.farChild)) {
            state.pendingCells->enqueue(sides.farDistance, sides.farChild);
        }
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const QELkd_leaf& node, int power) {
        PrioritySearchState& state = prioritySearch;
        offerBucket<Metric>(node, state.priorityQuery, state.priorityPoints, state.priorityOrder,
                            state.priorityDim, power, *state.priorityNearest);
        // Abandoned points count as visited too.
        visitedCount += node.bucketCount;
    }
};

template <class Metric> void searchPendingCells(PrioritySearchState& state, int power) {
    QELpr_queue& pending = *state.pendingCells;
    const QELmin_k& nearest = *state.priorityNearest;
    while (pending.held > 0) {
        if (visitLimitPassed(visitedCount)) {
            return;
        }
        double boxDist;
        QELkd_node* node;
        pending.dequeueNearest(boxDist, node);
        if (slackenedCellDistance(boxDist * state.priorityErrorFactor) >= nearest.currentBound()) {
            return;
        }
        walkFrom<PrioritySteps<Metric>>(node, boxDist, power);
    }
}

void searchPriorityFrom(QELkd_node* node, double boxDist, int power) {
    withMetric(power, [&](auto metric) { walkFrom<PrioritySteps<decltype(metric)>>(node, boxDist, power); });
}

/// The thread's kept queue, emptied, with room for capacity entries.
QELpr_queue& emptiedQueue(std::unique_ptr<QELpr_queue>& queue, int capacity) {
    if (!queue || queue->capacity != capacity) {
        queue = std::make_unique<QELpr_queue>(capacity);
    }
    queue->held = 0;
    return *queue;
}

} // namespace

void QELkd_tree::searchPriority(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) {
    PrioritySearchState& state = prioritySearch;
    state.priorityErrorFactor = coordinateTerm(1.0 + eps, power);
    state.priorityDim = dimensionCount;
    state.priorityQuery = q;
    state.priorityPoints = dataPoints;
    state.priorityOrder = leafOrder();
    visitedCount = 0;
    QELmin_k& nearest = emptiedList(state.priorityNearest, k);
    // Like every empty cell, an empty root is not queued: a dump of no points can make the shared empty
    // leaf the root, and the queue, sized by the point count, would have no room for it.
    if (rootNode != nullptr && !isSharedEmptyLeaf(rootNode)) {
        emptiedQueue(state.pendingCells, dataCount)
            .enqueue(distanceToBox(q, boxLower, boxUpper, dimensionCount, power), rootNode);
        withMetric(power, [&](auto metric) { searchPendingCells<decltype(metric)>(state, power); });
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
