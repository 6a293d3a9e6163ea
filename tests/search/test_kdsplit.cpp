// Splitting rules: the small exact cases that show which dimension wins, where the cut lies and how
// many points go low; degenerate cells; the rule table; and the split guarantees of every rule on
// every kind of test data.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "testdata.h"
#include <qel/kdsplit.h>
#include <qel/kdutil.h>

using namespace qel;

namespace {

/// A subset of every point of a set, a cell, and the result of one rule call.
struct Cut {
    Cut(const std::vector<std::vector<double>>& points, std::vector<double> lo, std::vector<double> hi)
        : data(static_cast<int>(points.size()), static_cast<int>(lo.size())), idx(points.size()),
          cell(static_cast<int>(lo.size()), lo.data(), hi.data()) {
        for (int i = 0; i < data.size(); ++i)
            std::copy(points[i].begin(), points[i].end(), data[i]);
        std::iota(idx.begin(), idx.end(), 0);
    }
    void run(SplitProcedure rule) {
        rule(data.points(), idx.data(), cell, data.size(), data.dim(), cutDim, cutValue, nLow);
    }
    double v(int i) const { return data[idx[i]][cutDim]; }
    testdata::PointSet data;
    std::vector<int> idx;
    QELorthRect cell;
    int cutDim = -1;
    double cutValue = -1.0;
    int nLow = -1;
};

TEST(SplitStandard, MedianOfFourPoints) {
    Cut cut({{4}, {1}, {3}, {2}}, {0}, {10});
    cut.run(splitStandard);
    EXPECT_EQ(cut.cutDim, 0);
    EXPECT_EQ(cut.nLow, 2);
    EXPECT_EQ(cut.cutValue, 2.5);
    Cut same({{5}, {5}, {5}, {5}}, {5}, {5});
    same.run(splitStandard);
    EXPECT_EQ(same.nLow, 2);
    EXPECT_EQ(same.cutValue, 5.0);
}

TEST(SplitMidpoint, AmongEqualSidesTheWiderSpreadWins) {
    Cut cut({{0.1, 0.2}, {0.3, 0.9}, {0.6, 0.5}}, {0, 0}, {1, 1});
    cut.run(splitMidpoint);
    EXPECT_EQ(cut.cutDim, 1);
    EXPECT_EQ(cut.cutValue, 0.5);
    EXPECT_EQ(cut.nLow, 1);
    EXPECT_EQ(cut.v(0), 0.2);
}

TEST(SplitMidpoint, SideBelowTheToleranceIsNeverChosen) {
    const std::vector<std::vector<double>> points{{0.5, 0.0}, {0.6, 0.9}, {0.55, 0.4}};
    Cut shorter(points, {0, 0}, {1, 0.998});
    shorter.run(splitMidpoint);
    EXPECT_EQ(shorter.cutDim, 0);
    Cut withinTolerance(points, {0, 0}, {1, 0.9995});
    withinTolerance.run(splitMidpoint);
    EXPECT_EQ(withinTolerance.cutDim, 1);
}

TEST(SplitMidpoint, CoincidentPointsSplitInHalfAndOneSidedPointsGoTogether) {
    Cut same({{0.5}, {0.5}, {0.5}, {0.5}, {0.5}}, {0}, {1});
    same.run(splitMidpoint);
    EXPECT_EQ(same.nLow, 2);
    Cut oneSide({{0.7}, {0.8}, {0.9}}, {0}, {1});
    oneSide.run(splitMidpoint);
    EXPECT_EQ(oneSide.nLow, 0);
}

TEST(SplitSlidingMidpoint, SlidesOntoTheNearestPoint) {
    Cut above({{0.9}, {0.6}, {0.7}}, {0}, {1});
    above.run(splitSlidingMidpoint);
    EXPECT_EQ(above.cutValue, 0.6);
    EXPECT_EQ(above.nLow, 1);
    EXPECT_EQ(above.v(0), 0.6);
    Cut below({{0.3}, {0.1}, {0.2}}, {0}, {1});
    below.run(splitSlidingMidpoint);
    EXPECT_EQ(below.cutValue, 0.3);
    EXPECT_EQ(below.nLow, 2);
    EXPECT_EQ(below.v(2), 0.3);
}

TEST(SplitFair, ThinSideIsNotEligibleAndTheCutKeepsAThirdOfTheOtherSide) {
    Cut cut({{0.1, 0.0}, {9.0, 1.0}, {0.2, 0.5}, {0.3, 0.9}}, {0, 0}, {10, 1});
    cut.run(splitFair);
    EXPECT_EQ(cut.cutDim, 0);
    EXPECT_EQ(cut.cutValue, 1.0 / 3.0);
    EXPECT_EQ(cut.nLow, 3);
}

TEST(SplitFair, OneDimensionCutsAtTheCellBounds) {
    for (SplitProcedure rule : {splitFair, splitSlidingFair}) {
        Cut cut({{0}, {1}}, {0}, {1});
        cut.run(rule);
        EXPECT_EQ(cut.cutValue, 1.0);
        EXPECT_EQ(cut.nLow, 2);
    }
}

TEST(SplitFair, ConstantColumnsAndFlatCellsCutWithoutFault) {
    for (SplitProcedure rule : {splitFair, splitSlidingFair}) {
        Cut flat({{0, 0}, {1, 0}, {0.5, 0}}, {0, 0}, {1, 0});
        flat.run(rule);
        EXPECT_EQ(flat.cutDim, 0);
        EXPECT_EQ(flat.cutValue, 0.25);
        EXPECT_EQ(flat.nLow, 1);
        Cut point({{2, 3}, {2, 3}, {2, 3}}, {2, 3}, {2, 3});
        point.run(rule);
        EXPECT_EQ(point.cutDim, 0);
        EXPECT_EQ(point.cutValue, 2.0);
    }
}

TEST(SplitSlidingFair, SlidesOntoTheExtremePointInsteadOfLeavingASideEmpty) {
    // Every point lies below the lower candidate cut 0 + 1/3: the cut slides down onto the largest,
    // which alone goes to the upper side.
    Cut low({{0.1, 0.5}, {0.3, 0.5}, {0.2, 0.5}}, {0, 0}, {1, 1});
    low.run(splitSlidingFair);
    EXPECT_EQ(low.cutDim, 0);
    EXPECT_EQ(low.cutValue, 0.3);
    EXPECT_EQ(low.nLow, 2);
    EXPECT_EQ(low.v(2), 0.3);
    // Every point above the upper candidate cut 1 - 1/3: the cut slides up onto the smallest.
    Cut high({{0.9, 0.5}, {0.7, 0.5}, {0.8, 0.5}}, {0, 0}, {1, 1});
    high.run(splitSlidingFair);
    EXPECT_EQ(high.cutValue, 0.7);
    EXPECT_EQ(high.nLow, 1);
    EXPECT_EQ(high.v(0), 0.7);
}

struct RuleName {
    SplitRule rule;
    SplitProcedure procedure;
};

TEST(SplitProcedureFor, TableOfRules) {
    const RuleName table[] = {{SplitRule::StandardKd, splitStandard},
                              {SplitRule::Midpoint, splitMidpoint},
                              {SplitRule::Fair, splitFair},
                              {SplitRule::SlidingMidpoint, splitSlidingMidpoint},
                              {SplitRule::SlidingFair, splitSlidingFair},
                              {SplitRule::Default, splitSlidingMidpoint}};
    for (const RuleName& entry : table)
        EXPECT_EQ(splitProcedureFor(entry.rule), entry.procedure);
}

TEST(SplitProcedureFor, RuleOutsideTheTableIsFatal) {
    for (int value : {6, -1})
        EXPECT_EXIT(splitProcedureFor(static_cast<SplitRule>(value)), testing::ExitedWithCode(1),
                    "QEL: ERROR------->Illegal splitting method<-------------ERROR\n")
            << value;
}

const SplitProcedure everyRule[] = {splitStandard, splitMidpoint, splitFair, splitSlidingMidpoint,
                                    splitSlidingFair};

TEST(SplitRules, FewerThanTwoPointsStayInsideTheSubset) {
    double lo[] = {0, 0};
    double hi[] = {1, 1};
    QELorthRect cell(2, lo, hi);
    testdata::PointSet one = testdata::uniformPoints(1, 2);
    for (SplitProcedure rule : everyRule) {
        std::vector<int> single{0};
        int cutDim = -1;
        double cutValue = 0.0;
        int nLow = -1;
        rule(one.points(), single.data(), cell, 1, 2, cutDim, cutValue, nLow);
        EXPECT_EQ(nLow, 1);
        EXPECT_EQ(single[0], 0);
        rule(one.points(), nullptr, cell, 0, 2, cutDim, cutValue, nLow);
        EXPECT_EQ(nLow, 0);
    }
}

class EveryRuleAndShape : public testing::TestWithParam<std::tuple<int, int>> {};

// Every rule partitions the subset as promised, in the tight box and in a larger cell.
TEST_P(EveryRuleAndShape, SidesHoldWhatTheCutPromises) {
    const SplitProcedure rule = everyRule[std::get<0>(GetParam())];
    const testdata::Shape& shape = testdata::allShapes[std::get<1>(GetParam())];
    for (int dim : {1, 3}) {
        for (int n : {2, 3, 40}) {
            testdata::PointSet data = shape.make(n, dim);
            std::vector<int> idx(n);
            std::iota(idx.begin(), idx.end(), 0);
            QELorthRect cell(dim);
            enclosingBox(data.points(), idx.data(), n, dim, cell);
            for (double widen : {0.0, 1.5}) {
                for (int d = 0; d < dim; ++d)
                    cell.upper[d] += widen;
                int cutDim = -1;
                double cutValue = 0.0;
                int nLow = -1;
                rule(data.points(), idx.data(), cell, n, dim, cutDim, cutValue, nLow);
                SCOPED_TRACE(std::string(shape.name) + " dim " + std::to_string(dim) + " n " +
                             std::to_string(n));
                ASSERT_GE(cutDim, 0);
                ASSERT_LT(cutDim, dim);
                ASSERT_GE(nLow, 0);
                ASSERT_LE(nLow, n);
                if (rule == splitStandard || rule == splitSlidingMidpoint) {
                    EXPECT_GE(nLow, 1);
                    EXPECT_LE(nLow, n - 1);
                }
                for (int i = 0; i < n; ++i) {
                    const double v = data[idx[i]][cutDim];
                    EXPECT_TRUE(i < nLow ? v <= cutValue : v >= cutValue) << i;
                }
                std::vector<int> sorted = idx;
                std::sort(sorted.begin(), sorted.end());
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(sorted[i], i);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, EveryRuleAndShape,
                         testing::Combine(testing::Range(0, 5),
                                          testing::Range(0,
                                                         static_cast<int>(std::size(testdata::allShapes)))));

} // namespace
