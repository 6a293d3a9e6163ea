// Point generators for the benchmark. Uniform doubles and gaussians are derived from the raw 64-bit
// Mersenne Twister output by hand: the engine's sequence is fixed by the C++ standard, the library's
// distributions are not, and the sets must be the same wherever the benchmark is built.
#include "datagen.h"

#include <cmath>
#include <numbers>
#include <random>

namespace bench {
namespace {

constexpr int ClusterCount = 100;
constexpr double ClusterSpread = 0.01; ///< standard deviation of every coordinate around its centre
constexpr unsigned long long ShapeSeed = 20240601;

class Random {
public:
    explicit Random(unsigned long long seed) : engine(seed) {}

    /// Uniform in [0, 1), 53 random bits.
    double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

    /// Standard normal by the Box-Muller transform (one value per call).
    double gaussian() {
        const double radius = std::sqrt(-2.0 * std::log(1.0 - uniform()));
        return radius * std::cos(2.0 * std::numbers::pi * uniform());
    }

private:
    std::mt19937_64 engine;
};

void fillUniform(PointSet& set, Random& random) {
    for (double& c : set.coords)
        c = random.uniform();
}

void fillClustered(PointSet& set, Random& random) {
    Random shape(ShapeSeed + static_cast<unsigned long long>(set.dim));
    std::vector<double> centres(static_cast<size_t>(ClusterCount) * set.dim);
    for (double& c : centres)
        c = shape.uniform();
    for (int i = 0; i < set.count; ++i) {
        const int cluster = static_cast<int>(random.uniform() * ClusterCount);
        const double* centre = centres.data() + static_cast<size_t>(cluster) * set.dim;
        double* p = set.coords.data() + static_cast<size_t>(i) * set.dim;
        for (int d = 0; d < set.dim; ++d)
            p[d] = centre[d] + ClusterSpread * random.gaussian();
    }
}

// A curve in the plane for dim 2, a surface otherwise. Its first coordinates are the parameters
// themselves, so the map is one-to-one; every further coordinate is a sine wave over the parameters.
void fillManifold(PointSet& set, Random& random) {
    const int intrinsic = set.dim == 2 ? 1 : 2;
    const int waves = set.dim - intrinsic;
    Random shape(ShapeSeed + 1000 + static_cast<unsigned long long>(set.dim));
    std::vector<double> frequency(static_cast<size_t>(waves) * intrinsic);
    std::vector<double> phase(static_cast<size_t>(waves));
    for (double& f : frequency)
        f = 1.0 + 3.0 * shape.uniform();
    for (double& p : phase)
        p = 2.0 * std::numbers::pi * shape.uniform();
    double parameter[2];
    for (int i = 0; i < set.count; ++i) {
        double* p = set.coords.data() + static_cast<size_t>(i) * set.dim;
        for (int t = 0; t < intrinsic; ++t)
            parameter[t] = p[t] = random.uniform();
        for (int w = 0; w < waves; ++w) {
            double angle = phase[w];
            for (int t = 0; t < intrinsic; ++t)
                angle += 2.0 * std::numbers::pi * frequency[w * intrinsic + t] * parameter[t];
            p[intrinsic + w] = 0.5 + 0.5 * std::sin(angle);
        }
    }
}

} // namespace

std::string familyName(Family family) {
    switch (family) {
    case Family::Uniform:
        return "uniform";
    case Family::Clustered:
        return "clustered";
    case Family::Manifold:
        break;
    }
    return "manifold";
}

bool familyFromName(const std::string& name, Family& family) {
    for (Family candidate : {Family::Uniform, Family::Clustered, Family::Manifold}) {
        if (familyName(candidate) == name) {
            family = candidate;
            return true;
        }
    }
    return false;
}

PointSet makePoints(Family family, int n, int dim, unsigned long long seed) {
    PointSet set;
    set.count = n;
    set.dim = dim;
    set.coords.resize(static_cast<size_t>(n) * dim);
    Random random(seed);
    switch (family) {
    case Family::Uniform:
        fillUniform(set, random);
        break;
    case Family::Clustered:
        fillClustered(set, random);
        break;
    case Family::Manifold:
        fillManifold(set, random);
        break;
    }
    set.points.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        set.points[i] = set.coords.data() + static_cast<size_t>(i) * dim;
    return set;
}

} // namespace bench
