// Standard k-nearest-neighbour search: the query's distance to the enclosing box starts a depth-first
// descent that takes the nearer child of every split node first and the farther one only while its cell
// distance, times the eps factor, is below the current k-th distance. Shrink nodes visit the nearer of
// their inner box and outer cell first. Points are abandoned as soon as their partial distance exceeds
// the k-th distance.
#include <qel/kd.h>

#include <qel/kdutil.h>

namespace qel {

thread_local NearestSearchState nearestSearch;

namespace {

template <class Metric> struct NearestSteps {
    static QELkd_node* split(const QELkd_split& node, double& cellDistance, int power) {
        NearestSearchState& state = nearestSearch;
        if (visitLimitPassed(visitedCount)) {
            return nullptr;
        }
        const SplitSides sides = splitSides<Metric>(node, state.activeQuery, cellDistance, power);
        if (!isSharedEmptyLeaf(sides.farChild)) {
            deferredVisits.push_back({sides.farChild, sides.farDistance, true});
        }
        return sides.nearChild;
    }

    /// The far cell is searched when it can still hold a point nearer than the k-th one found so far.
    static bool farStillWanted(double farDistance) {
        const NearestSearchState& state = nearestSearch;
        return slackenedCellDistance(farDistance * state.errorFactor) < state.activeNearest->currentBound();
    }

    static QELkd_node* shrink(const QELbd_shrink& node, double& boxDist, int power) {
        if (visitLimitPassed(visitedCount)) {
            return nullptr;
        }
        const ShrinkSides sides = shrinkSides(node, nearestSearch.activeQuery, boxDist, power);
        deferredVisits.push_back({sides.farChild, sides.farDistance, false});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const QELkd_leaf& node, int power) {
        NearestSearchState& state = nearestSearch;
        offerBucket<Metric>(node, state.activeQuery, state.activePoints, state.activeOrder, state.activeDim,
                            power, *state.activeNearest);
        // Abandoned points count as visited too.
        visitedCount += node.bucketCount;
    }
};

void searchNearestFrom(QELkd_node* node, double cellDistance, int power) {
    withMetric(power,
               [&](auto metric) { walkFrom<NearestSteps<decltype(metric)>>(node, cellDistance, power); });
}

} // namespace

void QELkd_tree::searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) {
    NearestSearchState& state = nearestSearch;
    state.activeDim = dimensionCount;
    state.activeQuery = q;
    state.activePoints = dataPoints;
    state.activeOrder = leafOrder();
    visitedCount = 0;
    if (dataCount < k) {
        reportError("Requesting more near neighbors than data points", Fatal);
    }
    state.errorFactor = coordinateTerm(1.0 + eps, power);
    QELmin_k& nearest = emptiedList(state.activeNearest, k);
    if (rootNode != nullptr) {
        rootNode->searchStep(distanceToBox(q, boxLower, boxUpper, dimensionCount, power), power);
    }
    copyResults(nearest, k, nnIdx, dists);
}

void QELkd_split::searchStep(double cellDistance, int power) {
    searchNearestFrom(this, cellDistance, power);
}

void QELkd_leaf::searchStep(double cellDistance, int power) {
    searchNearestFrom(this, cellDistance, power);
}

void QELbd_shrink::searchStep(double boxDist, int power) {
    searchNearestFrom(this, boxDist, power);
}

} // namespace qel
