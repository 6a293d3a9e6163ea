// The kd-tree's nodes, the shared empty leaf, the tree's constructors and destructor, and the print and
// statistics of kd- and bd-trees. The tree is built by the one subtree builder it shares with the
// bd-tree (which, without shrinking, builds exactly this tree); destruction, print and statistics walk
// the nodes without recursion, so trees of any depth can be handled.
#include <qel/kdtree.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numeric>
#include <vector>

#include <qel/bdtree.h>
#include <qel/kdimage.h>
#include <qel/kdutil.h>

namespace qel {

void TreeStats::clearStats(int dim, int n, int bucket) {
    *this = TreeStats{};
    dimensionCount = dim;
    dataCount = n;
    bucketSize = bucket;
}

void TreeStats::absorbStats(const TreeStats& other) {
    leafCount += other.leafCount;
    emptyLeafCount += other.emptyLeafCount;
    splitNodeCount += other.splitNodeCount;
    shrinkNodeCount += other.shrinkNodeCount;
    treeDepth = std::max(treeDepth, other.treeDepth);
    aspectSum += other.aspectSum;
}

QELkd_node::~QELkd_node() = default;

QELkd_leaf::QELkd_leaf(int n, IndexArray indices) : bucketCount(n), bucketIndices(indices) {}

QELkd_leaf::~QELkd_leaf() = default;

QELkd_split::QELkd_split(int cutDim, double cutValue, double lowBound, double highBound, QELkd_node* low,
                         QELkd_node* high)
    : splitDimension(cutDim), splitValue(cutValue), cellLower(lowBound), cellUpper(highBound),
      lowerChild(low), upperChild(high) {}

QELkd_split::~QELkd_split() {
    destroySubtree(lowerChild);
    destroySubtree(upperChild);
}

int emptyBucket[1] = {0};
std::atomic<QELkd_leaf*> sharedEmptyLeaf{nullptr};

namespace {

/// The shared empty leaf's storage: made on first use, never freed while the program runs.
QELkd_leaf& emptyLeafStorage() {
    static QELkd_leaf leaf(0, emptyBucket);
    return leaf;
}

} // namespace

bool isSharedEmptyLeaf(const QELkd_node* node) {
    return node == &emptyLeafStorage();
}

QELkd_leaf* markSharedEmptyLeaf() {
    // Returned from its storage, not read back: a release on another thread may come in between.
    QELkd_leaf* const leaf = &emptyLeafStorage();
    sharedEmptyLeaf.store(leaf, std::memory_order_relaxed);
    return leaf;
}

void releaseSharedEmptyLeaf() {
    sharedEmptyLeaf.store(nullptr, std::memory_order_relaxed);
}

void destroySubtree(QELkd_node* node) {
    if (node == nullptr || isSharedEmptyLeaf(node)) return;
    // Destructors of the nodes deleted below call back here with their children; those only queue up.
    thread_local std::vector<QELkd_node*> pending;
    thread_local bool draining = false;
    pending.push_back(node);
    if (draining) return;
    draining = true;
    while (!pending.empty()) {
        QELkd_node* next = pending.back();
        pending.pop_back();
        delete next;
    }
    draining = false;
}

void initTreeFields(QELkd_tree& tree, int n, int dim, int bucketSize, PointArray points, IndexArray index) {
    tree.dimensionCount = dim;
    tree.dataCount = n;
    tree.bucketSize = std::max(bucketSize, 1);
    tree.dataPoints = points;
    tree.rootNode = nullptr;
    if (index == nullptr) {
        index = new int[static_cast<std::size_t>(std::max(n, 0))];
        std::iota(index, index + std::max(n, 0), 0);
    }
    tree.pointIndex = index;
    tree.boxLower = nullptr;
    tree.boxUpper = nullptr;
    tree.leafPoints = nullptr;
    markSharedEmptyLeaf();
}

void fillLeafPoints(QELkd_tree& tree) {
    delete[] tree.leafPoints;
    tree.leafPoints = nullptr;
    tree.noNaNCoordinates = false;
    const int n = tree.dataCount;
    if (n <= 0 || tree.dataPoints == nullptr) return;
    auto addresses = std::make_unique<Point[]>(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int index = tree.pointIndex[i];
        if (index < 0 || index >= n) return;
        addresses[i] = tree.dataPoints[index];
    }
    tree.leafPoints = addresses.release();
    // In index order: the points usually lie in one block in that order.
    const int dim = std::max(tree.dimensionCount, 0);
    tree.noNaNCoordinates = std::none_of(tree.dataPoints, tree.dataPoints + n, [&](Point p) {
        return std::any_of(p, p + dim, [](double x) { return std::isnan(x); });
    });
}

QELkd_tree::QELkd_tree(int n, int dim, int bucketSize) {
    initTreeFields(*this, n, dim, bucketSize, nullptr, nullptr);
}

QELkd_tree::QELkd_tree(PointArray dataPoints, int n, int dim, int bucketSize, SplitRule rule, int threads)
    : QELkd_tree(n, dim, bucketSize) {
    this->dataPoints = dataPoints;
    buildTreeNodes(*this, rule, ShrinkRule::None, threads);
}

QELkd_tree::QELkd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
                       Point upper, QELkd_node* root) {
    initTreeFields(*this, n, dim, bucketSize, dataPoints, index);
    boxLower = lower;
    boxUpper = upper;
    rootNode = root;
    fillLeafPoints(*this);
}

QELkd_tree::~QELkd_tree() {
    delete nodeImage;
    destroySubtree(rootNode);
    delete[] leafPoints;
    delete[] pointIndex;
    releasePoint(boxLower);
    releasePoint(boxUpper);
}

const SearchImage* QELkd_tree::searchImage() {
    if (scratchCoordinates.tree == this) return scratchCoordinates.image;
    return imageSearched ? madeSearchImage() : nullptr;
}

const SearchImage* QELkd_tree::madeSearchImage() {
    if (!nodeImageReady.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> lock(nodeImageMaking);
        if (!nodeImageReady.load(std::memory_order_relaxed)) {
            nodeImage = makeSearchImage(*this, imageCopiesPoints).release();
            nodeImageReady.store(true, std::memory_order_release);
        }
    }
    return nodeImage;
}

void QELkd_tree::useSearchImage(bool use) {
    delete nodeImage;
    nodeImage = nullptr;
    nodeImageReady.store(false, std::memory_order_release);
    imageSearched = use;
}

void QELkd_tree::copyPointsInLeafOrder(bool copy) {
    imageCopiesPoints = copy;
    useSearchImage(true);
}

std::size_t structureBytes(const QELpointSet& structure) {
    const auto* tree = dynamic_cast<const QELkd_tree*>(&structure);
    if (tree == nullptr) return sizeof(QELbruteForce);
    const auto n = static_cast<std::size_t>(std::max(tree->dataCount, 0));
    std::size_t bytes =
        dynamic_cast<const QELbd_tree*>(tree) != nullptr ? sizeof(QELbd_tree) : sizeof(QELkd_tree);
    bytes += n * sizeof(int);
    if (tree->leafPoints != nullptr) bytes += n * sizeof(Point);
    if (tree->boxLower != nullptr)
        bytes += 2 * static_cast<std::size_t>(tree->dimensionCount) * sizeof(double);
    std::vector<const QELkd_node*> pending;
    if (tree->rootNode != nullptr) pending.push_back(tree->rootNode);
    while (!pending.empty()) {
        const QELkd_node* node = pending.back();
        pending.pop_back();
        if (isSharedEmptyLeaf(node)) continue;
        if (const auto* split = dynamic_cast<const QELkd_split*>(node)) {
            bytes += sizeof(QELkd_split);
            pending.insert(pending.end(), {split->lowerChild, split->upperChild});
        } else if (const auto* shrink = dynamic_cast<const QELbd_shrink*>(node)) {
            bytes += sizeof(QELbd_shrink) + static_cast<std::size_t>(shrink->boundCount) * sizeof(HalfSpace);
            pending.insert(pending.end(), {shrink->innerChild, shrink->outerChild});
        } else {
            bytes += sizeof(QELkd_leaf);
        }
    }
    return bytes;
}

int QELkd_tree::dimension() {
    return dimensionCount;
}
int QELkd_tree::pointCount() {
    return dataCount;
}
PointArray QELkd_tree::points() {
    return dataPoints;
}

namespace {

void writeIndentation(int level, std::ostream& out) {
    // Written in chunks: the lines of deep trees carry long runs of dots.
    static constexpr char dots[] = "................................................................";
    out << "    ";
    for (long remaining = 2L * level; remaining > 0; remaining -= sizeof dots - 1)
        out.write(dots, std::min<long>(remaining, sizeof dots - 1));
}

void writeLeafLine(const QELkd_leaf& leaf, int level, std::ostream& out) {
    writeIndentation(level, out);
    if (isSharedEmptyLeaf(&leaf)) {
        out << "Leaf (trivial)\n";
        return;
    }
    out << "Leaf n=" << leaf.bucketCount << " <";
    for (int i = 0; i < leaf.bucketCount; ++i) {
        if (i > 0) out << ',';
        out << leaf.bucketIndices[i];
    }
    out << ">\n";
}

void writeSplitLine(const QELkd_split& split, int level, std::ostream& out) {
    writeIndentation(level, out);
    out << "Split cd=" << split.splitDimension << " cv=" << split.splitValue << " lbnd=" << split.cellLower
        << " hbnd=" << split.cellUpper << "\n";
}

// The half-spaces go two to a line, each line indented by two blanks per level beyond the node's.
void writeShrinkLines(const QELbd_shrink& shrink, int level, std::ostream& out) {
    writeIndentation(level, out);
    out << "Shrink";
    for (int i = 0; i < shrink.boundCount; ++i) {
        const HalfSpace& h = shrink.bounds[i];
        if (i % 2 == 0) {
            out << "\n";
            for (int j = 0; j < level + 2; ++j)
                out << "  ";
        }
        out << "  ([" << h.boundDimension << "]" << (h.boundSide > 0 ? ">=" : "< ") << h.boundValue << ")";
    }
    out << "\n";
}

/// The aspect ratio a leaf cell adds to the statistics. A flat cell's ratio is a division by zero:
/// a positive side over 0 is infinite and so capped, and a cell of no extent at all (0 / 0) counts as 1.
/// The empty side of a fair cut that lies outside its cell has a negative side; it counts as flat.
double leafAspectRatio(int dim, const QELorthRect& cell) {
    const double ratio = boxAspectRatio(dim, cell);
    if (std::isnan(ratio)) return 1.0;
    return ratio < 0.0 || ratio >= AspectRatioCap ? AspectRatioCap : ratio;
}

/// An open split or shrink node of the statistics walk: it sums its children's statistics as the node
/// step would, so the 32-bit sums come out the same as from nested calls.
struct StatsFrame {
    QELkd_split* split;                   ///< the node when it splits
    QELbd_shrink* shrink;                 ///< the node when it shrinks
    QELorthRect* cell;                    ///< the node's cell
    TreeStats stats;                      ///< the node's own record with the finished children absorbed
    int childrenDone = 0;                 ///< 0, 1 or 2
    double savedBound = 0.0;              ///< split: the cell coordinate set aside for the current child
    std::unique_ptr<QELorthRect> inner{}; ///< shrink: the inner child's cell

    /// Sets up the cell of the next child and returns the child; childCell receives that cell.
    QELkd_node* enterChild(int dim, QELorthRect*& childCell) {
        childCell = cell;
        if (shrink != nullptr) {
            if (childrenDone == 1) return shrink->outerChild;
            inner = std::make_unique<QELorthRect>(dim);
            boxFromHalfSpaces(*cell, dim, shrink->boundCount, shrink->bounds, *inner);
            childCell = inner.get();
            return shrink->innerChild;
        }
        const int cd = split->splitDimension;
        double& bound = childrenDone == 0 ? cell->upper[cd] : cell->lower[cd];
        savedBound = bound;
        bound = split->splitValue;
        return childrenDone == 0 ? split->lowerChild : split->upperChild;
    }

    /// Restores the cell after the current child and counts the child done.
    void leaveChild() {
        if (split != nullptr) {
            const int cd = split->splitDimension;
            (childrenDone == 0 ? cell->upper[cd] : cell->lower[cd]) = savedBound;
        }
        ++childrenDone;
    }

    /// Adds the node's own level once both children are absorbed.
    void finish() {
        ++stats.treeDepth;
        ++(split != nullptr ? stats.splitNodeCount : stats.shrinkNodeCount);
    }
};

} // namespace

void printSubtree(QELkd_node* node, int level, std::ostream& out) {
    // An entry prints a whole subtree or, when ownLine is set, only its root's own lines: the upper
    // (outer) subtree goes above them and the lower (inner) one below.
    struct Entry {
        QELkd_node* node;
        int level;
        bool ownLine;
    };
    std::vector<Entry> pending{{node, level, false}};
    while (!pending.empty()) {
        const Entry entry = pending.back();
        pending.pop_back();
        if (auto* split = dynamic_cast<QELkd_split*>(entry.node)) {
            if (entry.ownLine) {
                writeSplitLine(*split, entry.level, out);
                continue;
            }
            pending.push_back({split->lowerChild, entry.level + 1, false});
            pending.push_back({split, entry.level, true});
            pending.push_back({split->upperChild, entry.level + 1, false});
        } else if (auto* shrink = dynamic_cast<QELbd_shrink*>(entry.node)) {
            if (entry.ownLine) {
                writeShrinkLines(*shrink, entry.level, out);
                continue;
            }
            pending.push_back({shrink->innerChild, entry.level + 1, false});
            pending.push_back({shrink, entry.level, true});
            pending.push_back({shrink->outerChild, entry.level + 1, false});
        } else if (auto* leaf = dynamic_cast<QELkd_leaf*>(entry.node)) {
            writeLeafLine(*leaf, entry.level, out);
        }
    }
}

void QELkd_leaf::printNode(int level, std::ostream& out) {
    printSubtree(this, level, out);
}

void QELkd_split::printNode(int level, std::ostream& out) {
    printSubtree(this, level, out);
}

void QELkd_tree::printTree(bool withPoints, std::ostream& out) {
    out << "QEL Version 1.1.1\n";
    if (withPoints) {
        out << "    Points:\n";
        for (int i = 0; i < dataCount; ++i) {
            out << "\t" << i << ": ";
            writePoint(dataPoints[i], dimensionCount, out);
            out << "\n";
        }
    }
    if (rootNode != nullptr)
        rootNode->printNode(0, out);
    else
        out << "    Null tree.\n";
}

void collectSubtreeStats(QELkd_node* node, int dim, TreeStats& stats, QELorthRect& cell) {
    if (node == nullptr) return;
    if (auto* leaf = dynamic_cast<QELkd_leaf*>(node)) {
        stats.clearStats(stats.dimensionCount, stats.dataCount, stats.bucketSize);
        stats.leafCount = 1;
        stats.emptyLeafCount = isSharedEmptyLeaf(leaf) ? 1 : 0;
        stats.aspectSum += static_cast<float>(leafAspectRatio(dim, cell));
        return;
    }
    std::vector<StatsFrame> path;
    path.push_back({dynamic_cast<QELkd_split*>(node), dynamic_cast<QELbd_shrink*>(node), &cell, stats});
    for (;;) {
        StatsFrame& top = path.back();
        if (top.childrenDone == 2) {
            top.finish();
            const TreeStats done = top.stats;
            path.pop_back();
            if (path.empty()) {
                stats = done;
                return;
            }
            path.back().stats.absorbStats(done);
            path.back().leaveChild();
            continue;
        }
        QELorthRect* childCell = nullptr;
        QELkd_node* child = top.enterChild(dim, childCell);
        auto* split = dynamic_cast<QELkd_split*>(child);
        auto* shrink = dynamic_cast<QELbd_shrink*>(child);
        if (split == nullptr && shrink == nullptr) {
            TreeStats leafStats;
            collectSubtreeStats(child, dim, leafStats, *childCell);
            top.stats.absorbStats(leafStats);
            top.leaveChild();
        } else {
            path.push_back({split, shrink, childCell, TreeStats{}});
        }
    }
}

void QELkd_leaf::collectStats(int dim, TreeStats& stats, QELorthRect& cell) {
    collectSubtreeStats(this, dim, stats, cell);
}

void QELkd_split::collectStats(int dim, TreeStats& stats, QELorthRect& cell) {
    collectSubtreeStats(this, dim, stats, cell);
}

void QELkd_tree::collectStats(TreeStats& stats) {
    stats.clearStats(dimensionCount, dataCount, bucketSize);
    if (rootNode == nullptr) return;
    QELorthRect cell(dimensionCount, boxLower, boxUpper);
    rootNode->collectStats(dimensionCount, stats, cell);
    stats.aspectMean = stats.aspectSum / static_cast<float>(stats.leafCount);
}

} // namespace qel
