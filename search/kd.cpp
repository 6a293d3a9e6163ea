// Standard k-nearest-neighbour search: the query's distance to the enclosing box starts a depth-first
// descent that takes the nearer child of every split node first and the farther one only while its cell
// distance, times the eps factor, is below the current k-th distance. Shrink nodes visit the nearer of
// their inner box and outer cell first. Points are abandoned as soon as their partial distance exceeds
// the k-th distance.
//
// An exact search without a visit limit on a tree's image also skips a far child when the extents of
// the points below it show that none of them could enter the k-best list, and a shrink node's second
// child when its cell shows it: the list, and so the answer and its tie order, come out as from the
// cell bounds alone, with fewer points visited. Every other child is entered right after its parent,
// at a distance no larger than its parent's, so these tests cover every subtree and leaf.
#include <qel/kd.h>

#include <algorithm>
#include <cmath>
#include <type_traits>

#include <qel/kdutil.h>

namespace qel {

thread_local NearestSearchState nearestSearch;

namespace {

template <class Metric, class View> struct NearestSteps {
    using Ref = typename View::Ref;
    using Visit = DeferredVisit<Ref>;

    static Ref split(const View& view, Ref node, double& cellDistance, int power) {
        if (visitLimitPassed(visitedCount)) {
            return View::none;
        }
        const SplitSides<Ref> sides =
            splitSides<Metric>(view.split(node), nearestSearch.activeQuery, cellDistance, power);
        // The bound only falls, so a far cell it rules out now stays ruled out when its turn comes.
        if (!sides.farEmpty && farStillWanted(sides.farDistance)) {
            deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, true});
        }
        return sides.nearChild;
    }

    /// A split's far cell is tested against the error bound; in an exact search a shrink node's second
    /// child too, like any cell, since its cell distance bounds its points'.
    static bool resumes(const Visit& visit, int) {
        if (visit.boundTest) return farStillWanted(visit.dist);
        return !(nearestSearch.exactUnlimited && outOfReach(visit.dist));
    }

    /// True when no point whose distance is at least lowerBound could enter the list now. Written so
    /// that a NaN bound (NaN distances in the list) rules nothing out.
    static bool outOfReach(double lowerBound) {
        const QELmin_k& nearest = *nearestSearch.activeNearest;
        return nearest.held == nearest.capacity &&
               slackenedCellDistance(lowerBound) >= nearest.currentBound();
    }

    /// The far cell is searched when it can still hold a point nearer than the k-th one found so far.
    static bool farStillWanted(double farDistance) {
        const NearestSearchState& state = nearestSearch;
        return slackenedCellDistance(farDistance * state.errorFactor) < state.activeNearest->currentBound();
    }

    static Ref shrink(const View& view, Ref node, double& boxDist, int power) {
        if (visitLimitPassed(visitedCount)) {
            return View::none;
        }
        const ShrinkSides<Ref> sides =
            shrinkSides(view.shrink(node), nearestSearch.activeQuery, boxDist, power);
        deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, false});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const View& view, Ref node, int power) {
        NearestSearchState& state = nearestSearch;
        const LeafRun run = view.leaf(node);
        offerBucket<Metric>(run, state.activeQuery, state.activePoints, state.activeDim, power,
                            *state.activeNearest);
        // Abandoned points count as visited too.
        visitedCount += run.count;
    }
};

/// A deferred visit of the exact search on an image: besides the cell distance, the subtree's gap to the
/// query along the cut (cutDim -1: none), the estimate of its offsets' bound, and the offset changes to
/// undo before it.
struct ExtentVisit {
    int node;
    double dist;
    bool boundTest;
    std::size_t changesBefore;
    int cutDim;
    double gap;
    double estimate;
};

/// The steps of NearestSteps on an image, with the points' extents as a second bound. pointOffsets hold,
/// per coordinate, a lower bound on the query's distance to every point of the subtree being visited;
/// the metric's sum of their terms bounds the distance each of those points would be computed at (sums
/// of non-negative terms and the terms themselves only grow with their arguments when rounded, and the
/// image gives no bounds for points with NaN coordinates). A full list takes a point only below its
/// k-th distance, so a subtree is skipped when that bound, less the rounding slack, reaches it. The sum
/// is kept up to date as offsets change, but only as an estimate (its updates round); a subtree is
/// skipped only once the sum recomputed over every coordinate agrees.
template <class Metric> struct ExtentSteps {
    using Ref = int;
    using Visit = ExtentVisit;
    using Base = NearestSteps<Metric, ImageView>;

    /// The estimate after one of its terms grew from oldTerm to newTerm.
    static double replaced(double estimate, double oldTerm, double newTerm) {
        if constexpr (std::is_same_v<Metric, MaxOfAbs>) {
            return Metric::combine(estimate, newTerm);
        } else {
            return estimate + (newTerm - oldTerm);
        }
    }

    /// The estimate with offset dim raised to gap, if that is a raise.
    static double raisedEstimate(int dim, double gap, int power) {
        const NearestSearchState& state = nearestSearch;
        const double offset = state.pointOffsets[static_cast<std::size_t>(dim)];
        if (!(gap > offset)) return state.offsetEstimate;
        return replaced(state.offsetEstimate, Metric::term(offset, power), Metric::term(gap, power));
    }

    static void raiseOffset(int dim, double gap, int power) {
        NearestSearchState& state = nearestSearch;
        double& offset = state.pointOffsets[static_cast<std::size_t>(dim)];
        if (gap > offset) {
            state.offsetChanges.push_back({dim, offset, state.offsetEstimate});
            state.offsetEstimate = raisedEstimate(dim, gap, power);
            offset = gap;
        }
    }

    /// The metric's sum of the offsets' terms, offset raisedDim first raised to gap.
    static double offsetBound(int power, int raisedDim, double gap) {
        const std::vector<double>& offsets = nearestSearch.pointOffsets;
        double bound = 0.0;
        for (std::size_t d = 0; d < offsets.size(); ++d) {
            const double offset = static_cast<int>(d) == raisedDim && gap > offsets[d] ? gap : offsets[d];
            bound = Metric::combine(bound, Metric::term(offset, power));
        }
        return bound;
    }

    static bool outOfReach(double lowerBound) { return Base::outOfReach(lowerBound); }

    /// True when the subtree whose offsets are the current ones with raisedDim raised to gap, estimated
    /// at estimate, is out of reach.
    static bool skipped(double estimate, int raisedDim, double gap, int power) {
        return outOfReach(estimate) && outOfReach(offsetBound(power, raisedDim, gap));
    }

    static int split(const ImageView& view, int node, double& cellDistance, int power) {
        NearestSearchState& state = nearestSearch;
        const ImageNode& n = view.node(node);
        const SplitSides<int> sides =
            splitSides<Metric>(view.split(node), state.activeQuery, cellDistance, power);
        const int c = n.cutDimension();
        const double q = state.activeQuery[c];
        if (!sides.farEmpty && Base::farStillWanted(sides.farDistance)) {
            const double farGap = sides.nearIsLower ? n.split.upperExtent - q : q - n.split.lowerExtent;
            const double estimate = raisedEstimate(c, farGap, power);
            if (!skipped(estimate, c, farGap, power)) {
                deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, true,
                                                 state.offsetChanges.size(), c, farGap, estimate});
            }
        }
        raiseOffset(c, sides.nearIsLower ? q - n.split.lowerExtent : n.split.upperExtent - q, power);
        return sides.nearChild;
    }

    static bool resumes(const Visit& visit, int power) {
        NearestSearchState& state = nearestSearch;
        while (state.offsetChanges.size() > visit.changesBefore) {
            const OffsetChange change = state.offsetChanges.back();
            state.offsetChanges.pop_back();
            state.pointOffsets[static_cast<std::size_t>(change.dim)] = change.previous;
            state.offsetEstimate = change.previousEstimate;
        }
        if (outOfReach(visit.dist) || (visit.boundTest && !Base::farStillWanted(visit.dist))) return false;
        if (skipped(visit.estimate, visit.cutDim, visit.gap, power)) return false;
        if (visit.cutDim >= 0) raiseOffset(visit.cutDim, visit.gap, power);
        return true;
    }

    static int shrink(const ImageView& view, int node, double& boxDist, int power) {
        NearestSearchState& state = nearestSearch;
        const ShrinkSides<int> sides = shrinkSides(view.shrink(node), state.activeQuery, boxDist, power);
        deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, false, state.offsetChanges.size(),
                                         -1, 0.0, state.offsetEstimate});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const ImageView& view, int node, int power) { Base::leaf(view, node, power); }
};

void searchNearestFrom(QELkd_node* node, double cellDistance, int power) {
    const NodeView view{nearestSearch.activeOrder};
    withMetric(power, [&](auto metric) {
        walkFrom<NearestSteps<decltype(metric), NodeView>>(view, node, cellDistance, power);
    });
}

/// True when bounds on the query's distance along each coordinate bound its distance to a point: every
/// term grows with its argument, and no coordinate of the query makes a difference NaN (under Chebyshev
/// a NaN term makes the maximum forget the terms before it).
bool offsetsBoundDistances(Point q, int dim, int power) {
    if (metricCaseFor(metricKind, power) == MetricCase::SumOfPowers && power < 0) return false;
    return std::all_of(q, q + dim, [](double x) { return std::isfinite(x); });
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
    state.exactUnlimited = eps == 0.0 && maxPointsVisit == 0 && offsetsBoundDistances(q, dimensionCount, power);
    if (rootNode != nullptr) {
        const double rootDistance = distanceToBox(q, boxLower, boxUpper, dimensionCount, power);
        const SearchImage* image = searchImage();
        if (image == nullptr) {
            rootNode->searchStep(rootDistance, power);
        } else if (state.exactUnlimited && imageSearched) {
            // The extents' bound only where the tree itself searches its image: a batch reading its copy
            // of a node-walking tree's points takes the node walk's steps, and so raises its flags.
            state.pointOffsets.resize(static_cast<std::size_t>(dimensionCount));
            for (int d = 0; d < dimensionCount; ++d) {
                const double lower = image->pointsLower[static_cast<std::size_t>(d)];
                const double upper = image->pointsUpper[static_cast<std::size_t>(d)];
                state.pointOffsets[static_cast<std::size_t>(d)] =
                    q[d] < lower ? lower - q[d] : (q[d] > upper ? q[d] - upper : 0.0);
            }
            state.offsetChanges.clear();
            const ImageView view = ImageView::of(image, dimensionCount);
            withMetric(power, [&](auto metric) {
                state.offsetEstimate = ExtentSteps<decltype(metric)>::offsetBound(power, -1, 0.0);
                walkFrom<ExtentSteps<decltype(metric)>>(view, view.root(), rootDistance, power);
            });
        } else {
            const ImageView view = ImageView::of(image, dimensionCount);
            withMetric(power, [&](auto metric) {
                walkFrom<NearestSteps<decltype(metric), ImageView>>(view, view.root(), rootDistance, power);
            });
        }
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
