// The shrinking rules of the bd-tree: each decides whether a cell shrinks, and to which inner box. They
// share one signature and are chosen from one table, as the splitting rules are.
#include <qel/bdtree.h>

#include <iterator>

#include <qel/kdutil.h>
#include <qel/treebuild.h>

namespace qel {

bool noShrinkTest(PointArray, IndexArray, int, int, const QELorthRect&, SplitProcedure, QELorthRect&) {
    return false;
}

bool simpleShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box, SplitProcedure,
                      QELorthRect& inner) {
    enclosingBox(pa, idx, n, dim, inner);
    double maxLen = 0.0;
    for (int d = 0; d < dim; ++d)
        if (inner.upper[d] - inner.lower[d] > maxLen) maxLen = inner.upper[d] - inner.lower[d];
    // A side shrinks when the gap between the points and the cell is at least half their longest side.
    const double minimumGap = maxLen * ShrinkGapFraction;
    int count = 0;
    for (int d = 0; d < dim; ++d) {
        if (box.upper[d] - inner.upper[d] < minimumGap)
            inner.upper[d] = box.upper[d];
        else
            ++count;
        if (inner.lower[d] - box.lower[d] < minimumGap)
            inner.lower[d] = box.lower[d];
        else
            ++count;
    }
    return count >= ShrinkSideMinimum;
}

bool centroidShrinkTest(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                        SplitProcedure split, QELorthRect& inner) {
    const int goal = static_cast<int>(n * CentroidPointFraction);
    int splits = 0;
    copyBoxCorners(dim, inner, box);
    IndexArray range = idx;
    int m = n;
    while (m > goal) {
        int cutDim = 0;
        double cutValue = 0.0;
        int nLow = 0;
        split(pa, range, inner, m, dim, cutDim, cutValue, nLow);
        // A split that keeps every point gets no closer to the goal, and neither do repeated ones that
        // peel coincident points off one at a time.
        if (nLow == 0 || nLow == m || cutMakesNoProgress(pa, range, m, dim, inner, cutDim, cutValue, nLow))
            break;
        ++splits;
        if (nLow >= m / 2) {
            inner.upper[cutDim] = cutValue;
            m = nLow;
        } else {
            inner.lower[cutDim] = cutValue;
            range += nLow;
            m -= nLow;
        }
    }
    return splits > dim * CentroidSplitFactor;
}

ShrinkProcedure shrinkProcedureFor(ShrinkRule rule) {
    static constexpr ShrinkProcedure procedures[] = {noShrinkTest, simpleShrinkTest, centroidShrinkTest,
                                                     simpleShrinkTest};
    const int value = static_cast<int>(rule);
    if (value < 0 || value >= static_cast<int>(std::size(procedures))) {
        reportError("Illegal shrinking rule", Fatal);
        return nullptr;
    }
    return procedures[value];
}

bool chooseDecomposition(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& box,
                         SplitProcedure split, ShrinkRule shrinkRule, QELorthRect& inner) {
    const ShrinkProcedure procedure = shrinkProcedureFor(shrinkRule);
    return procedure != nullptr && procedure(pa, idx, n, dim, box, split, inner);
}

} // namespace qel
