// Fixed-radius search of a kd- or bd-tree: counts the points within a powered distance bound and
// reports the k nearest of them; eps loosens only the pruning of cells.
#pragma once

#include <memory>

#include <qel/kdtree.h>

namespace qel {

/// State of the running fixed-radius search; one per thread, reset at the search's entry. It shares
/// nothing with the other searches.
struct FixedRadiusSearchState {
    int radiusDim = 0;                       ///< the tree's dimensionCount
    Point radiusQuery = nullptr;             ///< the query point
    double radiusLimit = 0.0;                ///< the distance bound, as passed (powered, like every distance)
    ErrorFactor radiusErrorFactor;           ///< of eps: a far cell is searched unless its distance times
                                             ///< this exceeds radiusLimit (by more than rounding could
                                             ///< explain)
    PointArray radiusPoints = nullptr;       ///< the tree's dataPoints
    LeafPointOrder radiusOrder;              ///< the tree's points in leaf order
    std::unique_ptr<QELmin_k> radiusNearest; ///< the k nearest found within the bound; kept between
                                             ///< searches, emptied at entry
    int radiusVisitedCount = 0;              ///< data points examined, for the visit limit
    int radiusInRangeCount = 0;              ///< data points found within the bound: the search's result
};
extern thread_local FixedRadiusSearchState fixedRadiusSearch;

} // namespace qel
