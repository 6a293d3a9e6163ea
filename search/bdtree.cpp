// The bd-tree: a kd-tree whose builder may also shrink a cell, separating the points inside an inner box
// from the rest of the cell. Here the shrink node, its half-spaces and the tree's constructors; the
// builder is in treebuild.cpp, the shrinking rules in bdshrink.cpp, the dump in treedump.cpp.
#include <qel/bdtree.h>

#include <utility>

namespace qel {

namespace {

/// True when coordinate x lies outside the half-space.
bool outside(const HalfSpace& h, double x) {
    return (x - h.boundValue) * h.boundSide < 0;
}

} // namespace

QELbd_shrink::QELbd_shrink(int count, HalfSpace* bounds, QELkd_node* inner, QELkd_node* outer)
    : boundCount(count), bounds(bounds), innerChild(inner), outerChild(outer) {}

QELbd_shrink::~QELbd_shrink() {
    destroySubtree(innerChild);
    destroySubtree(outerChild);
    delete[] bounds;
}

double innerBoxDistance(const HalfSpace* bounds, int count, Point query, int power) {
    double dist = 0.0;
    for (int i = 0; i < count; ++i) {
        const HalfSpace& h = bounds[i];
        const double x = query[h.boundDimension];
        if (outside(h, x)) dist = combineTerms(dist, coordinateTerm(x - h.boundValue, power));
    }
    return dist;
}

double QELbd_shrink::innerDistance(Point query, int power) const {
    return innerBoxDistance(bounds, boundCount, query, power);
}

QELbd_tree::QELbd_tree(PointArray pa, int n, int dim, int bucketSize, SplitRule splitRule,
                       ShrinkRule shrinkRule, int threads)
    : QELkd_tree(n, dim, bucketSize) {
    dataPoints = pa;
    buildTreeNodes(*this, splitRule, shrinkRule, threads);
}

QELbd_tree::QELbd_tree(PointArray dataPoints, IndexArray index, int n, int dim, int bucketSize, Point lower,
                       Point upper, QELkd_node* root)
    : QELkd_tree(dataPoints, index, n, dim, bucketSize, lower, upper, root) {}

QELbd_tree::~QELbd_tree() = default;

int partitionByBox(PointArray pa, IndexArray idx, int n, int dim, const QELorthRect& inner) {
    int l = 0;
    int r = n - 1;
    for (;;) {
        while (l < n && inner.contains(dim, pa[idx[l]]))
            ++l;
        while (r >= 0 && !inner.contains(dim, pa[idx[r]]))
            --r;
        if (l > r) break;
        std::swap(idx[l++], idx[r--]);
    }
    return l;
}

int boundingHalfSpaces(const QELorthRect& inner, const QELorthRect& outer, int dim, HalfSpace*& bounds) {
    int count = 0;
    for (int d = 0; d < dim; ++d) {
        if (inner.lower[d] > outer.lower[d]) ++count;
        if (inner.upper[d] < outer.upper[d]) ++count;
    }
    bounds = count > 0 ? new HalfSpace[count] : nullptr;
    int next = 0;
    for (int d = 0; d < dim; ++d) {
        if (inner.lower[d] > outer.lower[d]) bounds[next++] = HalfSpace{d, inner.lower[d], +1};
        if (inner.upper[d] < outer.upper[d]) bounds[next++] = HalfSpace{d, inner.upper[d], -1};
    }
    return count;
}

void boxFromHalfSpaces(const QELorthRect& outer, int dim, int count, const HalfSpace* bounds,
                       QELorthRect& inner) {
    copyBoxCorners(dim, inner, outer);
    for (int i = 0; i < count; ++i) {
        const HalfSpace& h = bounds[i];
        if (outside(h, inner.lower[h.boundDimension])) inner.lower[h.boundDimension] = h.boundValue;
        if (outside(h, inner.upper[h.boundDimension])) inner.upper[h.boundDimension] = h.boundValue;
    }
}

void QELbd_shrink::collectStats(int dim, TreeStats& stats, QELorthRect& cell) {
    collectSubtreeStats(this, dim, stats, cell);
}

void QELbd_shrink::printNode(int level, std::ostream& out) {
    printSubtree(this, level, out);
}

} // namespace qel
