// The kd-tree: a permutation of the caller's point indices cut by axis-parallel planes into leaves
// (buckets) of at most `bucketSize` points. Points stay in place; leaves are views into `pointIndex`.
// One process-wide empty leaf stands for every empty cell of every tree.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <ostream>

#include <qel/kdsplit.h>
#include <qel/qelinclude.h>

namespace qel {

/// Shape of a built tree (see `QELkd_tree::collectStats`).
struct TreeStats {
    int dimensionCount = 0; ///< dimension of the tree
    int dataCount = 0;      ///< number of data points
    int bucketSize = 0;     ///< bucket size of the tree
    int leafCount = 0;      ///< leaves, empty leaves included
    int emptyLeafCount = 0; ///< occurrences of the shared empty leaf
    int splitNodeCount = 0;
    int shrinkNodeCount = 0;
    int treeDepth = 0;    ///< splitting and shrinking levels on the longest root-to-leaf path
    float aspectSum = 0;  ///< sum of the leaf cells' aspect ratios, each capped at `AspectRatioCap`
    float aspectMean = 0; ///< aspectSum / leafCount

    /// Sets the tree-level fields to the given values and every other field to 0.
    void clearStats(int dim = 0, int n = 0, int bucketSize = 0);
    /// Adds other's node counts and aspectSum, and takes the larger depth.
    void absorbStats(const TreeStats& other);
};

inline constexpr double AspectRatioCap = 1000.0;

/// A node of a kd- or bd-tree. The steps of the searches work on the running search's state.
class QELkd_node {
public:
    virtual ~QELkd_node();
    virtual void searchStep(double cellDistance, int power) = 0;
    virtual void prioritySearchStep(double boxDist, int power) = 0;
    virtual void fixedRadiusStep(double boxDist, int power) = 0;
    /// Adds this subtree to stats; cell is the node's cell, changed only temporarily.
    virtual void collectStats(int dim, TreeStats& stats, QELorthRect& cell) = 0;
    virtual void printNode(int level, std::ostream& out) = 0;
    virtual void dumpNode(std::ostream& out) = 0;
};

/// A bucket of points: a view of `bucketCount` consecutive entries of the tree's `pointIndex`.
class QELkd_leaf : public QELkd_node {
public:
    QELkd_leaf(int n, IndexArray indices);
    ~QELkd_leaf() override;
    void searchStep(double cellDistance, int power) override;
    void prioritySearchStep(double boxDist, int power) override;
    void fixedRadiusStep(double boxDist, int power) override;
    void collectStats(int dim, TreeStats& stats, QELorthRect& cell) override;
    void printNode(int level, std::ostream& out) override;
    void dumpNode(std::ostream& out) override;

    int bucketCount;          ///< points in the leaf (0 only for the shared empty leaf)
    IndexArray bucketIndices; ///< view into the owning tree's `pointIndex`; not owned
};

/// A cutting plane: points with coordinate <= `splitValue` go low, >= go high.
class QELkd_split : public QELkd_node {
public:
    QELkd_split(int cutDim, double cutValue, double lowBound, double highBound, QELkd_node* low,
                QELkd_node* high);
    /// Destroys both children unless they are the shared empty leaf.
    ~QELkd_split() override;
    void searchStep(double cellDistance, int power) override;
    void prioritySearchStep(double boxDist, int power) override;
    void fixedRadiusStep(double boxDist, int power) override;
    void collectStats(int dim, TreeStats& stats, QELorthRect& cell) override;
    void printNode(int level, std::ostream& out) override;
    void dumpNode(std::ostream& out) override;

    int splitDimension;     ///< the dimension cut
    double splitValue;      ///< the cutting coordinate
    double cellLower;       ///< lower bound of this node's cell along splitDimension
    double cellUpper;       ///< upper bound of this node's cell along splitDimension
    QELkd_node* lowerChild; ///< owned unless it is the shared empty leaf
    QELkd_node* upperChild; ///< owned unless it is the shared empty leaf
};

/// The addresses of a tree's points in the order of its pointIndex, so that a leaf scan reads them one
/// after the other instead of looking each one up in dataPoints at a random place.
struct LeafPointOrder {
    const int* indexBegin = nullptr;  ///< the tree's pointIndex
    const int* indexEnd = nullptr;    ///< one past its last entry
    const Point* addresses = nullptr; ///< dataPoints[pointIndex[i]] at i; null when the tree keeps none

    /// The addresses of the leaf's points in bucket order, or null when the leaf is no run of this
    /// pointIndex (a tree assembled by hand) or the tree keeps no addresses.
    const Point* of(const QELkd_leaf& leaf) const {
        const std::less_equal<const int*> notAfter;
        if (addresses == nullptr || !notAfter(indexBegin, leaf.bucketIndices) ||
            !notAfter(leaf.bucketIndices + leaf.bucketCount, indexEnd)) {
            return nullptr;
        }
        return addresses + (leaf.bucketIndices - indexBegin);
    }
};

/// The one-element index array the shared empty leaf points at (holds 0).
extern int emptyBucket[1];
/// The shared empty leaf, or null while released. Its storage is fixed and never freed, so trees built
/// before a release stay valid to search and destroy; the next tree initialisation marks it present.
/// Builds never read it, so trees may be built on several threads at once, and released meanwhile.
extern std::atomic<QELkd_leaf*> sharedEmptyLeaf;
/// True for the shared empty leaf's fixed storage, whether or not it is currently marked present.
bool isSharedEmptyLeaf(const QELkd_node* node);
/// Marks the shared empty leaf present and returns it.
QELkd_leaf* markSharedEmptyLeaf();
/// Marks the shared empty leaf absent.
void releaseSharedEmptyLeaf();
/// Destroys node and its whole subtree unless node is null or the shared empty leaf. Node destructors
/// hand their children here, which frees them without recursion, so deep trees cannot overflow the stack.
void destroySubtree(QELkd_node* node);

class SearchImage;

class QELkd_tree : public QELpointSet {
public:
    /// An empty shell for a derived constructor to fill: no points, no root, no box.
    QELkd_tree(int n, int dim, int bucketSize);
    /// Builds the tree over the caller's points (not copied, not owned). With threads above 1 the subtrees
    /// below the first levels are built side by side, and the tree is the same as on one thread; below 1
    /// means one thread per core.
    QELkd_tree(PointArray dataPoints, int n, int dim, int bucketSize, SplitRule rule, int threads = 1);
    /// A tree from the parts `readDump` returns. Takes ownership of index, the two corners and root;
    /// the points stay the caller's. lower, upper and root are null for a tree without points.
    QELkd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
               Point upper, QELkd_node* root);
    /// Destroys the root (unless it is the shared empty leaf), then pointIndex, then the box corners.
    ~QELkd_tree() override;
    QELkd_tree(const QELkd_tree&) = delete;
    QELkd_tree& operator=(const QELkd_tree&) = delete;

    void searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) override;
    int searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists, double eps,
                          int power) override;
    int dimension() override;
    int pointCount() override;
    PointArray points() override;
    virtual void printTree(bool withPoints, std::ostream& out);
    virtual void dumpTree(bool withPoints, std::ostream& out);
    virtual void collectStats(TreeStats& stats);

    /// k nearest by increasing cell distance (not virtual; serves the bd-tree too).
    void searchPriority(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power);

    /// Where the searches' leaf scans find the points' addresses.
    LeafPointOrder leafOrder() const { return {pointIndex, pointIndex + std::max(dataCount, 0), leafPoints}; }

    /// The compact image of the nodes that the calling thread's searches run on: the tree's image when
    /// useSearchImage is on (made by the first call, from any thread, from the nodes as they are then),
    /// the image of the batch call this thread is answering for when it reads a copy of the points, else
    /// null: the searches walk the nodes themselves.
    const SearchImage* searchImage();
    /// The tree's image, made by the first call from the nodes as they are then, whether or not the
    /// searches use it; null for a tree without nodes. Thread-safe.
    const SearchImage* madeSearchImage();
    /// With true the searches run on the image, made anew from the nodes at the next search: a caller who
    /// changes nodes after the tree has been searched calls it to bring the image in step. With false (the
    /// default) they walk the node objects, which is as fast for points read in place and spares the
    /// image's making (about as long as a bucket-1 build's last levels) and memory; a batch call still
    /// makes the image when its copy of the points pays. Not while another thread searches the tree.
    void useSearchImage(bool use);
    /// With true the searches run on an image that also holds a copy of the coordinates in leaf order
    /// (dimensionCount doubles per point), so that a leaf scan reads contiguous memory; with false (the
    /// default) they read the caller's points in place. Turns the image on; takes effect at the next search.
    void copyPointsInLeafOrder(bool copy);

    int dimensionCount;    ///< coordinates per point
    int dataCount;         ///< number of data points
    int bucketSize;        ///< most points a leaf may hold (at least 1; a degenerate cell may hold more)
    PointArray dataPoints; ///< the caller's points; not copied, not owned
    IndexArray pointIndex; ///< owned permutation of 0..n-1; every leaf is one contiguous run of it
    QELkd_node* rootNode;  ///< owned; null when the tree holds no points
    Point boxLower;        ///< owned lower corner of the enclosing box; null when n = 0
    Point boxUpper;        ///< owned upper corner of the enclosing box; null when n = 0
    Point* leafPoints;     ///< owned; dataPoints[pointIndex[i]] at i once the nodes exist (see
                           ///< fillLeafPoints); null before, or without points
    bool noNaNCoordinates = false; ///< fillLeafPoints found no NaN among the coordinates of the points

private:
    SearchImage* nodeImage = nullptr;   ///< owned; valid once nodeImageReady is set
    std::atomic<bool> nodeImageReady{}; ///< nodeImage is made
    std::mutex nodeImageMaking;         ///< held while the first search makes nodeImage
    bool imageSearched = false;         ///< the searches run on nodeImage
    bool imageCopiesPoints = false;     ///< nodeImage holds the coordinates in leaf order
};

/// The memory the structure holds beyond the caller's points: the object itself and, for a tree, its
/// pointIndex, leaf-point addresses, box corners and nodes with their half-spaces (the shared empty leaf
/// belongs to no tree). A search image, which is made on demand and may be dropped, is not counted.
std::size_t structureBytes(const QELpointSet& structure);

/// Shared by every constructor: sets the fields (a bucket size below 1 is stored as 1), creates
/// 0..n-1 as pointIndex when index is null (else the tree takes index), and marks the shared empty
/// leaf present.
void initTreeFields(QELkd_tree& tree, int n, int dim, int bucketSize, PointArray points, IndexArray index);

/// Fills tree.leafPoints from dataPoints and pointIndex, once pointIndex has its final order, and sets
/// noNaNCoordinates. Leaves leafPoints null (and the flag unset) when there are no points or an index is
/// out of range.
void fillLeafPoints(QELkd_tree& tree);

/// The print of the subtree at node (of any node kind), its root at the given level. Iterative, like
/// the statistics walk below, so the deep trees of degenerate data cannot overflow the stack.
void printSubtree(QELkd_node* node, int level, std::ostream& out);
/// Adds the subtree at node (of any node kind) to stats; cell is node's cell, restored on return.
void collectSubtreeStats(QELkd_node* node, int dim, TreeStats& stats, QELorthRect& cell);

/// Builds the subtree of idx[0..n-1] inside cell (restored on return). A cut that would be repeated
/// without end, or once for each of many coincident points, makes the cell one leaf (see buildBdSubtree).
QELkd_node* buildKdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& cell,
                           SplitProcedure rule);

} // namespace qel
