// Test data for the search library's tests: a point set that owns its coordinates, reproducible
// generators for the data shapes that stress trees (uniform, clustered, duplicated, coincident, on a
// line, one far cluster in a large empty box) and a guard for the library's process-wide settings.
// Random numbers come from a fixed-seed Mersenne twister turned into doubles by hand, so every
// platform and standard library sees the same points.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <utility>

#include <qel/bdtree.h>
#include <qel/qelinclude.h>

// Rules by number in the names of parameterised cases.
namespace qel {
inline void PrintTo(SplitRule rule, std::ostream* out) {
    *out << "split " << int(rule);
}
inline void PrintTo(ShrinkRule rule, std::ostream* out) {
    *out << "shrink " << int(rule);
}
} // namespace qel

namespace testdata {

/// n points of dim coordinates made with `qel::newPointArray`, released with `qel::releasePointArray`.
class PointSet {
public:
    PointSet(int n, int dim) : count(n), dimension(dim), array(qel::newPointArray(n, dim)) {}
    ~PointSet() { qel::releasePointArray(array); }
    PointSet(PointSet&& other) noexcept
        : count(other.count), dimension(other.dimension), array(std::exchange(other.array, nullptr)) {}
    PointSet& operator=(PointSet&&) = delete;
    PointSet(const PointSet&) = delete;
    PointSet& operator=(const PointSet&) = delete;

    qel::PointArray points() const { return array; }
    int size() const { return count; }
    int dim() const { return dimension; }
    qel::Point operator[](int i) const { return array[i]; }

private:
    int count;
    int dimension;
    qel::PointArray array;
};

/// Reproducible uniform and gaussian doubles.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine(seed) {}
    /// Uniform in [0, 1).
    double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
    /// Standard normal (Box-Muller).
    double gaussian() {
        const double u = 1.0 - uniform(); // (0, 1], so the logarithm is finite
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
    }

private:
    std::mt19937_64 engine;
};

inline constexpr std::uint64_t defaultSeed = 20240611;

/// Uniform in [0, 1)^dim.
inline PointSet uniformPoints(int n, int dim, std::uint64_t seed = defaultSeed) {
    PointSet set(n, dim);
    Random random(seed);
    for (int i = 0; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            set[i][d] = random.uniform();
    return set;
}

/// Gaussian clusters of standard deviation `spread` around `clusters` centres uniform in [0, 1)^dim;
/// point i belongs to cluster i % clusters.
inline PointSet clusteredPoints(int n, int dim, int clusters = 5, double spread = 0.02,
                                std::uint64_t seed = defaultSeed) {
    const PointSet centres = uniformPoints(clusters, dim, seed + 1);
    PointSet set(n, dim);
    Random random(seed);
    for (int i = 0; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            set[i][d] = centres[i % clusters][d] + spread * random.gaussian();
    return set;
}

/// n points that are exact copies of only `distinct` uniform points (many exact duplicates).
inline PointSet duplicatedPoints(int n, int dim, int distinct = 7, std::uint64_t seed = defaultSeed) {
    const PointSet originals = uniformPoints(distinct, dim, seed + 1);
    PointSet set(n, dim);
    Random random(seed);
    for (int i = 0; i < n; ++i) {
        const int source = static_cast<int>(random.uniform() * distinct);
        for (int d = 0; d < dim; ++d)
            set[i][d] = originals[source][d];
    }
    return set;
}

/// Every point at (value, ..., value).
inline PointSet coincidentPoints(int n, int dim, double value = 0.5) {
    PointSet set(n, dim);
    for (int i = 0; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            set[i][d] = value;
    return set;
}

/// Points t * (1, 2, ..., dim) for t uniform in [0, 1): all on one line through the origin.
inline PointSet linePoints(int n, int dim, std::uint64_t seed = defaultSeed) {
    PointSet set(n, dim);
    Random random(seed);
    for (int i = 0; i < n; ++i) {
        const double t = random.uniform();
        for (int d = 0; d < dim; ++d)
            set[i][d] = t * (d + 1);
    }
    return set;
}

/// Point 0 at the origin; the others uniform in [100, 101)^dim: one small cluster far from the origin,
/// so the enclosing box is large and mostly empty and the shrinking rules cut the cluster out.
inline PointSet farClusterPoints(int n, int dim, std::uint64_t seed = defaultSeed) {
    PointSet set(n, dim);
    Random random(seed);
    for (int i = 1; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            set[i][d] = 100.0 + random.uniform();
    return set;
}

/// A generator with its default parameters, named for test output.
struct Shape {
    const char* name;
    PointSet (*make)(int n, int dim);
};

/// Every data shape above, for tests that run over all of them.
inline const Shape allShapes[] = {
    {"uniform", [](int n, int dim) { return uniformPoints(n, dim); }},
    {"clustered", [](int n, int dim) { return clusteredPoints(n, dim); }},
    {"duplicated", [](int n, int dim) { return duplicatedPoints(n, dim); }},
    {"coincident", [](int n, int dim) { return coincidentPoints(n, dim); }},
    {"line", [](int n, int dim) { return linePoints(n, dim); }},
    {"farCluster", [](int n, int dim) { return farClusterPoints(n, dim); }},
};

/// Sets `qel::metricKind` and `qel::maxPointsVisit` for a scope and restores them afterwards.
class MetricGuard {
public:
    explicit MetricGuard(int kind, int visitLimit = 0)
        : savedKind(qel::metricKind), savedLimit(qel::maxPointsVisit) {
        qel::metricKind = kind;
        qel::maxPointsVisit = visitLimit;
    }
    ~MetricGuard() {
        qel::metricKind = savedKind;
        qel::maxPointsVisit = savedLimit;
    }
    MetricGuard(const MetricGuard&) = delete;
    MetricGuard& operator=(const MetricGuard&) = delete;

private:
    int savedKind;
    int savedLimit;
};

} // namespace testdata
