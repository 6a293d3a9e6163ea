// The five rules that cut a tree cell in two. Each trades balance (equal counts on both sides)
// against cell shape; every choice below decides the tree and so the tie order of results.
#pragma once

#include <qel/qelinclude.h>

namespace qel {

inline constexpr double SideLengthTolerance = 0.001;
inline constexpr double FairRatioBound = 3.0;

/// Values equal the item indices of the option panel's "Splitting rule" group.
enum class SplitRule {
    StandardKd = 0,
    Midpoint = 1,
    Fair = 2,
    SlidingMidpoint = 3,
    SlidingFair = 4,
    Default = 5
};

/// Reorders idx[0..n-1] so that idx[0..nLow-1] go to the lower child (coordinate cutDim <= cutValue) and
/// the rest to the upper child (>= cutValue). The cell is only read. Called with n >= 2; with smaller n a
/// rule stays inside the subset.
using SplitProcedure = void (*)(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim,
                                int& cutDim, double& cutValue, int& nLow);

void splitStandard(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                   double& cutValue, int& nLow);
void splitMidpoint(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                   double& cutValue, int& nLow);
void splitSlidingMidpoint(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                          double& cutValue, int& nLow);
void splitFair(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
               double& cutValue, int& nLow);
void splitSlidingFair(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                      double& cutValue, int& nLow);

/// The procedure of a rule; a value outside 0..5 is a fatal "Illegal splitting method".
SplitProcedure splitProcedureFor(SplitRule rule);

} // namespace qel
