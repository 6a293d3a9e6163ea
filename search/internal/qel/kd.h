// Standard k-nearest-neighbour search of a kd- or bd-tree: depth first, nearer child first, the
// farther child only when its cell can still hold a closer point (allowing for eps).
//
// Also the machinery the three tree searches (standard, priority, fixed radius) share. Each search
// keeps its state in one thread-local struct and runs its node steps through `walkFrom`, which turns
// every step's last call into an iteration: degenerate data builds chains of thousands of split nodes
// whose other child is the shared empty leaf, and one nested call per level would overflow the stack.
// The metric is chosen once when a walk starts; the steps below are templates over its policy, and over
// the view they walk: a tree's compact image (kdimage.h), or the node objects themselves for the node
// steps and for a tree searched without an image.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <typeinfo>
#include <vector>

#include <qel/bdtree.h>
#include <qel/kdimage.h>
#include <qel/kdtree.h>

namespace qel {

/// A raise of one coordinate's offset, undone when the search leaves the subtree it was made for.
struct OffsetChange {
    int dim;
    double previous;
    double previousEstimate; ///< offsetEstimate before the raise
};

/// A cell the standard search entered under cutsBoundPoints after deferring it: the far child of a
/// split, which its parent's cell, cut along dim, leaves at gap from the query.
struct CutFrame {
    int parent; ///< the frame of the parent's cell, -1 for the root's
    int dim;
    double gap;
};

/// State of the running standard search; one per thread, reset at the search's entry.
struct NearestSearchState {
    int activeDim = 0;                       ///< the tree's dimensionCount
    Point activeQuery = nullptr;             ///< the query point
    PointArray activePoints = nullptr;       ///< the tree's dataPoints
    Point activeBoxLower = nullptr;          ///< the tree's boxLower
    Point activeBoxUpper = nullptr;          ///< the tree's boxUpper
    LeafPointOrder activeOrder;              ///< the tree's points in leaf order
    ErrorFactor errorFactor;                 ///< of eps: a far cell is searched only while its distance
                                             ///< times this is below the k-th distance
    std::unique_ptr<QELmin_k> activeNearest; ///< the k best so far; kept between searches, emptied at entry
    bool exactUnlimited = false;             ///< eps 0, no visit limit, distances bounded by cell distances:
                                             ///< a deferred cell that cannot beat a full list is skipped
    bool cutsBoundPoints = false;            ///< no visit limit and exactOffsetBounds: the cuts' gaps decide
                                             ///< about cells near the k-th distance
    std::vector<CutFrame> cutFrames;         ///< cutsBoundPoints: the frames of the cells entered so far
    int currentFrame = -1;                   ///< the frame of the cell being visited
    std::vector<double> pointOffsets;        ///< exact search on an image: per coordinate, a lower bound on
                                             ///< the query's distance to every point of the current subtree
                                             ///< (also the scratch of cutsBoundPoints' bound)
    std::vector<OffsetChange> offsetChanges; ///< the raises of pointOffsets below the subtrees still open
    double offsetEstimate = 0.0;             ///< the metric's sum of the pointOffsets' terms, as updated
};
extern thread_local NearestSearchState nearestSearch;

/// The kind of a node object.
inline NodeKind kindOf(const QELkd_node& node) {
    const std::type_info& type = typeid(node);
    if (type == typeid(QELkd_split)) {
        return NodeKind::Split;
    }
    return type == typeid(QELkd_leaf) ? NodeKind::Leaf : NodeKind::Shrink;
}

/// A split node's fields as the steps read them, Ref naming a node in the walked view.
template <class Ref> struct SplitNode {
    int cutDim;
    double cutValue;
    double cellLower;
    double cellUpper;
    Ref lowerChild;
    Ref upperChild;
    bool lowerEmpty; ///< lowerChild is the shared empty leaf
    bool upperEmpty; ///< upperChild is the shared empty leaf
};

/// A shrink node's fields as the steps read them.
template <class Ref> struct ShrinkNode {
    const HalfSpace* bounds;
    int boundCount;
    Ref innerChild;
    Ref outerChild;
    bool innerEmpty; ///< innerChild is the shared empty leaf
    bool outerEmpty; ///< outerChild is the shared empty leaf
};

/// A leaf's points: count indices, and their addresses in the same order or null (then the addresses
/// are looked up in the tree's points), or their coordinates one point after the other.
struct LeafRun {
    int count;
    const int* indices;
    const Point* addresses;
    const double* coordinates; ///< null unless the tree copies its points in leaf order
};

/// The node objects as the searches walk them: the node steps, and trees searched without an image.
struct NodeView {
    using Ref = QELkd_node*;
    static constexpr Ref none = nullptr;
    LeafPointOrder order;

    static bool present(Ref node) { return node != nullptr; }
    static NodeKind kind(Ref node) { return kindOf(*node); }
    static SplitNode<Ref> split(Ref node) {
        const auto& s = static_cast<const QELkd_split&>(*node);
        return {s.splitDimension,
                s.splitValue,
                s.cellLower,
                s.cellUpper,
                s.lowerChild,
                s.upperChild,
                isSharedEmptyLeaf(s.lowerChild),
                isSharedEmptyLeaf(s.upperChild)};
    }
    static ShrinkNode<Ref> shrink(Ref node) {
        const auto& s = static_cast<const QELbd_shrink&>(*node);
        return {s.bounds,
                s.boundCount,
                s.innerChild,
                s.outerChild,
                isSharedEmptyLeaf(s.innerChild),
                isSharedEmptyLeaf(s.outerChild)};
    }
    LeafRun leaf(Ref node) const {
        const auto& l = static_cast<const QELkd_leaf&>(*node);
        return {l.bucketCount, l.bucketIndices, order.of(l), nullptr};
    }
};

/// A tree's compact image as the searches walk it. A split or shrink node is named by its position, a
/// leaf by -2 minus its place in the leaves. A node's first child is a leaf named by link, or the node
/// right after it. Its second child is the leaf after that leaf, or the leaf named by link, or when a
/// node: the one right after it if the first child is a leaf (no node lies between them), else the one
/// at link.
struct ImageView {
    using Ref = int;
    static constexpr Ref none = -1;
    const SearchImage* image;
    std::size_t dimension;     ///< coordinates per point
    const double* coordinates; ///< the points' coordinates in leaf order, or null: they are read in place

    /// The view of image, reading the image's copy of the coordinates or the thread's scratch copy if
    /// there is one.
    static ImageView of(const SearchImage* image, int dim) {
        const double* copy = !image->leafCoordinates.empty()     ? image->leafCoordinates.data()
                             : scratchCoordinates.image == image ? scratchCoordinates.coordinates
                                                                 : nullptr;
        return {image, static_cast<std::size_t>(dim), copy};
    }

    static Ref leafRef(int leaf) { return -2 - leaf; }
    static Ref firstChild(const ImageNode& n, Ref position) {
        return n.firstIsLeaf() ? leafRef(n.link) : position + 1;
    }
    static Ref secondChild(const ImageNode& n, Ref position) {
        if (n.secondIsLeaf()) return leafRef(n.firstIsLeaf() ? n.link + 1 : n.link);
        return n.firstIsLeaf() ? position + 1 : n.link;
    }

    Ref root() const { return image->rootIsLeaf ? leafRef(0) : 0; }
    static bool present(Ref ref) { return ref != none; }
    const ImageNode& node(Ref position) const { return image->nodes[static_cast<std::size_t>(position)]; }
    NodeKind kind(Ref ref) const { return ref < none ? NodeKind::Leaf : node(ref).kind(); }
    SplitNode<Ref> split(Ref position) const {
        const ImageNode& n = node(position);
        return {n.cutDimension(),        n.split.cutValue,         n.split.cellLower, n.split.cellUpper,
                firstChild(n, position), secondChild(n, position), n.firstIsEmpty(),  n.secondIsEmpty()};
    }
    ShrinkNode<Ref> shrink(Ref position) const {
        const ImageNode& n = node(position);
        return {image->bounds.data() + n.run.first, n.run.count,      firstChild(n, position),
                secondChild(n, position),           n.firstIsEmpty(), n.secondIsEmpty()};
    }
    LeafRun leaf(Ref ref) const {
        const ImageLeaf& l = image->leaves[static_cast<std::size_t>(-2 - ref)];
        const double* first =
            coordinates == nullptr ? nullptr : coordinates + static_cast<std::size_t>(l.first) * dimension;
        return {l.count, image->leafIndices + l.first, image->leafPoints + l.first, first};
    }
};

/// A visit put off until the subtree entered before it is done: the far child of a split, made only if
/// the bound test (Steps::resumes) still lets it by then (the near side may have tightened the bound), or
/// the second child of a shrink, always made. Keeping them here instead of in nested calls keeps the
/// stack flat on trees of any depth.
template <class Ref> struct DeferredVisit {
    Ref node;
    double dist;
    bool boundTest;
};

/// The calling thread's deferred visits of one kind.
template <class Visit> inline thread_local std::vector<Visit> deferredVisits;

/// Runs a search's steps from node down, depth first. Steps::split and Steps::shrink do their node's
/// work, may defer the visit of one child, and return the child to enter now (updating dist to that
/// child's cell distance), or none; Steps::leaf ends a descent, after which the latest deferred visit
/// resumes if Steps::resumes lets it.
template <class Steps, class View>
void walkFrom(const View& view, typename View::Ref node, double dist, int power) {
    auto& deferred = deferredVisits<typename Steps::Visit>;
    const std::size_t outerVisits = deferred.size();
    for (;;) {
        while (view.present(node)) {
            switch (view.kind(node)) {
            case NodeKind::Split:
                node = Steps::split(view, node, dist, power);
                break;
            case NodeKind::Shrink:
                node = Steps::shrink(view, node, dist, power);
                break;
            case NodeKind::Leaf:
                Steps::leaf(view, node, power);
                node = View::none;
                break;
            }
        }
        if (deferred.size() == outerVisits) return;
        const typename Steps::Visit next = deferred.back();
        deferred.pop_back();
        if (!Steps::resumes(next, power)) continue;
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

/// True when lower bounds on the query's distance to a set of points along each coordinate, their terms
/// combined in coordinate order, bound every one of those points' distances as computed, to the last
/// bit: the metric's terms grow with their arguments when rounded (absolute values, squares and maxima
/// do; pow need not), no coordinate of the query is NaN or infinite, and under Chebyshev no point has a
/// NaN coordinate, which would make the maximum forget the terms before it (under a sum it makes the
/// distance NaN, which never enters a full list).
bool exactOffsetBounds(const QELkd_tree& tree, Point q, int power);

/// A split node seen from the query: the child on the query's side (a query on the cut belongs to the
/// upper side), the other child, and the distance to the other child's cell.
template <class Ref> struct SplitSides {
    Ref nearChild;
    Ref farChild;
    double farDistance;
    bool nearIsLower;
    bool farEmpty; ///< farChild is the shared empty leaf
};

template <class Metric, class Ref>
SplitSides<Ref> splitSides(const SplitNode<Ref>& node, Point query, double cellDistance, int power) {
    const double c = query[node.cutDim];
    const double cutDiff = c - node.cutValue;
    const bool nearIsLower = cutDiff < 0;
    double boxDiff = nearIsLower ? node.cellLower - c : c - node.cellUpper;
    // boxDiff is positive only when the query lies outside the cell along the cut dimension; that
    // contribution to cellDistance gives way to the distance to the cut.
    if (boxDiff < 0) {
        boxDiff = 0.0;
    }
    const double farDistance =
        Metric::combine(cellDistance, Metric::term(cutDiff, power) - Metric::term(boxDiff, power));
    if (nearIsLower) return {node.lowerChild, node.upperChild, farDistance, true, node.upperEmpty};
    return {node.upperChild, node.lowerChild, farDistance, false, node.lowerEmpty};
}

/// A shrink node seen from the query: the child to visit first (the inner one unless the inner box is
/// strictly farther than the cell) and the other, each with its cell distance. The outer child's cell is
/// the node's own.
template <class Ref> struct ShrinkSides {
    Ref nearChild;
    double nearDistance;
    Ref farChild;
    double farDistance;
    bool farEmpty; ///< farChild is the shared empty leaf
};

template <class Ref>
ShrinkSides<Ref> shrinkSides(const ShrinkNode<Ref>& node, Point query, double boxDist, int power) {
    const double inDist = innerBoxDistance(node.bounds, node.boundCount, query, power);
    if (inDist > boxDist) {
        return {node.outerChild, boxDist, node.innerChild, inDist, node.innerEmpty};
    }
    return {node.innerChild, inDist, node.outerChild, boxDist, node.outerEmpty};
}

/// The early-termination test made on entry to split and shrink nodes: visited exceeds a non-zero limit.
inline bool visitLimitPassed(int visited) {
    return maxPointsVisit != 0 && visited > maxPointsVisit;
}

/// Sets dist to the distance from query to p and returns true, or returns false as soon as the partial
/// distance exceeds bound (a distance equal to bound is kept).
template <class Metric>
bool distanceWithin(Point query, const double* p, int dim, int power, double bound, double& dist) {
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

/// Calls visit(index, coordinates) for the leaf's points in bucket order. With their addresses in leaf
/// order, the loads of all the points are started first: the distance loops end at data-dependent
/// coordinates, and a mispredicted end would otherwise throw away the loads of later points under way.
/// Copied coordinates lie side by side and need no help.
template <class Visit> void scanBucket(const LeafRun& leaf, PointArray points, int dim, Visit&& visit) {
    if (leaf.coordinates != nullptr) {
        for (int i = 0; i < leaf.count; ++i) {
            visit(leaf.indices[i], leaf.coordinates + static_cast<std::size_t>(i) * dim);
        }
        return;
    }
    if (leaf.addresses == nullptr) {
        for (int i = 0; i < leaf.count; ++i) {
            visit(leaf.indices[i], points[leaf.indices[i]]);
        }
        return;
    }
#if defined(__GNUC__)
    if (dim > 0) {
        const std::size_t lastByte = static_cast<std::size_t>(dim) * sizeof(double) - 1;
        for (int i = 0; i < leaf.count; ++i) {
            const char* first = reinterpret_cast<const char*>(leaf.addresses[i]);
            __builtin_prefetch(first);
            __builtin_prefetch(first + lastByte);
        }
    }
#endif
    for (int i = 0; i < leaf.count; ++i) {
        visit(leaf.indices[i], leaf.addresses[i]);
    }
}

/// Offers count points lying side by side from coordinates on, as offerBucket does. Four points are
/// summed side by side, each in its own coordinate order, so that their additions overlap. They are
/// tested against the bound at the group's start (which can only be larger than later ones) every four
/// coordinates, and offered one by one after a last test against the bound of the moment; a point is
/// thus skipped exactly when one of its partial distances exceeds that bound, as in distanceWithin.
template <class Metric>
void offerSideBySide(const double* coordinates, const int* indices, int count, Point query, int dim,
                     int power, QELmin_k& nearest) {
    constexpr int group = 4;
    constexpr int block = 4;
    const auto stride = static_cast<std::size_t>(dim);
    for (int first = 0; first < count; first += group) {
        const int size = std::min(group, count - first);
        const double groupBound = nearest.currentBound();
        const double* p[group];
        double partial[group] = {0.0, 0.0, 0.0, 0.0};
        double peak[group] = {0.0, 0.0, 0.0, 0.0}; ///< the largest partial distance so far
        for (int g = 0; g < group; ++g) {
            p[g] = coordinates + static_cast<std::size_t>(first + std::min(g, size - 1)) * stride;
        }
        auto addTerm = [&](int d) {
            for (int g = 0; g < group; ++g) {
                partial[g] = Metric::combine(partial[g], Metric::term(query[d] - p[g][d], power));
                peak[g] = partial[g] > peak[g] ? partial[g] : peak[g];
            }
        };
        bool anyWithin = true;
        int d = 0;
        for (; d + block <= dim && anyWithin; d += block) {
            for (int j = 0; j < block; ++j) {
                addTerm(d + j);
            }
            anyWithin = false;
            for (int g = 0; g < group; ++g) {
                anyWithin |= !(peak[g] > groupBound);
            }
        }
        for (; anyWithin && d < dim; ++d) {
            addTerm(d);
        }
        for (int g = 0; g < size; ++g) {
            if (!(peak[g] > nearest.currentBound())) nearest.add(partial[g], indices[first + g]);
        }
    }
}

/// Offers the leaf's points, in bucket order, to the k-best list, skipping those already beyond its bound.
template <class Metric>
void offerBucket(const LeafRun& leaf, Point query, PointArray points, int dim, int power, QELmin_k& nearest) {
    if (leaf.coordinates != nullptr) {
        offerSideBySide<Metric>(leaf.coordinates, leaf.indices, leaf.count, query, dim, power, nearest);
        return;
    }
    double bound = nearest.currentBound();
    scanBucket(leaf, points, dim, [&](int index, const double* p) {
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
