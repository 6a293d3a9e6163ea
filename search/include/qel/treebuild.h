// What the subtree builder (treebuild.cpp) shares with the rules it calls.
#pragma once

#include <qel/qelinclude.h>

namespace qel {

/// True when cutting on from this cut could never end, or only after one cut per point: the cut sends
/// every point to a side whose cell is the whole cell, or to one side along a dimension where some
/// point's coordinate is NaN or infinite, or it sends one of several coincident points away and leaves the
/// others the whole cell (so the same cut would come again for each of them). The builder makes such a
/// cell a leaf; the centroid shrinking rule stops its cuts there.
bool cutMakesNoProgress(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& cell, int cutDim,
                        double cutValue, int nLow);

} // namespace qel
