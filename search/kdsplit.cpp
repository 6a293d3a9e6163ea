// The five splitting rules. Standard cuts at the median of the widest spread; the midpoint rules cut
// the cell's longest side in half (the sliding one moves the cut onto the points when it would leave a
// side empty); the fair rules keep both children from becoming thin slabs. Which dimension wins, where
// the cut lies and how many points go low decide the tree and so the order of equally distant results.
#include <qel/kdsplit.h>

#include <iterator>

#include <qel/kdutil.h>
#include <qel/treebuild.h>

namespace qel {

namespace {

double side(const QELorthRect& cell, int d) {
    return cell.upper[d] - cell.lower[d];
}

double longestSide(const QELorthRect& cell, int dim) {
    double longest = side(cell, 0);
    for (int d = 1; d < dim; ++d)
        if (side(cell, d) > longest) longest = side(cell, d);
    return longest;
}

/// Fewer than two points cannot be cut in two: they all stay on the lower side, which keeps every rule
/// inside the subset when called outside its range.
template <class Members> bool keepTogether(Members members, int n, int& cutDim, double& cutValue, int& nLow) {
    if (n >= 2) return false;
    cutDim = 0;
    cutValue = n == 1 ? members.point(0)[0] : 0.0;
    nLow = n;
    return true;
}

/// Among the sides within the tolerance of the longest, the one of widest point spread (lowest on
/// ties), with the points' range along it. Starting below every spread takes the first such side even
/// when no point spreads.
template <class Members>
int midpointCutDimension(Members members, const QELorthRect& cell, int n, int dim, double& minValue,
                         double& maxValue) {
    const double longest = longestSide(cell, dim);
    double bestSpread = -1.0;
    int cutDim = 0;
    forEachRange(
        members, n, dim, [&](int d) { return !((1 - SideLengthTolerance) * longest > side(cell, d)); },
        [&](int d, double low, double high) {
            const double s = high - low;
            if (s > bestSpread) {
                bestSpread = s;
                cutDim = d;
                minValue = low;
                maxValue = high;
            }
        });
    if (bestSpread < 0.0) coordinateRange(members, n, cutDim, minValue, maxValue); // every spread NaN
    return cutDim;
}

/// Points equal to the cut balance the two sides as far as they allow.
int balancedLowCount(int belowEnd, int equalEnd, int n) {
    if (belowEnd > n / 2) return belowEnd;
    if (equalEnd < n / 2) return equalEnd;
    return n / 2;
}

/// The fair rules' dimension and their two candidate cuts, each one third of the longest other side
/// inside the cell. A side of length 0 is never eligible.
template <class Members>
void fairCandidates(Members members, const QELorthRect& cell, int n, int dim, int& cutDim, double& lowCut,
                    double& highCut) {
    const double longest = longestSide(cell, dim);
    double bestSpread = 0.0;
    cutDim = 0;
    forEachRange(
        members, n, dim,
        [&](int d) { return side(cell, d) > 0.0 && !((2.0 * longest) / side(cell, d) > FairRatioBound); },
        [&](int d, double low, double high) {
            const double s = high - low;
            if (s > bestSpread) {
                bestSpread = s;
                cutDim = d;
            }
        });
    double otherLongest = 0.0;
    for (int d = 0; d < dim; ++d)
        if (d != cutDim && side(cell, d) > otherLongest) otherLongest = side(cell, d);
    const double piece = otherLongest / FairRatioBound;
    lowCut = cell.lower[cutDim] + piece;
    highCut = cell.upper[cutDim] - piece;
}

template <class Members>
void cutStandard(Members members, const QELorthRect&, int n, int dim, int& cutDim, double& cutValue,
                 int& nLow) {
    if (keepTogether(members, n, cutDim, cutValue, nLow)) return;
    cutDim = widestSpreadDimension(members, n, dim);
    nLow = n / 2;
    partitionAtRank(members, n, cutDim, cutValue, nLow);
}

template <class Members>
void cutMidpoint(Members members, const QELorthRect& cell, int n, int dim, int& cutDim, double& cutValue,
                 int& nLow) {
    if (keepTogether(members, n, cutDim, cutValue, nLow)) return;
    double minValue = 0.0;
    double maxValue = 0.0;
    cutDim = midpointCutDimension(members, cell, n, dim, minValue, maxValue);
    cutValue = midpointOf(cell.lower[cutDim], cell.upper[cutDim]);
    int belowEnd = 0;
    int equalEnd = 0;
    partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
    nLow = balancedLowCount(belowEnd, equalEnd, n);
}

template <class Members>
void cutSlidingMidpoint(Members members, const QELorthRect& cell, int n, int dim, int& cutDim,
                        double& cutValue, int& nLow) {
    if (keepTogether(members, n, cutDim, cutValue, nLow)) return;
    // The range along the cut dimension comes with the choice of that dimension: one pass fewer.
    double minValue = 0.0;
    double maxValue = 0.0;
    cutDim = midpointCutDimension(members, cell, n, dim, minValue, maxValue);
    const double ideal = midpointOf(cell.lower[cutDim], cell.upper[cutDim]);
    if (ideal < minValue)
        cutValue = minValue;
    else if (ideal > maxValue)
        cutValue = maxValue;
    else
        cutValue = ideal;
    int belowEnd = 0;
    int equalEnd = 0;
    partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
    // A cut slid onto the extreme point keeps exactly that point on the otherwise empty side.
    if (ideal < minValue)
        nLow = 1;
    else if (ideal > maxValue)
        nLow = n - 1;
    else
        nLow = balancedLowCount(belowEnd, equalEnd, n);
}

template <class Members>
void cutFair(Members members, const QELorthRect& cell, int n, int dim, int& cutDim, double& cutValue,
             int& nLow) {
    if (keepTogether(members, n, cutDim, cutValue, nLow)) return;
    double lowCut = 0.0;
    double highCut = 0.0;
    fairCandidates(members, cell, n, dim, cutDim, lowCut, highCut);
    int belowEnd = 0;
    int equalEnd = 0;
    if (balanceAtValue(members, n, cutDim, lowCut) >= 0) {
        cutValue = lowCut;
        partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
        nLow = belowEnd;
    } else if (balanceAtValue(members, n, cutDim, highCut) <= 0) {
        cutValue = highCut;
        partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
        nLow = equalEnd;
    } else {
        nLow = n / 2;
        partitionAtRank(members, n, cutDim, cutValue, nLow);
    }
}

template <class Members>
void cutSlidingFair(Members members, const QELorthRect& cell, int n, int dim, int& cutDim, double& cutValue,
                    int& nLow) {
    if (keepTogether(members, n, cutDim, cutValue, nLow)) return;
    double lowCut = 0.0;
    double highCut = 0.0;
    fairCandidates(members, cell, n, dim, cutDim, lowCut, highCut);
    double minValue = 0.0;
    double maxValue = 0.0;
    coordinateRange(members, n, cutDim, minValue, maxValue);
    int belowEnd = 0;
    int equalEnd = 0;
    if (balanceAtValue(members, n, cutDim, lowCut) >= 0) {
        // Slide down onto the largest point when the candidate would leave the upper side empty.
        cutValue = maxValue > lowCut ? lowCut : maxValue;
        partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
        nLow = maxValue > lowCut ? belowEnd : n - 1;
    } else if (balanceAtValue(members, n, cutDim, highCut) <= 0) {
        cutValue = minValue < highCut ? highCut : minValue;
        partitionAroundValue(members, n, cutDim, cutValue, belowEnd, equalEnd);
        nLow = minValue < highCut ? equalEnd : 1;
    } else {
        nLow = n / 2;
        partitionAtRank(members, n, cutDim, cutValue, nLow);
    }
}

} // namespace

void splitStandard(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                   double& cutValue, int& nLow) {
    cutStandard(IndexedMembers{pa, idx}, cell, n, dim, cutDim, cutValue, nLow);
}

void splitMidpoint(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                   double& cutValue, int& nLow) {
    cutMidpoint(IndexedMembers{pa, idx}, cell, n, dim, cutDim, cutValue, nLow);
}

void splitSlidingMidpoint(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                          double& cutValue, int& nLow) {
    cutSlidingMidpoint(IndexedMembers{pa, idx}, cell, n, dim, cutDim, cutValue, nLow);
}

void splitFair(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
               double& cutValue, int& nLow) {
    cutFair(IndexedMembers{pa, idx}, cell, n, dim, cutDim, cutValue, nLow);
}

void splitSlidingFair(PointArray pa, IndexArray idx, const QELorthRect& cell, int n, int dim, int& cutDim,
                      double& cutValue, int& nLow) {
    cutSlidingFair(IndexedMembers{pa, idx}, cell, n, dim, cutDim, cutValue, nLow);
}

SplitProcedure splitProcedureFor(SplitRule rule) {
    static constexpr SplitProcedure procedures[] = {splitStandard,    splitMidpoint,
                                                    splitFair,        splitSlidingMidpoint,
                                                    splitSlidingFair, splitSlidingMidpoint};
    const int value = static_cast<int>(rule);
    if (value < 0 || value >= static_cast<int>(std::size(procedures))) {
        reportError("Illegal splitting method", Fatal);
        return nullptr;
    }
    return procedures[value];
}

CopiedSplit copiedSplitFor(SplitProcedure procedure) {
    if (procedure == splitStandard) return cutStandard<CopiedMembers>;
    if (procedure == splitMidpoint) return cutMidpoint<CopiedMembers>;
    if (procedure == splitFair) return cutFair<CopiedMembers>;
    if (procedure == splitSlidingMidpoint) return cutSlidingMidpoint<CopiedMembers>;
    if (procedure == splitSlidingFair) return cutSlidingFair<CopiedMembers>;
    return nullptr;
}

} // namespace qel
