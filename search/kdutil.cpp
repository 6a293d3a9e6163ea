// Geometry on which the trees are built and searched: boxes around subsets, spreads, the in-place
// partitions that the splitting rules use, and the distance from a point to a box. Every partition
// permutes the index array only and decides the order of points within the tree's leaves.
#include <qel/kdutil.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace qel {

void enclosingBox(PointArray pa, IndexArray idx, int n, int dim, QELorthRect& box) {
    for (int d = 0; d < dim; ++d) {
        double lo = pa[idx[0]][d];
        double hi = lo;
        for (int i = 0; i < n; ++i) {
            const double v = pa[idx[i]][d];
            if (v < lo)
                lo = v;
            else if (v > hi)
                hi = v;
        }
        box.lower[d] = lo;
        box.upper[d] = hi;
    }
}

double distanceToBox(Point q, Point lowerCorner, Point upperCorner, int dim, int power) {
    double acc = 0.0;
    for (int d = 0; d < dim; ++d) {
        if (q[d] < lowerCorner[d])
            acc = combineTerms(acc, coordinateTerm(lowerCorner[d] - q[d], power));
        else if (q[d] > upperCorner[d])
            acc = combineTerms(acc, coordinateTerm(q[d] - upperCorner[d], power));
    }
    return acc;
}

template <class Members>
void coordinateRange(Members members, int n, int d, double& minValue, double& maxValue) {
    minValue = members.point(0)[d];
    maxValue = minValue;
    for (int i = 1; i < n; ++i) {
        const double v = members.point(i)[d];
        if (v < minValue)
            minValue = v;
        else if (v > maxValue)
            maxValue = v;
    }
}

template <class Members>
void coordinateRanges(Members members, int n, const int* dims, int count, double* minValues,
                      double* maxValues) {
    for (int j = 0; j < count; ++j)
        minValues[j] = maxValues[j] = members.point(0)[dims[j]];
    for (int i = 1; i < n; ++i) {
        const Point p = members.point(i);
        for (int j = 0; j < count; ++j) {
            const double v = p[dims[j]];
            if (v < minValues[j])
                minValues[j] = v;
            else if (v > maxValues[j])
                maxValues[j] = v;
        }
    }
}

template <class Members> double coordinateSpread(Members members, int n, int d) {
    double minValue = 0.0;
    double maxValue = 0.0;
    coordinateRange(members, n, d, minValue, maxValue);
    return maxValue - minValue;
}

template <class Members> int widestSpreadDimension(Members members, int n, int dim) {
    if (n == 0) return 0;
    double best = 0.0;
    int bestDim = 0;
    forEachRange(
        members, n, dim, [](int) { return true; },
        [&](int d, double low, double high) {
            if (high - low > best) {
                best = high - low;
                bestDim = d;
            }
        });
    return bestDim;
}

namespace {

/// Puts the nLow smallest of the n values v(0..n-1) first, swap(i, j) exchanging positions i and j,
/// and sets cutValue between the sides.
template <class Value, class Swap> void selectAtRank(int n, int nLow, Value v, Swap swap, double& cutValue) {
    int l = 0;
    int r = n - 1;
    while (l < r) {
        const int m = (l + r) / 2;
        if (v(m) > v(r)) swap(m, r);
        swap(l, m);
        const double c = v(l);
        // Member r (>= c) stops the upward scan and the pivot at l the downward one.
        int i = l;
        int j = r;
        for (;;) {
            do
                ++i;
            while (v(i) < c);
            do
                --j;
            while (v(j) > c);
            if (i >= j) break;
            swap(i, j);
        }
        swap(l, j);
        if (j > nLow)
            r = j - 1;
        else if (j < nLow)
            l = j + 1;
        else
            break;
    }
    // The largest lower member goes last on its side, next to the smallest upper one.
    int largest = 0;
    for (int i = 1; i < nLow; ++i)
        if (v(i) > v(largest)) largest = i;
    swap(largest, nLow - 1);
    cutValue = midpointOf(v(nLow - 1), v(nLow));
}

/// Indexed members from which the selection reads a copy of the coordinates it compares, kept in step
/// with the members: their points lie scattered in memory, and it reads each several times. Copied
/// members lie in order already.
constexpr int copiedKeysFrom = 1024;

} // namespace

template <class Members> void partitionAtRank(Members members, int n, int d, double& cutValue, int nLow) {
    if (std::is_same_v<Members, CopiedMembers> || n < copiedKeysFrom) {
        selectAtRank(
            n, nLow, [&](int i) { return members.point(i)[d]; }, [&](int i, int j) { members.swap(i, j); },
            cutValue);
        return;
    }
    std::vector<double> keys(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        keys[static_cast<std::size_t>(i)] = members.point(i)[d];
    selectAtRank(
        n, nLow, [&](int i) { return keys[static_cast<std::size_t>(i)]; },
        [&](int i, int j) {
            std::swap(keys[static_cast<std::size_t>(i)], keys[static_cast<std::size_t>(j)]);
            members.swap(i, j);
        },
        cutValue);
}

template <class Members>
void partitionAroundValue(Members members, int n, int d, double cutValue, int& belowEnd, int& equalEnd) {
    auto v = [&](int i) { return members.point(i)[d]; };
    int l = 0;
    int r = n - 1;
    // Whether a member of the upper part is not above the cut (equal, or NaN). Every such member is
    // looked at by one of the scans below; without one, the second pass would find nothing to move.
    bool notAbove = false;
    for (;;) {
        while (l < n && v(l) < cutValue)
            ++l;
        if (l < n && !(v(l) > cutValue)) notAbove = true;
        while (r >= 0 && v(r) >= cutValue) {
            if (!(v(r) > cutValue)) notAbove = true;
            --r;
        }
        if (r < l) break;
        members.swap(l++, r--);
    }
    belowEnd = l;
    if (!notAbove) {
        equalEnd = l;
        return;
    }
    r = n - 1;
    for (;;) {
        while (l < n && v(l) <= cutValue)
            ++l;
        while (r >= belowEnd && v(r) > cutValue)
            --r;
        if (r < l) break;
        members.swap(l++, r--);
    }
    equalEnd = l;
}

template <class Members> int balanceAtValue(Members members, int n, int d, double cutValue) {
    int below = 0;
    for (int i = 0; i < n; ++i)
        if (members.point(i)[d] < cutValue) ++below;
    return below - n / 2;
}

// The two ways the rules see a subset.
template void coordinateRange(IndexedMembers, int, int, double&, double&);
template void coordinateRanges(IndexedMembers, int, const int*, int, double*, double*);
template double coordinateSpread(IndexedMembers, int, int);
template int widestSpreadDimension(IndexedMembers, int, int);
template void partitionAtRank(IndexedMembers, int, int, double&, int);
template void partitionAroundValue(IndexedMembers, int, int, double, int&, int&);
template int balanceAtValue(IndexedMembers, int, int, double);
template void coordinateRange(CopiedMembers, int, int, double&, double&);
template void coordinateRanges(CopiedMembers, int, const int*, int, double*, double*);
template double coordinateSpread(CopiedMembers, int, int);
template int widestSpreadDimension(CopiedMembers, int, int);
template void partitionAtRank(CopiedMembers, int, int, double&, int);
template void partitionAroundValue(CopiedMembers, int, int, double, int&, int&);
template int balanceAtValue(CopiedMembers, int, int, double);

void coordinateRange(PointArray pa, IndexArray idx, int n, int d, double& minValue, double& maxValue) {
    coordinateRange(IndexedMembers{pa, idx}, n, d, minValue, maxValue);
}

double coordinateSpread(PointArray pa, IndexArray idx, int n, int d) {
    return coordinateSpread(IndexedMembers{pa, idx}, n, d);
}

int widestSpreadDimension(PointArray pa, IndexArray idx, int n, int dim) {
    return widestSpreadDimension(IndexedMembers{pa, idx}, n, dim);
}

void partitionAtRank(PointArray pa, IndexArray idx, int n, int d, double& cutValue, int nLow) {
    partitionAtRank(IndexedMembers{pa, idx}, n, d, cutValue, nLow);
}

void partitionAroundValue(PointArray pa, IndexArray idx, int n, int d, double cutValue, int& belowEnd,
                          int& equalEnd) {
    partitionAroundValue(IndexedMembers{pa, idx}, n, d, cutValue, belowEnd, equalEnd);
}

int balanceAtValue(PointArray pa, IndexArray idx, int n, int d, double cutValue) {
    return balanceAtValue(IndexedMembers{pa, idx}, n, d, cutValue);
}

double boxAspectRatio(int dim, const QELorthRect& box) {
    if (dim <= 0) return 1.0;
    double longest = box.upper[0] - box.lower[0];
    double shortest = longest;
    for (int d = 0; d < dim; ++d) {
        const double side = box.upper[d] - box.lower[d];
        if (side > longest) longest = side;
        if (side < shortest) shortest = side;
    }
    return longest / shortest;
}

} // namespace qel
