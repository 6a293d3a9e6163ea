// Standard k-nearest-neighbour search of a kd- or bd-tree: depth first, nearer child first, the
// farther child only when its cell can still hold a closer point (allowing for eps).
//
// Also the machinery the three tree searches (standard, priority, fixed radius) share. Each search
// keeps its state in one thread-local struct and runs its node steps through `walkFrom`, which turns
// every step's last call into an iteration: degenerate data builds chains of thousands of split nodes
// whose other child is the shared empty leaf, and one nested call per level would overflow the stack.
// The metric is chosen once when a walk starts; the steps below are templates over its policy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <typeinfo>
#include <vector>

#include <qel/bdtree.h>
#include <qel/kdtree.h>

namespace qel {

/// State of the running standard search; one per thread, reset at the search's entry.
struct NearestSearchState {
    int activeDim = 0;                       ///< the tree's dimensionCount
    Point activeQuery = nullptr;             ///< the query point
    PointArray activePoints = nullptr;       ///< the tree's dataPoints
    LeafPointOrder activeOrder;              ///< the tree's points in leaf order
    double errorFactor = 1.0;                ///< coordinateTerm(1 + eps, power): a far cell is searched only
                                             ///< while its distance times this is below the k-th distance
    std::unique_ptr<QELmin_k> activeNearest; ///< the k best so far; kept between searches, emptied at entry
};
extern thread_local NearestSearchState nearestSearch;

/// The three node kinds of the trees. Every node is one of them.
enum class NodeKind { Split, Leaf, Shrink };

inline NodeKind kindOf(const QELkd_node& node) {
    const std::type_info& type = typeid(node);
    if (type == typeid(QELkd_split)) {
        return NodeKind::Split;
    }
    return type == typeid(QELkd_leaf) ? NodeKind::Leaf : NodeKind::Shrink;
}

/// A visit put off until the subtree entered before it is done: the far child of a split, made only if
/// Steps::farStillWanted(dist) holds by then (the near side may have tightened the bound), or the second
/// child of a shrink, always made. Keeping them here instead of in nested calls keeps the stack flat on
/// trees of any depth.
struct DeferredVisit {
    QELkd_node* node;
    double dist;
    bool boundTest;
};
inline thread_local std::vector<DeferredVisit> deferredVisits;

/// Runs a search's steps from node down, depth first. Steps::split and Steps::shrink do their node's
/// work, may defer the visit of one child, and return the child to enter now (updating dist to that
/// child's cell distance), or null; Steps::leaf ends a descent, after which the latest deferred visit
/// resumes.
template <class Steps> void walkFrom(QELkd_node* node, double dist, int power) {
    std::vector<DeferredVisit>& deferred = deferredVisits;
    const std::size_t outerVisits = deferred.size();
    for (;;) {
        while (node != nullptr) {
            switch (kindOf(*node)) {
            case NodeKind::Split:
                node = Steps::split(static_cast<QELkd_split&>(*node), dist, power);
                break;
            case NodeKind::Shrink:
                node = Steps::shrink(static_cast<QELbd_shrink&>(*node), dist, power);
                break;
            case NodeKind::Leaf:
                Steps::leaf(static_cast<QELkd_leaf&>(*node), power);
                node = nullptr;
                break;
            }
        }
        if (deferred.size() == outerVisits) return;
        const DeferredVisit next = deferred.back();
        deferred.pop_back();
        if constexpr (requires { Steps::farStillWanted(next.dist); }) {
            if (next.boundTest && !Steps::farStillWanted(next.dist)) continue;
        }
        node = next.node;
        dist = next.dist;
    }
}

/// A far cell's distance is built up step by step from its ancestors' and can round a few units in the
/// last place above the distance of a point lying on the cell's face (duplicates, sliding cuts and large
/// coordinates put points there). Cells are pruned only beyond this relative slack, so such a point is
/// still found; a cell at the bound itself holds nothing that could displace a held point.
inline constexpr double cellRoundingSlack = 1e-10;

/// A cell distance (already times the eps factor) as compared with a bound. The distance is reduced
/// rather than the bound raised, which would overflow at `unboundedDistance` and raise the overflow flag.
inline double slackenedCellDistance(double scaledDistance) {
    return scaledDistance * (1.0 - cellRoundingSlack);
}

/// A split node seen from the query: the child on the query's side (a query on the cut belongs to the
/// upper side), the other child, and the distance to the other child's cell.
struct SplitSides {
    QELkd_node* nearChild;
    QELkd_node* farChild;
    double farDistance;
};

template <class Metric>
SplitSides splitSides(const QELkd_split& node, Point query, double cellDistance, int power) {
    const double c = query[node.splitDimension];
    const double cutDiff = c - node.splitValue;
    QELkd_node* nearChild;
    QELkd_node* farChild;
    double boxDiff;
    if (cutDiff < 0) {
        nearChild = node.lowerChild;
        farChild = node.upperChild;
        boxDiff = node.cellLower - c;
    } else {
        nearChild = node.upperChild;
        farChild = node.lowerChild;
        boxDiff = c - node.cellUpper;
    }
    // boxDiff is positive only when the query lies outside the cell along the cut dimension; that
    // contribution to cellDistance gives way to the distance to the cut.
    if (boxDiff < 0) {
        boxDiff = 0.0;
    }
    const double farDistance =
        Metric::combine(cellDistance, Metric::term(cutDiff, power) - Metric::term(boxDiff, power));
    return {nearChild, farChild, farDistance};
}

/// A shrink node seen from the query: the child to visit first (the inner one unless the inner box is
/// strictly farther than the cell) and the other, each with its cell distance. The outer child's cell is
/// the node's own.
struct ShrinkSides {
    QELkd_node* nearChild;
    double nearDistance;
    QELkd_node* farChild;
    double farDistance;
};

inline ShrinkSides shrinkSides(const QELbd_shrink& node, Point query, double boxDist, int power) {
    const double inDist = node.innerDistance(query, power);
    if (inDist > boxDist) {
        return {node.outerChild, boxDist, node.innerChild, inDist};
    }
    return {node.innerChild, inDist, node.outerChild, boxDist};
}

/// The early-termination test made on entry to split and shrink nodes: visited exceeds a non-zero limit.
inline bool visitLimitPassed(int visited) {
    return maxPointsVisit != 0 && visited > maxPointsVisit;
}

/// Sets dist to the distance from query to p and returns true, or returns false as soon as the partial
/// distance exceeds bound (a distance equal to bound is kept).
template <class Metric>
bool distanceWithin(Point query, Point p, int dim, int power, double bound, double& dist) {
    double partial = 0.0;
    for (int d = 0; d < dim; ++d) {
        partial = Metric::combine(partial, Metric::term(query[d] - p[d], power));
        if (partial > bound) {
            return false;
        }
    }
    dist = partial;
    return true;
}

/// Calls visit(index, point) for the leaf's points in bucket order. With the tree's addresses in leaf
/// order, the loads of all the points are started first: the distance loops end at data-dependent
/// coordinates, and a mispredicted end would otherwise throw away the loads of later points under way.
template <class Visit>
void scanBucket(const QELkd_leaf& leaf, PointArray points, const LeafPointOrder& order, int dim,
                Visit&& visit) {
    const Point* addresses = order.of(leaf);
    if (addresses == nullptr) {
        for (int i = 0; i < leaf.bucketCount; ++i) {
            visit(leaf.bucketIndices[i], points[leaf.bucketIndices[i]]);
        }
        return;
    }
#if defined(__GNUC__)
    if (dim > 0) {
        const std::size_t lastByte = static_cast<std::size_t>(dim) * sizeof(double) - 1;
        for (int i = 0; i < leaf.bucketCount; ++i) {
            const char* first = reinterpret_cast<const char*>(addresses[i]);
            __builtin_prefetch(first);
            __builtin_prefetch(first + lastByte);
        }
    }
#endif
    for (int i = 0; i < leaf.bucketCount; ++i) {
        visit(leaf.bucketIndices[i], addresses[i]);
    }
}

/// Offers the leaf's points, in bucket order, to the k-best list, skipping those already beyond its bound.
template <class Metric>
void offerBucket(const QELkd_leaf& leaf, Point query, PointArray points, const LeafPointOrder& order, int dim,
                 int power, QELmin_k& nearest) {
    double bound = nearest.currentBound();
    scanBucket(leaf, points, order, dim, [&](int index, Point p) {
        double dist;
        if (distanceWithin<Metric>(query, p, dim, power, bound, dist)) {
            nearest.add(dist, index);
            bound = nearest.currentBound();
        }
    });
}

/// Writes slots 0..k-1 of the results; a null array is not written.
inline void copyResults(const QELmin_k& nearest, int k, IndexArray nnIdx, DistArray dists) {
    for (int i = 0; i < k; ++i) {
        if (dists != nullptr) {
            dists[i] = nearest.keyAt(i);
        }
        if (nnIdx != nullptr) {
            nnIdx[i] = nearest.payloadAt(i);
        }
    }
}

} // namespace qel
