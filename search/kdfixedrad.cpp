// Fixed-radius search: a depth-first descent like the standard search's, but the farther child of a split
// node is searched unless its cell distance, times the eps factor, exceeds the fixed bound. Every point
// within the bound is counted and offered to the k-best list; eps never decides whether a point counts.
#include <qel/kdfixedrad.h>

#include <qel/kd.h>
#include <qel/kdutil.h>

namespace qel {

thread_local FixedRadiusSearchState fixedRadiusSearch;

namespace {

template <class Metric, class View> struct FixedRadiusSteps {
    using Ref = typename View::Ref;
    using Visit = DeferredVisit<Ref>;

    static Ref split(const View& view, Ref node, double& boxDist, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        if (visitLimitPassed(state.radiusVisitedCount)) {
            return View::none;
        }
        const SplitSides<Ref> sides = splitSides<Metric>(view.split(node), state.radiusQuery, boxDist, power);
        // The bound is fixed: a far cell it rules out now is ruled out when its turn comes.
        if (!sides.farEmpty && resumes({sides.farChild, sides.farDistance, true}, power)) {
            deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, true});
        }
        return sides.nearChild;
    }

    /// A cell exactly at the bound (after the factor) is searched.
    static bool resumes(const Visit& visit, int) {
        const FixedRadiusSearchState& state = fixedRadiusSearch;
        return !visit.boundTest ||
               !(slackenedCellDistance(state.radiusErrorFactor.scaled(visit.dist)) > state.radiusLimit);
    }

    static Ref shrink(const View& view, Ref node, double& boxDist, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        if (visitLimitPassed(state.radiusVisitedCount)) {
            return View::none;
        }
        // No bound test here: the split nodes and leaves below make it.
        const ShrinkSides<Ref> sides = shrinkSides(view.shrink(node), state.radiusQuery, boxDist, power);
        deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, false});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const View& view, Ref node, int power) {
        FixedRadiusSearchState& state = fixedRadiusSearch;
        QELmin_k& nearest = *state.radiusNearest;
        const LeafRun run = view.leaf(node);
        scanBucket(run, state.radiusPoints, state.radiusDim, [&](int index, const double* p) {
            double dist;
            if (distanceWithin<Metric>(state.radiusQuery, p, state.radiusDim, power, state.radiusLimit,
                                       dist)) {
                nearest.add(dist, index);
                ++state.radiusInRangeCount;
            }
        });
        // Abandoned points count as visited too.
        state.radiusVisitedCount += run.count;
    }
};

template <class View>
void searchFixedRadiusFrom(const View& view, typename View::Ref node, double boxDist, int power) {
    withMetric(power, [&](auto metric) {
        walkFrom<FixedRadiusSteps<decltype(metric), View>>(view, node, boxDist, power);
    });
}

void searchFixedRadiusFrom(QELkd_node* node, double boxDist, int power) {
    searchFixedRadiusFrom(NodeView{fixedRadiusSearch.radiusOrder}, node, boxDist, power);
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
    state.radiusErrorFactor = ErrorFactor::of(eps, power);
    QELmin_k& nearest = emptiedList(state.radiusNearest, k);
    // The root is entered whatever its distance.
    if (rootNode != nullptr) {
        const double rootDistance = distanceToBox(q, boxLower, boxUpper, dimensionCount, power);
        if (const SearchImage* image = searchImage()) {
            const ImageView view = ImageView::of(image, dimensionCount);
            searchFixedRadiusFrom(view, view.root(), rootDistance, power);
        } else {
            rootNode->fixedRadiusStep(rootDistance, power);
        }
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
