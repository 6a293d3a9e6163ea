// The bd-tree: a kd-tree whose builder may also shrink a cell, separating the points inside an inner box
// from the rest of the cell. Also the tree dump reader.
#pragma once

#include <istream>

#include <qel/kdtree.h>

namespace qel {

/// Values equal the item indices of the option panel's "Shrinking rule" group.
enum class ShrinkRule { None = 0, Simple = 1, Centroid = 2, Default = 3 };

inline constexpr double ShrinkGapFraction = 0.5;
inline constexpr int ShrinkSideMinimum = 2;
inline constexpr double CentroidPointFraction = 0.5;
inline constexpr double CentroidSplitFactor = 0.5;

/// Coordinate x lies inside when (x - boundValue) * boundSide >= 0.
struct HalfSpace {
    int boundDimension = 0; ///< coordinate index
    double boundValue = 0.0;
    int boundSide = 0;      ///< +1: coordinates >= boundValue; -1: coordinates <= boundValue
};

/// Separates the points inside an inner box (the cell narrowed by `bounds`) from the cell's others.
class QELbd_shrink : public QELkd_node {
public:
    /// Takes ownership of bounds (an array of count records) and of both children.
    QELbd_shrink(int count, HalfSpace* bounds, QELkd_node* inner, QELkd_node* outer);
    /// Destroys innerChild, then outerChild (unless absent or the shared empty leaf), then bounds.
    ~QELbd_shrink() override;
    /// Powered distance from query to the inner box, over the half-spaces the query violates.
    double innerDistance(Point query, int power) const;
    void searchStep(double boxDist, int power) override;
    void prioritySearchStep(double boxDist, int power) override;
    void fixedRadiusStep(double boxDist, int power) override;
    void collectStats(int dim, TreeStats& stats, QELorthRect& cell) override;
    void printNode(int level, std::ostream& out) override;
    void dumpNode(std::ostream& out) override;

    int boundCount;          ///< number of bounding half-spaces
    HalfSpace* bounds;       ///< owned
    QELkd_node* innerChild;  ///< points inside the inner box
    QELkd_node* outerChild;  ///< the cell's other points
};

class QELbd_tree : public QELkd_tree {
public:
    /// threads as for the kd-tree's building constructor: the same tree on any number of them.
    QELbd_tree(PointArray pa, int n, int dim, int bucketSize, SplitRule splitRule, ShrinkRule shrinkRule,
               int threads = 1);
    /// A tree from the parts `readDump` returns, with the ownership of the matching kd-tree constructor.
    QELbd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
               Point upper, QELkd_node* root);
    ~QELbd_tree() override;
};

/// Gives a tree whose fields `initTreeFields` set its enclosing box and nodes over its data points; the
/// kd-tree builds with ShrinkRule::None. Nothing is built for a tree without points. threads as for the
/// constructors.
void buildTreeNodes(QELkd_tree& tree, SplitRule splitRule, ShrinkRule shrinkRule, int threads = 1);
/// Builds the subtree of idx[0..n-1] inside box (restored on return), shrinking where shrinkRule says.
/// Works without recursion, so the deep trees of degenerate data cannot overflow the stack. The build
/// always ends: a cut that sends every point into a cell no smaller than their own, or that peels one of
/// several coincident points off and leaves the rest that cell, makes the cell one leaf; a shrink that
/// cuts nothing off is not taken.
QELkd_node* buildBdSubtree(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& box,
                           SplitProcedure split, ShrinkRule shrinkRule);
/// True: shrink to the box left in inner. A rule outside 0..3 is a fatal "Illegal shrinking rule".
bool chooseDecomposition(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                         SplitProcedure split, ShrinkRule shrinkRule, QELorthRect& inner);
bool simpleShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                      QELorthRect& inner);
bool centroidShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                        SplitProcedure split, QELorthRect& inner);
/// Puts the points inside the closed box inner first and returns their number.
int partitionByBox(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& inner);
/// The half-spaces that cut inner out of outer; bounds receives a new array (null when count is 0).
int boundingHalfSpaces(const QELorthRect& inner, const QELorthRect& outer, int dim, HalfSpace*& bounds);
/// inner = outer narrowed by the half-spaces.
void boxFromHalfSpaces(const QELorthRect& outer, int dim, int count, const HalfSpace* bounds,
                       QELorthRect& inner);

/// Kd 0, Bd 1; any value other than Bd reads as Kd.
enum TreeKind { Kd = 0, Bd = 1 };

/// Reads a dump written with its points. Every out-parameter receives a new object owned by the caller
/// (the shared empty leaf excepted): points from `newPointArray`, indices of n entries (`new[]`), the
/// box corners from `newPoint`. Returns the root; for a "null" root the corners are null too, like those
/// of a built tree without points. Malformed input ends with a fatal report; if the fatal handler
/// throws, everything made so far is released and the out-parameters are left unchanged.
QELkd_node* readDump(std::istream& in, TreeKind kind, PointArray& points, IndexArray& indices, int& dim,
                     int& n, int& bucketSize, Point& lower, Point& upper);
/// Reads one node record and its subtrees into indices[next..n-1], advancing next. Cut and bound
/// dimensions must lie in 0..dim-1, leaf indices in 0..n-1 and appear once; "null" is refused below
/// the top record, and so is a split or shrink whose subtree holds no index.
QELkd_node* readDumpNode(std::istream& in, TreeKind kind, int dim, int n, IndexArray indices, int& next);

} // namespace qel
