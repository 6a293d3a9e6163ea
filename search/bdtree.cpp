// The bd-tree and the one subtree builder that kd- and bd-trees share. At every cell of more than
// bucketSize points the builder either shrinks (the points inside an inner box become one subtree, the
// cell's other points another) or splits with the chosen rule; without shrinking it builds exactly the
// kd-tree. It keeps its own stack of half-built nodes instead of recursing, changes the one working
// cell in one coordinate before each child and restores it afterwards, and calls the rules in the
// order of a depth-first build (lower before upper, inner before outer), which fixes pointIndex.
#include "bdtree.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "kdutil.h"

namespace qel {

namespace {

/// True when coordinate x lies outside the half-space.
bool outside(const HalfSpace& h, double x) {
    return (x - h.boundValue) * h.boundSide < 0;
}

/// True when the n >= 1 points of the range all coincide.
bool pointsCoincide(PointArray pa, IndexArray idx, int n, int dim) {
    const Point first = pa[idx[0]];
    for (int i = 1; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            if (pa[idx[i]][d] != first[d]) return false;
    return true;
}

/// True when cutting on from this cut could never end, or only after one cut per point: the cut sends
/// every point to a side whose cell is the whole cell, or it sends one of several coincident points
/// away and leaves the others the whole cell (so the same cut would come again for each of them).
bool cutMakesNoProgress(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& cell, int cutDim,
                        double cutValue, int nLow) {
    const bool lowerIsWhole = cutValue == cell.upper[cutDim];
    const bool upperIsWhole = cutValue == cell.lower[cutDim];
    if ((nLow == n && lowerIsWhole) || (nLow == 0 && upperIsWhole)) return true;
    const bool peelsOne = n > 2 && ((nLow == n - 1 && lowerIsWhole) || (nLow == 1 && upperIsWhole));
    return peelsOne && pointsCoincide(pa, idx, n, dim);
}

/// True when some side of inner lies strictly inside box, so that shrinking to it leaves space out.
bool cutsSomething(const QELorthRect& inner, const QELorthRect& box, int dim) {
    for (int d = 0; d < dim; ++d)
        if (inner.lower[d] > box.lower[d] || inner.upper[d] < box.upper[d]) return true;
    return false;
}

/// Builds one subtree depth first, keeping the path of open nodes on its own stack.
class SubtreeBuilder {
public:
    SubtreeBuilder(PointArray pa, int dim, int bucketSize, SplitProcedure split, ShrinkRule shrinkRule)
        : pa(pa), dim(dim), bucketSize(bucketSize), split(split), shrinkRule(shrinkRule) {}

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
            leaf = range.n == 0 ? sharedEmptyLeaf : new QELkd_leaf(range.n, range.idx);
            return true;
        }
        QELorthRect& cell = *range.cell;
        std::unique_ptr<QELorthRect> inner = takeBox();
        if (chooseDecomposition(pa, range.idx, range.n, dim, cell, split, shrinkRule, *inner) &&
            cutsSomething(*inner, cell, dim)) {
            const int nIn = partitionByBox(pa, range.idx, range.n, dim, *inner);
            next = Range{range.idx, nIn, inner.get()};
            openNodes.push_back(OpenNode{range, true, 0, 0.0, 0.0, 0.0, nIn, std::move(inner)});
            return false;
        }
        spareBoxes.push_back(std::move(inner));
        int cutDim = 0;
        double cutValue = 0.0;
        int nLow = 0;
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
};

} // namespace

QELbd_shrink::QELbd_shrink(int count, HalfSpace* bounds, QELkd_node* inner, QELkd_node* outer)
    : boundCount(count), bounds(bounds), innerChild(inner), outerChild(outer) {}

QELbd_shrink::~QELbd_shrink() {
    destroySubtree(innerChild);
    destroySubtree(outerChild);
    delete[] bounds;
}

double QELbd_shrink::innerDistance(Point query, int power) const {
    double dist = 0.0;
    for (int i = 0; i < boundCount; ++i) {
        const HalfSpace& h = bounds[i];
        const double x = query[h.boundDimension];
        if (outside(h, x)) dist = combineTerms(dist, coordinateTerm(x - h.boundValue, power));
    }
    return dist;
}

QELbd_tree::QELbd_tree(PointArray pa, int n, int dim, int bucketSize, SplitRule splitRule,
                       ShrinkRule shrinkRule)
    : QELkd_tree(n, dim, bucketSize) {
    dataPoints = pa;
    buildTreeNodes(*this, splitRule, shrinkRule);
}

QELbd_tree::QELbd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
                       Point upper, QELkd_node* root)
    : QELkd_tree(dataPoints, index, n, dim, bucketSize, lower, upper, root) {}

QELbd_tree::~QELbd_tree() = default;

void buildTreeNodes(QELkd_tree& tree, SplitRule splitRule, ShrinkRule shrinkRule) {
    const int n = tree.dataCount;
    const int dim = tree.dimensionCount;
    if (n <= 0) return;
    QELorthRect cell(dim);
    enclosingBox(tree.dataPoints, tree.pointIndex, n, dim, cell);
    tree.boxLower = clonePoint(dim, cell.lower);
    tree.boxUpper = clonePoint(dim, cell.upper);
    const SplitProcedure split = splitProcedureFor(splitRule);
    tree.rootNode =
        buildBdSubtree(tree.dataPoints, tree.pointIndex, n, dim, tree.bucketSize, cell, split, shrinkRule);
}

QELkd_node* buildBdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& box,
                           SplitProcedure split, ShrinkRule shrinkRule) {
    return SubtreeBuilder(pa, dim, std::max(bucketSize, 1), split, shrinkRule).build(idx, n, box);
}

bool chooseDecomposition(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                         SplitProcedure split, ShrinkRule shrinkRule, QELorthRect& inner) {
    switch (shrinkRule) {
    case ShrinkRule::None:
        return false;
    case ShrinkRule::Simple:
    case ShrinkRule::Default:
        return simpleShrinkTest(pa, idx, n, dim, box, inner);
    case ShrinkRule::Centroid:
        return centroidShrinkTest(pa, idx, n, dim, box, split, inner);
    }
    reportError("Illegal shrinking rule", Fatal);
    return false;
}

bool simpleShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                      QELorthRect& inner) {
    enclosingBox(pa, idx, n, dim, inner);
    double maxLen = 0.0;
    for (int d = 0; d < dim; ++d)
        if (inner.upper[d] - inner.lower[d] > maxLen) maxLen = inner.upper[d] - inner.lower[d];
    // A side shrinks when the gap between the points and the cell is at least half their longest side.
    const double minimumGap = maxLen * ShrinkGapFraction;
    int count = 0;
    for (int d = 0; d < dim; ++d) {
        if (box.upper[d] - inner.upper[d] < minimumGap)
            inner.upper[d] = box.upper[d];
        else
            ++count;
        if (inner.lower[d] - box.lower[d] < minimumGap)
            inner.lower[d] = box.lower[d];
        else
            ++count;
    }
    return count >= ShrinkSideMinimum;
}

bool centroidShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                        SplitProcedure split, QELorthRect& inner) {
    const int goal = static_cast<int>(n * CentroidPointFraction);
    int splits = 0;
    copyBoxCorners(dim, inner, box);
    IndexArray range = idx;
    int m = n;
    while (m > goal) {
        int cutDim = 0;
        double cutValue = 0.0;
        int nLow = 0;
        split(pa, range, inner, m, dim, cutDim, cutValue, nLow);
        // A split that keeps every point gets no closer to the goal, and neither do repeated ones that
        // peel coincident points off one at a time.
        if (nLow == 0 || nLow == m || cutMakesNoProgress(pa, range, m, dim, inner, cutDim, cutValue, nLow))
            break;
        ++splits;
        if (nLow >= m / 2) {
            inner.upper[cutDim] = cutValue;
            m = nLow;
        } else {
            inner.lower[cutDim] = cutValue;
            range += nLow;
            m -= nLow;
        }
    }
    return splits > dim * CentroidSplitFactor;
}

int partitionByBox(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& inner) {
    int l = 0;
    int r = n - 1;
    for (;;) {
        while (l < n && inner.contains(dim, pa[idx[l]]))
            ++l;
        while (r >= 0 && !inner.contains(dim, pa[idx[r]]))
            --r;
        if (l > r) break;
        std::swap(idx[l++], idx[r--]);
    }
    return l;
}

int boundingHalfSpaces(const QELorthRect& inner, const QELorthRect& outer, int dim, HalfSpace*& bounds) {
    int count = 0;
    for (int d = 0; d < dim; ++d) {
        if (inner.lower[d] > outer.lower[d]) ++count;
        if (inner.upper[d] < outer.upper[d]) ++count;
    }
    bounds = count > 0 ? new HalfSpace[count] : nullptr;
    int next = 0;
    for (int d = 0; d < dim; ++d) {
        if (inner.lower[d] > outer.lower[d]) bounds[next++] = HalfSpace{d, inner.lower[d], +1};
        if (inner.upper[d] < outer.upper[d]) bounds[next++] = HalfSpace{d, inner.upper[d], -1};
    }
    return count;
}

void boxFromHalfSpaces(const QELorthRect& outer, int dim, int count, const HalfSpace* bounds,
                       QELorthRect& inner) {
    copyBoxCorners(dim, inner, outer);
    for (int i = 0; i < count; ++i) {
        const HalfSpace& h = bounds[i];
        if (outside(h, inner.lower[h.boundDimension])) inner.lower[h.boundDimension] = h.boundValue;
        if (outside(h, inner.upper[h.boundDimension])) inner.upper[h.boundDimension] = h.boundValue;
    }
}

// Print, dump and statistics follow in their own change.
void QELbd_shrink::collectStats(int, TreeStats&, QELorthRect&) {}
void QELbd_shrink::printNode(int, std::ostream&) {}
void QELbd_shrink::dumpNode(std::ostream&) {}
QELkd_node* readDump(std::istream&, TreeKind, PointArray&, IndexArray&, int&, int&, int&, Point&, Point&) {
    return nullptr;
}
QELkd_node* readDumpNode(std::istream&, TreeKind, IndexArray, int&) {
    return nullptr;
}

} // namespace qel
