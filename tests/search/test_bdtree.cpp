// bd-tree construction: the builder against a plain recursive build on every rule combination and data
// shape, the trees that must coincide (no shrinking = kd-tree, rule 3 = rule 1), shrinking around a
// far cluster, termination on degenerate data, and the half-space and box helpers. Builds on several
// threads must give the one thread's tree, dump for dump.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "testdata.h"
#include "treeshape.h"
#include <qel/bdtree.h>
#include <qel/kdutil.h>

using namespace qel;

namespace {

const SplitRule everySplitRule[] = {SplitRule::StandardKd, SplitRule::Midpoint, SplitRule::Fair,
                                    SplitRule::SlidingMidpoint, SplitRule::SlidingFair};
const ShrinkRule everyShrinkRule[] = {ShrinkRule::None, ShrinkRule::Simple, ShrinkRule::Centroid,
                                      ShrinkRule::Default};

bool allCoincide(PointArray pa, IndexArray idx, int n, int dim) {
    for (int i = 1; i < n; ++i)
        for (int d = 0; d < dim; ++d)
            if (pa[idx[i]][d] != pa[idx[0]][d]) return false;
    return true;
}

/// Every point into a whole cell, or at most one point off from several coincident ones.
bool noProgress(PointArray pa, IndexArray idx, int n, int dim, double lo, double hi, double cv, int nLow) {
    if ((nLow == n && cv == hi) || (nLow == 0 && cv == lo)) return true;
    if (n <= 2 || (nLow > 1 && nLow < n - 1)) return false;
    return nLow >= n - 1 ? allCoincide(pa, idx, nLow, dim) : allCoincide(pa, idx + nLow, n - nLow, dim);
}

/// The build as a plain recursion, with the same ways of ending: the oracle for the builder's order of
/// rule calls, its cell bookkeeping and so its pointIndex.
QELkd_node* recursiveBuild(PointArray pa, IndexArray idx, int n, int dim, int bucketSize, QELorthRect& box,
                           SplitProcedure split, ShrinkRule shrinkRule) {
    if (n <= bucketSize) return n == 0 ? sharedEmptyLeaf.load() : new QELkd_leaf(n, idx);
    QELorthRect inner(dim);
    HalfSpace* bounds = nullptr;
    if (chooseDecomposition(pa, idx, n, dim, box, split, shrinkRule, inner) &&
        boundingHalfSpaces(inner, box, dim, bounds) > 0) {
        delete[] bounds;
        const int nIn = partitionByBox(pa, idx, n, dim, inner);
        QELkd_node* in = recursiveBuild(pa, idx, nIn, dim, bucketSize, inner, split, shrinkRule);
        QELkd_node* out = recursiveBuild(pa, idx + nIn, n - nIn, dim, bucketSize, box, split, shrinkRule);
        const int count = boundingHalfSpaces(inner, box, dim, bounds);
        return new QELbd_shrink(count, bounds, in, out);
    }
    int cd = 0;
    double cv = 0.0;
    int nLow = 0;
    split(pa, idx, box, n, dim, cd, cv, nLow);
    const double lo = box.lower[cd];
    const double hi = box.upper[cd];
    if (noProgress(pa, idx, n, dim, lo, hi, cv, nLow)) return new QELkd_leaf(n, idx);
    box.upper[cd] = cv;
    QELkd_node* low = recursiveBuild(pa, idx, nLow, dim, bucketSize, box, split, shrinkRule);
    box.upper[cd] = hi;
    box.lower[cd] = cv;
    QELkd_node* high = recursiveBuild(pa, idx + nLow, n - nLow, dim, bucketSize, box, split, shrinkRule);
    box.lower[cd] = lo;
    return new QELkd_split(cd, cv, lo, hi, low, high);
}

std::unique_ptr<QELbd_tree> recursiveTree(const testdata::PointSet& data, int bucketSize, SplitRule splitRule,
                                          ShrinkRule shrinkRule) {
    const int n = data.size();
    const int dim = data.dim();
    auto* index = new int[n];
    std::iota(index, index + n, 0);
    QELorthRect box(dim);
    enclosingBox(data.points(), index, n, dim, box);
    QELkd_node* root = recursiveBuild(data.points(), index, n, dim, bucketSize, box,
                                      splitProcedureFor(splitRule), shrinkRule);
    return std::make_unique<QELbd_tree>(data.points(), index, n, dim, bucketSize, clonePoint(dim, box.lower),
                                        clonePoint(dim, box.upper), root);
}

std::unique_ptr<QELbd_tree> buildTree(const testdata::PointSet& data, int bucketSize, SplitRule splitRule,
                                      ShrinkRule shrinkRule, int threads = 1) {
    return std::make_unique<QELbd_tree>(data.points(), data.size(), data.dim(), bucketSize, splitRule,
                                        shrinkRule, threads);
}

/// The tree's dump without its points, and whether its leaf-order addresses follow its pointIndex.
std::string dumpOf(QELkd_tree& tree) {
    std::ostringstream out;
    tree.dumpTree(false, out);
    for (int i = 0; tree.leafPoints != nullptr && i < tree.dataCount; ++i)
        if (tree.leafPoints[i] != tree.dataPoints[tree.pointIndex[i]]) out << "address " << i << " differs\n";
    return out.str();
}

class EveryCombination : public testing::TestWithParam<std::tuple<SplitRule, ShrinkRule, int>> {};

TEST_P(EveryCombination, BuilderMatchesThePlainRecursion) {
    const auto [splitRule, shrinkRule, shapeIndex] = GetParam();
    const testdata::Shape& shape = testdata::allShapes[shapeIndex];
    for (int dim : {2, 4}) {
        for (int bucketSize : {1, 5}) {
            SCOPED_TRACE(std::string(shape.name) + " dim " + std::to_string(dim) + " bucket " +
                         std::to_string(bucketSize));
            const testdata::PointSet data = shape.make(300, dim);
            const auto tree = buildTree(data, bucketSize, splitRule, shrinkRule);
            EXPECT_TRUE(treeshape::sameTree(*tree, *recursiveTree(data, bucketSize, splitRule, shrinkRule)));
            EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
            EXPECT_TRUE(treeshape::cellsHoldTheirPoints(*tree));
            const std::string oneThread = dumpOf(*tree);
            for (int threads : {2, 3}) {
                EXPECT_EQ(dumpOf(*buildTree(data, bucketSize, splitRule, shrinkRule, threads)), oneThread)
                    << threads << " threads";
                if (shrinkRule != ShrinkRule::None) continue;
                QELkd_tree kd(data.points(), data.size(), dim, bucketSize, splitRule, threads);
                EXPECT_EQ(dumpOf(kd), oneThread) << "kd-tree, " << threads << " threads";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trees, EveryCombination,
    testing::Combine(testing::ValuesIn(everySplitRule), testing::ValuesIn(everyShrinkRule),
                     testing::Range(0, static_cast<int>(std::size(testdata::allShapes)))));

// Small sets on a coarse grid inside cells of every shape: ties, coincident points, flat cells.
TEST(BdTree, GridDataOfEveryKindEndsAndMatchesThePlainRecursion) {
    for (std::uint64_t seed = 1; seed <= 150; ++seed) {
        testdata::Random random(seed);
        const int dim = 1 + static_cast<int>(random.uniform() * 3);
        const int n = 2 + static_cast<int>(random.uniform() * 30);
        testdata::PointSet data(n, dim);
        for (int i = 0; i < n; ++i)
            for (int d = 0; d < dim; ++d)
                data[i][d] = static_cast<int>(random.uniform() * 3) * 0.5;
        for (SplitRule splitRule : everySplitRule)
            for (ShrinkRule shrinkRule : everyShrinkRule)
                for (int bucketSize : {1, 2}) {
                    const auto tree = buildTree(data, bucketSize, splitRule, shrinkRule);
                    ASSERT_TRUE(
                        treeshape::sameTree(*tree, *recursiveTree(data, bucketSize, splitRule, shrinkRule)))
                        << "seed " << seed;
                    ASSERT_TRUE(treeshape::cellsHoldTheirPoints(*tree)) << "seed " << seed;
                }
    }
}

TEST(BdTree, WithoutShrinkingItIsTheKdTree) {
    const testdata::PointSet data = testdata::clusteredPoints(400, 3);
    for (SplitRule rule : everySplitRule) {
        const QELkd_tree kd(data.points(), data.size(), data.dim(), 3, rule);
        EXPECT_TRUE(treeshape::sameTree(*buildTree(data, 3, rule, ShrinkRule::None), kd));
    }
}

TEST(BdTree, DefaultRulesAreSlidingMidpointAndSimple) {
    const testdata::PointSet data = testdata::farClusterPoints(300, 3);
    EXPECT_TRUE(treeshape::sameTree(*buildTree(data, 2, SplitRule::Default, ShrinkRule::Default),
                                    *buildTree(data, 2, SplitRule::SlidingMidpoint, ShrinkRule::Simple)));
}

TEST(BdTree, SimpleRuleShrinksToTheFarCluster) {
    const testdata::PointSet data = testdata::farClusterPoints(200, 2);
    const auto tree = buildTree(data, 8, SplitRule::SlidingMidpoint, ShrinkRule::Simple);
    // The root cuts the lone point at the origin off; the cluster's cell then reaches far below the
    // cluster in both dimensions, and those two sides shrink to the cluster's lower corner.
    auto* root = dynamic_cast<QELkd_split*>(tree->rootNode);
    ASSERT_NE(root, nullptr);
    auto* shrink = dynamic_cast<QELbd_shrink*>(root->upperChild);
    ASSERT_NE(shrink, nullptr);
    std::vector<int> cluster(199);
    std::iota(cluster.begin(), cluster.end(), 1);
    QELorthRect tight(2);
    enclosingBox(data.points(), cluster.data(), 199, 2, tight);
    ASSERT_EQ(shrink->boundCount, 2);
    for (int d = 0; d < 2; ++d) {
        EXPECT_EQ(shrink->bounds[d].boundDimension, d);
        EXPECT_EQ(shrink->bounds[d].boundValue, tight.lower[d]);
        EXPECT_EQ(shrink->bounds[d].boundSide, 1);
    }
    EXPECT_TRUE(isSharedEmptyLeaf(shrink->outerChild));
    EXPECT_EQ(treeshape::countNodes(tree->rootNode).shrinks, 1);
}

TEST(BdTree, CentroidRuleShrinksAroundTheFarCluster) {
    const testdata::PointSet data = testdata::farClusterPoints(200, 2);
    const auto tree = buildTree(data, 8, SplitRule::SlidingMidpoint, ShrinkRule::Centroid);
    auto* root = dynamic_cast<QELbd_shrink*>(tree->rootNode);
    ASSERT_NE(root, nullptr);
    // Cutting the lone point and the empty space off took three splits, the fourth halved the cluster.
    QELorthRect cell(2, tree->boxLower, tree->boxUpper);
    QELorthRect inner(2);
    boxFromHalfSpaces(cell, 2, root->boundCount, root->bounds, inner);
    double origin[] = {0.0, 0.0};
    EXPECT_FALSE(inner.contains(2, origin));
    std::vector<int> all(200);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_LE(partitionByBox(data.points(), all.data(), 200, 2, inner), 100);
    EXPECT_TRUE(treeshape::cellsHoldTheirPoints(*tree));
}

TEST(BdTree, SimpleRuleSplitsPointsThatSpreadAcrossTheCell) {
    const testdata::PointSet data = testdata::uniformPoints(500, 2);
    const auto tree = buildTree(data, 4, SplitRule::SlidingMidpoint, ShrinkRule::Simple);
    EXPECT_NE(dynamic_cast<QELkd_split*>(tree->rootNode), nullptr);
}

TEST(BdTree, SmallAndEmptySets) {
    testdata::PointSet none(0, 2);
    const auto empty = buildTree(none, 1, static_cast<SplitRule>(8), static_cast<ShrinkRule>(8));
    EXPECT_EQ(empty->rootNode, nullptr);
    EXPECT_EQ(empty->boxLower, nullptr);
    const testdata::PointSet few = testdata::uniformPoints(4, 2);
    const auto one = buildTree(few, 4, SplitRule::Fair, static_cast<ShrinkRule>(8)); // rule never consulted
    auto* leaf = dynamic_cast<QELkd_leaf*>(one->rootNode);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->bucketCount, 4);
}

TEST(BdTree, IllegalShrinkingRuleIsFatal) {
    const testdata::PointSet data = testdata::uniformPoints(10, 2);
    for (int value : {4, -1})
        EXPECT_EXIT(buildTree(data, 2, SplitRule::Default, static_cast<ShrinkRule>(value)),
                    testing::ExitedWithCode(1),
                    "QEL: ERROR------->Illegal shrinking rule<-------------ERROR\n");
    EXPECT_EXIT(buildTree(data, 2, static_cast<SplitRule>(6), ShrinkRule::Simple), testing::ExitedWithCode(1),
                "Illegal splitting method");
}

TEST(BdTree, CoincidentPointsEndUnderEveryRule) {
    testdata::PointSet data = testdata::coincidentPoints(20000, 3, 0.25);
    std::fill(data[0], data[0] + 3, 7.0); // one far point, so the coincident cell is not the whole box
    for (SplitRule splitRule : everySplitRule)
        for (ShrinkRule shrinkRule : everyShrinkRule) {
            const auto tree = buildTree(data, 1, splitRule, shrinkRule);
            EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
        }
}

TEST(SimpleShrinkTest, GapsOfAtLeastHalfTheLongestSideShrink) {
    testdata::PointSet data(2, 2);
    const double values[2][2] = {{8, 0.5}, {9, 1.2}};
    for (int i = 0; i < 2; ++i)
        std::copy(values[i], values[i] + 2, data[i]);
    int idx[] = {0, 1};
    QELorthRect box(2, 0.0, 10.0);
    box.lower[1] = 0.2; // gap 0.3 below the points in dimension 1: too small
    QELorthRect inner(2);
    EXPECT_TRUE(simpleShrinkTest(data.points(), idx, 2, 2, box, splitMidpoint, inner));
    EXPECT_EQ(std::vector<double>(inner.lower, inner.lower + 2), (std::vector<double>{8, 0.2}));
    EXPECT_EQ(std::vector<double>(inner.upper, inner.upper + 2), (std::vector<double>{9, 1.2}));
    box.lower[1] = 0.0; // gap exactly half the longest side (1): shrinks
    EXPECT_TRUE(simpleShrinkTest(data.points(), idx, 2, 2, box, splitMidpoint, inner));
    EXPECT_EQ(inner.lower[1], 0.5);
}

TEST(CentroidShrinkTest, StopsWhenASplitKeepsEveryPoint) {
    const testdata::PointSet data = testdata::coincidentPoints(40, 2, 0.9);
    std::vector<int> idx(40);
    std::iota(idx.begin(), idx.end(), 0);
    QELorthRect box(2, 0.0, 1.0);
    QELorthRect inner(2);
    // The first midpoint cut leaves every point above it: no split is counted and nothing shrinks.
    EXPECT_FALSE(centroidShrinkTest(data.points(), idx.data(), 40, 2, box, splitMidpoint, inner));
    EXPECT_EQ(std::vector<double>(inner.lower, inner.lower + 2), (std::vector<double>{0, 0}));
    EXPECT_EQ(std::vector<double>(inner.upper, inner.upper + 2), (std::vector<double>{1, 1}));
}

TEST(PartitionByBox, PointsOnFacesAreInside) {
    testdata::PointSet data(5, 2);
    const double values[5][2] = {{2, 2}, {1, 0.5}, {0, 0}, {1.0000001, 1}, {0.5, 1}};
    for (int i = 0; i < 5; ++i)
        std::copy(values[i], values[i] + 2, data[i]);
    int idx[] = {0, 1, 2, 3, 4};
    QELorthRect inner(2, 0.0, 1.0);
    EXPECT_EQ(partitionByBox(data.points(), idx, 5, 2, inner), 3);
    EXPECT_EQ(std::vector<int>(idx, idx + 5), (std::vector<int>{4, 1, 2, 3, 0}));
}

TEST(HalfSpaces, BoundsCutTheInnerBoxOutOfTheCellAndBack) {
    double outerLo[] = {0, 0, 0};
    double outerHi[] = {10, 10, 10};
    double innerLo[] = {2, 0, 0};
    double innerHi[] = {10, 5, 10};
    QELorthRect outer(3, outerLo, outerHi);
    QELorthRect inner(3, innerLo, innerHi);
    HalfSpace* bounds = nullptr;
    ASSERT_EQ(boundingHalfSpaces(inner, outer, 3, bounds), 2);
    EXPECT_EQ(bounds[0].boundDimension, 0);
    EXPECT_EQ(bounds[0].boundValue, 2.0);
    EXPECT_EQ(bounds[0].boundSide, 1);
    EXPECT_EQ(bounds[1].boundDimension, 1);
    EXPECT_EQ(bounds[1].boundValue, 5.0);
    EXPECT_EQ(bounds[1].boundSide, -1);
    QELorthRect rebuilt(3);
    boxFromHalfSpaces(outer, 3, 2, bounds, rebuilt);
    EXPECT_EQ(std::vector<double>(rebuilt.lower, rebuilt.lower + 3),
              std::vector<double>(innerLo, innerLo + 3));
    EXPECT_EQ(std::vector<double>(rebuilt.upper, rebuilt.upper + 3),
              std::vector<double>(innerHi, innerHi + 3));

    testdata::MetricGuard guard(2);
    const QELbd_shrink node(2, bounds, sharedEmptyLeaf, sharedEmptyLeaf);
    double inside[] = {3, 4, 9};
    double outside[] = {-1, 7, 20}; // violates both half-spaces; dimension 2 has none
    EXPECT_EQ(node.innerDistance(inside, 2), 0.0);
    EXPECT_EQ(node.innerDistance(outside, 2), 9.0 + 4.0);
    EXPECT_EQ(boundingHalfSpaces(outer, outer, 3, bounds), 0);
    EXPECT_EQ(bounds, nullptr);
}

} // namespace
