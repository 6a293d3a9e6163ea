// The kd-tree's nodes, the shared empty leaf, the tree's constructors and destructor. The tree is built
// by the one subtree builder it shares with the bd-tree (which, without shrinking, builds exactly this
// tree); destruction frees nodes without recursion, so trees of any depth can be released.
#include "kdtree.h"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <vector>

#include "bdtree.h"

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
QELkd_leaf* sharedEmptyLeaf = nullptr;

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

void releaseSharedEmptyLeaf() {
    sharedEmptyLeaf = nullptr;
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
    if (sharedEmptyLeaf == nullptr) sharedEmptyLeaf = &emptyLeafStorage();
}

QELkd_tree::QELkd_tree(int n, int dim, int bucketSize) {
    initTreeFields(*this, n, dim, bucketSize, nullptr, nullptr);
}

QELkd_tree::QELkd_tree(PointArray dataPoints, int n, int dim, int bucketSize, SplitRule rule)
    : QELkd_tree(n, dim, bucketSize) {
    this->dataPoints = dataPoints;
    buildTreeNodes(*this, rule, ShrinkRule::None);
}

QELkd_tree::QELkd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
                       Point upper, QELkd_node* root) {
    initTreeFields(*this, n, dim, bucketSize, dataPoints, index);
    boxLower = lower;
    boxUpper = upper;
    rootNode = root;
}

QELkd_tree::~QELkd_tree() {
    destroySubtree(rootNode);
    delete[] pointIndex;
    releasePoint(boxLower);
    releasePoint(boxUpper);
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

QELkd_node* buildKdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& cell,
                           SplitProcedure rule) {
    return buildBdSubtree(pa, idx, n, dim, bucketSize, cell, rule, ShrinkRule::None);
}

// Print, dump and statistics follow in their own change.
void QELkd_tree::printTree(bool, std::ostream&) {}
void QELkd_tree::dumpTree(bool, std::ostream&) {}
void QELkd_tree::collectStats(TreeStats&) {}
void QELkd_leaf::collectStats(int, TreeStats&, QELorthRect&) {}
void QELkd_leaf::printNode(int, std::ostream&) {}
void QELkd_leaf::dumpNode(std::ostream&) {}
void QELkd_split::collectStats(int, TreeStats&, QELorthRect&) {}
void QELkd_split::printNode(int, std::ostream&) {}
void QELkd_split::dumpNode(std::ostream&) {}

} // namespace qel
