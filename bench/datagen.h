// Benchmark point sets made from fixed seeds, so every run and every machine measures the same points:
// uniform in the unit cube, a mixture of tight gaussian clusters, and points on a low-dimensional
// manifold curled through all coordinates. Coordinates are contiguous; the library sees them through an
// array of point references over that block, the peers through the block itself.
#pragma once

#include <string>
#include <vector>

#include <qel/qelinclude.h>

namespace bench {

enum class Family { Uniform, Clustered, Manifold };

/// The seeds of every measurement's data points and of its queries.
constexpr unsigned long long DataSeed = 12345;
constexpr unsigned long long QuerySeed = 67890;

std::string familyName(Family family);
/// The family of a name written by familyName; false for an unknown name.
bool familyFromName(const std::string& name, Family& family);

/// n points of dim coordinates in one block, with the library's view of them.
struct PointSet {
    int count = 0;                  ///< number of points
    int dim = 0;                    ///< coordinates per point
    std::vector<double> coords;     ///< point i at coords[i * dim]
    std::vector<qel::Point> points; ///< points[i] = &coords[i * dim]

    qel::PointArray pointArray() { return points.data(); }
    const double* point(int i) const { return coords.data() + static_cast<size_t>(i) * dim; }
};

/// n points of the family in dim dimensions. The shape of a family (cluster centres, manifold
/// embedding) depends on dim only, so data and queries made with different seeds share it.
PointSet makePoints(Family family, int n, int dim, unsigned long long seed);

} // namespace bench
