// The bd-tree: a kd-tree whose builder may also shrink a cell, separating the points inside an inner box
// from the rest of the cell. The tree dump's reader and loader are in treedump.h, included here.
#pragma once

#include <qel/kdtree.h>
#include <qel/treedump.h>

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
    int boundSide = 0; ///< +1: coordinates >= boundValue; -1: coordinates <= boundValue
};

/// Powered distance from query to the box the count half-spaces cut out, over those the query violates.
double innerBoxDistance(const HalfSpace* bounds, int count, Point query, int power);

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

    int boundCount;         ///< number of bounding half-spaces
    HalfSpace* bounds;      ///< owned
    QELkd_node* innerChild; ///< points inside the inner box
    QELkd_node* outerChild; ///< the cell's other points
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

/// Decides whether the cell box of idx[0..n-1] shrinks: true with the inner box to shrink to left in
/// inner. split is the tree's splitting rule, for a rule that cuts its way to the inner box (and so
/// reorders idx); box is only read.
using ShrinkProcedure = bool (*)(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                                 SplitProcedure split, QELorthRect& inner);

/// ShrinkRule::None: never shrinks.
bool noShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box, SplitProcedure split,
                  QELorthRect& inner);
/// The box of the points, each side pulled back to the cell's where the gap is narrow.
bool simpleShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                      SplitProcedure split, QELorthRect& inner);
/// The box that repeated splits towards the larger side reach.
bool centroidShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                        SplitProcedure split, QELorthRect& inner);

/// The procedure of a rule; a value outside 0..3 is a fatal "Illegal shrinking rule".
ShrinkProcedure shrinkProcedureFor(ShrinkRule rule);
/// The rule's decision for one cell. The rule is looked up only here, so it is not consulted for a
/// tree that never needs a decision.
bool chooseDecomposition(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                         SplitProcedure split, ShrinkRule shrinkRule, QELorthRect& inner);

/// Puts the points inside the closed box inner first and returns their number.
int partitionByBox(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& inner);
/// The half-spaces that cut inner out of outer; bounds receives a new array (null when count is 0).
int boundingHalfSpaces(const QELorthRect& inner, const QELorthRect& outer, int dim, HalfSpace*& bounds);
/// inner = outer narrowed by the half-spaces.
void boxFromHalfSpaces(const QELorthRect& outer, int dim, int count, const HalfSpace* bounds,
                       QELorthRect& inner);

} // namespace qel
