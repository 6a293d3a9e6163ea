// What the subtree builder (treebuild.cpp) shares with the rules it calls.
#pragma once

#include <qel/kdsplit.h>
#include <qel/kdutil.h>
#include <qel/qelinclude.h>

namespace qel {

/// True when cutting on from this cut could never end, or only after one cut per point: the cut sends
/// every point to a side whose cell is the whole cell, or to one side along a dimension where some
/// point's coordinate is NaN or infinite, or it sends one of several coincident points away and leaves the
/// others the whole cell (so the same cut would come again for each of them). The builder makes such a
/// cell a leaf; the centroid shrinking rule stops its cuts there.
bool cutMakesNoProgress(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& cell, int cutDim,
                        double cutValue, int nLow);

/// A splitting rule on members whose coordinates move with their indices (a kd-tree build's copy of
/// the coordinates): the same cut, the same order of idx.
using CopiedSplit = void (*)(CopiedMembers members, const QELorthRect& cell, int n, int dim, int& cutDim,
                             double& cutValue, int& nLow);
/// The copied form of one of the five procedures of kdsplit.h (defined in kdsplit.cpp); null for any
/// other procedure.
CopiedSplit copiedSplitFor(SplitProcedure procedure);

} // namespace qel
