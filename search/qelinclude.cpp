// Core types of the search library: the run-time metric, points and point arrays, the closed box,
// the bounded k-smallest list, the brute-force point set and the framed error report.
#include <qel/qelinclude.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <type_traits>
#include <utility>
#include <vector>

namespace qel {

int metricKind = customLpMetric;
int maxPointsVisit = 0;

void setVisitLimit(int limit) {
    maxPointsVisit = limit;
}

double SumOfPowers::term(double d, int power) {
    return std::pow(std::fabs(d), static_cast<double>(power));
}

MetricCase metricCaseFor(int kind, int power) {
    if (kind == manhattanMetric) return MetricCase::SumOfAbs;
    if (kind == chebyshevMetric) return MetricCase::MaxOfAbs;
    if (power == 1) return MetricCase::SumOfAbs;
    if (power == 2) return MetricCase::SumOfSquares;
    return MetricCase::SumOfPowers;
}

double coordinateTerm(double d, int power) {
    return withMetric(power, [&](auto metric) { return metric.term(d, power); });
}

double combineTerms(double acc, double term) {
    return metricKind == chebyshevMetric ? MaxOfAbs::combine(acc, term) : SumOfAbs::combine(acc, term);
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

ErrorFactor ErrorFactor::of(double eps, int power) {
    constexpr double largest = std::numeric_limits<double>::max();
    const double base = 1.0 + eps;
    ErrorFactor error;
    const MetricCase metric = metricCaseFor(metricKind, power);
    const bool powered = metric == MetricCase::SumOfSquares || metric == MetricCase::SumOfPowers;
    const int exponent = metric == MetricCase::SumOfSquares ? 2 : power;
    // |base| lies in [2^e, 2^(e+1)): its power is finite below e+1 = 1023 / exponent, infinite from
    // e = 1024 / exponent, and only in between computed to see.
    const int e = powered && exponent > 0 && std::fabs(base) >= 2.0 && std::isfinite(base)
                      ? std::ilogb(std::fabs(base))
                      : 0;
    if (static_cast<long long>(e) * exponent >= 1024) {
        error.factor = largest;
    } else if ((static_cast<long long>(e) + 1) * exponent > 1023) {
        std::fexcept_t flags;
        std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
        error.factor = coordinateTerm(base, power);
        std::fesetexceptflag(&flags, FE_ALL_EXCEPT);
    } else {
        error.factor = coordinateTerm(base, power);
    }
    if (error.factor > largest) error.factor = largest;
    // factor < 2^(f+1), so a distance up to 2^(1022-f) gives a product below 2^1023.
    if (error.factor > 1.0) error.exactUpTo = std::ldexp(1.0, 1022 - std::ilogb(error.factor));
    return error;
}

double ErrorFactor::scaledLarge(double dist) const {
    if (!std::isfinite(dist)) return dist * factor;
    // The product's exponent from its factors' mantissas and exponents: overflow without computing it.
    int distExponent = 0;
    int factorExponent = 0;
    int productExponent = 0;
    const double mantissas = std::frexp(dist, &distExponent) * std::frexp(factor, &factorExponent);
    std::frexp(mantissas, &productExponent);
    const bool overflows = distExponent + factorExponent + productExponent > 1024;
    return overflows ? std::numeric_limits<double>::max() : dist * factor;
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
QELmin_k::QELmin_k(int k) : capacity(std::max(k, 0)), held(0), slots(new Entry[capacity + 1]) {
    clear();
}

QELmin_k::~QELmin_k() {
    delete[] slots;
}

void QELmin_k::clear() {
    held = 0;
    arrivals = 0;
    heapOrdered = capacity >= heapFrom;
}

namespace {

/// Whether a comes after b in the list: a larger key, or an equal key that arrived later.
inline bool after(const QELmin_k::Entry& a, const QELmin_k::Entry& b) {
    return a.sortKey > b.sortKey || (a.sortKey == b.sortKey && a.arrival > b.arrival);
}

} // namespace

void QELmin_k::addToHeap(double key, int payload) {
    if (std::isnan(key)) {
        sortEntries();
        add(key, payload);
        return;
    }
    const Entry entry{key, payload, arrivals++};
    if (held < capacity) {
        // The newest entry comes after every held one of its key.
        int h = held++;
        while (h > 0 && !(heapEntry((h - 1) / 2).sortKey > key)) {
            heapEntry(h) = heapEntry((h - 1) / 2);
            h = (h - 1) / 2;
        }
        heapEntry(h) = entry;
        return;
    }
    if (!(key < heapEntry(0).sortKey)) {
        slots[capacity] = entry;
        return;
    }
    slots[capacity] = heapEntry(0);
    int h = 0;
    for (int c = 1; c < capacity; c = 2 * h + 1) {
        if (c + 1 < capacity && after(heapEntry(c + 1), heapEntry(c))) ++c;
        if (!after(heapEntry(c), entry)) break;
        heapEntry(h) = heapEntry(c);
        h = c;
    }
    heapEntry(h) = entry;
}

void QELmin_k::sortEntries() const {
    // The heap fills the last held slots.
    Entry* const first = slots + (capacity - held);
    std::sort(first, slots + capacity, [](const Entry& a, const Entry& b) { return after(b, a); });
    if (first != slots) std::copy(first, slots + capacity, slots);
    heapOrdered = false;
}

double QELmin_k::keyAt(int i) const {
    if (heapOrdered) sortEntries();
    return i >= 0 && i < held ? slots[i].sortKey : unboundedDistance;
}

int QELmin_k::payloadAt(int i) const {
    if (heapOrdered) sortEntries();
    return i >= 0 && i < held ? slots[i].payload : noIndex;
}

QELpointSet::~QELpointSet() = default;

QELbruteForce::QELbruteForce(PointArray dataPoints, int n, int dim)
    : dimensionCount(dim), dataCount(n), dataPoints(dataPoints) {}

QELbruteForce::~QELbruteForce() = default;

namespace {

/// Offers point i at distance d to the k-best list. Once the list is full, an offer not below its bound
/// would only land in the scratch slot.
inline void offerNearest(QELmin_k& nearest, double& bound, double d, int i) {
    if (d < bound || nearest.held < nearest.capacity) {
        nearest.add(d, i);
        bound = nearest.currentBound();
    }
}

/// Offers point i at distance d to the list of points within radiusBound, counting it when it is.
inline void offerWithin(QELmin_k& nearest, int& count, double radiusBound, double d, int i) {
    if (d <= radiusBound) {
        nearest.add(d, i);
        ++count;
    }
}

/// Entries 0..k-1 of the list into the arrays that are not null.
void writeRow(const QELmin_k& nearest, int k, IndexArray nnIdx, DistArray dists) {
    for (int i = 0; i < k; ++i) {
        if (dists != nullptr) dists[i] = nearest.keyAt(i);
        if (nnIdx != nullptr) nnIdx[i] = nearest.payloadAt(i);
    }
}

/// Points a block search copies out of the caller's array at a time, at most. At low dimensions their
/// coordinates stay in the first-level cache while every query of the block reads them, so the caller's
/// scattered points are read once per block, not once per query.
constexpr int tilePoints = 256;
/// Coordinates a tile holds at most, unless one point has more: 1 MiB, as many as 256 points of 512.
constexpr std::size_t tileCoordinates = std::size_t{1} << 17;

/// The points of a tile over n points of dim coordinates: no more than there are, nor than fit in
/// tileCoordinates (a single point of a million coordinates would otherwise take 256 times its size).
int tilePointsFor(int n, int dim) {
    const std::size_t fit = dim > 0 ? tileCoordinates / static_cast<std::size_t>(dim) : tilePoints;
    return static_cast<int>(
        std::clamp<std::size_t>(std::min<std::size_t>(fit, static_cast<std::size_t>(n)), 1, tilePoints));
}

/// Doubles the processor works on side by side: two in any x86-64 register, four with AVX2.
using TwoLanes = double __attribute__((vector_size(2 * sizeof(double))));
using FourLanes = double __attribute__((vector_size(4 * sizeof(double))));
/// Registers of lanes summed side by side, enough to keep the adds and multiplies of several points
/// in flight.
constexpr int stripRegisters = 4;

/// Integers of the lanes' size, for their sign bits.
template <class Lanes> struct LaneBits;
template <> struct LaneBits<TwoLanes> {
    using Type = long long __attribute__((vector_size(2 * sizeof(long long))));
};
template <> struct LaneBits<FourLanes> {
    using Type = long long __attribute__((vector_size(4 * sizeof(long long))));
};

/// The least distance from q of the count points of a tile (coordinates of dimension d from
/// coordinates + d * stride), skipping NaN; infinite when none is a number. Each distance is also
/// written to distances[] when Store is set. The strips go lanes wide, the points after the last whole
/// strip one by one through distanceWith, from points[].
template <class Lanes, bool Store, class Metric>
[[gnu::always_inline]] inline double leastInStrips(Metric metric, const double* coordinates,
                                                   std::size_t stride, Point points[], int count, int dim,
                                                   Point q, int power, double* distances) {
    constexpr int lanes = sizeof(Lanes) / sizeof(double);
    constexpr int strip = lanes * stripRegisters;
    using Bits = typename LaneBits<Lanes>::Type;
    const double infinity = std::numeric_limits<double>::infinity();
    Lanes least[stripRegisters];
    for (Lanes& l : least)
        l = Lanes{} + infinity;
    int i = 0;
    for (; i + strip <= count; i += strip) {
        Lanes acc[stripRegisters] = {};
        for (int d = 0; d < dim; ++d) {
            const double* column = coordinates + static_cast<std::size_t>(d) * stride + i;
            for (int r = 0; r < stripRegisters; ++r) {
                Lanes t;
                std::memcpy(&t, column + r * lanes, sizeof t);
                // The metric's own term and combine, lanes wide: the same operations on the same values.
                t -= q[d];
                if constexpr (std::is_same_v<Metric, SumOfSquares>)
                    t *= t;
                else // fabs clears the sign bit
                    t = reinterpret_cast<Lanes>(reinterpret_cast<Bits>(t) &
                                                std::numeric_limits<long long>::max());
                if constexpr (std::is_same_v<Metric, MaxOfAbs>)
                    acc[r] = acc[r] > t ? acc[r] : t;
                else
                    acc[r] += t;
            }
        }
        for (int r = 0; r < stripRegisters; ++r) {
            least[r] = acc[r] < least[r] ? acc[r] : least[r];
            if constexpr (Store) std::memcpy(distances + i + r * lanes, &acc[r], sizeof acc[r]);
        }
    }
    double lowest = infinity;
    for (const Lanes& l : least)
        for (int j = 0; j < lanes; ++j)
            lowest = l[j] < lowest ? l[j] : lowest;
    for (; i < count; ++i) {
        const double d = distanceWith(metric, dim, points[i], q, power);
        lowest = d < lowest ? d : lowest;
        if constexpr (Store) distances[i] = d;
    }
    return lowest;
}

/// leastInStrips, storing the distances when distances is not null.
template <class Lanes, class Metric>
[[gnu::always_inline]] inline double leastIn(Metric metric, const double* coordinates, std::size_t stride,
                                             Point points[], int count, int dim, Point q, int power,
                                             double* distances) {
    return distances == nullptr ? leastInStrips<Lanes, false>(metric, coordinates, stride, points, count, dim,
                                                              q, power, distances)
                                : leastInStrips<Lanes, true>(metric, coordinates, stride, points, count, dim,
                                                             q, power, distances);
}

#if defined(__x86_64__)
template <class Metric>
[[gnu::target("avx2")]] double leastInFourLanes(Metric metric, const double* coordinates, std::size_t stride,
                                                Point points[], int count, int dim, Point q, int power,
                                                double* distances) {
    return leastIn<FourLanes>(metric, coordinates, stride, points, count, dim, q, power, distances);
}

/// True when the processor and the system run AVX2.
bool haveFourLanes() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

/// leastIn with the widest lanes the processor has.
template <class Metric>
double leastDistance(Metric metric, const double* coordinates, std::size_t stride, Point points[], int count,
                     int dim, Point q, int power, double* distances) {
#if defined(__x86_64__)
    static const bool fourLanes = haveFourLanes();
    if (fourLanes)
        return leastInFourLanes(metric, coordinates, stride, points, count, dim, q, power, distances);
#endif
    return leastIn<TwoLanes>(metric, coordinates, stride, points, count, dim, q, power, distances);
}

/// leastDistance one distance at a time.
template <class Metric>
double leastOneByOne(Metric metric, Point points[], int count, int dim, Point q, int power,
                     double* distances) {
    double lowest = std::numeric_limits<double>::infinity();
    for (int i = 0; i < count; ++i) {
        const double d = distanceWith(metric, dim, points[i], q, power);
        lowest = d < lowest ? d : lowest;
        if (distances != nullptr) distances[i] = d;
    }
    return lowest;
}

/// Other powers go through pow, which has no lanes: every distance one by one.
template <>
double leastDistance(SumOfPowers metric, const double*, std::size_t, Point points[], int count, int dim,
                     Point q, int power, double* distances) {
    return leastOneByOne(metric, points, count, dim, q, power, distances);
}

/// True when every coordinate is finite: then no distance is NaN, and comparing distances raises no flag
/// however the comparisons are made.
bool allFinite(const double* coordinates, std::size_t count) {
    return std::all_of(coordinates, coordinates + count, [](double x) { return std::isfinite(x); });
}

/// Consecutive data points copied dimension after dimension (the coordinates of a dimension in one run).
class PointTile {
public:
    /// A tile of up to size points (at most tilePoints).
    PointTile(int dim, int size)
        : dim(std::max(dim, 0)), size(size), coordinates(static_cast<std::size_t>(this->dim) * stride()) {}

    /// Points it holds at most.
    int capacity() const { return size; }

    /// Copies points first..first+count-1 of pa (count at most capacity()).
    void load(PointArray pa, int first, int count) {
        points = pa + first;
        this->first = first;
        this->count = count;
        for (int i = 0; i < count; ++i)
            for (int d = 0; d < dim; ++d)
                coordinates[static_cast<std::size_t>(d) * stride() + static_cast<std::size_t>(i)] =
                    points[i][d];
        finite = true;
        for (int d = 0; d < dim && finite; ++d)
            finite = allFinite(coordinates.data() + static_cast<std::size_t>(d) * stride(),
                               static_cast<std::size_t>(count));
    }

    /// True when the least distance from q may decide whether the tile's distances are offered: the
    /// tile's points and q have finite coordinates only. A NaN distance would go through comparisons the
    /// one-query search does not make, signalling where its own may be quiet, and raise other flags.
    bool leastDecides(Point q) const { return finite && allFinite(q, static_cast<std::size_t>(dim)); }

    /// The least distance of the tile's points from q (with leastDecides(q)), each distance computed by the
    /// operations of distanceWith. It reads every point, as a one-query search does, so it raises the
    /// same floating-point flags.
    template <class Metric> double least(Metric metric, Point q, int power) const {
        return leastDistance(metric, coordinates.data(), stride(), points, count, dim, q, power, nullptr);
    }

    /// Offers each point's distance from q, computed by the operations of distanceWith, in index order to
    /// offer(d, i).
    template <class Metric, class Offer> void offerAll(Metric metric, Point q, int power, Offer offer) {
        if (leastDecides(q)) {
            leastDistance(metric, coordinates.data(), stride(), points, count, dim, q, power, distances);
        } else {
            for (int i = 0; i < count; ++i)
                distances[i] = distanceWith(metric, dim, points[i], q, power);
        }
        for (int i = 0; i < count; ++i)
            offer(distances[i], first + i);
    }

private:
    std::size_t stride() const { return static_cast<std::size_t>(size); }

    int dim;
    int size;
    bool finite = true;              ///< every coordinate of the tile's points is finite
    std::vector<double> coordinates; ///< dimension d's run starts at d * stride()
    PointArray points = nullptr;     ///< the tile's points in the caller's array
    int first = 0;                   ///< the first point's index
    int count = 0;                   ///< points held
    double distances[tilePoints];    ///< offerAll's distances
};

/// One pass over the set's points for m queries: for each tile of points, in index order, and each
/// query q, calls visit(q, tile).
template <class Visit> void passOverPoints(const QELbruteForce& set, int m, Visit visit) {
    PointTile tile(set.dimensionCount, tilePointsFor(set.dataCount, set.dimensionCount));
    for (int first = 0; first < set.dataCount; first += tile.capacity()) {
        tile.load(set.dataPoints, first, std::min(tile.capacity(), set.dataCount - first));
        for (int q = 0; q < m; ++q)
            visit(q, tile);
    }
}

/// A k-best list per query of a block.
std::vector<std::unique_ptr<QELmin_k>> blockLists(int m, int k) {
    std::vector<std::unique_ptr<QELmin_k>> lists(static_cast<std::size_t>(std::max(m, 0)));
    for (auto& list : lists)
        list = std::make_unique<QELmin_k>(k);
    return lists;
}

} // namespace

void QELbruteForce::searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double, int power) {
    QELmin_k& nearest = bruteForceList(k);
    if (k > dataCount) reportError("Requesting more near neighbors than data points", Fatal);
    withMetric(power, [&](auto metric) {
        double bound = nearest.currentBound();
        for (int i = 0; i < dataCount; ++i)
            offerNearest(nearest, bound, distanceWith(metric, dimensionCount, dataPoints[i], q, power), i);
    });
    writeRow(nearest, k, nnIdx, dists);
}

int QELbruteForce::searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists,
                                     double, int power) {
    QELmin_k& nearest = bruteForceList(k);
    int inRange = 0;
    withMetric(power, [&](auto metric) {
        for (int i = 0; i < dataCount; ++i)
            offerWithin(nearest, inRange, radiusBound,
                        distanceWith(metric, dimensionCount, dataPoints[i], q, power), i);
    });
    writeRow(nearest, k, nnIdx, dists);
    return inRange;
}

void QELbruteForce::searchNearestBlock(PointArray queries, int m, int k, IndexArray nnIdx, DistArray dists,
                                       int power) {
    if (m <= 0) return;
    if (k > dataCount) reportError("Requesting more near neighbors than data points", Fatal);
    const auto lists = blockLists(m, k);
    withMetric(power, [&](auto metric) {
        passOverPoints(*this, m, [&](int q, PointTile& tile) {
            QELmin_k& nearest = *lists[static_cast<std::size_t>(q)];
            double bound = nearest.currentBound();
            // A full list takes only points below its bound: a tile with none leaves it as it is, and
            // most tiles have none once the list is full.
            if (nearest.held == nearest.capacity && tile.leastDecides(queries[q]) &&
                !(tile.least(metric, queries[q], power) < bound))
                return;
            tile.offerAll(metric, queries[q], power,
                          [&](double d, int i) { offerNearest(nearest, bound, d, i); });
        });
    });
    for (int q = 0; q < m; ++q)
        writeRow(*lists[static_cast<std::size_t>(q)], k, resultRow(nnIdx, q, k), resultRow(dists, q, k));
}

void QELbruteForce::searchFixedRadiusBlock(PointArray queries, int m, double radiusBound, int k,
                                           IndexArray nnIdx, DistArray dists, int* counts, int power) {
    if (m <= 0) return;
    const auto lists = blockLists(m, k);
    std::vector<int> inRange(static_cast<std::size_t>(m), 0);
    const bool radiusIsNumber = !std::isnan(radiusBound);
    withMetric(power, [&](auto metric) {
        passOverPoints(*this, m, [&](int q, PointTile& tile) {
            if (radiusIsNumber && tile.leastDecides(queries[q]) &&
                !(tile.least(metric, queries[q], power) <= radiusBound))
                return;
            QELmin_k& nearest = *lists[static_cast<std::size_t>(q)];
            int& count = inRange[static_cast<std::size_t>(q)];
            tile.offerAll(metric, queries[q], power,
                          [&](double d, int i) { offerWithin(nearest, count, radiusBound, d, i); });
        });
    });
    for (int q = 0; q < m; ++q) {
        writeRow(*lists[static_cast<std::size_t>(q)], k, resultRow(nnIdx, q, k), resultRow(dists, q, k));
        if (counts != nullptr) counts[q] = inRange[static_cast<std::size_t>(q)];
    }
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
