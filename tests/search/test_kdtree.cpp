// kd-tree construction: the shape of the built tree on every rule and data shape, the small exact
// trees, the shared empty leaf's lifetime, degenerate sizes and rule values, and termination without
// stack overflow on coincident points, near-coincident points in many dimensions and points on a line.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "testdata.h"
#include "treeshape.h"
#include <qel/kdtree.h>
#include <qel/kdutil.h>

using namespace qel;

namespace {

const SplitRule everyRule[] = {SplitRule::StandardKd,      SplitRule::Midpoint,    SplitRule::Fair,
                               SplitRule::SlidingMidpoint, SplitRule::SlidingFair, SplitRule::Default};

std::unique_ptr<QELkd_tree> buildTree(const testdata::PointSet& data, int bucketSize, SplitRule rule) {
    return std::make_unique<QELkd_tree>(data.points(), data.size(), data.dim(), bucketSize, rule);
}

class EveryRuleShapeAndBucket : public testing::TestWithParam<std::tuple<SplitRule, int, int>> {};

TEST_P(EveryRuleShapeAndBucket, LeavesCoverTheIndexAndCellsHoldTheirPoints) {
    const auto [rule, shapeIndex, bucketSize] = GetParam();
    const testdata::Shape& shape = testdata::allShapes[shapeIndex];
    for (int dim : {1, 2, 5}) {
        SCOPED_TRACE(std::string(shape.name) + " dim " + std::to_string(dim));
        const testdata::PointSet data = shape.make(300, dim);
        const auto tree = buildTree(data, bucketSize, rule);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
        EXPECT_TRUE(treeshape::cellsHoldTheirPoints(*tree));
        std::vector<int> all(data.size());
        std::iota(all.begin(), all.end(), 0);
        QELorthRect box(dim);
        enclosingBox(data.points(), all.data(), data.size(), dim, box);
        EXPECT_EQ(std::vector<double>(tree->boxLower, tree->boxLower + dim),
                  std::vector<double>(box.lower, box.lower + dim));
        EXPECT_EQ(std::vector<double>(tree->boxUpper, tree->boxUpper + dim),
                  std::vector<double>(box.upper, box.upper + dim));
        if (auto* root = dynamic_cast<QELkd_split*>(tree->rootNode)) {
            EXPECT_EQ(root->cellLower, box.lower[root->splitDimension]);
            EXPECT_EQ(root->cellUpper, box.upper[root->splitDimension]);
        }
        // The tree moves the points' addresses along with its indices while building; the rule's
        // procedure on indices alone must give the same tree, and the addresses must end in leaf order.
        for (int i = 0; i < data.size(); ++i)
            ASSERT_EQ(tree->leafPoints[i], data.points()[tree->pointIndex[i]]) << "position " << i;
        auto* index = new int[static_cast<std::size_t>(data.size())];
        std::iota(index, index + data.size(), 0);
        QELkd_node* root =
            buildKdSubtree(data.points(), index, data.size(), dim, bucketSize, box, splitProcedureFor(rule));
        const QELkd_tree byProcedure(data.points(), index, data.size(), dim, bucketSize,
                                     clonePoint(dim, box.lower), clonePoint(dim, box.upper), root);
        EXPECT_TRUE(treeshape::sameTree(*tree, byProcedure));
    }
}

INSTANTIATE_TEST_SUITE_P(Trees, EveryRuleShapeAndBucket,
                         testing::Combine(testing::ValuesIn(everyRule),
                                          testing::Range(0, static_cast<int>(std::size(testdata::allShapes))),
                                          testing::Values(1, 4)));

TEST(KdTree, BucketOfAtLeastNIsOneLeafInIndexOrder) {
    const testdata::PointSet data = testdata::uniformPoints(6, 2);
    for (int bucketSize : {6, 50}) {
        const auto tree = buildTree(data, bucketSize, SplitRule::Default);
        auto* leaf = dynamic_cast<QELkd_leaf*>(tree->rootNode);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(leaf->bucketCount, 6);
        EXPECT_EQ(leaf->bucketIndices, tree->pointIndex);
        EXPECT_EQ(std::vector<int>(tree->pointIndex, tree->pointIndex + 6),
                  (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
}

TEST(KdTree, TwoPointsStandardKdSplitIntoTwoLeaves) {
    testdata::PointSet data(2, 2);
    data[0][0] = 3.0;
    data[1][1] = 1.0;
    const auto tree = buildTree(data, 1, SplitRule::StandardKd);
    auto* root = dynamic_cast<QELkd_split*>(tree->rootNode);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->splitDimension, 0);
    EXPECT_EQ(root->splitValue, 1.5);
    for (QELkd_node* child : {root->lowerChild, root->upperChild}) {
        auto* leaf = dynamic_cast<QELkd_leaf*>(child);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(leaf->bucketCount, 1);
    }
    EXPECT_EQ(tree->pointIndex[0], 1);
}

TEST(KdTree, DefaultRuleBuildsTheSlidingMidpointTree) {
    const testdata::PointSet data = testdata::clusteredPoints(500, 3);
    EXPECT_TRUE(treeshape::sameTree(*buildTree(data, 2, SplitRule::Default),
                                    *buildTree(data, 2, SplitRule::SlidingMidpoint)));
}

TEST(KdTree, BucketSizeBelowOneIsStoredAsOne) {
    const testdata::PointSet data = testdata::uniformPoints(10, 3);
    for (int bucketSize : {0, -5})
        EXPECT_EQ(buildTree(data, bucketSize, SplitRule::Midpoint)->bucketSize, 1);
}

TEST(KdTree, ZeroPointsHaveNoRootAndNoBox) {
    testdata::PointSet none(0, 2);
    for (SplitRule rule : {SplitRule::Fair, static_cast<SplitRule>(9)}) {
        const auto tree = buildTree(none, 1, rule);
        EXPECT_EQ(tree->rootNode, nullptr);
        EXPECT_EQ(tree->boxLower, nullptr);
        EXPECT_EQ(tree->boxUpper, nullptr);
        EXPECT_NE(tree->pointIndex, nullptr);
    }
}

TEST(KdTree, DimensionZeroIsOneLeaf) {
    testdata::PointSet data(5, 0);
    const auto tree = buildTree(data, 1, SplitRule::Fair);
    auto* leaf = dynamic_cast<QELkd_leaf*>(tree->rootNode);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->bucketCount, 5);
}

TEST(KdTree, IllegalSplittingRuleIsFatal) {
    const testdata::PointSet data = testdata::uniformPoints(4, 2);
    for (int value : {6, -1})
        EXPECT_EXIT(buildTree(data, 1, static_cast<SplitRule>(value)), testing::ExitedWithCode(1),
                    "QEL: ERROR------->Illegal splitting method<-------------ERROR\n");
}

/// Points for which the midpoint rule sends every point to one side of some cuts.
testdata::PointSet oneSidedCuts() {
    testdata::PointSet data(4, 2);
    const double values[4][2] = {{0, 0}, {1, 0}, {0, 1}, {0.1, 0.1}};
    for (int i = 0; i < 4; ++i)
        std::copy(values[i], values[i] + 2, data[i]);
    return data;
}

TEST(SharedEmptyLeaf, StandsForEveryEmptyCellAndOutlivesTrees) {
    const testdata::PointSet data = oneSidedCuts();
    auto tree = buildTree(data, 1, SplitRule::Midpoint);
    QELkd_leaf* const shared = sharedEmptyLeaf;
    ASSERT_NE(shared, nullptr);
    EXPECT_GT(treeshape::countNodes(tree->rootNode).emptyLeaves, 0);
    treeshape::forEachNode(tree->rootNode, [&](QELkd_node* node, int) {
        if (isSharedEmptyLeaf(node)) {
            EXPECT_EQ(node, shared);
        }
    });
    tree.reset();
    EXPECT_EQ(sharedEmptyLeaf, shared);
    EXPECT_EQ(shared->bucketCount, 0);
    EXPECT_EQ(shared->bucketIndices, emptyBucket);
    EXPECT_EQ(emptyBucket[0], 0);
}

TEST(SharedEmptyLeaf, TreesBuiltBeforeAReleaseStaySafeToDestroy) {
    const testdata::PointSet data = oneSidedCuts();
    auto older = buildTree(data, 1, SplitRule::Midpoint);
    QELkd_node* empty = nullptr;
    treeshape::forEachNode(older->rootNode, [&](QELkd_node* node, int) {
        if (isSharedEmptyLeaf(node)) empty = node;
    });
    ASSERT_NE(empty, nullptr);
    releaseSharedEmptyLeaf();
    EXPECT_EQ(sharedEmptyLeaf, nullptr);
    EXPECT_TRUE(isSharedEmptyLeaf(empty));
    auto newer = buildTree(data, 1, SplitRule::Midpoint);
    EXPECT_EQ(sharedEmptyLeaf, empty);
    older.reset();
    newer.reset();
    EXPECT_EQ(dynamic_cast<QELkd_leaf*>(empty)->bucketCount, 0);
}

TEST(Termination, CutThatShrinksNothingMakesOneLeaf) {
    // In one dimension the fair rules' candidate cuts are the cell's bounds: both points go low.
    testdata::PointSet data(2, 1);
    data[1][0] = 1.0;
    for (SplitRule rule : {SplitRule::Fair, SplitRule::SlidingFair}) {
        const auto tree = buildTree(data, 1, rule);
        auto* leaf = dynamic_cast<QELkd_leaf*>(tree->rootNode);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(leaf->bucketCount, 2);
    }
}

TEST(Termination, MillionCoincidentPointsUnderEveryRule) {
    const testdata::PointSet data = testdata::coincidentPoints(1000000, 1);
    for (SplitRule rule : {SplitRule::StandardKd, SplitRule::Midpoint, SplitRule::Fair,
                           SplitRule::SlidingMidpoint, SplitRule::SlidingFair}) {
        const auto tree = buildTree(data, 1, rule);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
        EXPECT_LE(treeshape::countNodes(tree->rootNode).depth, 20);
    }
}

TEST(Termination, CoincidentPointsSplitInHalvesOrStayOneLeaf) {
    const testdata::PointSet data = testdata::coincidentPoints(16, 2);
    // Halving rules make buckets as usual; the fair rules would cut nothing off (fair) or peel one
    // point at a time (sliding fair), so the points stay together.
    for (SplitRule rule : {SplitRule::StandardKd, SplitRule::Midpoint, SplitRule::SlidingMidpoint})
        EXPECT_EQ(treeshape::countNodes(buildTree(data, 2, rule)->rootNode).leaves, 8);
    for (SplitRule rule : {SplitRule::Fair, SplitRule::SlidingFair})
        EXPECT_NE(dynamic_cast<QELkd_leaf*>(buildTree(data, 2, rule)->rootNode), nullptr);
}

// A cut that parts at most the far point from the cluster ends the cell: the midpoint rule would halve
// the cluster's cell about 1075 times per dimension, and the sliding rules would peel one dimension a
// level, each level reading every coordinate of the cluster (a 25 KB file took half an hour).
TEST(Termination, CoincidentClusterAndFarPointInHundredDimensions) {
    testdata::PointSet data = testdata::coincidentPoints(50, 100, 0.0);
    std::fill(data[49], data[49] + 100, 1.0);
    for (SplitRule rule : everyRule) {
        const auto tree = buildTree(data, 1, rule);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
        EXPECT_LE(treeshape::countNodes(tree->rootNode).depth, 10);
    }
}

TEST(Termination, PointsOnALineInHundredDimensions) {
    const testdata::PointSet data = testdata::linePoints(2000, 100);
    for (SplitRule rule : everyRule) {
        const auto tree = buildTree(data, 1, rule);
        EXPECT_TRUE(treeshape::leavesCoverIndex(*tree));
    }
}

} // namespace
