// Geometry on which the trees are built and searched. A subset is (pa, idx, n): the points
// pa[idx[0]] .. pa[idx[n-1]]. Partitioning permutes idx[0..n-1] (and a build's own copy of the
// coordinates); the caller's points never move.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include <qel/qelinclude.h>

namespace qel {

/// A subset as (pa, idx): member i is pa[idx[i]].
struct IndexedMembers {
    PointArray pa;
    IndexArray idx;
    Point point(int i) const { return pa[idx[i]]; }
    void swap(int i, int j) const { std::swap(idx[i], idx[j]); }
};

/// A subset whose members' coordinates are copied side by side and move with their indices, so that
/// the passes over a large subset read memory in order instead of points scattered through the caller's
/// array: the cost that dominates building a large tree. Partitions permute idx exactly as they do for
/// IndexedMembers, and read the same values.
struct CopiedMembers {
    IndexArray idx;
    double* coordinates; ///< the dim coordinates of member i start at coordinates + i * dim
    int dim;
    Point point(int i) const { return coordinates + static_cast<std::ptrdiff_t>(i) * dim; }
    void swap(int i, int j) const {
        std::swap(idx[i], idx[j]);
        std::swap_ranges(point(i), point(i) + dim, point(j));
    }
};

/// The value halfway between a and b: (a + b) / 2 wherever a + b is finite, and without its overflow
/// near the largest doubles, where a cut at infinity would leave the upper point below it.
inline double midpointOf(double a, double b) {
    constexpr double half = std::numeric_limits<double>::max() / 2;
    return std::fabs(a) <= half && std::fabs(b) <= half ? (a + b) * 0.5 : a * 0.5 + b * 0.5;
}

/// Sets the corners of box to the smallest box holding the subset (n >= 1).
void enclosingBox(PointArray pa, IndexArray idx, int n, int dim, QELorthRect& box);
/// Powered distance from q to the closed box; 0 when q is inside or on it.
double distanceToBox(Point q, Point lowerCorner, Point upperCorner, int dim, int power);
/// Largest minus smallest coordinate d of the subset (n >= 1).
double coordinateSpread(PointArray pa, IndexArray idx, int n, int d);
void coordinateRange(PointArray pa, IndexArray idx, int n, int d, double& minValue, double& maxValue);
/// Dimension of largest spread; the lowest dimension wins ties; 0 for an empty subset.
int widestSpreadDimension(PointArray pa, IndexArray idx, int n, int dim);
/// Puts the nLow smallest members along d first (1 <= nLow <= n-1) and sets cutValue between the sides.
void partitionAtRank(PointArray pa, IndexArray idx, int n, int d, double& cutValue, int nLow);
/// Three-way partition: [0, belowEnd) < cutValue, [belowEnd, equalEnd) == cutValue, the rest above.
void partitionAroundValue(PointArray pa, IndexArray idx, int n, int d, double cutValue, int& belowEnd,
                          int& equalEnd);
/// Members strictly below cutValue minus n / 2.
int balanceAtValue(PointArray pa, IndexArray idx, int n, int d, double cutValue);
/// The same operations on either kind of members (instantiated for IndexedMembers and CopiedMembers).
template <class Members>
void coordinateRange(Members members, int n, int d, double& minValue, double& maxValue);
/// coordinateRange along dims[0..count-1] at once, into minValues[j] and maxValues[j]: one pass looks
/// each point up once for all of them.
template <class Members>
void coordinateRanges(Members members, int n, const int* dims, int count, double* minValues,
                      double* maxValues);
/// Calls visit(d, minValue, maxValue) for each dimension d < dim that wanted(d) accepts, in increasing
/// order, with the subset's range along it: one pass over the members per group of dimensions, as a
/// large subset's members are scattered in memory.
template <class Members, class Wanted, class Visit>
void forEachRange(Members members, int n, int dim, Wanted wanted, Visit visit) {
    constexpr int groupSize = 8;
    int dims[groupSize];
    double lows[groupSize];
    double highs[groupSize];
    for (int d = 0; d < dim;) {
        int count = 0;
        for (; d < dim && count < groupSize; ++d)
            if (wanted(d)) dims[count++] = d;
        if (count == 0) continue;
        coordinateRanges(members, n, dims, count, lows, highs);
        for (int j = 0; j < count; ++j)
            visit(dims[j], lows[j], highs[j]);
    }
}
template <class Members> double coordinateSpread(Members members, int n, int d);
template <class Members> int widestSpreadDimension(Members members, int n, int dim);
template <class Members> void partitionAtRank(Members members, int n, int d, double& cutValue, int nLow);
template <class Members>
void partitionAroundValue(Members members, int n, int d, double cutValue, int& belowEnd, int& equalEnd);
template <class Members> int balanceAtValue(Members members, int n, int d, double cutValue);

/// Longest side / shortest side of the box, as computed (infinite or NaN for degenerate sides; 1 when
/// dim is 0).
double boxAspectRatio(int dim, const QELorthRect& box);

} // namespace qel
