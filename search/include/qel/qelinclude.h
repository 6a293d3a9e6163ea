// Core types of the search library: points and point arrays, the run-time metric, the closed box,
// the list of the k smallest keys, the abstract point set, the brute-force set and the error report.
//
// Distance convention: every distance inside the library is powered, never rooted. It is the
// metric's sum of coordinate terms |d|^power (|d| for Manhattan), or their maximum for Chebyshev.
// Radius bounds are in the same units; only the application takes the root for display.
//
// Result arrays: a search fills entries 0..k-1 of the caller-owned `nnIdx` and `dists` in ascending
// distance; a slot that holds no point reports `unboundedDistance` and `noIndex`.
//
// Metric: `metricKind` chooses the metric, and for every kind but Manhattan and Chebyshev the power a
// search is handed decides the terms (see the kinds below).
//
// Approximation: with eps > 0 a search's i-th reported neighbour lies at most (1 + eps) times as far
// (rooted) as the true i-th nearest; a fixed-radius search of rooted radius r counts every point within
// r / (1 + eps) and none beyond r. eps = 0 is exact. A visit limit that stops a search voids both.
//
// Threads: any number of threads may search one built structure at once, each with its own search
// state, while nothing changes the structure or its points. `metricKind`, the visit limit and the fatal
// handler are process-wide, not per thread, and read throughout a search: set them before searches start
// and leave them while any runs; threads that want other values take turns. Builds and dump reads may
// run on several threads at once, beside searches. The batch searches' temporary memory is listed in
// kdbatch.h.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <ostream>

namespace qel {

using Point = double*;     ///< `dim` consecutive coordinates
using PointArray = Point*; ///< one `Point` per data point
using IndexArray = int*;   ///< 0-based positions in a `PointArray`
using DistArray = double*; ///< powered distances

/// Distance of a result slot that holds no point; also "no bound yet" while a list is not full.
inline constexpr double unboundedDistance = std::numeric_limits<double>::max();
/// Point index of a result slot that holds no point.
inline constexpr int noIndex = -1;

/// The values of `metricKind`. Manhattan and Chebyshev sum or take the maximum of |d| whatever the power
/// a search is handed; for Euclidean, custom Lp and any other value the power decides, each coordinate
/// adding |d|^power. Euclidean and custom Lp differ only in what the application does with the distance.
inline constexpr int manhattanMetric = 1;
inline constexpr int euclideanMetric = 2;
inline constexpr int customLpMetric = 3;
inline constexpr int chebyshevMetric = 4;

/// One of the metric kinds above (initially customLpMetric). Written by the application before it builds
/// or searches; read by every distance computation.
extern int metricKind;
/// Limit on data points visited by a tree search; 0 means no limit.
extern int maxPointsVisit;
/// Data points visited by the current standard or priority search of this thread. Defined here with a
/// constant initialiser, so every file reads it directly rather than through a thread-local wrapper call.
inline thread_local int visitedCount = 0;

void setVisitLimit(int limit);

// Metric primitives. They read `metricKind`; hot loops use equivalent per-metric code chosen once.
double coordinateTerm(double d, int power);
double combineTerms(double acc, double term);
double pointDistance(int dim, Point p, Point q, int power);

// The metric chosen once per search. Each policy's term and combine equal coordinateTerm and
// combineTerms for the metric it stands for, bit for bit: powers 1 and 2 are |d| and d*d (which the
// maths library's pow gives exactly), every other power goes through pow.
struct SumOfAbs {
    static double term(double d, int) { return std::fabs(d); }
    static double combine(double acc, double term) { return acc + term; }
};
struct SumOfSquares {
    static double term(double d, int) { return d * d; }
    static double combine(double acc, double term) { return acc + term; }
};
struct SumOfPowers {
    static double term(double d, int power);
    static double combine(double acc, double term) { return acc + term; }
};
struct MaxOfAbs {
    static double term(double d, int) { return std::fabs(d); }
    static double combine(double acc, double term) { return acc > term ? acc : term; }
};

enum class MetricCase { SumOfAbs, SumOfSquares, SumOfPowers, MaxOfAbs };
/// The policy that computes the distance of the given metric kind and power.
MetricCase metricCaseFor(int kind, int power);

/// Calls body with the policy object of the current `metricKind` and power; use once per search.
template <class Body> decltype(auto) withMetric(int power, Body&& body) {
    switch (metricCaseFor(metricKind, power)) {
    case MetricCase::SumOfAbs:
        return body(SumOfAbs{});
    case MetricCase::SumOfSquares:
        return body(SumOfSquares{});
    case MetricCase::MaxOfAbs:
        return body(MaxOfAbs{});
    case MetricCase::SumOfPowers:
        break;
    }
    return body(SumOfPowers{});
}

/// The error factor of an approximate tree search, coordinateTerm(1 + eps, power): a cell is searched
/// while its distance times the factor is below the bound. A factor or a product of a finite distance
/// that would overflow is the largest finite double, without raising the overflow flag: a huge eps makes
/// the searches stop as early as they may, and no earlier, as a list not yet full (bound
/// `unboundedDistance`) still takes every cell. Every other product is as computed.
struct ErrorFactor {
    double factor = 1.0;
    /// Distances up to this times factor cannot overflow.
    double exactUpTo = std::numeric_limits<double>::infinity();

    static ErrorFactor of(double eps, int power);
    /// dist times factor.
    double scaled(double dist) const { return dist > exactUpTo ? scaledLarge(dist) : dist * factor; }

private:
    double scaledLarge(double dist) const;
};

/// A new point of `dim` coordinates, all equal to `value`; release with `releasePoint`.
Point newPoint(int dim, double value);
/// n points of dim coordinates over one zero-filled block; element 0 points at the block (null when
/// n = 0). Release with `releasePointArray`.
PointArray newPointArray(int n, int dim);
/// Releases the coordinates of p and sets p to null; null-safe.
void releasePoint(Point& p);
/// Releases a `newPointArray` result: the coordinate block through element 0, then the pointer array.
/// Null-safe; sets pa to null.
void releasePointArray(PointArray& pa);
/// Releases a `newPointArray` result for its one owner, `OwnedPoints`.
struct PointArrayReleaser {
    void operator()(PointArray pa) const { releasePointArray(pa); }
};
using OwnedPoints = std::unique_ptr<Point[], PointArrayReleaser>;
Point clonePoint(int dim, Point source);
/// The coordinates separated by single blanks, in the stream's current number format, no line end.
void writePoint(Point p, int dim, std::ostream& out);

enum ErrorSeverity { Warning = 0, Fatal = 1 };

/// Writes the framed message to standard error. A warning returns; a fatal report calls the fatal
/// handler, which by default ends the process with exit code 1.
void reportError(const char* message, ErrorSeverity severity);

/// Called after a fatal report has been written. It must not return (it may throw or exit); if it
/// returns, the process ends with exit code 1 as by default.
using FatalHandler = void (*)(const char* message);
/// Installs a fatal handler (null restores the default) and returns the previous one.
FatalHandler setFatalHandler(FatalHandler handler);

/// Axis-aligned closed box; owns both corners. The dimension is passed to every operation.
class QELorthRect {
public:
    Point lower; ///< lower corner
    Point upper; ///< upper corner

    /// Corners of `dim` coordinates, every lower coordinate `lo` and every upper one `hi`.
    explicit QELorthRect(int dim, double lo = 0.0, double hi = 0.0);
    /// Copies of the given corners.
    QELorthRect(int dim, Point lo, Point hi);
    ~QELorthRect();
    QELorthRect(const QELorthRect&) = delete;
    QELorthRect& operator=(const QELorthRect&) = delete;

    /// True when p lies in the closed box (faces and corners included).
    bool contains(int dim, Point p) const;
};

/// Copies the corner coordinates of source into the storage dest already owns.
void copyBoxCorners(int dim, QELorthRect& dest, const QELorthRect& source);

/// Bounded list of the k smallest keys with int payloads, kept in ascending order. A key equal to held
/// keys ranks after them; when the list is full, an offer that is not strictly smaller than the k-th key
/// lands in the scratch slot and is dropped, and one that is pushes the k-th entry there.
///
/// Up to `heapFrom - 1` entries the slots are the sorted list itself, which a new entry is moved into
/// from the end. From `heapFrom` on, moving an entry past up to k others would make a search for k near
/// the point count quadratic: the slots then hold a max-heap ordered by key and, among equal keys, by
/// arrival, which drops the same entry the sorted list would and costs log k an entry. Its root is the
/// last slot, where the sorted list keeps the k-th key, and its entry h the slot k-1-h. Reading an entry
/// sorts them into the list once. A NaN key, which the sorted list places by its own rules, sorts them
/// too, and the list stays sorted from then on.
class QELmin_k {
public:
    struct Entry {
        double sortKey;
        int payload;
        int arrival; ///< entries added before this one since the list was emptied (heap order only)
    };

    /// Capacity from which the entries are kept as a heap until read.
    static constexpr int heapFrom = 64;

    /// A list of capacity k; a negative k keeps nothing, like 0.
    explicit QELmin_k(int k);
    ~QELmin_k();
    QELmin_k(const QELmin_k&) = delete;
    QELmin_k& operator=(const QELmin_k&) = delete;

    void add(double key, int payload) {
        if (heapOrdered) {
            addToHeap(key, payload);
            return;
        }
        int i = held;
        while (i > 0 && slots[i - 1].sortKey > key) {
            slots[i] = slots[i - 1];
            --i;
        }
        slots[i].sortKey = key;
        slots[i].payload = payload;
        if (held < capacity) ++held;
    }
    /// The k-th smallest key when the list is full, else `unboundedDistance` (always so for capacity 0,
    /// which has no k-th key).
    double currentBound() const {
        return held == capacity && capacity > 0 ? slots[capacity - 1].sortKey : unboundedDistance;
    }
    /// Key of entry i, or `unboundedDistance` when i is not held.
    double keyAt(int i) const;
    /// Payload of entry i, or `noIndex` when i is not held.
    int payloadAt(int i) const;
    /// Empties the list.
    void clear();

    int capacity; ///< k
    int held;     ///< entries held, 0..capacity
    Entry* slots; ///< capacity + 1 entries; entry `capacity` is the scratch slot

private:
    void addToHeap(double key, int payload);
    /// Puts heap-ordered entries into the sorted list.
    void sortEntries() const;

    /// Entry h of the heap.
    Entry& heapEntry(int h) const { return slots[capacity - 1 - h]; }

    mutable bool heapOrdered; ///< the held entries are a heap, not yet sorted
    int arrivals;             ///< entries added since the list was emptied
};

/// The calling thread's kept k-best list, emptied and sized for k; a k below 1 gives a list that holds
/// nothing. Searches keep one list per thread between queries instead of allocating one per query.
inline QELmin_k& emptiedList(std::unique_ptr<QELmin_k>& list, int k) {
    const int capacity = k > 0 ? k : 0;
    if (!list || list->capacity != capacity) {
        list = std::make_unique<QELmin_k>(capacity);
    }
    list->clear();
    return *list;
}

/// The start of row q of caller-owned result rows of k entries each, or null for a null array.
template <class T> T* resultRow(T* rows, int q, int k) {
    return rows == nullptr ? nullptr : rows + static_cast<std::ptrdiff_t>(q) * (k > 0 ? k : 0);
}

/// Abstract search structure over caller-owned data points.
class QELpointSet {
public:
    virtual ~QELpointSet();
    /// Fills nnIdx[0..k-1] and dists[0..k-1] (caller-owned, at least k entries) with the k nearest data
    /// points in ascending distance.
    virtual void searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) = 0;
    /// Counts the data points within radiusBound (a powered distance) and reports the k nearest of them;
    /// either array may be null and is then not written.
    virtual int searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists,
                                  double eps, int power) = 0;
    virtual int dimension() = 0;
    virtual int pointCount() = 0;
    virtual PointArray points() = 0;
};

/// Exact search by one pass over every data point; eps is accepted and ignored.
class QELbruteForce : public QELpointSet {
public:
    QELbruteForce(PointArray dataPoints, int n, int dim);
    ~QELbruteForce() override;
    void searchNearest(Point q, int k, IndexArray nnIdx, DistArray dists, double eps, int power) override;
    int searchFixedRadius(Point q, double radiusBound, int k, IndexArray nnIdx, DistArray dists, double eps,
                          int power) override;
    int dimension() override;
    int pointCount() override;
    PointArray points() override;

    /// `searchNearest` for each of the m queries, row q of nnIdx and dists (k entries each, caller-owned)
    /// receiving what it writes for queries[q], bit for bit and in the same tie order; one pass over the
    /// points serves all m queries. The batch searches call it on each thread for its block of queries.
    void searchNearestBlock(PointArray queries, int m, int k, IndexArray nnIdx, DistArray dists, int power);
    /// `searchFixedRadius` for each of the m queries, likewise; counts (m entries) receives the counts.
    /// counts, nnIdx and dists may each be null and are then not written.
    void searchFixedRadiusBlock(PointArray queries, int m, double radiusBound, int k, IndexArray nnIdx,
                                DistArray dists, int* counts, int power);

    int dimensionCount;    ///< coordinates per point
    int dataCount;         ///< number of data points
    PointArray dataPoints; ///< the caller's points; not copied, not owned
};

} // namespace qel
