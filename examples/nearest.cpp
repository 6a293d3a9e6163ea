// The three points nearest to (0.6, 0.4) among eight, found with a kd-tree. Distances inside the
// library are powered (squared for the Euclidean metric), so the root is taken for printing.
#include <cmath>
#include <cstdio>

#include <qel/kdtree.h>

int main() {
    constexpr int n = 8;
    constexpr int dim = 2;
    const double coordinates[n][dim] = {{0, 0},     {1, 0},     {0, 1},     {1, 1},
                                        {0.5, 0.5}, {0.2, 0.8}, {0.9, 0.3}, {0.4, 0.1}};
    qel::PointArray points = qel::newPointArray(n, dim);
    for (int i = 0; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            points[i][d] = coordinates[i][d];

    qel::metricKind = qel::euclideanMetric;
    constexpr int power = 2;
    {
        qel::QELkd_tree tree(points, n, dim, 1, qel::SplitRule::Default);
        double query[dim] = {0.6, 0.4};
        constexpr int k = 3;
        int nnIdx[k];
        double dists[k];
        tree.searchNearest(query, k, nnIdx, dists, 0.0, power);
        for (int j = 0; j < k; ++j)
            std::printf("%d: point %d (%g, %g) at distance %.6f\n", j + 1, nnIdx[j], coordinates[nnIdx[j]][0],
                        coordinates[nnIdx[j]][1], std::sqrt(dists[j]));
    }
    qel::releasePointArray(points);
    return 0;
}
