// The bd-tree and the one subtree builder that kd- and bd-trees share. At every cell of more than
// bucketSize points the builder either shrinks (the points inside an inner box become one subtree, the
// cell's other points another) or splits with the chosen rule; without shrinking it builds exactly the
// kd-tree. It keeps its own stack of half-built nodes instead of recursing, changes the one working
// cell in one coordinate before each child and restores it afterwards, and calls the rules in the
// order of a depth-first build (lower before upper, inner before outer), which fixes pointIndex.
// Also the dump writer and reader of kd- and bd-trees; both walk the nodes without recursion.
#include <qel/bdtree.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <ios>
#include <locale>
#include <memory>
#include <numeric>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <qel/kdutil.h>

#include <qel/workerthreads.h>

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

/// True when some point's coordinate along d is NaN or infinite.
bool someNonFiniteAlong(PointArray pa, IndexArray idx, int n, int d) {
    return std::any_of(idx, idx + n, [&](int i) { return !std::isfinite(pa[i][d]); });
}

/// True when cutting on from this cut could never end, or only after one cut per point: the cut sends
/// every point to a side whose cell is the whole cell, or to one side along a dimension where some
/// point's coordinate is NaN or infinite, or it sends one of several coincident points away and leaves the
/// others the whole cell (so the same cut would come again for each of them).
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
    const bool peelsOne = n > 2 && ((nLow == n - 1 && lowerIsWhole) || (nLow == 1 && upperIsWhole));
    return peelsOne && pointsCoincide(pa, idx, n, dim);
}

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
            leaf = range.n == 0 ? sharedEmptyLeaf : new QELkd_leaf(range.n, range.idx);
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

} // namespace

QELbd_shrink::QELbd_shrink(int count, HalfSpace* bounds, QELkd_node* inner, QELkd_node* outer)
    : boundCount(count), bounds(bounds), innerChild(inner), outerChild(outer) {}

QELbd_shrink::~QELbd_shrink() {
    destroySubtree(innerChild);
    destroySubtree(outerChild);
    delete[] bounds;
}

double innerBoxDistance(const HalfSpace* bounds, int count, Point query, int power) {
    double dist = 0.0;
    for (int i = 0; i < count; ++i) {
        const HalfSpace& h = bounds[i];
        const double x = query[h.boundDimension];
        if (outside(h, x)) dist = combineTerms(dist, coordinateTerm(x - h.boundValue, power));
    }
    return dist;
}

double QELbd_shrink::innerDistance(Point query, int power) const {
    return innerBoxDistance(bounds, boundCount, query, power);
}

QELbd_tree::QELbd_tree(PointArray pa, int n, int dim, int bucketSize, SplitRule splitRule,
                       ShrinkRule shrinkRule, int threads)
    : QELkd_tree(n, dim, bucketSize) {
    dataPoints = pa;
    buildTreeNodes(*this, splitRule, shrinkRule, threads);
}

QELbd_tree::QELbd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
                       Point upper, QELkd_node* root)
    : QELkd_tree(dataPoints, index, n, dim, bucketSize, lower, upper, root) {}

QELbd_tree::~QELbd_tree() = default;

namespace {

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

void QELbd_shrink::collectStats(int dim, TreeStats& stats, QELorthRect& cell) {
    collectSubtreeStats(this, dim, stats, cell);
}

void QELbd_shrink::printNode(int level, std::ostream& out) {
    printSubtree(this, level, out);
}

namespace {

/// A dump's double: the text of 15 significant digits in general notation when it reads back to the
/// same value, as dumps have always been written; otherwise the fewest further digits that do.
struct DumpNumber {
    double value;
};

std::ostream& operator<<(std::ostream& out, DumpNumber number) {
    char text[32];
    for (int digits = 15;; ++digits) {
        const auto written =
            std::to_chars(text, text + sizeof text, number.value, std::chars_format::general, digits);
        double back = 0.0;
        std::from_chars(text, written.ptr, back);
        // NaN never equals itself, and 17 digits always suffice.
        if (back == number.value || digits == 17 || std::isnan(number.value))
            return out.write(text, written.ptr - text);
    }
}

/// A point or box line of a dump.
void writeDumpPoint(const double* p, int dim, std::ostream& out) {
    for (int i = 0; i < dim; ++i) {
        if (i > 0) out << ' ';
        out << DumpNumber{p[i]};
    }
}

/// Writes the records of the subtree at node in preorder, without recursion.
void dumpSubtree(QELkd_node* node, std::ostream& out) {
    std::vector<QELkd_node*> pending{node};
    while (!pending.empty()) {
        QELkd_node* next = pending.back();
        pending.pop_back();
        if (auto* split = dynamic_cast<QELkd_split*>(next)) {
            out << "split " << split->splitDimension << " " << DumpNumber{split->splitValue} << " "
                << DumpNumber{split->cellLower} << " " << DumpNumber{split->cellUpper} << "\n";
            pending.push_back(split->upperChild);
            pending.push_back(split->lowerChild);
        } else if (auto* shrink = dynamic_cast<QELbd_shrink*>(next)) {
            out << "shrink " << shrink->boundCount << "\n";
            for (int i = 0; i < shrink->boundCount; ++i) {
                const HalfSpace& h = shrink->bounds[i];
                out << h.boundDimension << " " << DumpNumber{h.boundValue} << " " << h.boundSide << "\n";
            }
            pending.push_back(shrink->outerChild);
            pending.push_back(shrink->innerChild);
        } else if (auto* leaf = dynamic_cast<QELkd_leaf*>(next)) {
            // The shared empty leaf comes out as "leaf 0".
            out << "leaf " << leaf->bucketCount;
            for (int i = 0; i < leaf->bucketCount; ++i)
                out << " " << leaf->bucketIndices[i];
            out << "\n";
        } else {
            out << "null\n";
        }
    }
}

/// A dump's integer format for the lifetime of the object: plain decimal in the classic locale, so that
/// the dump reads back whatever the stream's locale; the stream's own format and locale come back
/// afterwards.
class DumpFormat {
public:
    explicit DumpFormat(std::ostream& out)
        : out(out), flags(out.flags(std::ios_base::dec)), locale(out.imbue(std::locale::classic())) {}
    ~DumpFormat() {
        out.imbue(locale);
        out.flags(flags);
    }
    DumpFormat(const DumpFormat&) = delete;
    DumpFormat& operator=(const DumpFormat&) = delete;

private:
    std::ostream& out;
    std::ios_base::fmtflags flags;
    std::locale locale;
};

/// A box corner line; a tree without points has no box and writes zeros.
void writeCorner(Point corner, int dim, std::ostream& out) {
    if (corner != nullptr) {
        writeDumpPoint(corner, dim, out);
    } else {
        std::vector<double> zeros(static_cast<std::size_t>(std::max(dim, 0)), 0.0);
        writeDumpPoint(zeros.data(), dim, out);
    }
    out << "\n";
}

} // namespace

void QELkd_leaf::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELkd_split::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELbd_shrink::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELkd_tree::dumpTree(bool withPoints, std::ostream& out) {
    out << "#QEL 1.1.1\n";
    const DumpFormat format(out);
    if (withPoints) {
        out << "points " << dimensionCount << " " << dataCount << "\n";
        for (int i = 0; i < dataCount; ++i) {
            out << i << " ";
            writeDumpPoint(dataPoints[i], dimensionCount, out);
            out << "\n";
        }
    }
    out << "tree " << dimensionCount << " " << dataCount << " " << bucketSize << "\n";
    writeCorner(boxLower, dimensionCount, out);
    writeCorner(boxUpper, dimensionCount, out);
    if (rootNode != nullptr)
        rootNode->dumpNode(out);
    else
        out << "null\n";
}

namespace {

/// Longest word the reader accepts, and the longest rest of the header line.
constexpr std::size_t longestWord = 499;

/// The blank-separated items of a dump, read straight from the stream's buffer so that several
/// scanners can take turns on one stream. Every fault of the input is a fatal report.
class DumpScanner {
public:
    explicit DumpScanner(std::istream& in) : source(in.rdbuf()) {}

    /// The next word; empty at the end of the input.
    std::string_view wordOrEnd() {
        int c = peek();
        while (isBlank(c)) {
            source->sbumpc();
            c = peek();
        }
        std::size_t length = 0;
        while (c != endOfInput && !isBlank(c)) {
            if (length == longestWord) reportError("Word too long in dump file", Fatal);
            buffer[length++] = static_cast<char>(c);
            source->sbumpc();
            c = peek();
        }
        return {buffer, length};
    }

    std::string_view word() {
        const std::string_view text = wordOrEnd();
        if (text.empty()) reportError("Unexpected end of dump file", Fatal);
        return text;
    }

    int integer() {
        int value = 0;
        parse(word(), value);
        return value;
    }

    double real() {
        double value = 0.0;
        parse(word(), value);
        return value;
    }

    /// Skips the rest of the current line and its line end.
    void skipLine() {
        std::size_t length = 0;
        for (int c = peek(); c != endOfInput; c = peek()) {
            source->sbumpc();
            if (c == '\n') return;
            if (++length > longestWord) reportError("Header line too long in dump file", Fatal);
        }
    }

private:
    static constexpr int endOfInput = std::char_traits<char>::eof();

    static bool isBlank(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    int peek() { return source == nullptr ? endOfInput : source->sgetc(); }

    /// The whole word must be the number; a leading "+" is accepted, as formatted extraction does.
    template <class Number> static void parse(std::string_view text, Number& value) {
        if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (fault != std::errc{} || end != text.data() + text.size())
            reportError("Illegal number in dump file", Fatal);
    }

    std::streambuf* source;
    char buffer[longestWord];
};

/// Owns a node read so far and its subtree (never the shared empty leaf).
struct SubtreeDeleter {
    void operator()(QELkd_node* node) const { destroySubtree(node); }
};
using SubtreePtr = std::unique_ptr<QELkd_node, SubtreeDeleter>;

struct PointArrayDeleter {
    void operator()(PointArray points) const { releasePointArray(points); }
};

/// A split or shrink record whose children are being read.
struct OpenRecord {
    bool shrinking;                  ///< shrink record (else split)
    int cutDim = 0;                  ///< split: the dimension cut
    double cutValue = 0.0;           ///< split: the cutting coordinate
    double lowBound = 0.0;           ///< split: the cell's lower bound along cutDim
    double highBound = 0.0;          ///< split: the cell's upper bound along cutDim
    std::vector<HalfSpace> bounds{}; ///< shrink: the bound lines
    int firstIndex = 0;              ///< index entries filled before the record
    SubtreePtr firstChild{};         ///< the lower or inner child, once read
    bool firstRead = false;          ///< the second child is being read

    /// The node of the record; takes both children.
    SubtreePtr make(SubtreePtr secondChild) {
        if (!shrinking) {
            SubtreePtr node(
                new QELkd_split(cutDim, cutValue, lowBound, highBound, firstChild.get(), secondChild.get()));
            firstChild.release();
            secondChild.release();
            return node;
        }
        const int count = static_cast<int>(bounds.size());
        std::unique_ptr<HalfSpace[]> array(count > 0 ? new HalfSpace[bounds.size()] : nullptr);
        std::copy(bounds.begin(), bounds.end(), array.get());
        SubtreePtr node(new QELbd_shrink(count, array.get(), firstChild.get(), secondChild.get()));
        array.release();
        firstChild.release();
        secondChild.release();
        return node;
    }
};

SubtreePtr readLeaf(DumpScanner& scan, int n, IndexArray indices, int& next, std::vector<bool>& seen) {
    const int count = scan.integer();
    if (count < 0) reportError("Illegal leaf size in dump file", Fatal);
    if (count == 0) return SubtreePtr(markSharedEmptyLeaf());
    if (count > n - next) reportError("Too many point indices in dump file", Fatal);
    const int start = next;
    for (int i = 0; i < count; ++i) {
        const int index = scan.integer();
        if (index < 0 || index >= n) reportError("Point index is out of range", Fatal);
        if (seen[index]) reportError("Point index is repeated in dump file", Fatal);
        seen[index] = true;
        indices[next++] = index;
    }
    return SubtreePtr(new QELkd_leaf(count, indices + start));
}

OpenRecord readSplit(DumpScanner& scan, int dim, int next) {
    OpenRecord record{false};
    record.cutDim = scan.integer();
    if (record.cutDim < 0 || record.cutDim >= dim) reportError("Cutting dimension is out of range", Fatal);
    record.cutValue = scan.real();
    record.lowBound = scan.real();
    record.highBound = scan.real();
    record.firstIndex = next;
    return record;
}

OpenRecord readShrink(DumpScanner& scan, int dim, int next) {
    OpenRecord record{true};
    const int count = scan.integer();
    if (count < 0) reportError("Illegal bound count in dump file", Fatal);
    // Bounds are collected as they are read, so memory follows the input, never the claimed count.
    for (int i = 0; i < count; ++i) {
        HalfSpace h;
        h.boundDimension = scan.integer();
        if (h.boundDimension < 0 || h.boundDimension >= dim)
            reportError("Bound dimension is out of range", Fatal);
        h.boundValue = scan.real();
        h.boundSide = scan.integer();
        record.bounds.push_back(h);
    }
    record.firstIndex = next;
    return record;
}

/// dim coordinates, collected before the corner is made so that memory follows the input.
std::unique_ptr<double[]> readCorner(DumpScanner& scan, int dim) {
    std::vector<double> coordinates;
    for (int d = 0; d < dim; ++d)
        coordinates.push_back(scan.real());
    std::unique_ptr<double[]> corner(newPoint(dim, 0.0));
    std::copy(coordinates.begin(), coordinates.end(), corner.get());
    return corner;
}

} // namespace

QELkd_node* readDumpNode(std::istream& in, TreeKind kind, int dim, int n, IndexArray indices, int& next) {
    DumpScanner scan(in);
    std::vector<bool> seen(static_cast<std::size_t>(std::max(n, 0)), false);
    // The records whose children are being read, innermost last: reading needs no recursion, so a
    // deeply nested dump cannot overflow the stack.
    std::vector<OpenRecord> open;
    for (;;) {
        SubtreePtr node;
        const std::string_view word = scan.word();
        if (word == "split") {
            open.push_back(readSplit(scan, dim, next));
            continue;
        }
        if (word == "shrink") {
            if (kind != Bd) reportError("Shrinking node not allowed in kd-tree", Fatal);
            open.push_back(readShrink(scan, dim, next));
            continue;
        }
        if (word == "leaf")
            node = readLeaf(scan, n, indices, next, seen);
        else if (word != "null")
            reportError("Illegal node type in dump file", Fatal);
        else if (!open.empty()) // "null" stands only for a whole tree without points
            reportError("Empty subtree in dump file", Fatal);
        // Hand the finished node up until a record is still waiting for its second child.
        for (;;) {
            if (open.empty()) return node.release();
            OpenRecord& parent = open.back();
            if (!parent.firstRead) {
                parent.firstChild = std::move(node);
                parent.firstRead = true;
                break;
            }
            // The builder makes a split or shrink only for a cell holding points.
            if (next == parent.firstIndex) reportError("Empty subtree in dump file", Fatal);
            node = parent.make(std::move(node));
            open.pop_back();
        }
    }
}

QELkd_node* readDump(std::istream& in, TreeKind kind, PointArray& points, IndexArray& indices, int& dim,
                     int& n, int& bucketSize, Point& lower, Point& upper) {
    DumpScanner scan(in);
    if (scan.wordOrEnd() != "#QEL") reportError("Incorrect header for dump file", Fatal);
    scan.skipLine();
    if (scan.wordOrEnd() != "points") reportError("Points must be supplied in the dump file", Fatal);
    const int pointDim = scan.integer();
    if (pointDim < 0) reportError("Illegal dimension in dump file", Fatal);
    const int pointCount = scan.integer();
    if (pointCount < 0) reportError("Illegal point count in dump file", Fatal);
    // Coordinates are kept in the order read and placed at the end, so that memory follows the input
    // actually present, never a count it merely claims.
    std::vector<int> listed;
    std::vector<double> coordinates;
    for (int line = 0; line < pointCount; ++line) {
        const int index = scan.integer();
        if (index < 0 || index >= pointCount) reportError("Point index is out of range", Fatal);
        listed.push_back(index);
        for (int d = 0; d < pointDim; ++d)
            coordinates.push_back(scan.real());
    }
    std::unique_ptr<Point[], PointArrayDeleter> pointArray(newPointArray(pointCount, pointDim));
    for (std::size_t line = 0; line < listed.size(); ++line)
        std::copy_n(coordinates.begin() + static_cast<std::ptrdiff_t>(line * pointDim), pointDim,
                    pointArray[listed[line]]);

    if (scan.wordOrEnd() != "tree") reportError("Illegal dump format.\tExpecting section heading", Fatal);
    const int treeDim = scan.integer();
    const int treeCount = scan.integer();
    if (treeDim != pointDim || treeCount != pointCount)
        reportError("Tree section does not match points section", Fatal);
    const int bucket = scan.integer();
    if (bucket < 1) reportError("Illegal bucket size in dump file", Fatal);
    std::unique_ptr<double[]> lowerCorner = readCorner(scan, pointDim);
    std::unique_ptr<double[]> upperCorner = readCorner(scan, pointDim);

    std::unique_ptr<int[]> index(new int[static_cast<std::size_t>(pointCount)]());
    int next = 0;
    SubtreePtr root(readDumpNode(in, kind, pointDim, pointCount, index.get(), next));
    if (next != pointCount) reportError("Didn't see as many points as expected", Warning);

    points = pointArray.release();
    indices = index.release();
    dim = pointDim;
    n = pointCount;
    bucketSize = bucket;
    // A tree without a root has no box, like a built tree without points.
    lower = root != nullptr ? lowerCorner.release() : nullptr;
    upper = root != nullptr ? upperCorner.release() : nullptr;
    return root.release();
}

} // namespace qel
