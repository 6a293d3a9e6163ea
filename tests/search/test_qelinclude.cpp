// Core types: the metric under every kind and power, the k-smallest list's tie order and scratch slot,
// brute-force search, boxes, point arrays, point output and the framed error report.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testdata.h"
#include <qel/qelinclude.h>

using namespace qel;

namespace {

struct MetricExample {
    int kind;
    int power;
    double distance; ///< from (0, 0) to (3, -4)
    MetricCase policy;
};
void PrintTo(const MetricExample& row, std::ostream* out) {
    *out << "kind " << row.kind << " power " << row.power;
}

class MetricTest : public testing::TestWithParam<MetricExample> {};

TEST_P(MetricTest, DistanceFromOriginToThreeMinusFour) {
    const MetricExample example = GetParam();
    testdata::MetricGuard guard(example.kind);
    double p[] = {0.0, 0.0};
    double q[] = {3.0, -4.0};
    EXPECT_EQ(pointDistance(2, p, q, example.power), example.distance);
    EXPECT_EQ(pointDistance(2, q, p, example.power), example.distance);
    EXPECT_EQ(metricCaseFor(example.kind, example.power), example.policy);
    // The policy chosen once per search computes exactly what the run-time primitives compute.
    for (double d : {-4.0, -0.3, 0.0, 1e-200, 2.5, 7.0}) {
        const double term =
            withMetric(example.power, [&](auto metric) { return metric.term(d, example.power); });
        EXPECT_EQ(term, coordinateTerm(d, example.power)) << d;
        const double combined =
            withMetric(example.power, [&](auto metric) { return metric.combine(1.5, term); });
        EXPECT_EQ(combined, combineTerms(1.5, term)) << d;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindAndPower, MetricTest,
    testing::Values(
        MetricExample{1, 1, 7.0, MetricCase::SumOfAbs}, MetricExample{1, 3, 7.0, MetricCase::SumOfAbs},
        MetricExample{4, 1, 4.0, MetricCase::MaxOfAbs}, MetricExample{4, 2, 4.0, MetricCase::MaxOfAbs},
        MetricExample{4, 5, 4.0, MetricCase::MaxOfAbs}, MetricExample{2, 1, 7.0, MetricCase::SumOfAbs},
        MetricExample{2, 2, 25.0, MetricCase::SumOfSquares},
        MetricExample{3, 2, 25.0, MetricCase::SumOfSquares},
        MetricExample{3, 3, 91.0, MetricCase::SumOfPowers},
        MetricExample{2, 3, 91.0, MetricCase::SumOfPowers},
        // Power 0 makes every term 1, a zero difference included: the distance is the dimension.
        MetricExample{3, 0, 2.0, MetricCase::SumOfPowers}));

TEST(Metric, PowerZeroCountsCoordinatesEvenForEqualPoints) {
    testdata::MetricGuard guard(3);
    double p[] = {1.0, 1.0, 1.0};
    EXPECT_EQ(pointDistance(3, p, p, 0), 3.0);
}

std::vector<int> payloads(const QELmin_k& list) {
    std::vector<int> result;
    for (int i = 0; i < list.capacity; ++i)
        result.push_back(list.payloadAt(i));
    return result;
}

TEST(MinK, EqualKeysRankAfterHeldOnes) {
    QELmin_k list(4);
    list.add(2.0, 10);
    list.add(1.0, 11);
    list.add(2.0, 12);
    list.add(1.0, 13);
    EXPECT_EQ(payloads(list), (std::vector<int>{11, 13, 10, 12}));
    EXPECT_EQ(list.currentBound(), 2.0);
}

TEST(MinK, FullListDropsKeysNotStrictlySmallerIntoScratchSlot) {
    QELmin_k list(2);
    list.add(1.0, 1);
    EXPECT_EQ(list.currentBound(), unboundedDistance);
    list.add(3.0, 3);
    EXPECT_EQ(list.currentBound(), 3.0);
    list.add(3.0, 4); // equal to the k-th key: not kept
    EXPECT_EQ(payloads(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(list.slots[2].payload, 4);
    list.add(2.0, 5); // pushes the old k-th entry into the scratch slot
    EXPECT_EQ(payloads(list), (std::vector<int>{1, 5}));
    EXPECT_EQ(list.slots[2].payload, 3);
    EXPECT_EQ(list.held, 2);
}

/// The sorted list the class keeps, moved into entry by entry: a reference for every capacity.
struct SortedList {
    explicit SortedList(int k) : capacity(k), slots(static_cast<std::size_t>(k) + 1) {}
    void add(double key, int payload) {
        int i = held;
        while (i > 0 && slots[i - 1].sortKey > key) {
            slots[i] = slots[i - 1];
            --i;
        }
        slots[i] = {key, payload, 0};
        if (held < capacity) ++held;
    }
    int capacity;
    int held = 0;
    std::vector<QELmin_k::Entry> slots;
};

TEST(MinK, LargeListsDropAndOrderAsTheSortedList) {
    testdata::Random random(11);
    // Below, at and above the capacity from which the entries are kept as a heap.
    for (const int k : {1, QELmin_k::heapFrom - 1, QELmin_k::heapFrom, 200}) {
        for (const bool withNaN : {false, true}) {
            SCOPED_TRACE("k " + std::to_string(k) + (withNaN ? ", NaN" : ""));
            QELmin_k list(k);
            for (int round = 0; round < 2; ++round) { // a list emptied after use starts over
                list.clear();
                SortedList model(k);
                for (int i = 0; i < 3000 && !HasFailure(); ++i) {
                    // Few distinct keys, so that most are ties; both zeros and infinity among them.
                    double key = std::floor(random.uniform() * 40.0) - (i < 1500 ? 0.0 : 20.0);
                    if (key == 0.0 && i % 2 == 0) key = -0.0;
                    if (key == 19.0) key = INFINITY;
                    if (withNaN && i == 2000) key = std::nan("");
                    const bool full = model.held == k;
                    list.add(key, i);
                    model.add(key, i);
                    ASSERT_EQ(list.held, model.held);
                    const double bound = model.held == k ? model.slots[k - 1].sortKey : unboundedDistance;
                    EXPECT_EQ(list.currentBound(), bound) << "offer " << i;
                    if (full) {
                        EXPECT_EQ(list.slots[k].payload, model.slots[k].payload) << "offer " << i;
                    }
                }
                for (int i = 0; i < k; ++i)
                    EXPECT_EQ(list.payloadAt(i), model.slots[i].payload) << "entry " << i;
            }
        }
    }
}

class EmptyMinK : public testing::TestWithParam<int> {};

TEST_P(EmptyMinK, EveryOfferGoesToTheScratchSlot) {
    QELmin_k list(GetParam());
    EXPECT_EQ(list.capacity, 0);
    list.add(1.0, 1);
    list.add(0.5, 2);
    EXPECT_EQ(list.held, 0);
    EXPECT_EQ(list.slots[0].payload, 2);
    EXPECT_EQ(list.keyAt(0), unboundedDistance);
    EXPECT_EQ(list.payloadAt(0), noIndex);
    EXPECT_EQ(list.currentBound(), unboundedDistance);
}

INSTANTIATE_TEST_SUITE_P(ZeroAndNegativeK, EmptyMinK, testing::Values(0, -3));

/// Seven one-dimensional points with several equal distances from the query 0.
class BruteForceTest : public testing::Test {
protected:
    BruteForceTest() : data(7, 1), structure(data.points(), 7, 1) {
        const double values[] = {3.0, -1.0, 1.0, 2.0, -2.0, 0.0, 1.0};
        for (int i = 0; i < 7; ++i)
            data[i][0] = values[i];
    }
    testdata::MetricGuard guard{2};
    testdata::PointSet data;
    QELbruteForce structure;
    double query[1] = {0.0};
};

TEST_F(BruteForceTest, EqualDistancesInIndexOrderAndSelfMatchAtZero) {
    std::vector<int> idx(7);
    std::vector<double> dists(7);
    structure.searchNearest(query, 7, idx.data(), dists.data(), 0.0, 2);
    EXPECT_EQ(idx, (std::vector<int>{5, 1, 2, 6, 3, 4, 0}));
    EXPECT_EQ(dists, (std::vector<double>{0, 1, 1, 1, 4, 4, 9}));
}

TEST_F(BruteForceTest, PointAtTheKthDistanceDoesNotDisplaceIt) {
    std::vector<int> idx(2);
    std::vector<double> dists(2);
    structure.searchNearest(query, 2, idx.data(), dists.data(), 0.5, 2);
    EXPECT_EQ(idx, (std::vector<int>{5, 1}));
}

TEST_F(BruteForceTest, FixedRadiusCountsPointsOnTheBound) {
    std::vector<int> idx(6, 99);
    std::vector<double> dists(6, 99.0);
    EXPECT_EQ(structure.searchFixedRadius(query, 4.0, 6, idx.data(), dists.data(), 0.0, 2), 6);
    EXPECT_EQ(idx, (std::vector<int>{5, 1, 2, 6, 3, 4}));
    EXPECT_EQ(structure.searchFixedRadius(query, 1.0, 6, idx.data(), dists.data(), 0.0, 2), 4);
    EXPECT_EQ(idx, (std::vector<int>{5, 1, 2, 6, noIndex, noIndex}));
    EXPECT_EQ(dists[4], unboundedDistance);
    // The count includes points beyond the k reported.
    EXPECT_EQ(structure.searchFixedRadius(query, 1.0, 2, idx.data(), dists.data(), 0.0, 2), 4);
}

TEST_F(BruteForceTest, FixedRadiusWithoutResultArraysOrSlots) {
    EXPECT_EQ(structure.searchFixedRadius(query, 4.0, 3, nullptr, nullptr, 0.0, 2), 6);
    std::vector<int> idx(1, 99);
    std::vector<double> dists(1, 99.0);
    EXPECT_EQ(structure.searchFixedRadius(query, 4.0, 0, idx.data(), dists.data(), 0.0, 2), 6);
    EXPECT_EQ(idx[0], 99);
    EXPECT_EQ(dists[0], 99.0);
}

TEST_F(BruteForceTest, MoreNeighboursThanPointsIsFatal) {
    std::vector<int> idx(8);
    std::vector<double> dists(8);
    EXPECT_EXIT(structure.searchNearest(query, 8, idx.data(), dists.data(), 0.0, 2),
                testing::ExitedWithCode(1),
                "QEL: ERROR------->Requesting more near neighbors than data points<-------------ERROR\n");
}

TEST(Box, ContainsFacesAndCornersButNothingOutside) {
    double lo[] = {0.0, 0.0};
    double hi[] = {1.0, 2.0};
    QELorthRect box(2, lo, hi);
    lo[0] = 5.0; // the box holds copies
    double corner[] = {1.0, 2.0};
    double face[] = {0.0, 1.0};
    double inside[] = {0.5, 0.5};
    double outside[] = {1.0, 2.0000001};
    EXPECT_TRUE(box.contains(2, corner));
    EXPECT_TRUE(box.contains(2, face));
    EXPECT_TRUE(box.contains(2, inside));
    EXPECT_FALSE(box.contains(2, outside));
}

TEST(Points, ArrayIsOneZeroedBlock) {
    PointArray pa = newPointArray(3, 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pa[i], pa[0] + 2 * i);
        EXPECT_EQ(pa[i][0], 0.0);
        EXPECT_EQ(pa[i][1], 0.0);
    }
    releasePointArray(pa);
    EXPECT_EQ(pa, nullptr);
    releasePointArray(pa);
}

TEST(Points, EmptyArrayHasANullElementZero) {
    PointArray pa = newPointArray(0, 4);
    ASSERT_NE(pa, nullptr);
    EXPECT_EQ(pa[0], nullptr);
    releasePointArray(pa);
}

TEST(Points, WritePointSeparatesWithSingleBlanks) {
    double p[] = {1.0, 2.5};
    std::ostringstream out;
    writePoint(p, 2, out);
    EXPECT_EQ(out.str(), "1 2.5");
}

TEST(Errors, WarningIsFramedAndReturns) {
    testing::internal::CaptureStderr();
    reportError("Didn't see as many points as expected", Warning);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QEL: WARNING----->Didn't see as many points as expected<-------------WARNING\n");
}

[[noreturn]] void throwFatal(const char* message) {
    throw std::runtime_error(message);
}
void returnFromFatal(const char*) {}

TEST(Errors, FatalHandlerRunsAfterTheReport) {
    const FatalHandler previous = setFatalHandler(throwFatal);
    testing::internal::CaptureStderr();
    EXPECT_THROW(reportError("handled", Fatal), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "QEL: ERROR------->handled<-------------ERROR\n");
    EXPECT_EQ(setFatalHandler(previous), throwFatal);
}

TEST(Errors, FatalHandlerThatReturnsStillEndsTheProcess) {
    EXPECT_EXIT(
        {
            setFatalHandler(returnFromFatal);
            reportError("returned", Fatal);
        },
        testing::ExitedWithCode(1), "returned");
}

} // namespace
