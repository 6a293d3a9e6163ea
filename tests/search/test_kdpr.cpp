// The priority queue's order, tie rule and overflow guard, and the priority search on a small set whose
// answers are known by hand, including k greater than the number of points.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "searchcheck.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

TEST(PriorityQueue, DequeuesInAscendingKeyOrder) {
    const std::vector<double> keys = {5, 3, 8, 1, 9, 2, 7, 3, 6, 0, 4, 1};
    qel::QELpr_queue queue(static_cast<int>(keys.size()));
    for (double key : keys) {
        queue.enqueue(key, nullptr);
    }
    std::vector<double> drained;
    while (queue.held > 0) {
        double key;
        qel::QELkd_node* node;
        queue.dequeueNearest(key, node);
        drained.push_back(key);
    }
    std::vector<double> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(drained, sorted);
}

TEST(PriorityQueue, EqualKeysFollowTheSiftRules) {
    // Entries with equal keys never pass each other while sifting: b and c stay below a, and on removal
    // the last entry, c, moves up without going further down.
    qel::QELkd_leaf a(0, qel::emptyBucket), b(0, qel::emptyBucket), c(0, qel::emptyBucket);
    qel::QELpr_queue queue(3);
    queue.enqueue(1.0, &a);
    queue.enqueue(1.0, &b);
    queue.enqueue(1.0, &c);
    std::vector<qel::QELkd_node*> order;
    while (queue.held > 0) {
        double key;
        qel::QELkd_node* node;
        queue.dequeueNearest(key, node);
        order.push_back(node);
    }
    EXPECT_EQ(order, (std::vector<qel::QELkd_node*>{&a, &c, &b}));
}

TEST(PriorityQueue, OneEntryBeyondTheCapacityIsFatal) {
    qel::QELpr_queue queue(2);
    queue.enqueue(1.0, nullptr);
    queue.enqueue(2.0, nullptr);
    EXPECT_EXIT(queue.enqueue(3.0, nullptr), ::testing::ExitedWithCode(1),
                "QEL: ERROR------->Priority queue overflow.<-------------ERROR");
}

struct PriorityRow {
    double query[2];
    std::vector<int> indices;
    std::vector<double> distances;
};

TEST(PrioritySearch, SmallTableUnderSquaredEuclidean) {
    PointSet set(7, 2);
    const double coordinates[7][2] = {{0, 0}, {4, 0}, {0, 3}, {5, 5}, {-2, -1}, {1, 1}, {6, -2}};
    for (int i = 0; i < 7; ++i) {
        set[i][0] = coordinates[i][0];
        set[i][1] = coordinates[i][1];
    }
    constexpr double none = qel::unboundedDistance;
    const PriorityRow rows[] = {
        {{1, 0.5}, {5, 0, 2, 1}, {0.25, 1.25, 7.25, 9.25}},
        {{-3, -3}, {4, 0}, {5, 18}},
        // More neighbours wanted than there are points: the rest of the slots stay empty.
        {{5, 4}, {3, 1, 5, 2, 6, 0, 4, -1, -1}, {1, 17, 25, 26, 37, 41, 74, none, none}},
    };
    testdata::MetricGuard guard(2);
    const std::pair<TreeShape, int> trees[] = {
        {{Structure::Kd, qel::SplitRule::StandardKd, qel::ShrinkRule::None}, 1},
        {{Structure::Kd, qel::SplitRule::Fair, qel::ShrinkRule::None}, 2},
        {{Structure::Bd, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple}, 1}};
    for (const auto& [shape, bucketSize] : trees) {
        auto tree = buildTree(shape.structure, set, bucketSize, shape.split, shape.shrink);
        for (const PriorityRow& row : rows) {
            SCOPED_TRACE("query " + std::to_string(row.query[0]) + ", " + std::to_string(row.query[1]));
            double q[2] = {row.query[0], row.query[1]};
            const int k = static_cast<int>(row.indices.size());
            const Answer answer = runSearch(*tree, SearchKind::Priority, q, k, 0.0, 2);
            EXPECT_EQ(std::vector<int>(answer.indices.begin(), answer.indices.begin() + k), row.indices);
            EXPECT_EQ(std::vector<double>(answer.distances.begin(), answer.distances.begin() + k),
                      row.distances);
            EXPECT_EQ(answer.indices[k], untouchedIndex);
        }
    }
}

} // namespace
