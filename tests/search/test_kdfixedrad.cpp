// The fixed-radius search on a small set whose answers are known by hand: the count covers every point
// within the bound (one exactly on it included) while only the k nearest are reported, and either result
// array may be absent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "searchcheck.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

PointSet smallSet() {
    PointSet set(7, 2);
    const double coordinates[7][2] = {{0, 0}, {4, 0}, {0, 3}, {5, 5}, {-2, -1}, {1, 1}, {6, -2}};
    for (int i = 0; i < 7; ++i) {
        set[i][0] = coordinates[i][0];
        set[i][1] = coordinates[i][1];
    }
    return set;
}

struct RadiusRow {
    double query[2];
    double bound;
    int count;
    std::vector<int> indices; ///< k = its size
    std::vector<double> distances;
};

TEST(FixedRadiusSearch, SmallTableUnderSquaredEuclidean) {
    const PointSet set = smallSet();
    constexpr double none = qel::unboundedDistance;
    const RadiusRow rows[] = {
        // Point 1 lies exactly on the bound: counted, though only three are reported.
        {{1, 0.5}, 9.25, 4, {5, 0, 2}, {0.25, 1.25, 7.25}},
        {{5, 4}, 26, 4, {3, 1, 5, 2, -1}, {1, 17, 25, 26, none}},
        {{-3, -3}, 4.9, 0, {-1, -1}, {none, none}},
        // Bound 0 counts the points that coincide with the query; bound 4 is radius 2.
        {{0, 0}, 0, 1, {0, -1}, {0, none}},
        {{0, 0}, 4, 2, {0, 5, -1}, {0, 2, none}},
    };
    testdata::MetricGuard guard(2);
    const std::pair<TreeShape, int> trees[] = {
        {{Structure::Kd, qel::SplitRule::StandardKd, qel::ShrinkRule::None}, 1},
        {{Structure::Kd, qel::SplitRule::SlidingFair, qel::ShrinkRule::None}, 3},
        {{Structure::Bd, qel::SplitRule::Midpoint, qel::ShrinkRule::Centroid}, 1}};
    for (const auto& [shape, bucketSize] : trees) {
        auto tree = buildTree(shape.structure, set, bucketSize, shape.split, shape.shrink);
        for (const RadiusRow& row : rows) {
            SCOPED_TRACE("query " + std::to_string(row.query[0]) + ", " + std::to_string(row.query[1]) +
                         ", bound " + std::to_string(row.bound));
            double q[2] = {row.query[0], row.query[1]};
            const int k = static_cast<int>(row.indices.size());
            const Answer answer = runSearch(*tree, SearchKind::FixedRadius, q, k, 0.0, 2, row.bound);
            EXPECT_EQ(answer.count, row.count);
            EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + k), row.indices);
            EXPECT_EQ(std::vector<double>(answer.distances.begin(), answer.distances.begin() + k),
                      row.distances);
            EXPECT_EQ(answer.indices[k], untouchedIndex);
        }
    }
}

TEST(FixedRadiusSearch, AbsentResultArraysAreNotWritten) {
    const PointSet set = smallSet();
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::StandardKd);
    testdata::MetricGuard guard(2);
    double q[2] = {1, 0.5};
    EXPECT_EQ(tree->searchFixedRadius(q, 9.25, 3, nullptr, nullptr, 0.0, 2), 4);
    std::vector<int> indices(3, untouchedIndex);
    std::vector<double> distances(3, untouchedDistance);
    EXPECT_EQ(tree->searchFixedRadius(q, 9.25, 3, indices.data(), nullptr, 0.0, 2), 4);
    EXPECT_EQ(indices, (std::vector<int>{5, 0, 2}));
    EXPECT_EQ(tree->searchFixedRadius(q, 9.25, 3, nullptr, distances.data(), 0.0, 2), 4);
    EXPECT_EQ(distances, (std::vector<double>{0.25, 1.25, 7.25}));
}

} // namespace
