// The one subtree builder that kd- and bd-trees share. At every cell of more than bucketSize points it
// either shrinks (the points inside an inner box become one subtree, the cell's other points another) or
// splits with the chosen rule; without shrinking it builds exactly the kd-tree. It keeps its own stack
// of half-built nodes instead of recursing, changes the one working cell in one coordinate before each
// child and restores it afterwards, and calls the rules in the order of a depth-first build (lower
// before upper, inner before outer), which fixes pointIndex. On several threads the subtrees below the
// first levels are built side by side.
#include <qel/bdtree.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <exception>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

#include <qel/kdutil.h>
#include <qel/treebuild.h>

#include <qel/workerthreads.h>

namespace qel {

namespace {

/// True when the n >= 1 points of the range all coincide.
bool pointsCoincide(PointArray pa, IndexArray idx, int n, int dim) {
    const Point first = pa[idx[0]];
    for (int i = 1; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            if (pa[idx[i]][d] != first[d]) return false;
    return true;
}

/// True when some point's coordinate along d is NaN or infinite.
bool someNonFiniteAlong(PointArray pa, IndexArray idx, int n, int d) {
    return std::any_of(idx, idx + n, [&](int i) { return !std::isfinite(pa[i][d]); });
}

} // namespace

bool cutMakesNoProgress(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& cell, int cutDim,
                        double cutValue, int nLow) {
    // A cut at NaN (from NaN coordinates) bounds neither side's cell.
    const bool unordered = std::isnan(cutValue);
    const bool lowerIsWhole = unordered || cutValue == cell.upper[cutDim];
    const bool upperIsWhole = unordered || cutValue == cell.lower[cutDim];
    if ((nLow == n && lowerIsWhole) || (nLow == 0 && upperIsWhole)) return true;
    // NaN and infinite coordinates upset the fair rules' spreads: they would move the cut along the cell
    // by a sliver, level after level, until memory ran out.
    if ((nLow == n || nLow == 0) && someNonFiniteAlong(pa, idx, n, cutDim)) return true;
    // A cut that parts at most one point from coincident ones would come back level after level, each
    // level reading every coordinate of them: n·d² work, or a depth of thousands, for points no cut parts.
    if (n <= 2 || (nLow > 1 && nLow < n - 1)) return false;
    const bool lowerHoldsThem = nLow >= n - 1;
    return pointsCoincide(pa, lowerHoldsThem ? idx : idx + nLow, lowerHoldsThem ? nLow : n - nLow, dim);
}

namespace {

/// True when some side of inner lies strictly inside box, so that shrinking to it leaves space out.
bool cutsSomething(const QELorthRect& inner, const QELorthRect& box, int dim) {
    for (int d = 0; d < dim; ++d)
        if (inner.lower[d] > box.lower[d] || inner.upper[d] < box.upper[d]) return true;
    return false;
}

/// A range whose subtree is built apart from the nodes above it, and the leaf standing in for it.
struct DeferredRange {
    QELkd_node* standIn;               ///< a leaf of the range's points, replaced by the subtree
    IndexArray idx;                    ///< the range's indices
    int n;                             ///< its number of points
    std::unique_ptr<QELorthRect> cell; ///< its cell
};

/// Builds one subtree depth first, keeping the path of open nodes on its own stack.
class SubtreeBuilder {
public:
    SubtreeBuilder(PointArray pa, int dim, int bucketSize, SplitProcedure split, ShrinkRule shrinkRule)
        : pa(pa), dim(dim), bucketSize(bucketSize), split(split), shrinkRule(shrinkRule) {}

    /// Splits with the copied form of the rule, moving the dim coordinates from copy + i * dim (those of
    /// the point of indexBase[i]) along with the indices. Only without shrinking: the shrink tests move
    /// indices alone.
    void moveCoordinates(IndexArray base, double* copy, CopiedSplit copiedRule) {
        indexBase = base;
        coordinates = copy;
        copiedSplit = copiedRule;
    }

    /// Leaves every range of at most grain points (and more than bucketSize) for later: build puts a
    /// leaf of its points in its place, and ranges receives the range with a copy of its cell, to be
    /// built on its own and put in that leaf's place (see buildOnThreads).
    void deferRanges(int grain, std::vector<DeferredRange>& ranges) {
        deferGrain = grain;
        deferred = &ranges;
    }

    QELkd_node* build(IndexArray idx, int n, QELorthRect& cell) {
        Range next{idx, n, &cell};
        for (;;) {
            QELkd_node* done = nullptr;
            bool finished = startRange(next, done);
            while (finished) {
                if (openNodes.empty()) return done;
                OpenNode& node = openNodes.back();
                if (!node.firstBuilt) {
                    node.firstChild = done;
                    node.firstBuilt = true;
                    next = secondRange(node);
                    finished = false;
                } else {
                    done = finish(node, done);
                    openNodes.pop_back();
                }
            }
        }
    }

private:
    /// A run of the index array and the cell its subtree is built in.
    struct Range {
        IndexArray idx;
        int n;
        QELorthRect* cell;
    };

    /// A split or shrink node whose children are being built.
    struct OpenNode {
        Range range;                        ///< the node's own points and cell
        bool shrinking;                     ///< shrink node (else split node)
        int cutDim;                         ///< split: the dimension cut
        double cutValue;                    ///< split: the cutting coordinate
        double lowBound;                    ///< split: the cell's lower bound along cutDim
        double highBound;                   ///< split: the cell's upper bound along cutDim
        int firstCount;                     ///< points of the first child (lower or inner)
        std::unique_ptr<QELorthRect> inner; ///< shrink: the inner box, the inner child's cell
        QELkd_node* firstChild = nullptr;   ///< the first child, once built
        bool firstBuilt = false;            ///< the second child is being built
    };

    /// True with the leaf in leaf when the range is one. Otherwise opens the range's node, prepares the
    /// cell for the first child and replaces next by the first child's range.
    bool startRange(Range& next, QELkd_node*& leaf) {
        const Range range = next;
        if (range.n <= bucketSize || dim == 0) {
            leaf = range.n == 0 ? markSharedEmptyLeaf() : new QELkd_leaf(range.n, range.idx);
            return true;
        }
        QELorthRect& cell = *range.cell;
        if (deferred != nullptr && range.n <= deferGrain) {
            leaf = new QELkd_leaf(range.n, range.idx);
            deferred->push_back(
                {leaf, range.idx, range.n, std::make_unique<QELorthRect>(dim, cell.lower, cell.upper)});
            return true;
        }
        std::unique_ptr<QELorthRect> inner = takeBox();
        if (chooseDecomposition(pa, range.idx, range.n, dim, cell, split, shrinkRule, *inner) &&
            cutsSomething(*inner, cell, dim)) {
            const int nIn = partitionByBox(pa, range.idx, range.n, dim, *inner);
            // An inner box without points (NaN coordinates can make one) would leave the outer child
            // the same points in the same cell, and the same decision again: split instead.
            if (nIn > 0) {
                next = Range{range.idx, nIn, inner.get()};
                openNodes.push_back(OpenNode{range, true, 0, 0.0, 0.0, 0.0, nIn, std::move(inner)});
                return false;
            }
        }
        spareBoxes.push_back(std::move(inner));
        int cutDim = 0;
        double cutValue = 0.0;
        int nLow = 0;
        if (copiedSplit != nullptr)
            copiedSplit(CopiedMembers{range.idx, coordinates + (range.idx - indexBase) * dim, dim}, cell,
                        range.n, dim, cutDim, cutValue, nLow);
        else
            split(pa, range.idx, cell, range.n, dim, cutDim, cutValue, nLow);
        if (cutMakesNoProgress(pa, range.idx, range.n, dim, cell, cutDim, cutValue, nLow)) {
            leaf = new QELkd_leaf(range.n, range.idx);
            return true;
        }
        const double lowBound = cell.lower[cutDim];
        const double highBound = cell.upper[cutDim];
        cell.upper[cutDim] = cutValue;
        next = Range{range.idx, nLow, &cell};
        openNodes.push_back(OpenNode{range, false, cutDim, cutValue, lowBound, highBound, nLow, nullptr});
        return false;
    }

    /// The second child's range (upper or outer), with the cell set for it.
    Range secondRange(const OpenNode& node) {
        QELorthRect& cell = *node.range.cell;
        if (!node.shrinking) {
            cell.upper[node.cutDim] = node.highBound;
            cell.lower[node.cutDim] = node.cutValue;
        }
        return Range{node.range.idx + node.firstCount, node.range.n - node.firstCount, &cell};
    }

    /// Makes the node from its two children, with the cell back in its entry state.
    QELkd_node* finish(OpenNode& node, QELkd_node* secondChild) {
        QELorthRect& cell = *node.range.cell;
        if (!node.shrinking) {
            cell.lower[node.cutDim] = node.lowBound;
            return new QELkd_split(node.cutDim, node.cutValue, node.lowBound, node.highBound, node.firstChild,
                                   secondChild);
        }
        HalfSpace* bounds = nullptr;
        const int count = boundingHalfSpaces(*node.inner, cell, dim, bounds);
        spareBoxes.push_back(std::move(node.inner));
        return new QELbd_shrink(count, bounds, node.firstChild, secondChild);
    }

    /// A box for a shrinking decision; boxes are reused, so a build allocates only as many as shrink
    /// nodes are nested, plus one.
    std::unique_ptr<QELorthRect> takeBox() {
        if (spareBoxes.empty()) return std::make_unique<QELorthRect>(dim);
        std::unique_ptr<QELorthRect> box = std::move(spareBoxes.back());
        spareBoxes.pop_back();
        return box;
    }

    PointArray pa;
    int dim;
    int bucketSize;
    SplitProcedure split;
    ShrinkRule shrinkRule;
    std::vector<OpenNode> openNodes;                      ///< the path from the root to the current range
    std::vector<std::unique_ptr<QELorthRect>> spareBoxes; ///< boxes free for reuse
    IndexArray indexBase = nullptr;                       ///< with coordinates: the index array they follow
    double* coordinates = nullptr;                        ///< those of the points of indexBase, in its order
    CopiedSplit copiedSplit = nullptr;                    ///< the rule's copied form, or null
    int deferGrain = 0;                                   ///< with deferred: the largest range left for later
    std::vector<DeferredRange>* deferred = nullptr;       ///< where ranges left for later go, or null
};

/// Puts each range's subtree, where it was built, in the place of its stand-in below root. A walk lower
/// (inner) child first meets the stand-ins in the order the ranges were left for later.
void replaceStandIns(QELkd_node*& root, const std::vector<DeferredRange>& ranges,
                     const std::vector<QELkd_node*>& subtrees) {
    std::size_t next = 0;
    std::vector<QELkd_node**> pending{&root};
    while (!pending.empty() && next < ranges.size()) {
        QELkd_node*& slot = *pending.back();
        pending.pop_back();
        if (slot == ranges[next].standIn) {
            if (subtrees[next] != nullptr) {
                delete slot;
                slot = subtrees[next];
            }
            ++next;
        } else if (auto* split = dynamic_cast<QELkd_split*>(slot)) {
            pending.push_back(&split->upperChild);
            pending.push_back(&split->lowerChild);
        } else if (auto* shrink = dynamic_cast<QELbd_shrink*>(slot)) {
            pending.push_back(&shrink->outerChild);
            pending.push_back(&shrink->innerChild);
        }
    }
}

/// Builds the nodes over idx[0..n-1] in cell with builders from makeBuilder, on the given threads: first
/// the nodes above the ranges of at most n / (4 * threads) points, then those ranges' subtrees side by
/// side. A subtree depends on its own points and cell alone, so the tree is the one a single thread
/// builds.
template <class MakeBuilder>
QELkd_node* buildOnThreads(MakeBuilder makeBuilder, IndexArray idx, int n, QELorthRect& cell, int threads) {
    SubtreeBuilder top = makeBuilder();
    const int parts = threadsFor(threads);
    std::vector<DeferredRange> ranges;
    if (parts > 1) top.deferRanges(static_cast<int>(n / (4LL * parts)), ranges);
    QELkd_node* root = top.build(idx, n, cell);
    if (ranges.empty()) return root;
    // The largest ranges first, so that the threads end close together.
    std::vector<std::size_t> bySize(ranges.size());
    std::iota(bySize.begin(), bySize.end(), 0);
    std::stable_sort(bySize.begin(), bySize.end(),
                     [&](std::size_t a, std::size_t b) { return ranges[a].n > ranges[b].n; });
    std::vector<QELkd_node*> subtrees(ranges.size(), nullptr);
    std::atomic<std::size_t> next{0};
    std::exception_ptr error;
    try {
        runOnThreads(std::min<std::size_t>(static_cast<std::size_t>(parts), ranges.size()), [&](std::size_t) {
            SubtreeBuilder builder = makeBuilder();
            for (std::size_t i = next++; i < bySize.size(); i = next++) {
                const DeferredRange& range = ranges[bySize[i]];
                subtrees[bySize[i]] = builder.build(range.idx, range.n, *range.cell);
            }
        });
    } catch (...) {
        error = std::current_exception();
    }
    replaceStandIns(root, ranges, subtrees);
    if (error) {
        destroySubtree(root);
        std::rethrow_exception(error);
    }
    return root;
}

/// The coordinates of the tree's points in pointIndex order, one point after the other; none when the
/// tree has no point array or an index lies outside it.
std::vector<double> coordinatesInOrder(const QELkd_tree& tree) {
    const int n = tree.dataCount;
    const int dim = tree.dimensionCount;
    if (tree.dataPoints == nullptr ||
        std::any_of(tree.pointIndex, tree.pointIndex + n, [n](int index) { return index < 0 || index >= n; }))
        return {};
    std::vector<double> coordinates(static_cast<std::size_t>(n) * static_cast<std::size_t>(dim));
    for (int i = 0; i < n; ++i)
        std::copy_n(tree.dataPoints[tree.pointIndex[i]], dim,
                    coordinates.begin() + static_cast<std::ptrdiff_t>(i) * dim);
    return coordinates;
}

} // namespace

void buildTreeNodes(QELkd_tree& tree, SplitRule splitRule, ShrinkRule shrinkRule, int threads) {
    const int n = tree.dataCount;
    const int dim = tree.dimensionCount;
    if (n <= 0) return;
    QELorthRect cell(dim);
    enclosingBox(tree.dataPoints, tree.pointIndex, n, dim, cell);
    tree.boxLower = clonePoint(dim, cell.lower);
    tree.boxUpper = clonePoint(dim, cell.upper);
    const SplitProcedure split = splitProcedureFor(splitRule);
    // A kd-tree is built on a copy of the coordinates that moves along with pointIndex, so the passes
    // over each subset read its points in order.
    const CopiedSplit copiedSplit = shrinkRule == ShrinkRule::None ? copiedSplitFor(split) : nullptr;
    std::vector<double> coordinates;
    if (copiedSplit != nullptr) coordinates = coordinatesInOrder(tree);
    auto makeBuilder = [&] {
        SubtreeBuilder builder(tree.dataPoints, dim, std::max(tree.bucketSize, 1), split, shrinkRule);
        if (!coordinates.empty()) builder.moveCoordinates(tree.pointIndex, coordinates.data(), copiedSplit);
        return builder;
    };
    tree.rootNode = buildOnThreads(makeBuilder, tree.pointIndex, n, cell, threads);
    coordinates = {}; // before the addresses are made: the two together would raise the peak
    fillLeafPoints(tree);
}

QELkd_node* buildBdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& box,
                           SplitProcedure split, ShrinkRule shrinkRule) {
    return SubtreeBuilder(pa, dim, std::max(bucketSize, 1), split, shrinkRule).build(idx, n, box);
}

QELkd_node* buildKdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& cell,
                           SplitProcedure rule) {
    return buildBdSubtree(pa, idx, n, dim, bucketSize, cell, rule, ShrinkRule::None);
}

} // namespace qel
