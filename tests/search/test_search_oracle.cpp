// The three tree searches against brute force over the option space (structure x splitting rule x
// shrinking rule x bucket size, and inside each case every data shape x metric x search kind), with fixed
// seeds. With eps = 0 a search reports exactly the brute-force distances and counts; with eps > 0 it
// reports only true distances, ascending, each within the error factor of the true one. Also the
// degenerate trees, up to a hundred thousand levels deep, that must be searched without exhausting the
// stack.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>

#include "searchcheck.h"
#include "treeshape.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

struct MetricCase {
    int kind;
    int power;
};

constexpr MetricCase metrics[] = {{1, 1}, {1, 3}, {2, 2}, {3, 1}, {3, 2}, {3, 3}, {4, 1}, {4, 2}};

/// How much farther than the true i-th neighbour an approximate i-th neighbour may lie.
double allowedFactor(MetricCase metric, double eps) {
    return metric.kind == 1 || metric.kind == 4 ? 1.0 + eps : std::pow(1.0 + eps, metric.power);
}

/// Checks one search's answer with k slots; exact holds every data point's true distance, sorted.
void checkAnswer(const Answer& answer, SearchKind kind, const PointSet& set, qel::Point q, MetricCase metric,
                 int k, double eps, const std::vector<double>& exact, double radiusBound) {
    const bool fixedRadius = kind == SearchKind::FixedRadius;
    const int inRange = countWithin(exact, radiusBound);
    if (fixedRadius) {
        if (eps == 0.0) {
            EXPECT_EQ(answer.count, inRange);
        } else {
            EXPECT_LE(answer.count, inRange);
        }
    }
    const int found = std::min(k, fixedRadius ? answer.count : set.size());
    std::vector<bool> reported(set.size(), false);
    for (int i = 0; i < k; ++i) {
        SCOPED_TRACE("slot " + std::to_string(i));
        if (i >= found) {
            EXPECT_EQ(answer.indices[i], qel::noIndex);
            EXPECT_EQ(answer.distances[i], qel::unboundedDistance);
            continue;
        }
        const int index = answer.indices[i];
        ASSERT_GE(index, 0);
        ASSERT_LT(index, set.size());
        EXPECT_FALSE(reported[index]) << "reported twice";
        reported[index] = true;
        EXPECT_EQ(answer.distances[i], qel::pointDistance(set.dim(), set[index], q, metric.power));
        if (i > 0) {
            EXPECT_GE(answer.distances[i], answer.distances[i - 1]);
        }
        if (eps == 0.0) {
            EXPECT_EQ(answer.distances[i], exact[i]);
        } else {
            EXPECT_LE(answer.distances[i], allowedFactor(metric, eps) * exact[i]);
        }
        if (fixedRadius) {
            EXPECT_LE(answer.distances[i], radiusBound);
        }
    }
    for (int i = k; i < static_cast<int>(answer.indices.size()); ++i) {
        EXPECT_EQ(answer.indices[i], untouchedIndex);
        EXPECT_EQ(answer.distances[i], untouchedDistance);
    }
}

/// Runs every search kind with eps 0 and 0.5 for one query and checks it against brute force.
void checkQuery(qel::QELkd_tree& tree, const PointSet& set, qel::Point q, MetricCase metric, int k) {
    const std::vector<double> exact = sortedDistances(set, q, metric.power);
    const double bounds[] = {exact[0], exact[k / 2], exact[set.size() / 4]};
    for (double eps : {0.0, 0.5}) {
        for (SearchKind kind : allSearches) {
            SCOPED_TRACE(std::string(searchName(kind)) + " search, eps " + std::to_string(eps));
            if (kind != SearchKind::FixedRadius) {
                checkAnswer(runSearch(tree, kind, q, k, eps, metric.power), kind, set, q, metric, k, eps,
                            exact, 0.0);
                continue;
            }
            for (double bound : bounds) {
                SCOPED_TRACE("bound " + std::to_string(bound));
                checkAnswer(runSearch(tree, kind, q, k, eps, metric.power, bound), kind, set, q, metric, k,
                            eps, exact, bound);
            }
        }
    }
}

class SearchOracle : public ::testing::TestWithParam<std::tuple<TreeShape, int>> {};

TEST_P(SearchOracle, AgreesWithBruteForce) {
    const auto [treeShape, bucketSize] = GetParam();
    for (const testdata::Shape& data : testdata::allShapes) {
        SCOPED_TRACE(data.name);
        const PointSet set = data.make(200, 3);
        const PointSet queries = queriesFor(set);
        auto tree = buildTree(treeShape.structure, set, bucketSize, treeShape.split, treeShape.shrink);
        const bool simpleShrinking =
            treeShape.shrink == qel::ShrinkRule::Simple || treeShape.shrink == qel::ShrinkRule::Default;
        if (std::string(data.name) == "farCluster" && simpleShrinking) {
            EXPECT_GT(treeshape::countNodes(tree->rootNode).shrinks, 0) << "the cluster should be cut out";
        }
        for (MetricCase metric : metrics) {
            SCOPED_TRACE("metric " + std::to_string(metric.kind) + " power " + std::to_string(metric.power));
            testdata::MetricGuard guard(metric.kind);
            for (int j = 0; j < queries.size() && !HasFailure(); ++j) {
                SCOPED_TRACE("query " + std::to_string(j));
                checkQuery(*tree, set, queries[j], metric, j % 2 == 0 ? 6 : 1);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllOptions, SearchOracle,
                         ::testing::Combine(::testing::ValuesIn(allTreeShapes()),
                                            ::testing::Values(1, 2, 8, 10)),
                         [](const auto& info) {
                             const TreeShape& shape = std::get<0>(info.param);
                             std::string name = shape.structure == Structure::Kd ? "kd" : "bd";
                             name += "_split" + std::to_string(int(shape.split));
                             if (shape.structure == Structure::Bd) {
                                 name += "_shrink" + std::to_string(int(shape.shrink));
                             }
                             return name + "_bucket" + std::to_string(std::get<1>(info.param));
                         });

/// Checks every search kind on the given queries of a degenerate tree against brute force.
void checkDegenerate(qel::QELkd_tree& tree, const PointSet& set, const PointSet& queries, int k,
                     std::initializer_list<MetricCase> metricCases) {
    for (MetricCase metric : metricCases) {
        testdata::MetricGuard guard(metric.kind);
        for (int j = 0; j < queries.size(); ++j) {
            SCOPED_TRACE("query " + std::to_string(j) + ", metric " + std::to_string(metric.kind));
            checkQuery(tree, set, queries[j], metric, k);
        }
    }
}

/// Runs body on a thread with a 512 KiB stack: far less than a search needs if it nests one call per level
/// of a tree a hundred thousand levels deep.
void runOnSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(DegenerateTrees, MillionCoincidentPoints) {
    const PointSet set = testdata::coincidentPoints(1'000'000, 2);
    PointSet queries(2, 2);
    queries[0][0] = queries[0][1] = 0.5;
    queries[1][0] = 2.0;
    queries[1][1] = -1.0;
    const TreeShape trees[] = {
        {Structure::Kd, qel::SplitRule::Midpoint, qel::ShrinkRule::None},
        {Structure::Bd, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple},
    };
    for (const TreeShape& shape : trees) {
        SCOPED_TRACE("split rule " + std::to_string(int(shape.split)));
        auto tree = buildTree(shape.structure, set, 8, shape.split, shape.shrink);
        checkDegenerate(*tree, set, queries, 5, {{2, 2}});
    }
}

TEST(DegenerateTrees, MidpointChainsInHundredDimensions) {
    // Twelve points within 1e-299 of the origin and one at (1, ..., 1): the midpoint rule halves every
    // side of the cluster's cell about a thousand times before it separates the cluster's points, each
    // cut leaving an empty side.
    const int dim = 100;
    PointSet set(13, dim);
    for (int i = 0; i < 12; ++i) {
        set[i][0] = i * 1e-300;
    }
    for (int d = 0; d < dim; ++d) {
        set[12][d] = 1.0;
    }
    PointSet queries(4, dim);
    for (int d = 0; d < dim; ++d) {
        queries[1][d] = 1.0;
        queries[2][d] = 0.25;
        queries[3][d] = d % 2 == 0 ? -1.0 : 5e-300;
    }
    const qel::ShrinkRule shrinks[] = {qel::ShrinkRule::None, qel::ShrinkRule::Simple,
                                       qel::ShrinkRule::Centroid};
    for (qel::ShrinkRule shrink : shrinks) {
        SCOPED_TRACE("shrink rule " + std::to_string(int(shrink)));
        const Structure structure = shrink == qel::ShrinkRule::None ? Structure::Kd : Structure::Bd;
        auto tree = buildTree(structure, set, 1, qel::SplitRule::Midpoint, shrink);
        // The simple rule cuts the cluster out at once; the others build the chains.
        if (shrink != qel::ShrinkRule::Simple) {
            EXPECT_GT(treeshape::countNodes(tree->rootNode).splits, 50'000);
        }
        runOnSmallStack([&] { checkDegenerate(*tree, set, queries, 5, {{2, 2}, {4, 1}}); });
    }
}

} // namespace
