// Fixed-radius search: a depth-first descent like the standard search's, but the farther child of a split
// node is searched unless its cell distance, times the eps factor, exceeds the fixed bound. Every point
// within the bound is counted and offered to the k-best list; eps never decides whether a point counts.
#include <qel/kdfixedrad.h>

#include <qel/kd.h>
#include <qel/kdutil.h>

namespace qel {

thread_local FixedRadiusSearchState fixedRadiusSearch;

namespace {

template <class Metric> struct FixedRadiusSteps {
    static QELkd_node* split(const QELkd_split& node, double& boxDist, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        if (visitLimitPassed(state.radiusVisitedCount)) {
            return nullptr;
        }
        const SplitSides sides = splitSides<Metric>(node, state.radiusQuery, boxDist, power);
        if (!isSharedEmptyLeaf(sides.farChild)) {
            deferredVisits.push_back({sides.farChild, sides.farDistance, true});
        }
        return sides.nearChild;
    }

    /// A cell exactly at the bound (after the factor) is searched.
    static bool farStillWanted(double farDistance) {
        const FixedRadiusSearchState& state = fixedRadiusSearch;
        return !(slackenedCellDistance(farDistance * state.radiusErrorFactor) > state.radiusLimit);
    }

    static QELkd_node* shrink(const QELbd_shrink& node, double& boxDist, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        if (visitLimitPassed(state.radiusVisitedCount)) {
            return nullptr;
        }
        // No bound test here: the split nodes and leaves below make it.
        const ShrinkSides sides = shrinkSides(node, state.radiusQuery, boxDist, power);
        deferredVisits.push_back({sides.farChild, sides.farDistance, false});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const QELkd_leaf& node, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        QELmin_k& nearest = *state.radiusNearest;
        scanBucket(node, state.radiusPoints, state.radiusOrder, state.radiusDim, [&](int index, Point p) {
            double dist;
            if (distanceWithin<Metric>(state.radiusQuery, p, state.radiusDim, power, state.radiusLimit,
                                       dist)) {
                nearest.add(dist, index);
                ++state.radiusInRangeCount;
            }
        });
        // Abandoned points count as visited too.
        state.radiusVisitedCount += node.bucketCount;
    }
};

void searchFixedRadiusFrom(QELkd_node* node, double boxDist, int power) {
    withMetric(power,
               [&](auto metric) { walkFrom<FixedRadiusSteps<decltype(metric)>>(node, boxDist, power); });
}

} // namespace

int QELkd_tree::searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists,
                                  double eps, int power) {
    FixedRadiusSearchState& state = fixedRadiusSearch;
    state.radiusDim = dimensionCount;
    state.radiusQuery = q;
    state.radiusLimit = radiusBound;
    state.radiusPoints = dataPoints;
    state.radiusOrder = leafOrder();
    state.radiusVisitedCount = 0;
    state.radiusInRangeCount = 0;
    state.radiusErrorFactor = coordinateTerm(1.0 + eps, power);
    QELmin_k& nearest = emptiedList(state.radiusNearest, k);
    // The root is entered whatever its distance.
    if (rootNode != nullptr) {
        rootNode->fixedRadiusStep(distanceToBox(q, boxLower, boxUpper, dimensionCount, power), power);
    }
    copyResults(nearest, k, nnIdx, dists);
    return state.radiusInRangeCount;
}

void QELkd_split::fixedRadiusStep(double boxDist, int power) {
    searchFixedRadiusFrom(this, boxDist, power);
}

void QELkd_leaf::fixedRadiusStep(double boxDist, int power) {
    searchFixedRadiusFrom(this, boxDist, power);
}

void QELbd_shrink::fixedRadiusStep(double boxDist, int power) {
    searchFixedRadiusFrom(this, boxDist, power);
}

} // namespace qel
