// The compare run's measurements: exact configurations measure recall 1 and error 0, approximate and
// visit-limited ones the recall and errors worked out here from brute force, with either source of the
// exact answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "comparegrid.h"
#include "comparetable.h"
#include "session.h"

using namespace knn;

namespace {

struct Points {
    Points(int n, int dim, unsigned seed) : n(n), pts(qel::newPointArray(n, dim)) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < n * dim; ++i)
            pts.get()[0][i] = unit(random);
    }
    int n;
    OwnedPointArray pts;
};

/// Recall and errors of one kd-tree configuration, from its answers and brute force's as sets.
struct HandCount {
    double recall = 0.0;
    double meanError = 0.0;
    double largestError = 0.0;
    int emptySlotQueries = 0;
};

HandCount handCount(const Points& data, const Points& queries, int dim, int k, const CompareConfig& c) {
    qel::setVisitLimit(c.visitLimit);
    qel::QELkd_tree tree(data.pts.get(), data.n, dim, c.bucketSize, c.split);
    qel::QELbruteForce brute(data.pts.get(), data.n, dim);
    std::vector<int> idx(k), trueIdx(k);
    std::vector<double> dists(k), trueDists(k);
    HandCount count;
    int found = 0;
    int errorQueries = 0;
    for (int q = 0; q < queries.n; ++q) {
        qel::setVisitLimit(c.visitLimit);
        tree.searchNearest(queries.pts[q], k, idx.data(), dists.data(), c.eps, 2);
        qel::setVisitLimit(0);
        brute.searchNearest(queries.pts[q], k, trueIdx.data(), trueDists.data(), 0.0, 2);
        for (const int i : idx)
            found += std::count(trueIdx.begin(), trueIdx.end(), i) > 0 && i != qel::noIndex;
        if (idx[k - 1] == qel::noIndex) {
            ++count.emptySlotQueries;
            continue;
        }
        const double error = std::sqrt(dists[k - 1]) / std::sqrt(trueDists[k - 1]) - 1.0;
        count.meanError += error;
        count.largestError = std::max(count.largestError, error);
        ++errorQueries;
    }
    qel::setVisitLimit(0);
    count.recall = static_cast<double>(found) / (queries.n * k);
    count.meanError /= errorQueries;
    return count;
}

CompareConfig kd(qel::SplitRule split, int bucket, double eps = 0.0, int limit = 0,
                 SearchRange range = SearchRange::Standard) {
    return CompareConfig{SearchMode::KdTree, range, split, qel::ShrinkRule::Default, bucket, eps, limit};
}

void expectExact(const CompareRow& row) {
    SCOPED_TRACE(CompareLabel(row.config));
    EXPECT_EQ(row.recall, 1.0);
    EXPECT_EQ(row.meanError, 0.0);
    EXPECT_EQ(row.largestError, 0.0);
    EXPECT_TRUE(row.exact());
}

void expectHandCount(const CompareRow& row, const HandCount& hand) {
    SCOPED_TRACE(CompareLabel(row.config));
    EXPECT_DOUBLE_EQ(row.recall, hand.recall);
    EXPECT_DOUBLE_EQ(row.meanError, hand.meanError);
    EXPECT_DOUBLE_EQ(row.largestError, hand.largestError);
    EXPECT_EQ(row.emptySlotQueries, hand.emptySlotQueries);
}

class CompareTest : public testing::Test {
protected:
    CompareTest() { qel::metricKind = 2; }
    ~CompareTest() override { qel::setVisitLimit(0); }
};

} // namespace

TEST_F(CompareTest, ExactRowsMeasureExactAndApproximateRowsMatchTheHandCount) {
    const int dim = 2, k = 5;
    const Points data(300, dim, 7), queries(40, dim, 8);
    CompareGrid grid{{SearchMode::BruteForce, SearchMode::KdTree, SearchMode::BdTree},
                     {SearchRange::Standard, SearchRange::Priority, SearchRange::FixedRadius},
                     {qel::SplitRule::StandardKd, qel::SplitRule::Midpoint, qel::SplitRule::Fair,
                      qel::SplitRule::SlidingMidpoint, qel::SplitRule::SlidingFair},
                     {qel::ShrinkRule::None, qel::ShrinkRule::Simple, qel::ShrinkRule::Centroid},
                     {1, 6},
                     {0.0},
                     {0}};
    std::vector<CompareConfig> configs = ExpandGrid(grid);
    // 2 brute force, 5 rules x 2 buckets x 3 searches for kd, and 3 times as many for bd.
    ASSERT_EQ(configs.size(), 2u + 30u + 90u);
    const CompareConfig approximate = kd(qel::SplitRule::SlidingMidpoint, 1, 3.0);
    const CompareConfig limited = kd(qel::SplitRule::Fair, 2, 0.0, 3);
    configs.insert(configs.end(), {approximate, limited});

    const CompareResult result = RunCompare(data.pts.get(), data.n, queries.pts.get(), queries.n, dim,
                                            configs, CompareSettings{k, 2, 0.2, 1, 2});
    ASSERT_EQ(result.rows.size(), configs.size());
    EXPECT_FALSE(result.cancelled);
    for (std::size_t r = 0; r + 2 < result.rows.size(); ++r)
        expectExact(result.rows[r]);

    const HandCount approximateCount = handCount(data, queries, dim, k, approximate);
    ASSERT_LT(approximateCount.recall, 1.0); // eps must have cost something for the check to mean anything
    expectHandCount(result.rows[configs.size() - 2], approximateCount);
    const CompareRow& limitedRow = result.rows.back();
    expectHandCount(limitedRow, handCount(data, queries, dim, k, limited));
    EXPECT_LT(limitedRow.recall, 1.0);
    EXPECT_LE(limitedRow.mostVisited, 3 + 2); // the limit is tested before each leaf of at most 2 points

    EXPECT_EQ(result.rows[0].mostVisited, data.n); // brute force visits every point
    EXPECT_FALSE(result.rows[0].tree);
    ASSERT_TRUE(result.rows[2].tree);
    EXPECT_GT(result.rows[2].memoryBytes, data.n * (sizeof(int) + sizeof(qel::Point)));
    const CompareRow& fastestExact = result.rows[static_cast<std::size_t>(result.fastestExact)];
    EXPECT_TRUE(fastestExact.exact());
    for (const CompareRow& row : result.rows) {
        if (row.exact()) {
            EXPECT_LE(fastestExact.querySeconds, row.querySeconds);
        }
        // Mean and slowest come from one pass on one clock.
        EXPECT_GT(row.meanQuerySeconds, 0.0);
        EXPECT_GE(row.slowestQuerySeconds, row.meanQuerySeconds);
    }
    EXPECT_GE(result.fastestAccurate, 0);
}

TEST_F(CompareTest, ExactTreeStandsInForBruteForceOnLargeRuns) {
    // Ten thousand points by five thousand and one queries is past the work brute force answers itself.
    const int dim = 3, k = 4;
    const Points data(10000, dim, 11), queries(5001, dim, 12);
    const CompareConfig approximate = kd(qel::SplitRule::Midpoint, 4, 1.0);
    const std::vector<CompareConfig> configs{CompareConfig{SearchMode::BruteForce, SearchRange::Standard},
                                             approximate};
    const CompareResult result = RunCompare(data.pts.get(), data.n, queries.pts.get(), queries.n, dim,
                                            configs, CompareSettings{k, 2, 0.0, 1, 2});
    ASSERT_EQ(result.rows.size(), 2u);
    expectExact(result.rows[0]);
    expectHandCount(result.rows[1], handCount(data, queries, dim, k, approximate));
}

TEST_F(CompareTest, RowsThatDifferOnlyInSearchEpsOrVisitLimitShareTheBuilds) {
    const Points data(300, 2, 5), queries(50, 2, 6);
    const qel::SplitRule sliding = qel::SplitRule::SlidingMidpoint;
    const std::vector<CompareConfig> configs{kd(sliding, 4), kd(sliding, 4, 0.5), kd(sliding, 4, 0.0, 3),
                                             kd(qel::SplitRule::Midpoint, 4),
                                             kd(sliding, 4, 0.0, 0, SearchRange::Priority)};
    int builds = 0;
    CompareObserver observer;
    observer.build = [&](const StructureBuild& make) {
        ++builds;
        return make();
    };
    const CompareResult result = RunCompare(data.pts.get(), data.n, queries.pts.get(), queries.n, 2, configs,
                                            CompareSettings{3, 2, 0.0, 2, 1}, observer);
    ASSERT_EQ(result.rows.size(), configs.size());
    // Two repetitions of each structure: the first three rows share one, the last follows another.
    EXPECT_EQ(builds, 2 * 3);
    EXPECT_EQ(result.rows[1].buildSeconds, result.rows[0].buildSeconds);
    EXPECT_EQ(result.rows[2].buildSeconds, result.rows[0].buildSeconds);
    EXPECT_EQ(result.rows[2].memoryBytes, result.rows[0].memoryBytes);
    EXPECT_LT(result.rows[2].recall, 1.0);
    expectExact(result.rows[4]);
}

TEST_F(CompareTest, CancelKeepsTheRowsFinishedBefore) {
    const Points data(100, 2, 3), queries(2000, 2, 4);
    const std::vector<CompareConfig> configs{kd(qel::SplitRule::Fair, 1), kd(qel::SplitRule::Midpoint, 1)};
    // The exact answers and the first configuration's two passes, then a stop between the chunks of the
    // second configuration's first pass.
    std::int64_t done = 0;
    CompareObserver observer;
    observer.progress = [&](std::int64_t answers, std::int64_t) { done = answers; };
    observer.cancelled = [&] { return done > 3 * queries.n; };
    const CompareResult result = RunCompare(data.pts.get(), data.n, queries.pts.get(), queries.n, 2, configs,
                                            CompareSettings{1, 2, 0.0, 1, 1}, observer);
    EXPECT_TRUE(result.cancelled);
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.fastestExact, 0);
    EXPECT_LT(done, 4 * queries.n);
}

TEST_F(CompareTest, OverflowingDistancesEndTheRunAsTheyEndOneRun) {
    // Squares of 1e200 overflow: brute force would report the points at infinity, a tree leave their
    // slots empty, and the exact tree's row show a recall of 1/4.
    const Points data(4, 2, 5), queries(2, 2, 6);
    data.pts.get()[0][0] = 1e200;
    queries.pts.get()[1][1] = -1e200;
    qel::setVisitLimit(7);
    const std::vector<CompareConfig> configs{CompareConfig{SearchMode::BruteForce, SearchRange::Standard},
                                             kd(qel::SplitRule::Default, 1, 0.0, 2)};
    try {
        RunCompare(data.pts.get(), data.n, queries.pts.get(), queries.n, 2, configs,
                   CompareSettings{2, 2, 0.0, 1, 1});
        ADD_FAILURE() << "no fault reported";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "Floating point overflow");
    }
    EXPECT_EQ(qel::maxPointsVisit, 7);
}

TEST(CompareGridTest, RangeUpToTheLargestIntEnds) {
    const auto parsed = ParseCompareGrid("bucket=2147483646..2147483647 max-visit=2147483647..2147483647");
    const auto* configs = std::get_if<std::vector<CompareConfig>>(&parsed);
    ASSERT_NE(configs, nullptr) << std::get<std::string>(parsed);
    ASSERT_EQ(configs->size(), 2u);
    EXPECT_EQ(configs->back().bucketSize, 2147483647);
    EXPECT_EQ(configs->back().visitLimit, 2147483647);
}
