// Data shapes chosen to break tree builders and searches: a million coincident points, points on one
// line through a hundred dimensions, and a cluster at 1e-300 beside one at 1e300. Every splitting rule
// (kd-trees) and every splitting x shrinking rule (bd-trees) builds each of them with bucket size 1;
// the build must end, and the standard, priority and fixed-radius searches must report exactly what
// brute force finds, without exhausting the stack. Also a tree a dump could describe: a chain two
// hundred thousand levels deep whose every level holds a point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "searchcheck.h"
#include "treeshape.h"

using namespace searchcheck;
using testdata::PointSet;

namespace {

/// A metric as the application sets it: the kind and the power it passes with it.
struct Metric {
    int kind;
    int power;
};

constexpr Metric Manhattan{1, 1};
constexpr Metric Euclidean{2, 2};
constexpr Metric Chebyshev{4, 1};

/// Every tree the option panel can ask for.
std::vector<TreeShape> everyTreeShape() {
    std::vector<TreeShape> shapes;
    for (int split = 0; split <= 5; ++split) {
        shapes.push_back({Structure::Kd, qel::SplitRule(split), qel::ShrinkRule::None});
        for (int shrink = 0; shrink <= 3; ++shrink)
            shapes.push_back({Structure::Bd, qel::SplitRule(split), qel::ShrinkRule(shrink)});
    }
    return shapes;
}

/// Every kd-tree and six bd-trees that between them use every splitting and every shrinking rule: for
/// data so large that building every combination would take long.
std::vector<TreeShape> sampledTreeShapes() {
    std::vector<TreeShape> shapes;
    for (int split = 0; split <= 5; ++split) {
        shapes.push_back({Structure::Kd, qel::SplitRule(split), qel::ShrinkRule::None});
        shapes.push_back({Structure::Bd, qel::SplitRule(split), qel::ShrinkRule((split + 3) % 4)});
    }
    return shapes;
}

std::string shapeName(const testing::TestParamInfo<TreeShape>& info) {
    const TreeShape& shape = info.param;
    std::string name = shape.structure == Structure::Kd ? "Kd" : "Bd";
    name += "Split" + std::to_string(int(shape.split));
    if (shape.structure == Structure::Bd) name += "Shrink" + std::to_string(int(shape.shrink));
    return name;
}

/// The exact answer for one query: every data point's distance, ascending. A distance that overflowed
/// to infinity is beyond every bound a tree search keeps, so only the finite ones are compared.
struct Expected {
    std::vector<double> sorted;
    int finite = 0;
};

Expected expectedFor(const PointSet& set, qel::Point q, Metric metric) {
    testdata::MetricGuard guard(metric.kind);
    Expected expected{sortedDistances(set, q, metric.power)};
    expected.finite = static_cast<int>(std::count_if(expected.sorted.begin(), expected.sorted.end(),
                                                     [](double d) { return std::isfinite(d); }));
    return expected;
}

/// Runs the three searches with eps 0 and checks each slot against the exact answer: the brute-force
/// distance, a real point at that distance, each point once; slots past the finite answers are empty.
void checkSearches(qel::QELkd_tree& tree, const PointSet& set, qel::Point q, Metric metric, int k,
                   const Expected& expected) {
    testdata::MetricGuard guard(metric.kind);
    // The bound is the k-th finite distance itself, so points on it must count.
    const int inBound = std::min(k, expected.finite);
    const double bound = inBound > 0 ? expected.sorted[static_cast<std::size_t>(inBound - 1)] : 0.0;
    for (const SearchKind kind : allSearches) {
        SCOPED_TRACE(searchName(kind));
        const Answer answer = runSearch(tree, kind, q, k, 0.0, metric.power, bound);
        int filled = std::min(k, expected.finite);
        if (kind == SearchKind::FixedRadius) {
            EXPECT_EQ(answer.count, countWithin(expected.sorted, bound));
            filled = std::min(filled, answer.count);
        }
        std::vector<bool> reported(static_cast<std::size_t>(set.size()), false);
        for (int i = 0; i < k; ++i) {
            const int index = answer.indices[static_cast<std::size_t>(i)];
            const double dist = answer.distances[static_cast<std::size_t>(i)];
            if (i >= filled) {
                EXPECT_EQ(index, qel::noIndex) << "slot " << i;
                EXPECT_EQ(dist, qel::unboundedDistance) << "slot " << i;
                continue;
            }
            ASSERT_TRUE(index >= 0 && index < set.size()) << "slot " << i;
            EXPECT_FALSE(reported[static_cast<std::size_t>(index)]) << "slot " << i << " repeats a point";
            reported[static_cast<std::size_t>(index)] = true;
            EXPECT_EQ(dist, expected.sorted[static_cast<std::size_t>(i)]) << "slot " << i;
            EXPECT_EQ(dist, qel::pointDistance(set.dim(), set[index], q, metric.power)) << "slot " << i;
        }
        EXPECT_EQ(answer.indices[static_cast<std::size_t>(k)], untouchedIndex);
    }
}

/// One data shape with its queries and the exact answers, made once for all tree shapes.
struct Scenario {
    PointSet points;
    PointSet queries;
    std::vector<Metric> metrics;
    int k;
    std::vector<std::vector<Expected>> expected; ///< [query][metric]

    Scenario(PointSet points, PointSet queries, std::vector<Metric> metrics, int k)
        : points(std::move(points)), queries(std::move(queries)), metrics(std::move(metrics)), k(k) {
        for (int q = 0; q < this->queries.size(); ++q) {
            expected.emplace_back();
            for (const Metric metric : this->metrics)
                expected.back().push_back(expectedFor(this->points, this->queries[q], metric));
        }
    }

    void check(const TreeShape& shape) const {
        auto tree = buildTree(shape.structure, points, 1, shape.split, shape.shrink);
        for (int q = 0; q < queries.size(); ++q) {
            for (std::size_t m = 0; m < metrics.size(); ++m) {
                SCOPED_TRACE("query " + std::to_string(q) + ", metric " + std::to_string(metrics[m].kind));
                checkSearches(*tree, points, queries[q], metrics[m], k,
                              expected[static_cast<std::size_t>(q)][m]);
            }
        }
    }
};

// A million copies of one point: every cut leaves every point on one side. Queries on the point, and
// off it.
const Scenario& coincidentScenario() {
    static const Scenario scenario = [] {
        PointSet queries(2, 3);
        std::fill_n(queries[0], 3, 0.5);
        queries[1][0] = -2.0;
        queries[1][2] = 7.0;
        return Scenario(testdata::coincidentPoints(1'000'000, 3), std::move(queries), {Euclidean}, 4);
    }();
    return scenario;
}

// Points t * (1, 2, ..., 100): every cell is long in every dimension at once. Queries on the line,
// beside it and beyond its end.
const Scenario& lineScenario() {
    static const Scenario scenario = [] {
        const int dim = 100;
        PointSet points = testdata::linePoints(3000, dim);
        PointSet queries(3, dim);
        for (int d = 0; d < dim; ++d) {
            queries[0][d] = points[17][d];
            queries[1][d] = 0.5 * (d + 1) + (d % 2 == 0 ? 0.01 : -0.01);
            queries[2][d] = 2.0 * (d + 1);
        }
        return Scenario(std::move(points), std::move(queries), {Manhattan, Euclidean, Chebyshev}, 5);
    }();
    return scenario;
}

// 300 points at about 1e-300 and 300 at about 1e300: the box spans six hundred orders of magnitude,
// distances within the small cluster underflow and, squared, those across or within the large one
// overflow. Queries in each cluster and halfway between.
const Scenario& magnitudeScenario() {
    static const Scenario scenario = [] {
        const int dim = 3;
        const int half = 300;
        PointSet points(2 * half, dim);
        testdata::Random random(testdata::defaultSeed);
        for (int i = 0; i < half; ++i) {
            for (int d = 0; d < dim; ++d) {
                points[i][d] = random.uniform() * 1e-300;
                points[half + i][d] = (1.0 + random.uniform()) * 1e300;
            }
        }
        PointSet queries(3, dim);
        for (int d = 0; d < dim; ++d) {
            queries[0][d] = points[5][d];
            queries[1][d] = 1.5e300;
            queries[2][d] = 5e299;
        }
        return Scenario(std::move(points), std::move(queries), {Manhattan, Euclidean, Chebyshev}, 6);
    }();
    return scenario;
}

class AdversarialShapes : public testing::TestWithParam<TreeShape> {};
class MillionPoints : public testing::TestWithParam<TreeShape> {};

TEST_P(MillionPoints, AllCoincident) {
    coincidentScenario().check(GetParam());
}

TEST_P(AdversarialShapes, PointsOnALineInHundredDimensions) {
    lineScenario().check(GetParam());
}

TEST_P(AdversarialShapes, ClustersAtTinyAndHugeMagnitudes) {
    magnitudeScenario().check(GetParam());
}

// NaN coordinates (the first point's among them, so the enclosing box is NaN too) once made cuts at
// NaN that moved every point to one side, and inner boxes without points, over and over until memory
// ran out. The build must end with every point in one leaf, and the searches must run.
TEST_P(AdversarialShapes, NaNCoordinatesEndTheBuild) {
    for (int dim : {1, 3}) {
        PointSet set(60, dim);
        for (int i = 0; i < set.size(); ++i)
            for (int d = 0; d < dim; ++d)
                set[i][d] = i % 9 == 0 ? std::nan("") : std::fmod(i * 0.618034 + d * 0.3, 1.0);
        const TreeShape& shape = GetParam();
        auto tree = buildTree(shape.structure, set, 1, shape.split, shape.shrink);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree)) << "dimension " << dim;
        testdata::MetricGuard guard(2);
        for (SearchKind kind : allSearches)
            runSearch(*tree, kind, set[1], 5, 0.0, 2, 1.0);
    }
}

// NaN or infinite coordinates along a cell's longest side: the fair rules' cut sent every point to one
// side and moved along the cell by a sliver, one level deeper each time, until memory ran out. Found by
// fuzz_batch (finding F8 of fuzz/README.md).
TEST_P(AdversarialShapes, NonFiniteAlongTheLongestSideEndsTheBuild) {
    const double nan = std::nan("");
    const double inf = INFINITY;
    const double a = 10 * std::numeric_limits<double>::denorm_min();
    const double b = 15 * std::numeric_limits<double>::denorm_min();
    const double e = 1e-5; // the factor, not a literal: the coordinates are these products' roundings
    const std::vector<std::vector<double>> pointSets[] = {
        {{0, 0}, {nan, 1}, {nan, 1}, {1, -1}},
        {{-inf, 0}, {nan, 0}, {0, 1}},
        {{-12 * e, -13 * e}, {-8 * e, a}, {-8 * e, b}, {nan, b}, {b, b}, {b, nan}}};
    for (const auto& rows : pointSets) {
        PointSet set(static_cast<int>(rows.size()), 2);
        for (int i = 0; i < set.size(); ++i)
            std::copy_n(rows[static_cast<std::size_t>(i)].begin(), 2, set[i]);
        const TreeShape& shape = GetParam();
        auto tree = buildTree(shape.structure, set, 1, shape.split, shape.shrink);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree)) << rows.size() << " points";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRule, AdversarialShapes, testing::ValuesIn(everyTreeShape()), shapeName);
INSTANTIATE_TEST_SUITE_P(EveryRuleOnce, MillionPoints, testing::ValuesIn(sampledTreeShapes()), shapeName);

// Coordinates of about 1e16, where neighbouring doubles are 2 apart: a point on a cell's face whose
// distance rounds one unit in the last place below the cell's incrementally built distance. Found by
// fuzz_tree (finding F1 of fuzz/README.md).
struct RoundingCase {
    const char* name;
    SearchKind search;
    std::vector<std::vector<double>> points;
    std::vector<double> query;
    int k;
};

std::ostream& operator<<(std::ostream& out, const RoundingCase& row) {
    return out << row.name;
}

const RoundingCase roundingCases[] = {
    {"Standard",
     SearchKind::Standard,
     {{-11e15, 9, -15},
      {-11e15, 9, -15},
      {-14e15, 12e15, 10e15},
      {-14e15, 9, -15},
      {-11e15, 12e15, -15},
      {-14e15, 9, -15},
      {6e15, 2, -4e15},
      {-11e15, 2, -15}},
     {7, -4e15, 5e15},
     3},
    {"Priority",
     SearchKind::Priority,
     {{14e15, 9, 6e15}, {6e15, 8e15, -16e15}, {14e15, 9, 6e15}, {6e15, 3, 14e15}, {14e15, 9, 6e15}},
     {6e15, 11e15, -16e15},
     2},
};

class CellDistanceRounding : public testing::TestWithParam<RoundingCase> {};

TEST_P(CellDistanceRounding, PointOnTheFaceIsFound) {
    const RoundingCase& row = GetParam();
    PointSet set(static_cast<int>(row.points.size()), 3);
    for (int i = 0; i < set.size(); ++i)
        std::copy(row.points[static_cast<std::size_t>(i)].begin(),
                  row.points[static_cast<std::size_t>(i)].end(), set[i]);
    std::vector<double> query = row.query;
    const Expected expected = expectedFor(set, query.data(), Manhattan);
    testdata::MetricGuard guard(Manhattan.kind);
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::Midpoint);
    const Answer answer = runSearch(*tree, row.search, query.data(), row.k, 0.0, Manhattan.power);
    for (int i = 0; i < row.k; ++i)
        EXPECT_EQ(answer.distances[static_cast<std::size_t>(i)], expected.sorted[static_cast<std::size_t>(i)])
            << "slot " << i;
}

INSTANTIATE_TEST_SUITE_P(HugeMagnitudes, CellDistanceRounding, testing::ValuesIn(roundingCases),
                         [](const testing::TestParamInfo<RoundingCase>& info) {
                             return std::string(info.param.name);
                         });

// The fair rule's cut for a cell whose only eligible dimension has no spread falls outside the cell
// (dimension 0 is cut although it is not eligible), and the empty side's cell comes out inverted. Found
// by fuzz_tree (finding F4 of fuzz/README.md).
TEST(FairCutOutsideItsCell, AspectRatiosStayAtLeastOne) {
    const double a = 0.0015;
    const double b = -0.0004;
    const double c = -0.0016;
    const double coordinates[7][4] = {{-3, a, b, c}, {-4, 11, -16, 14}, {-3, a, a, a}, {-6, a, -16, -16},
                                      {-3, a, b, c}, {-3, a, b, c},     {-3, a, b, c}};
    PointSet set(7, 4);
    for (int i = 0; i < set.size(); ++i)
        std::copy_n(coordinates[i], 4, set[i]);
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::Fair);
    qel::TreeStats stats;
    tree->collectStats(stats);
    EXPECT_GE(stats.aspectSum, static_cast<float>(stats.leafCount));
    EXPECT_GE(stats.aspectMean, 1.0f);
}

// Finding F14 of fuzz/README.md: the standard rule's cut between 1.6e308 and 1.7e308 overflows to
// infinity, which leaves the upper point below its cut, where no search looks for it.
TEST(OverflowingCut, PointsStayOnTheirSide) {
    PointSet set(2, 1);
    set[0][0] = 1.7e308;
    set[1][0] = 1.6e308;
    auto tree = buildTree(Structure::Kd, set, 1, qel::SplitRule::StandardKd);
    testdata::MetricGuard guard(qel::manhattanMetric);
    double q[] = {1.7e308};
    EXPECT_EQ(runSearch(*tree, SearchKind::Standard, q, 1, 0.0, 1).indices[0], 0);
}

// Finding F15 of fuzz/README.md: the midpoint rule with the simple shrink does not end on coordinates
// near the largest double along both sides.
TEST(HugeCoordinates, MidpointWithSimpleShrinkEndsTheBuild) {
    PointSet set(40, 2);
    for (int i = 0; i < set.size(); ++i) {
        set[i][0] = (i % 2 == 0 ? 1.7e308 : -1.7e308) * (1 - i * 1e-3);
        set[i][1] = 1.7e308 * (i % 3) / 2;
    }
    EXPECT_NE(buildTree(Structure::Bd, set, 1, qel::SplitRule::Midpoint, qel::ShrinkRule::Simple), nullptr);
}

// A tree as a dump may describe it: point i alone in a leaf at level i of a chain of split nodes, the
// chain always continuing on the upper side. A query above the chain's top finds its nearest points at
// the chain's end, so every search goes all the way down.
class DeepChain : public testing::TestWithParam<SearchKind> {};

TEST_P(DeepChain, EveryLevelHoldsAPoint) {
    const int n = 200'000;
    PointSet set(n, 1);
    auto* index = new int[static_cast<std::size_t>(n)];
    for (int i = 0; i < n; ++i) {
        set[i][0] = i;
        index[i] = i;
    }
    qel::QELkd_node* chain = new qel::QELkd_leaf(1, index + (n - 1));
    for (int i = n - 2; i >= 0; --i)
        chain = new qel::QELkd_split(0, i + 0.5, i, n - 1, new qel::QELkd_leaf(1, index + i), chain);
    qel::QELkd_tree tree(set.points(), index, n, 1, 1, qel::newPoint(1, 0.0), qel::newPoint(1, n - 1.0),
                         chain);
    qel::Point q = qel::newPoint(1, n + 10.0);
    testdata::MetricGuard guard(Euclidean.kind);
    const Answer answer = runSearch(tree, GetParam(), q, 3, 0.0, Euclidean.power, 1e300);
    EXPECT_EQ(answer.indices[0], n - 1);
    EXPECT_EQ(answer.distances[0], 121.0);
    qel::releasePoint(q);
}

std::string searchKindName(const testing::TestParamInfo<SearchKind>& info) {
    switch (info.param) {
    case SearchKind::Standard:
        return "Standard";
    case SearchKind::Priority:
        return "Priority";
    case SearchKind::FixedRadius:
        break;
    }
    return "FixedRadius";
}

INSTANTIATE_TEST_SUITE_P(EverySearch, DeepChain, testing::ValuesIn(allSearches), searchKindName);

} // namespace
