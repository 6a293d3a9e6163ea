// Core types of the search library: the run-time metric, points and point arrays, the closed box,
// the bounded k-smallest list, the brute-force point set and the framed error report.
#include <qel/qelinclude.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <utility>

namespace qel {

int metricKind = 3;
int maxPointsVisit = 0;

void setVisitLimit(int limit) {
    maxPointsVisit = limit;
}

double SumOfPowers::term(double d, int power) {
    return std::pow(std::fabs(d), static_cast<double>(power));
}

MetricCase metricCaseFor(int kind, int power) {
    if (kind == 1) return MetricCase::SumOfAbs;
    if (kind == 4) return MetricCase::MaxOfAbs;
    if (power == 1) return MetricCase::SumOfAbs;
    if (power == 2) return MetricCase::SumOfSquares;
    return MetricCase::SumOfPowers;
}

double coordinateTerm(double d, int power) {
    return withMetric(power, [&](auto metric) { return metric.term(d, power); });
}

double combineTerms(double acc, double term) {
    return metricKind == 4 ? MaxOfAbs::combine(acc, term) : SumOfAbs::combine(acc, term);
}

namespace {

template <class Metric> double distanceWith(Metric, int dim, Point p, Point q, int power) {
    double acc = 0.0;
    for (int i = 0; i < dim; ++i)
        acc = Metric::combine(acc, Metric::term(p[i] - q[i], power));
    return acc;
}

FatalHandler fatalHandler = nullptr;

/// The brute-force searches' k-best list of this thread, emptied and sized for k.
QELmin_k& bruteForceList(int k) {
    thread_local std::unique_ptr<QELmin_k> nearest;
    return emptiedList(nearest, k);
}

} // namespace

double pointDistance(int dim, Point p, Point q, int power) {
    return withMetric(power, [&](auto metric) { return distanceWith(metric, dim, p, q, power); });
}

Point newPoint(int dim, double value) {
    Point p = new double[static_cast<std::size_t>(std::max(dim, 0))];
    std::fill_n(p, std::max(dim, 0), value);
    return p;
}

PointArray newPointArray(int n, int dim) {
    const std::size_t count = static_cast<std::size_t>(std::max(n, 0));
    const std::size_t width = static_cast<std::size_t>(std::max(dim, 0));
    // At least one pointer slot, so that element 0 exists (null for an empty array).
    PointArray pa = new Point[std::max<std::size_t>(count, 1)]();
    if (count == 0) return pa;
    double* block = new double[count * width]();
    for (std::size_t i = 0; i < count; ++i)
        pa[i] = block + i * width;
    return pa;
}

void releasePoint(Point& p) {
    delete[] p;
    p = nullptr;
}

void releasePointArray(PointArray& pa) {
    if (pa == nullptr) return;
    delete[] pa[0];
    delete[] pa;
    pa = nullptr;
}

Point clonePoint(int dim, Point source) {
    Point p = newPoint(dim, 0.0);
    std::copy_n(source, std::max(dim, 0), p);
    return p;
}

void writePoint(Point p, int dim, std::ostream& out) {
    for (int i = 0; i < dim; ++i) {
        if (i > 0) out << ' ';
        out << p[i];
    }
}

void reportError(const char* message, ErrorSeverity severity) {
    if (severity == Warning) {
        std::cerr << "QEL: WARNING----->" << message << "<-------------WARNING\n" << std::flush;
        return;
    }
    std::cerr << "QEL: ERROR------->" << message << "<-------------ERROR\n" << std::flush;
    if (fatalHandler != nullptr) fatalHandler(message);
    // _Exit skips static destructors, which could touch structures the failing call left half made.
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(1);
}

FatalHandler setFatalHandler(FatalHandler handler) {
    return std::exchange(fatalHandler, handler);
}

QELorthRect::QELorthRect(int dim, double lo, double hi)
    : lower(newPoint(dim, lo)), upper(newPoint(dim, hi)) {}

QELorthRect::QELorthRect(int dim, Point lo, Point hi)
    : lower(clonePoint(dim, lo)), upper(clonePoint(dim, hi)) {}

QELorthRect::~QELorthRect() {
    releasePoint(lower);
    releasePoint(upper);
}

bool QELorthRect::contains(int dim, Point p) const {
    for (int i = 0; i < dim; ++i)
        if (p[i] < lower[i] || p[i] > upper[i]) return false;
    return true;
}

void copyBoxCorners(int dim, QELorthRect& dest, const QELorthRect& source) {
    std::copy_n(source.lower, std::max(dim, 0), dest.lower);
    std::copy_n(source.upper, std::max(dim, 0), dest.upper);
}

// A negative k keeps nothing, like k = 0: the list then has only its scratch slot.
QELmin_k::QELmin_k(int k) : capacity(std::max(k, 0)), held(0), slots(new Entry[capacity + 1]) {}

QELmin_k::~QELmin_k() {
    delete[] slots;
}

double QELmin_k::keyAt(int i) const {
    return i >= 0 && i < held ? slots[i].sortKey : unboundedDistance;
}

int QELmin_k::payloadAt(int i) const {
    return i >= 0 && i < held ? slots[i].payload : noIndex;
}

QELpointSet::~QELpointSet() = default;

QELbruteForce::QELbruteForce(PointArray dataPoints, int n, int dim)
    : dimensionCount(dim), dataCount(n), dataPoints(dataPoints) {}

QELbruteForce::~QELbruteForce() = default;

void QELbruteForce::searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double, int power) {
    QELmin_k& nearest = bruteForceList(k);
    if (k > dataCount) reportError("Requesting more near neighbors than data points", Fatal);
    withMetric(power, [&](auto metric) {
        // Once the list is full, an offer not below its bound would only land in the scratch slot.
        double bound = nearest.currentBound();
        for (int i = 0; i < dataCount; ++i) {
            const double d = distanceWith(metric, dimensionCount, dataPoints[i], q, power);
            if (d < bound || nearest.held < nearest.capacity) {
                nearest.add(d, i);
                bound = nearest.currentBound();
            }
        }
    });
    for (int i = 0; i < k; ++i) {
        dists[i] = nearest.keyAt(i);
        nnIdx[i] = nearest.payloadAt(i);
    }
}

int QELbruteForce::searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists,
                                     double, int power) {
    QELmin_k& nearest = bruteForceList(k);
    const int inRange = withMetric(power, [&](auto metric) {
        int count = 0;
        for (int i = 0; i < dataCount; ++i) {
            const double d = distanceWith(metric, dimensionCount, dataPoints[i], q, power);
            if (d <= radiusBound) {
                nearest.add(d, i);
                ++count;
            }
        }
        return count;
    });
    for (int i = 0; i < k; ++i) {
        if (dists != nullptr) dists[i] = nearest.keyAt(i);
        if (nnIdx != nullptr) nnIdx[i] = nearest.payloadAt(i);
    }
    return inRange;
}

int QELbruteForce::dimension() {
    return dimensionCount;
}
int QELbruteForce::pointCount() {
    return dataCount;
}
PointArray QELbruteForce::points() {
    return dataPoints;
}

} // namespace qel
