// Geometric utilities: boxes, spreads, the three partitions on small exact examples and, for the
// partitions, their guarantees on random data with many ties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "testdata.h"
#include <qel/kdutil.h>

using namespace qel;

namespace {

/// One-dimensional subset over the given values with index 0..n-1.
struct Line {
    explicit Line(const std::vector<double>& values)
        : data(static_cast<int>(values.size()), 1), idx(values.size()) {
        for (int i = 0; i < data.size(); ++i)
            data[i][0] = values[i];
        std::iota(idx.begin(), idx.end(), 0);
    }
    double v(int i) const { return data[idx[i]][0]; }
    int n() const { return data.size(); }
    testdata::PointSet data;
    std::vector<int> idx;
};

TEST(PartitionAtRank, EveryRankOnDataWithTies) {
    testdata::Random random(7);
    // 1500 members: past the size from which the selection copies out the coordinates it compares.
    for (int n : {2, 3, 5, 17, 64, 1500}) {
        std::vector<double> values(n);
        for (double& x : values)
            x = std::floor(random.uniform() * 4); // heavy ties
        for (int nLow = 1; nLow<n; nLow += n> 64 ? 211 : 1) {
            Line line(values);
            double cut = 0.0;
            partitionAtRank(line.data.points(), line.idx.data(), n, 0, cut, nLow);
            std::vector<double> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(cut, (sorted[nLow - 1] + sorted[nLow]) * 0.5) << n << " " << nLow;
            EXPECT_EQ(line.v(nLow - 1), sorted[nLow - 1]);
            for (int i = 0; i < n; ++i)
                EXPECT_TRUE(i < nLow ? line.v(i) <= cut : line.v(i) >= cut);
            EXPECT_TRUE(std::is_permutation(line.idx.begin(), line.idx.end(), Line(values).idx.begin()));
        }
    }
}

TEST(PartitionAroundValue, ThreeWaysWithTheExactOrder) {
    Line line({3, 1, 2, 2, 0, 2, 4});
    int belowEnd = 0;
    int equalEnd = 0;
    partitionAroundValue(line.data.points(), line.idx.data(), line.n(), 0, 2.0, belowEnd, equalEnd);
    EXPECT_EQ(belowEnd, 2);
    EXPECT_EQ(equalEnd, 5);
    // Phase 1 swaps 3 with 0; phase 2 swaps 3 with the last 2: the partitions decide leaf order.
    EXPECT_EQ(line.idx, (std::vector<int>{4, 1, 2, 3, 5, 0, 6}));
}

TEST(PartitionAroundValue, AllEqualAndAllOnOneSide) {
    Line same({5, 5, 5});
    int belowEnd = -1;
    int equalEnd = -1;
    partitionAroundValue(same.data.points(), same.idx.data(), 3, 0, 5.0, belowEnd, equalEnd);
    EXPECT_EQ(belowEnd, 0);
    EXPECT_EQ(equalEnd, 3);
    partitionAroundValue(same.data.points(), same.idx.data(), 3, 0, 9.0, belowEnd, equalEnd);
    EXPECT_EQ(belowEnd, 3);
    EXPECT_EQ(equalEnd, 3);
    partitionAroundValue(same.data.points(), same.idx.data(), 3, 0, 1.0, belowEnd, equalEnd);
    EXPECT_EQ(belowEnd, 0);
    EXPECT_EQ(equalEnd, 0);
    partitionAroundValue(same.data.points(), same.idx.data(), 0, 0, 1.0, belowEnd, equalEnd);
    EXPECT_EQ(equalEnd, 0);
}

TEST(PartitionAroundValue, NaNAboveTheCutIsMovedLikeAnEqualMember) {
    // NaN compares neither below nor above: the second phase still runs and moves it next to the lower part.
    Line line({std::nan(""), 5, 1});
    int belowEnd = 0;
    int equalEnd = 0;
    partitionAroundValue(line.data.points(), line.idx.data(), line.n(), 0, 3.0, belowEnd, equalEnd);
    EXPECT_EQ(belowEnd, 1);
    EXPECT_EQ(equalEnd, 2);
    EXPECT_EQ(line.idx, (std::vector<int>{2, 0, 1}));
}

TEST(CoordinateRanges, SeveralDimensionsAsOneAtATime) {
    // A NaN first coordinate makes its range NaN; later NaNs are passed over.
    const std::vector<std::vector<double>> rows{
        {std::nan(""), 4, 0, 7}, {2, -1, 0, std::nan("")}, {5, 9, 0, -3}, {-2, 4, 0, 8}};
    testdata::PointSet set(4, 4);
    for (int i = 0; i < 4; ++i)
        std::copy(rows[static_cast<std::size_t>(i)].begin(), rows[static_cast<std::size_t>(i)].end(), set[i]);
    std::vector<int> idx{0, 1, 2, 3};
    const int dims[] = {3, 0, 1, 2};
    double lows[4];
    double highs[4];
    coordinateRanges(IndexedMembers{set.points(), idx.data()}, 4, dims, 4, lows, highs);
    for (int j = 0; j < 4; ++j) {
        double low = 0;
        double high = 0;
        coordinateRange(set.points(), idx.data(), 4, dims[j], low, high);
        EXPECT_TRUE(low == lows[j] || (std::isnan(low) && std::isnan(lows[j]))) << "dimension " << dims[j];
        EXPECT_TRUE(high == highs[j] || (std::isnan(high) && std::isnan(highs[j])))
            << "dimension " << dims[j];
    }
    EXPECT_EQ(lows[0], -3);
    EXPECT_EQ(highs[0], 8);
    EXPECT_TRUE(std::isnan(lows[1]));
}

TEST(BalanceAtValue, StrictlyBelowMinusHalf) {
    Line line({1, 2, 2, 3, 4});
    EXPECT_EQ(balanceAtValue(line.data.points(), line.idx.data(), 5, 0, 2.0), 1 - 2);
    EXPECT_EQ(balanceAtValue(line.data.points(), line.idx.data(), 5, 0, 3.5), 4 - 2);
}

/// Three points in three dimensions; dimensions 1 and 2 share the largest spread.
class ThreePoints : public testing::Test {
protected:
    ThreePoints() : data(3, 3) {
        const double values[3][3] = {{0, 0, 5}, {1, 4, 1}, {0.5, -4, -3}};
        for (int i = 0; i < 3; ++i)
            for (int d = 0; d < 3; ++d)
                data[i][d] = values[i][d];
    }
    testdata::PointSet data;
    int idx[3] = {0, 1, 2};
};

TEST_F(ThreePoints, WidestSpreadTieGoesToTheLowerDimension) {
    EXPECT_EQ(widestSpreadDimension(data.points(), idx, 3, 3), 1);
    EXPECT_EQ(widestSpreadDimension(data.points(), idx, 1, 3), 0); // no spread at all
    EXPECT_EQ(widestSpreadDimension(data.points(), idx, 0, 3), 0);
}

TEST(DistanceToBox, ZeroInsideAndOnTheSurface) {
    testdata::MetricGuard guard(2);
    double lo[] = {0, 0};
    double hi[] = {1, 1};
    double inside[] = {0.5, 0.2};
    double onFace[] = {1, 0.5};
    double outside[] = {4, -1};
    EXPECT_EQ(distanceToBox(inside, lo, hi, 2, 2), 0.0);
    EXPECT_EQ(distanceToBox(onFace, lo, hi, 2, 2), 0.0);
    EXPECT_EQ(distanceToBox(outside, lo, hi, 2, 2), 9.0 + 1.0);
    testdata::MetricGuard chebyshev(4);
    EXPECT_EQ(distanceToBox(outside, lo, hi, 2, 2), 3.0);
}

TEST(BoxAspectRatio, LongestOverShortest) {
    double lo[] = {0, 0, 0};
    double hi[] = {4, 1, 2};
    QELorthRect box(3, lo, hi);
    EXPECT_EQ(boxAspectRatio(3, box), 4.0);
    EXPECT_EQ(boxAspectRatio(0, box), 1.0);
    hi[1] = 0.0;
    QELorthRect flat(3, lo, hi);
    EXPECT_TRUE(std::isinf(boxAspectRatio(3, flat)));
}

} // namespace
