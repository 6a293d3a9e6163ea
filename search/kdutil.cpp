// Geometry on which the trees are built and searched: boxes around subsets, spreads, the in-place
// partitions that the splitting rules use, and the distance from a point to a box. Every partition
// permutes the index array only and decides the order of points within the tree's leaves.
#include "kdutil.h"

#include <utility>

namespace qel {

namespace {

/// Coordinate d of subset member i.
inline double coordinate(PointArray pa, IndexArray idx, int i, int d) {
    return pa[idx[i]][d];
}

} // namespace

void enclosingBox(PointArray pa, IndexArray idx, int n, int dim, QELorthRect& box) {
    for (int d = 0; d < dim; ++d) {
        double lo = coordinate(pa, idx, 0, d);
        double hi = lo;
        for (int i = 0; i < n; ++i) {
            const double v = coordinate(pa, idx, i, d);
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

void coordinateRange(PointArray pa, IndexArray idx, int n, int d, double& minValue, double& maxValue) {
    minValue = coordinate(pa, idx, 0, d);
    maxValue = minValue;
    for (int i = 1; i < n; ++i) {
        const double v = coordinate(pa, idx, i, d);
        if (v < minValue)
            minValue = v;
        else if (v > maxValue)
            maxValue = v;
    }
}

void coordinateRanges(PointArray pa, IndexArray idx, int n, const int* dims, int count, double* minValues,
                      double* maxValues) {
    for (int j = 0; j < count; ++j)
        minValues[j] = maxValues[j] = coordinate(pa, idx, 0, dims[j]);
    for (int i = 1; i < n; ++i) {
        const Point p = pa[idx[i]];
        for (int j = 0; j < count; ++j) {
            const double v = p[dims[j]];
            if (v < minValues[j])
                minValues[j] = v;
            else if (v > maxValues[j])
                maxValues[j] = v;
        }
    }
}

double coordinateSpread(PointArray pa, IndexArray idx, int n, int d) {
    double minValue = 0.0;
    double maxValue = 0.0;
    coordinateRange(pa, idx, n, d, minValue, maxValue);
    return maxValue - minValue;
}

int widestSpreadDimension(PointArray pa, IndexArray idx, int n, int dim) {
    if (n == 0) return 0;
    double best = 0.0;
    int bestDim = 0;
    for (int d = 0; d < dim; ++d) {
        const double s = coordinateSpread(pa, idx, n, d);
        if (s > best) {
            best = s;
            bestDim = d;
        }
    }
    return bestDim;
}

void partitionAtRank(PointArray pa, IndexArray idx, int n, int d, double& cutValue, int nLow) {
    auto v = [&](int i) { return coordinate(pa, idx, i, d); };
    int l = 0;
    int r = n - 1;
    while (l < r) {
        const int m = (l + r) / 2;
        if (v(m) > v(r)) std::swap(idx[m], idx[r]);
        std::swap(idx[l], idx[m]);
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
            std::swap(idx[i], idx[j]);
        }
        std::swap(idx[l], idx[j]);
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
    std::swap(idx[largest], idx[nLow - 1]);
    cutValue = (v(nLow - 1) + v(nLow)) * 0.5;
}

void partitionAroundValue(PointArray pa, IndexArray idx, int n, int d, double cutValue, int& belowEnd,
                          int& equalEnd) {
    auto v = [&](int i) { return coordinate(pa, idx, i, d); };
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
        std::swap(idx[l++], idx[r--]);
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
        std::swap(idx[l++], idx[r--]);
    }
    equalEnd = l;
}

int balanceAtValue(PointArray pa, IndexArray idx, int n, int d, double cutValue) {
    int below = 0;
    for (int i = 0; i < n; ++i)
        if (coordinate(pa, idx, i, d) < cutValue) ++below;
    return below - n / 2;
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
