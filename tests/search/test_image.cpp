// The searches on a tree's compact image against the walk over its node objects: the same indices in
// the same tie order, the same distances and counts, and the same visit counts wherever they can
// differ (a visit limit, eps, the priority and fixed-radius searches), with the caller's points read in
// place or from the image's copy. Only the exact standard search without a limit may visit fewer
// points, through the points' extents. Also the image of a tree changed by hand, and the first
// searches of a tree racing to make its image.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "searchcheck.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

struct Outcome {
    Answer answer;
    int visited;
};

Outcome search(qel::QELkd_tree& tree, SearchKind kind, qel::Point q, int k, double eps, int power,
               double bound) {
    Outcome outcome{runSearch(tree, kind, q, k, eps, power, bound), 0};
    outcome.visited =
        kind == SearchKind::FixedRadius ? qel::fixedRadiusSearch.radiusVisitedCount : qel::visitedCount;
    return outcome;
}

/// The distances' bits: NaN distances compare equal to themselves.
std::vector<std::uint64_t> bitsOf(const std::vector<double>& distances) {
    std::vector<std::uint64_t> bits;
    for (const double d : distances)
        bits.push_back(std::bit_cast<std::uint64_t>(d));
    return bits;
}

/// Points on a coarse grid, so that many lie at equal distances from a query: tie order shows.
PointSet gridPoints(int n, int dim) {
    PointSet set(n, dim);
    testdata::Random random(5);
    for (int i = 0; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            set[i][d] = std::floor(random.uniform() * 4.0);
    return set;
}

/// Uniform points with NaN in a few coordinates.
PointSet pointsWithNaN(int n, int dim) {
    PointSet set = testdata::uniformPoints(n, dim);
    for (int i = 0; i < n; i += 13)
        set[i][i % dim] = std::nan("");
    return set;
}

struct Data {
    const char* name;
    PointSet points;
};

std::vector<Data> dataSets() {
    std::vector<Data> sets;
    for (const testdata::Shape& shape : testdata::allShapes)
        sets.push_back({shape.name, shape.make(300, 3)});
    sets.push_back({"grid", gridPoints(300, 3)});
    sets.push_back({"NaN", pointsWithNaN(300, 3)});
    return sets;
}

struct MetricCase {
    int kind;
    int power;
};

class ImageAgainstNodeWalk : public testing::TestWithParam<std::tuple<TreeShape, int>> {};

TEST_P(ImageAgainstNodeWalk, SameAnswersTieOrderAndVisits) {
    const auto [shape, bucket] = GetParam();
    const MetricCase metrics[] = {{1, 1}, {2, 2}, {3, 3}, {3, -1}, {4, 1}};
    for (const Data& data : dataSets()) {
        SCOPED_TRACE(data.name);
        auto imaged = buildTree(shape.structure, data.points, bucket, shape.split, shape.shrink);
        auto walked = buildTree(shape.structure, data.points, bucket, shape.split, shape.shrink);
        // The copy of the coordinates in leaf order must not change a bit either.
        imaged->copyPointsInLeafOrder(bucket > 1);
        ASSERT_NE(imaged->searchImage(), nullptr);
        ASSERT_EQ(walked->searchImage(), nullptr);
        PointSet queries = testdata::uniformPoints(8, 3, 31);
        queries[6][1] = std::nan("");
        queries[7][2] = std::numeric_limits<double>::infinity();
        for (const MetricCase metric : metrics) {
            for (const int limit : {0, 7}) {
                testdata::MetricGuard guard(metric.kind, limit);
                for (int j = 0; j < queries.size(); ++j) {
                    const qel::Point q = j < 4 ? data.points[j * 50] : queries[j];
                    for (const double eps : {0.0, 0.5}) {
                        for (const SearchKind kind : allSearches) {
                            SCOPED_TRACE(std::string(searchName(kind)) + ", metric " +
                                         std::to_string(metric.kind) + "/" + std::to_string(metric.power) +
                                         ", limit " + std::to_string(limit) + ", eps " + std::to_string(eps) +
                                         ", query " + std::to_string(j));
                            const Outcome node = search(*walked, kind, q, 6, eps, metric.power, 0.2);
                            const Outcome image = search(*imaged, kind, q, 6, eps, metric.power, 0.2);
                            EXPECT_EQ(image.answer.indices, node.answer.indices);
                            EXPECT_EQ(bitsOf(image.answer.distances), bitsOf(node.answer.distances));
                            EXPECT_EQ(image.answer.count, node.answer.count);
                            if (kind == SearchKind::Standard && eps == 0.0 && limit == 0)
                                EXPECT_LE(image.visited, node.visited);
                            else
                                EXPECT_EQ(image.visited, node.visited);
                        }
                    }
                }
            }
        }
    }
}

std::vector<TreeShape> shapes() {
    std::vector<TreeShape> list;
    for (int split = 0; split <= 4; ++split) {
        list.push_back({Structure::Kd, qel::SplitRule(split), qel::ShrinkRule::None});
        list.push_back({Structure::Bd, qel::SplitRule(split), qel::ShrinkRule(split % 2 + 1)});
    }
    return list;
}

INSTANTIATE_TEST_SUITE_P(Trees, ImageAgainstNodeWalk,
                         testing::Combine(testing::ValuesIn(shapes()), testing::Values(1, 5)),
                         [](const auto& info) {
                             const TreeShape& shape = std::get<0>(info.param);
                             return std::string(shape.structure == Structure::Kd ? "Kd" : "Bd") + "Split" +
                                    std::to_string(int(shape.split)) + "Bucket" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(SearchImage, ExtentsSkipLeavesTheCellsCannot) {
    // Two clusters far apart inside one wide cell: the cells reach across the gap, the points do not.
    PointSet set(400, 2);
    testdata::Random random(9);
    for (int i = 0; i < set.size(); ++i) {
        set[i][0] = (i % 2 == 0 ? 0.0 : 100.0) + random.uniform();
        set[i][1] = random.uniform();
    }
    auto imaged = buildTree(Structure::Kd, set, 4, qel::SplitRule::Midpoint);
    auto walked = buildTree(Structure::Kd, set, 4, qel::SplitRule::Midpoint);
    imaged->useSearchImage(true);
    testdata::MetricGuard guard(2);
    double q[2] = {45.0, 0.5};
    const Outcome node = search(*walked, SearchKind::Standard, q, 3, 0.0, 2, 0.0);
    const Outcome image = search(*imaged, SearchKind::Standard, q, 3, 0.0, 2, 0.0);
    EXPECT_EQ(image.answer.indices, node.answer.indices);
    EXPECT_LT(image.visited, node.visited);
}

TEST(SearchImage, CentroidTreesSkipShrinkChildrenOutOfReach) {
    // Centroid trees are mostly shrink nodes: walking both children of each would visit most points.
    testdata::MetricGuard guard(2);
    for (const testdata::Shape& shape : testdata::allShapes) {
        SCOPED_TRACE(shape.name);
        const PointSet set = shape.make(20000, 3);
        auto imaged =
            buildTree(Structure::Bd, set, 4, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Centroid);
        auto walked =
            buildTree(Structure::Bd, set, 4, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Centroid);
        imaged->useSearchImage(true);
        const PointSet queries = testdata::uniformPoints(20, 3, 17);
        long long visits = 0;
        long long nodeVisits = 0;
        for (int j = 0; j < queries.size(); ++j) {
            const Outcome node = search(*walked, SearchKind::Standard, queries[j], 10, 0.0, 2, 0.0);
            const Outcome image = search(*imaged, SearchKind::Standard, queries[j], 10, 0.0, 2, 0.0);
            EXPECT_EQ(image.answer.indices, node.answer.indices);
            EXPECT_EQ(bitsOf(image.answer.distances), bitsOf(node.answer.distances));
            visits += image.visited;
            nodeVisits += node.visited;
        }
        if (std::string(shape.name) == "uniform") {
            EXPECT_LT(visits / queries.size(), set.size() / 100);
            EXPECT_LT(nodeVisits / queries.size(), set.size() / 100);
        }
    }
}

TEST(SearchImage, FollowsNodesChangedByHandOnceAskedTo) {
    const PointSet set = testdata::uniformPoints(50, 2);
    auto tree = buildTree(Structure::Kd, set, 50, qel::SplitRule::Default);
    testdata::MetricGuard guard(2);
    const qel::Point q = set[7];
    EXPECT_EQ(runSearch(*tree, SearchKind::Standard, q, 1, 0.0, 2).indices[0], 7);
    // Leave point 7 out of the only leaf: it sits at position 0 of the index after the builder's order.
    auto& leaf = static_cast<qel::QELkd_leaf&>(*tree->rootNode);
    std::swap(leaf.bucketIndices[0], leaf.bucketIndices[7]);
    ++leaf.bucketIndices;
    --leaf.bucketCount;
    tree->useSearchImage(true);
    for (const SearchKind kind : allSearches)
        EXPECT_NE(runSearch(*tree, kind, q, 1, 0.0, 2, 1.0).indices[0], 7) << searchName(kind);
    --leaf.bucketIndices;
    ++leaf.bucketCount;
}

TEST(SearchImage, TreesOfMoreDimensionsThanACutHoldsWalkTheNodes) {
    // The largest cut dimension the limit allows reads back whole from a node's tag.
    qel::ImageNode node{};
    node.tag = static_cast<std::uint32_t>(qel::ImageNode::dimensionLimit - 1)
               << qel::ImageNode::dimensionShift;
    EXPECT_EQ(node.cutDimension(), qel::ImageNode::dimensionLimit - 1);
    // A tree of one more dimension is walked node by node: a shell with the empty leaf as its root, as
    // points of so many coordinates would take gigabytes.
    for (const int dim : {2, qel::ImageNode::dimensionLimit + 1}) {
        qel::QELkd_tree tree(0, dim, 1);
        tree.rootNode = qel::markSharedEmptyLeaf();
        tree.useSearchImage(true);
        EXPECT_EQ(tree.searchImage() == nullptr, dim > 2) << dim << " dimensions";
    }
}

TEST(SearchImage, FirstSearchesOnSeveralThreadsAgreeWithTheNodeWalk) {
    const PointSet set = testdata::clusteredPoints(20000, 4);
    const PointSet queries = testdata::uniformPoints(60, 4, 3);
    testdata::MetricGuard guard(2);
    auto answers = [&](qel::QELkd_tree& tree) {
        std::vector<std::vector<int>> found;
        for (int j = 0; j < queries.size(); ++j)
            found.push_back(runSearch(tree, allSearches[j % 3], queries[j], 4, 0.0, 2, 0.01).indices);
        return found;
    };
    auto walked = buildTree(Structure::Bd, set, 3, qel::SplitRule::Default, qel::ShrinkRule::Simple);
    const std::vector<std::vector<int>> expected = answers(*walked);
    auto tree = buildTree(Structure::Bd, set, 3, qel::SplitRule::Default, qel::ShrinkRule::Simple);
    tree->useSearchImage(true);
    std::vector<std::vector<std::vector<int>>> found(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < found.size(); ++t)
        threads.emplace_back([&, t] { found[t] = answers(*tree); });
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& each : found)
        EXPECT_EQ(each, expected);
}

} // namespace
