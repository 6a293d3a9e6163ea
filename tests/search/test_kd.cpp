// Standard search on small trees whose answers are known by hand, the early-termination limit, and the
// behaviour all three tree searches share through one walk: upper side first on a cut, trees without
// points, k = 0, a single-leaf root, and eps really pruning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "searchcheck.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

/// One-dimensional points whose coordinate is given for each index.
PointSet linePointsAt(std::initializer_list<double> coordinates) {
    PointSet set(static_cast<int>(coordinates.size()), 1);
    int i = 0;
    for (double x : coordinates) {
        set[i++][0] = x;
    }
    return set;
}

struct NearestRow {
    double query;
    std::vector<int> indices;
    std::vector<double> distances;
};

TEST(StandardSearch, SmallTableUnderManhattan) {
    //                                    0  1  2  3  4   5   6   7   8   9   10
    const PointSet set = linePointsAt({0, 1, 3, 6, 10, 15, 21, 28, 36, 45, 55});
    const NearestRow rows[] = {
        {5, {3, 2, 1}, {1, 2, 4}}, {11, {4, 5, 3}, {1, 4, 5}},    {40, {8, 9}, {4, 5}},
        {-5, {0, 1}, {5, 6}},      {60, {10, 9, 8}, {5, 15, 24}}, {21, {6}, {0}},
    };
    testdata::MetricGuard guard(1);
    const std::pair<TreeShape, int> trees[] = {
        {{Structure::Kd, qel::SplitRule::StandardKd, qel::ShrinkRule::None}, 1},
        {{Structure::Kd, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None}, 3},
        {{Structure::Bd, qel::SplitRule::Midpoint, qel::ShrinkRule::Simple}, 2}};
    for (const auto& [shape, bucketSize] : trees) {
        auto tree = buildTree(shape.structure, set, bucketSize, shape.split, shape.shrink);
        for (const NearestRow& row : rows) {
            SCOPED_TRACE("query " + std::to_string(row.query));
            double q[1] = {row.query};
            const int k = static_cast<int>(row.indices.size());
            const Answer answer = runSearch(*tree, SearchKind::Standard, q, k, 0.0, 1);
            EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + k), row.indices);
            EXPECT_EQ(std::vector<double>(answer.distances.begin(), answer.distances.begin() + k),
                      row.distances);
        }
    }
}

TEST(StandardSearch, KEqualToPointCountFillsEverySlotAndOneMoreIsFatal) {
    const PointSet set = testdata::uniformPoints(20, 2);
    auto tree = buildTree(Structure::Kd, set, 2, qel::SplitRule::Fair);
    testdata::MetricGuard guard(2);
    const Answer answer = runSearch(*tree, SearchKind::Standard, set[3], 20, 0.0, 2);
    EXPECT_EQ(answer.indices[0], 3);
    EXPECT_EQ(answer.distances[0], 0.0);
    EXPECT_EQ(answer.distances[19], sortedDistances(set, set[3], 2)[19]);
    EXPECT_EXIT(runSearch(*tree, SearchKind::Standard, set[3], 21, 0.0, 2), ::testing::ExitedWithCode(1),
                "QEL: ERROR------->Requesting more near neighbors than data points<-------------ERROR");
}

// Points 0..15 on a line cut at the medians into single-point leaves, searched from -1 with room for all
// of them: the limit lets the search finish the leaf it is in and the leaf beside it, then stops it at the
// next split node once more than m points have been examined.
struct LimitRow {
    SearchKind kind;
    int limit;
    std::vector<int> found;
    int visited;
};

void PrintTo(const LimitRow& row, std::ostream* out) {
    *out << searchName(row.kind) << " search, limit " << row.limit;
}

class VisitLimit : public ::testing::TestWithParam<LimitRow> {};

TEST_P(VisitLimit, StopsDescendingButFinishesLeaves) {
    const LimitRow& row = GetParam();
    PointSet set(16, 1);
    for (int i = 0; i < 16; ++i) {
        set[i][0] = i;
    }
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::StandardKd);
    testdata::MetricGuard guard(1, row.limit);
    double q[1] = {-1.0};
    const Answer answer = runSearch(*tree, row.kind, q, 16, 0.0, 1, 100.0);
    const int found = static_cast<int>(row.found.size());
    EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + found), row.found);
    EXPECT_EQ(answer.indices[found], qel::noIndex);
    EXPECT_EQ(answer.distances[found], qel::unboundedDistance);
    const int visited =
        row.kind == SearchKind::FixedRadius ? qel::fixedRadiusSearch.radiusVisitedCount : qel::visitedCount;
    EXPECT_EQ(visited, row.visited);
}

INSTANTIATE_TEST_SUITE_P(EverySearch, VisitLimit,
                         ::testing::Values(LimitRow{SearchKind::Standard, 1, {0, 1}, 2},
                                           LimitRow{SearchKind::Standard, 2, {0, 1, 2, 3}, 4},
                                           LimitRow{SearchKind::FixedRadius, 1, {0, 1}, 2},
                                           LimitRow{SearchKind::FixedRadius, 2, {0, 1, 2, 3}, 4},
                                           // Priority: the test comes before each extraction.
                                           LimitRow{SearchKind::Priority, 1, {0, 1}, 2},
                                           LimitRow{SearchKind::Priority, 2, {0, 1, 2}, 3},
                                           LimitRow{SearchKind::Priority, -1, {}, 0}));

class EveryTreeSearch : public ::testing::TestWithParam<SearchKind> {};

TEST_P(EveryTreeSearch, QueryOnTheCutTakesTheUpperSideFirst) {
    // Points 0 and 2 cut at 1: both lie at distance 1 from the query, so the first offered ranks first.
    const PointSet set = linePointsAt({0, 2});
    testdata::MetricGuard guard(2);
    for (Structure structure : {Structure::Kd, Structure::Bd}) {
        auto tree = buildTree(structure, set, 1, qel::SplitRule::StandardKd, qel::ShrinkRule::Simple);
        double q[1] = {1.0};
        const Answer answer = runSearch(*tree, GetParam(), q, 2, 0.0, 2, 1.0);
        EXPECT_EQ(answer.indices[0], 1);
        EXPECT_EQ(answer.indices[1], 0);
    }
}

TEST_P(EveryTreeSearch, TreeWithoutPointsReportsEverySlotEmpty) {
    const PointSet set(0, 3);
    double q[3] = {0.5, 0.5, 0.5};
    // The standard search rejects k > 0 there (k exceeds the point count), so it asks for none.
    const int k = GetParam() == SearchKind::Standard ? 0 : 3;
    for (Structure structure : {Structure::Kd, Structure::Bd}) {
        auto tree = buildTree(structure, set, 1, qel::SplitRule::Default, qel::ShrinkRule::Default);
        const Answer answer = runSearch(*tree, GetParam(), q, k, 0.0, 2, 10.0);
        EXPECT_EQ(answer.count, 0);
        for (int i = 0; i < k; ++i) {
            EXPECT_EQ(answer.indices[i], qel::noIndex);
            EXPECT_EQ(answer.distances[i], qel::unboundedDistance);
        }
        EXPECT_EQ(answer.indices[k], untouchedIndex);
    }
}

TEST_P(EveryTreeSearch, KZeroWritesNothing) {
    const PointSet set = testdata::clusteredPoints(50, 2);
    auto tree = buildTree(Structure::Bd, set, 2, qel::SplitRule::Midpoint, qel::ShrinkRule::Centroid);
    for (int k : {0, -2}) {
        const Answer answer = runSearch(*tree, GetParam(), set[0], k, 0.0, 2, 1e9);
        EXPECT_EQ(answer.indices[0], untouchedIndex);
        EXPECT_EQ(answer.distances[0], untouchedDistance);
        EXPECT_EQ(answer.count, GetParam() == SearchKind::FixedRadius ? 50 : 0);
    }
}

TEST_P(EveryTreeSearch, SingleLeafRootIsScannedWhateverTheLimit) {
    const PointSet set = testdata::uniformPoints(12, 2);
    auto tree = buildTree(Structure::Kd, set, 12, qel::SplitRule::StandardKd);
    testdata::MetricGuard guard(2, 1);
    const Answer answer = runSearch(*tree, GetParam(), set[5], 12, 0.0, 2, 1e9);
    EXPECT_EQ(answer.distances[11], sortedDistances(set, set[5], 2)[11]);
}

TEST_P(EveryTreeSearch, EpsPrunesCells) {
    const PointSet set = testdata::uniformPoints(3000, 4);
    const PointSet queries = testdata::uniformPoints(30, 4, 99);
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::SlidingMidpoint);
    testdata::MetricGuard guard(2);
    long visited[2] = {0, 0};
    for (int e = 0; e < 2; ++e) {
        for (int j = 0; j < queries.size(); ++j) {
            runSearch(*tree, GetParam(), queries[j], 5, e == 0 ? 0.0 : 2.0, 2, 0.05);
            visited[e] += GetParam() == SearchKind::FixedRadius ? qel::fixedRadiusSearch.radiusVisitedCount
                                                                : qel::visitedCount;
        }
    }
    EXPECT_LT(visited[1], visited[0]);
}

TEST_P(EveryTreeSearch, HugeEpsStopsEarlyWithoutOverflow) {
    // The error factor (1 + eps)^power, and cell distances times it, are far beyond the largest double;
    // cells farther than 1 are needed to fill the list.
    const PointSet set = testdata::uniformPoints(2000, 3);
    for (int i = 0; i < set.size(); ++i)
        for (int d = 0; d < 3; ++d)
            set[i][d] *= 100.0;
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::SlidingMidpoint);
    const bool fixedRadius = GetParam() == SearchKind::FixedRadius;
    for (const int power : {1, 2, 3}) {
        testdata::MetricGuard guard(3);
        for (const double eps : {1e300, std::numeric_limits<double>::infinity()}) {
            SCOPED_TRACE("power " + std::to_string(power) + ", eps " + std::to_string(eps));
            std::feclearexcept(FE_ALL_EXCEPT);
            const Answer answer = runSearch(*tree, GetParam(), set[7], 5, eps, power, 30.0);
            EXPECT_EQ(std::fetestexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO), 0);
            EXPECT_LT(fixedRadius ? qel::fixedRadiusSearch.radiusVisitedCount : qel::visitedCount, 100);
            EXPECT_EQ(answer.indices[0], 7);
            const int found = fixedRadius ? std::min(answer.count, 5) : 5;
            EXPECT_GT(found, 0);
            for (int i = 0; i < found; ++i) {
                const int index = answer.indices[static_cast<std::size_t>(i)];
                ASSERT_TRUE(index >= 0 && index < set.size());
                EXPECT_EQ(std::count(answer.indices.begin(), answer.indices.begin() + found, index), 1);
                EXPECT_EQ(answer.distances[static_cast<std::size_t>(i)],
                          qel::pointDistance(3, set[index], set[7], power));
            }
        }
    }
}

TEST_P(EveryTreeSearch, DimensionZeroHasEveryPointAtDistanceZero) {
    // Points without coordinates (their storage may be null): one leaf, nothing to read or prefetch.
    const PointSet set(4, 0);
    testdata::MetricGuard guard(2);
    for (Structure structure : {Structure::Kd, Structure::Bd}) {
        auto tree = buildTree(structure, set, 1, qel::SplitRule::Default, qel::ShrinkRule::Default);
        const Answer answer = runSearch(*tree, GetParam(), nullptr, 4, 0.0, 2, 1.0);
        EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + 4),
                  (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(answer.distances[3], 0.0);
    }
}

TEST_P(EveryTreeSearch, LeafOutsideThePointIndexIsScannedThroughThePoints) {
    // A tree assembled by hand whose leaf views its own index array, not the tree's pointIndex: the
    // points' addresses kept in pointIndex order do not apply to it.
    const PointSet set = linePointsAt({0, 5, 9});
    int leafIndices[3] = {2, 0, 1};
    qel::Point lower = qel::newPoint(1, 0.0);
    qel::Point upper = qel::newPoint(1, 9.0);
    qel::QELkd_tree tree(set.points(), new int[3]{0, 1, 2}, 3, 1, 3, lower, upper,
                         new qel::QELkd_leaf(3, leafIndices));
    testdata::MetricGuard guard(1);
    double q[1] = {4.0};
    const Answer answer = runSearch(tree, GetParam(), q, 3, 0.0, 1, 10.0);
    EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + 3),
              (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(std::vector<double>(answer.distances.begin(), answer.distances.begin() + 3),
              (std::vector<double>{1, 4, 5}));
}

TEST(TiesAtTheKthDistance, CellsAtTheBoundAreLeftOut) {
    // Every point lies at the k-th distance: once the list is full no cell can change it, though the
    // cell bounds' rounding slack lets each one through.
    const PointSet set = testdata::coincidentPoints(20000, 2);
    double q[2] = {1.5, 0.5};
    for (const int kind : {1, 2, 4}) {
        testdata::MetricGuard guard(kind);
        for (const bool image : {false, true}) {
            auto tree =
                buildTree(Structure::Bd, set, 1, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple);
            tree->useSearchImage(image);
            for (const auto& [search, eps] :
                 {std::pair{SearchKind::Standard, 0.0}, std::pair{SearchKind::Standard, 1e-12},
                  std::pair{SearchKind::Priority, 0.0}}) {
                SCOPED_TRACE(std::string(searchName(search)) + ", metric " + std::to_string(kind) + ", eps " +
                             std::to_string(eps) + (image ? ", image" : ""));
                const Answer answer = runSearch(*tree, search, q, 3, eps, 2);
                EXPECT_LT(qel::visitedCount, 20);
                EXPECT_EQ(answer.distances[2], 1.0);
                EXPECT_EQ(std::set<int>(answer.indices.begin(), answer.indices.begin() + 3).size(), 3u);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryTreeSearch, ::testing::ValuesIn(allSearches), [](const auto& info) {
    std::string name = searchName(info.param);
    std::erase(name, ' ');
    return name;
});

} // namespace
