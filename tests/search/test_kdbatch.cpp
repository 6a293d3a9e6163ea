// The batch searches against the one-query searches they stand for: every row equal bit for bit, with the
// same counts, over structure x splitting rule x shrinking rule, and inside each case data shape x metric
// x eps x visit limit x search kind x thread count; brute force too. Also the fatal k > n and queries with
// NaN coordinates, which must not upset the order the batch answers in (a permutation of the queries).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "searchcheck.h"
#include <qel/kdbatch.h>
#include <qel/kdimage.h>

using namespace searchcheck;
using testdata::PointSet;

namespace {

constexpr int threadCounts[] = {1, 2, 3};

struct MetricCase {
    int kind;
    int power;
};

constexpr MetricCase metrics[] = {{1, 1}, {2, 2}, {3, 3}, {4, 1}};

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/// The one-query search of any structure (brute force has no priority search).
Answer searchAlone(qel::QELpointSet& structure, SearchKind kind, qel::Point q, int k, double eps, int power,
                   double bound) {
    if (auto* tree = dynamic_cast<qel::QELkd_tree*>(&structure)) {
        return runSearch(*tree, kind, q, k, eps, power, bound);
    }
    Answer answer{std::vector<int>(k, untouchedIndex), std::vector<double>(k, untouchedDistance)};
    if (kind == SearchKind::FixedRadius) {
        answer.count = structure.searchFixedRadius(q, bound, k, answer.indices.data(),
                                                   answer.distances.data(), eps, power);
    } else {
        structure.searchNearest(q, k, answer.indices.data(), answer.distances.data(), eps, power);
    }
    return answer;
}

/// Runs the batch of the search kind over every query and checks each row, and the floating-point flags
/// raised, against the one-query search.
void expectRowsOfSearchesAlone(qel::QELpointSet& structure, SearchKind kind, const PointSet& queries, int k,
                               double eps, int power, double bound, int threads) {
    const int m = queries.size();
    std::vector<int> indices(static_cast<std::size_t>(m * k), untouchedIndex);
    std::vector<double> distances(indices.size(), untouchedDistance);
    std::vector<int> counts(static_cast<std::size_t>(m), -1);
    std::feclearexcept(FE_ALL_EXCEPT);
    switch (kind) {
    case SearchKind::Standard:
        qel::searchNearestBatch(structure, queries.points(), m, k, indices.data(), distances.data(), eps,
                                power, threads);
        break;
    case SearchKind::Priority:
        qel::searchPriorityBatch(dynamic_cast<qel::QELkd_tree&>(structure), queries.points(), m, k,
                                 indices.data(), distances.data(), eps, power, threads);
        break;
    case SearchKind::FixedRadius:
        qel::searchFixedRadiusBatch(structure, queries.points(), m, bound, k, indices.data(),
                                    distances.data(), counts.data(), eps, power, threads);
        break;
    }
    const int batchFlags = std::fetestexcept(FE_ALL_EXCEPT);
    std::feclearexcept(FE_ALL_EXCEPT);
    std::vector<Answer> answersAlone;
    for (int q = 0; q < m; ++q) {
        answersAlone.push_back(searchAlone(structure, kind, queries[q], k, eps, power, bound));
    }
    EXPECT_EQ(batchFlags, std::fetestexcept(FE_ALL_EXCEPT)) << "floating-point flags";
    for (int q = 0; q < m; ++q) {
        SCOPED_TRACE("query " + std::to_string(q));
        const Answer& alone = answersAlone[static_cast<std::size_t>(q)];
        if (kind == SearchKind::FixedRadius) {
            EXPECT_EQ(counts[q], alone.count);
        }
        for (int j = 0; j < k; ++j) {
            EXPECT_EQ(indices[q * k + j], alone.indices[j]) << "slot " << j;
            EXPECT_TRUE(sameBits(distances[q * k + j], alone.distances[j])) << "slot " << j;
        }
    }
}

/// Every metric, eps, visit limit, thread count and search kind of the structure on the queries.
void expectEveryBatchAsAlone(qel::QELpointSet& structure, const PointSet& queries, double bound,
                             bool priority) {
    for (MetricCase metric : metrics) {
        for (int visitLimit : {0, 7}) {
            testdata::MetricGuard guard(metric.kind, visitLimit);
            for (double eps : {0.0, 0.5}) {
                for (SearchKind kind : allSearches) {
                    if (kind == SearchKind::Priority && !priority) continue;
                    for (int threads : threadCounts) {
                        SCOPED_TRACE(std::string(searchName(kind)) + ", metric " +
                                     std::to_string(metric.kind) + ", limit " + std::to_string(visitLimit) +
                                     ", eps " + std::to_string(eps) + ", " + std::to_string(threads) +
                                     " threads");
                        expectRowsOfSearchesAlone(structure, kind, queries, 4, eps, metric.power, bound,
                                                  threads);
                    }
                }
            }
        }
    }
}

class BatchOracle : public ::testing::TestWithParam<TreeShape> {};

TEST_P(BatchOracle, RowsAreTheOneQuerySearches) {
    const TreeShape shape = GetParam();
    for (const testdata::Shape& data : testdata::allShapes) {
        SCOPED_TRACE(data.name);
        const PointSet set = data.make(150, 3);
        auto tree = buildTree(shape.structure, set, 3, shape.split, shape.shrink);
        expectEveryBatchAsAlone(*tree, queriesFor(set), 0.05, true);
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(AllTrees, BatchOracle, ::testing::ValuesIn(allTreeShapes()), [](const auto& info) {
    const TreeShape& shape = info.param;
    std::string name = shape.structure == Structure::Kd ? "kd" : "bd";
    name += "_split" + std::to_string(int(shape.split));
    if (shape.structure == Structure::Bd) {
        name += "_shrink" + std::to_string(int(shape.shrink));
    }
    return name;
});

TEST(BatchSearch, BruteForceRowsAreItsOneQuerySearches) {
    // Brute force answers blocks of queries a tile of points at a time: several tiles and points past the
    // last whole strip of one, on every data shape (ties among duplicates included), then more queries
    // than one block per thread holds.
    for (const testdata::Shape& data : testdata::allShapes) {
        SCOPED_TRACE(data.name);
        const PointSet set = data.make(605, 3);
        qel::QELbruteForce brute(set.points(), set.size(), set.dim());
        expectEveryBatchAsAlone(brute, queriesFor(set), 0.05, false);
        if (std::string(data.name) == "uniform") {
            expectEveryBatchAsAlone(brute, testdata::uniformPoints(400, 3, 9), 0.05, false);
        }
        if (HasFailure()) return;
    }
}

TEST(BatchSearch, RowsAsAloneWhenReadingACopyOfThePoints) {
    // Many queries over few points: the batch copies the points into leaf order for itself.
    const PointSet set = testdata::clusteredPoints(150, 3);
    const PointSet queries = testdata::uniformPoints(1500, 3, 8);
    for (Structure structure : {Structure::Kd, Structure::Bd}) {
        auto tree = buildTree(structure, set, 3, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Centroid);
        expectEveryBatchAsAlone(*tree, queries, 0.05, true);
        EXPECT_TRUE(tree->madeSearchImage()->leafCoordinates.empty());
        EXPECT_EQ(tree->searchImage(), nullptr); // the tree's own searches still walk the nodes
    }
}

TEST(BatchSearch, RaisesNoFlagOfItsOwn) {
    // Integer coordinates under the Chebyshev metric: one-query priority searches raise nothing, and 3
    // queries make the batch's mean of visits per query a fraction.
    qel::metricKind = 4;
    const PointSet points(9, 1), queries(3, 1);
    for (int i = 0; i < 9; ++i)
        points[i][0] = i * i;
    for (int q = 0; q < 3; ++q)
        queries[q][0] = 7 * q;
    qel::QELkd_tree tree(points.points(), 9, 1, 1, qel::SplitRule::SlidingMidpoint);
    std::vector<int> idx(6);
    std::vector<double> dists(6);
    std::feclearexcept(FE_ALL_EXCEPT);
    for (int q = 0; q < 3; ++q)
        tree.searchPriority(queries[q], 2, idx.data(), dists.data(), 0.0, 1);
    ASSERT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    qel::searchPriorityBatch(tree, queries.points(), 3, 2, idx.data(), dists.data(), 0.0, 1, 1);
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    qel::metricKind = 2;
}

TEST(BatchSearch, MoreNeighboursThanPointsIsFatal) {
    const PointSet set = testdata::uniformPoints(20, 2);
    auto tree = buildTree(Structure::Kd, set, 2, qel::SplitRule::Default);
    std::vector<int> indices(2 * 21);
    std::vector<double> distances(indices.size());
    EXPECT_EXIT(
        qel::searchNearestBatch(*tree, set.points(), 2, 21, indices.data(), distances.data(), 0.0, 2, 2),
        ::testing::ExitedWithCode(1),
        "QEL: ERROR------->Requesting more near neighbors than data points<-------------ERROR");
}

TEST(BatchSearch, NaNCoordinatesAnswerAsAlone) {
    // More points than a brute-force tile, one of them NaN along one side, and queries NaN along some.
    PointSet set = testdata::uniformPoints(300, 3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    set[270][1] = nan;
    PointSet queries = queriesFor(set);
    for (int d = 0; d < 3; ++d) {
        queries[1][d] = nan;
    }
    queries[4][0] = nan;
    queries[6][2] = nan;
    queries[9][1] = -nan;
    testdata::MetricGuard guard(2);
    qel::QELbruteForce brute(set.points(), set.size(), set.dim());
    for (SearchKind kind : {SearchKind::Standard, SearchKind::FixedRadius}) {
        expectRowsOfSearchesAlone(brute, kind, queries, 3, 0.0, 2, 0.1, 2);
    }
    for (Structure structure : {Structure::Kd, Structure::Bd}) {
        auto tree = buildTree(structure, set, 2, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple);
        std::vector<int> order(static_cast<std::size_t>(queries.size()));
        qel::batchOrder(*tree, queries.points(), queries.size(), order.data());
        std::sort(order.begin(), order.end());
        for (int q = 0; q < queries.size(); ++q) {
            EXPECT_EQ(order[q], q) << "the order is no permutation";
        }
        for (SearchKind kind : allSearches) {
            for (int threads : threadCounts) {
                SCOPED_TRACE(std::string(searchName(kind)) + ", " + std::to_string(threads) + " threads");
                expectRowsOfSearchesAlone(*tree, kind, queries, 3, 0.0, 2, 0.1, threads);
            }
        }
    }
}

TEST(BatchSearch, OrderDoesNotDependOnThreads) {
    const PointSet set = testdata::clusteredPoints(3000, 3);
    const PointSet queries = testdata::uniformPoints(5000, 3, 4);
    auto tree = buildTree(Structure::Kd, set, 4, qel::SplitRule::Default);
    std::vector<int> alone(static_cast<std::size_t>(queries.size()));
    std::vector<int> shared(alone.size());
    qel::batchOrder(*tree, queries.points(), queries.size(), alone.data(), 1);
    qel::batchOrder(*tree, queries.points(), queries.size(), shared.data(), 3);
    EXPECT_EQ(shared, alone);
}

} // namespace
