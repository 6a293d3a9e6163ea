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
// at a distance no larger than its parent's, so these tests cover every subtree and leaf. Any search
// without a limit skips, by the same argument, a cell at the k-th distance whose points provably lie
// no nearer than it, which the cell bounds' rounding slack would let through.
#include <qel/kd.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
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
        const double bound = state.activeNearest->currentBound();
        return slackenedCellDistance(state.errorFactor.scaled(farDistance)) < bound;
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

/// The query's distance along one coordinate to [lower, upper], as distanceToBox takes it.
double gapTo(double q, double lower, double upper) {
    return q < lower ? lower - q : (q > upper ? q - upper : 0.0);
}

/// The metric's sum of the offsets' terms in coordinate order, offset raisedDim first raised to gap.
/// Sums of non-negative terms, and the terms themselves, only grow with their arguments when rounded:
/// offsets below a point's distances along each coordinate give a sum below its distance.
template <class Metric>
double offsetBound(const std::vector<double>& offsets, int power, int raisedDim, double gap) {
    double bound = 0.0;
    for (std::size_t d = 0; d < offsets.size(); ++d) {
        const double offset = static_cast<int>(d) == raisedDim && gap > offsets[d] ? gap : offsets[d];
        bound = Metric::combine(bound, Metric::term(offset, power));
    }
    return bound;
}

/// Calls bound() with the floating-point flags left as they were after it: a large offset's term can
/// overflow where no point's distance is computed.
template <class Bound> double withoutFlags(Bound bound) {
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
    const double value = bound();
    std::fesetexceptflag(&flags, FE_ALL_EXCEPT);
    return value;
}

/// True when the list is full and a cell at cellDistance comes within the rounding slack of its bound,
/// or beyond it: the slack alone would let such a cell through although its points may all lie at the
/// k-th distance or farther, as coincident points do. The offsets' sum (see exactOffsetBounds) then
/// decides: the cell is skipped when the sum reaches the k-th distance.
inline bool nearTheBound(const QELmin_k& nearest, double cellDistance) {
    // Written so that a NaN bound (NaN distances in the list) rules nothing out.
    return nearest.held == nearest.capacity &&
           cellDistance >= nearest.currentBound() * (1.0 - cellRoundingSlack);
}

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
/// per coordinate, a lower bound on the query's distance to every point of the subtree being visited,
/// from the points' extents (the image gives no bounds for points with NaN coordinates) and, under
/// cutsBoundPoints, the cuts; the metric's sum of their terms bounds the distance each of those points
/// would be computed at (see offsetBound), to the last bit except through pow. A full list takes a point
/// only below its k-th distance, so a subtree is skipped when that bound reaches it. The sum is kept up to
/// date as offsets change, but only as an estimate (its updates round); a subtree is skipped only once
/// the sum recomputed over every coordinate agrees.
template <class Metric> struct ExtentSteps {
    using Ref = int;
    using Visit = ExtentVisit;
    using Base = NearestSteps<Metric, ImageView>;
    static constexpr bool exactSum = !std::is_same_v<Metric, SumOfPowers>;

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

    static double offsetBound(int power, int raisedDim, double gap) {
        return qel::offsetBound<Metric>(nearestSearch.pointOffsets, power, raisedDim, gap);
    }

    /// True when the subtree at cellDistance whose offsets are the current ones with raisedDim raised to
    /// gap, estimated at estimate, holds no point that could enter the list now.
    static bool skipped(double cellDistance, double estimate, int raisedDim, double gap, int power) {
        const QELmin_k& nearest = *nearestSearch.activeNearest;
        if (Base::outOfReach(estimate)) {
            const double reach = offsetBound(power, raisedDim, gap);
            return exactSum ? reach >= nearest.currentBound() : Base::outOfReach(reach);
        }
        if (!exactSum || !(nearTheBound(nearest, cellDistance) || nearTheBound(nearest, estimate)))
            return false;
        return withoutFlags([&] { return offsetBound(power, raisedDim, gap); }) >= nearest.currentBound();
    }

    static int split(const ImageView& view, int node, double& cellDistance, int power) {
        NearestSearchState& state = nearestSearch;
        const ImageNode& n = view.node(node);
        const SplitSides<int> sides =
            splitSides<Metric>(view.split(node), state.activeQuery, cellDistance, power);
        const int c = n.cutDimension();
        const double q = state.activeQuery[c];
        if (!sides.farEmpty && Base::farStillWanted(sides.farDistance)) {
            double farGap = sides.nearIsLower ? n.split.upperExtent - q : q - n.split.lowerExtent;
            if (state.cutsBoundPoints) {
                const double cutGap = sides.nearIsLower ? n.split.cutValue - q : q - n.split.cutValue;
                if (cutGap > farGap) farGap = cutGap;
            }
            const double estimate = raisedEstimate(c, farGap, power);
            if (!skipped(sides.farDistance, estimate, c, farGap, power)) {
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
        if (Base::outOfReach(visit.dist) || (visit.boundTest && !Base::farStillWanted(visit.dist)))
            return false;
        if (skipped(visit.dist, visit.estimate, visit.cutDim, visit.gap, power)) return false;
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

/// A deferred visit of CutSteps: its cell's distance, the frame of its parent's cell, and, for the far
/// child of a split, the gap from the query to the cut (cutDim -1: a shrink node's child, in its
/// parent's cell).
template <class Ref> struct CutVisit {
    Ref node;
    double dist;
    double gap;
    int parentFrame;
    int cutDim;
};

/// The steps of NearestSteps under cutsBoundPoints, the cuts as a second bound for cells near the k-th
/// distance. A far child's points lie beyond its parent's cut, so the gaps to the cuts on the way from
/// the root, the largest per coordinate, and to the tree's box bound their distances along each
/// coordinate, and offsetBound their distances. Each cell entered after a deferral records its cut in a
/// frame that names its parent's frame; a cell near the bound gathers its gaps from the frames.
template <class Metric, class View> struct CutSteps {
    using Ref = typename View::Ref;
    using Visit = CutVisit<Ref>;
    using Base = NearestSteps<Metric, View>;

    /// Most frames gathered for one cell: a cell deeper in a chain of deferrals is left to the slack.
    static constexpr int gatheredFrames = 256;

    /// The offsets' sum for the cell in the frame parentFrame, then cut along cutDim at gap (cutDim -1:
    /// not cut); -infinity when that takes more than gatheredFrames frames.
    static double cutBound(int parentFrame, int cutDim, double gap, int power) {
        NearestSearchState& state = nearestSearch;
        std::vector<double>& offsets = state.pointOffsets;
        offsets.resize(static_cast<std::size_t>(state.activeDim));
        for (std::size_t d = 0; d < offsets.size(); ++d)
            offsets[d] = gapTo(state.activeQuery[d], state.activeBoxLower[d], state.activeBoxUpper[d]);
        int gathered = 0;
        for (int f = parentFrame; f >= 0; f = state.cutFrames[static_cast<std::size_t>(f)].parent) {
            if (++gathered > gatheredFrames) return -std::numeric_limits<double>::infinity();
            const CutFrame& frame = state.cutFrames[static_cast<std::size_t>(f)];
            double& offset = offsets[static_cast<std::size_t>(frame.dim)];
            if (frame.gap > offset) offset = frame.gap;
        }
        return offsetBound<Metric>(offsets, power, cutDim, gap);
    }

    /// True when that cell, at cellDistance, holds no point that could enter the list now.
    static bool skipped(double cellDistance, int parentFrame, int cutDim, double gap, int power) {
        const QELmin_k& nearest = *nearestSearch.activeNearest;
        if (!nearTheBound(nearest, cellDistance)) return false;
        const double bound = nearest.currentBound();
        return withoutFlags([&] { return cutBound(parentFrame, cutDim, gap, power); }) >= bound;
    }

    static Ref split(const View& view, Ref node, double& cellDistance, int power) {
        NearestSearchState& state = nearestSearch;
        const SplitNode<Ref> s = view.split(node);
        const SplitSides<Ref> sides = splitSides<Metric>(s, state.activeQuery, cellDistance, power);
        // A cell near the bound is tested when its turn comes, the bound being no larger then.
        if (!sides.farEmpty && Base::farStillWanted(sides.farDistance)) {
            const double q = state.activeQuery[s.cutDim];
            const double gap = sides.nearIsLower ? s.cutValue - q : q - s.cutValue;
            deferredVisits<Visit>.push_back(
                {sides.farChild, sides.farDistance, gap, state.currentFrame, s.cutDim});
        }
        return sides.nearChild;
    }

    static bool resumes(const Visit& visit, int power) {
        NearestSearchState& state = nearestSearch;
        const bool split = visit.cutDim >= 0;
        if (split ? !Base::farStillWanted(visit.dist) : state.exactUnlimited && Base::outOfReach(visit.dist))
            return false;
        if (skipped(visit.dist, visit.parentFrame, visit.cutDim, visit.gap, power)) return false;
        if (split) {
            state.cutFrames.push_back({visit.parentFrame, visit.cutDim, visit.gap});
            state.currentFrame = static_cast<int>(state.cutFrames.size()) - 1;
        } else {
            state.currentFrame = visit.parentFrame;
        }
        return true;
    }

    static Ref shrink(const View& view, Ref node, double& boxDist, int power) {
        NearestSearchState& state = nearestSearch;
        const ShrinkSides<Ref> sides = shrinkSides(view.shrink(node), state.activeQuery, boxDist, power);
        deferredVisits<Visit>.push_back({sides.farChild, sides.farDistance, 0.0, state.currentFrame, -1});
        boxDist = sides.nearDistance;
        return sides.nearChild;
    }

    static void leaf(const View& view, Ref node, int power) { Base::leaf(view, node, power); }
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

bool exactOffsetBounds(const QELkd_tree& tree, Point q, int power) {
    const MetricCase metric = metricCaseFor(metricKind, power);
    if (metric == MetricCase::SumOfPowers) return false;
    if (metric == MetricCase::MaxOfAbs && !tree.noNaNCoordinates) return false;
    return offsetsBoundDistances(q, tree.dimensionCount, power);
}

void QELkd_tree::searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) {
    NearestSearchState& state = nearestSearch;
    state.activeDim = dimensionCount;
    state.activeQuery = q;
    state.activePoints = dataPoints;
    state.activeOrder = leafOrder();
    state.activeBoxLower = boxLower;
    state.activeBoxUpper = boxUpper;
    visitedCount = 0;
    if (dataCount < k) {
        reportError("Requesting more near neighbors than data points", Fatal);
    }
    state.errorFactor = ErrorFactor::of(eps, power);
    QELmin_k& nearest = emptiedList(state.activeNearest, k);
    state.exactUnlimited =
        eps == 0.0 && maxPointsVisit == 0 && offsetsBoundDistances(q, dimensionCount, power);
    // Under a visit limit a skipped subtree would leave its visits to later ones.
    state.cutsBoundPoints = maxPointsVisit == 0 && exactOffsetBounds(*this, q, power);
    state.cutFrames.clear();
    state.currentFrame = -1;
    if (rootNode != nullptr) {
        const double rootDistance = distanceToBox(q, boxLower, boxUpper, dimensionCount, power);
        const SearchImage* image = searchImage();
        withMetric(power, [&](auto metric) {
            using Metric = decltype(metric);
            if (image == nullptr) {
                const NodeView view{state.activeOrder};
                if (state.cutsBoundPoints)
                    walkFrom<CutSteps<Metric, NodeView>>(view, rootNode, rootDistance, power);
                else
                    walkFrom<NearestSteps<Metric, NodeView>>(view, rootNode, rootDistance, power);
                return;
            }
            const ImageView view = ImageView::of(image, dimensionCount);
            if (state.exactUnlimited && imageSearched) {
                // The extents' bound only where the tree itself searches its image: a batch reading its
                // copy of a node-walking tree's points takes the node walk's steps, and so raises its flags.
                state.pointOffsets.resize(static_cast<std::size_t>(dimensionCount));
                for (int d = 0; d < dimensionCount; ++d) {
                    const auto at = static_cast<std::size_t>(d);
                    double offset = gapTo(q[d], image->pointsLower[at], image->pointsUpper[at]);
                    const double boxGap = gapTo(q[d], boxLower[d], boxUpper[d]);
                    if (state.cutsBoundPoints && boxGap > offset) offset = boxGap;
                    state.pointOffsets[at] = offset;
                }
                state.offsetChanges.clear();
                state.offsetEstimate = ExtentSteps<Metric>::offsetBound(power, -1, 0.0);
                walkFrom<ExtentSteps<Metric>>(view, view.root(), rootDistance, power);
            } else if (state.cutsBoundPoints) {
                walkFrom<CutSteps<Metric, ImageView>>(view, view.root(), rootDistance, power);
            } else {
                walkFrom<NearestSteps<Metric, ImageView>>(view, view.root(), rootDistance, power);
            }
        });
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
