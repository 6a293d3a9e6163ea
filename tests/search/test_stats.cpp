// Tree statistics: hand-made trees with every number known, the cells of flat and point-sized leaves, and
// every built tree shape against node counts from a plain walk and aspect sums from a plain recursion.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "searchcheck.h"
#include "testdata.h"
#include "treeshape.h"
#include <qel/bdtree.h>

using namespace qel;

namespace {

TreeStats statsOf(QELkd_tree& tree) {
    TreeStats stats;
    stats.aspectMean = -1; // must be overwritten
    tree.collectStats(stats);
    return stats;
}

void expectCounts(const TreeStats& s, int leaves, int empty, int splits, int shrinks, int depth) {
    EXPECT_EQ(s.leafCount, leaves);
    EXPECT_EQ(s.emptyLeafCount, empty);
    EXPECT_EQ(s.splitNodeCount, splits);
    EXPECT_EQ(s.shrinkNodeCount, shrinks);
    EXPECT_EQ(s.treeDepth, depth);
}

TEST(TreeStatistics, SingleLeafReportsItsBox) {
    testdata::PointSet set(3, 2);
    set[1][0] = 2;
    set[1][1] = 1;
    set[2][0] = 1;
    set[2][1] = 0.5;
    QELkd_tree tree(set.points(), 3, 2, 5, SplitRule::Default);
    const TreeStats s = statsOf(tree);
    EXPECT_EQ(s.dimensionCount, 2);
    EXPECT_EQ(s.dataCount, 3);
    EXPECT_EQ(s.bucketSize, 5);
    expectCounts(s, 1, 0, 0, 0, 0);
    EXPECT_EQ(s.aspectSum, 2.0f);
    EXPECT_EQ(s.aspectMean, 2.0f);
}

TEST(TreeStatistics, TreeWithoutPointsHasOnlyItsTreeFields) {
    QELbd_tree tree(nullptr, 0, 3, 4, SplitRule::Default, ShrinkRule::Default);
    const TreeStats s = statsOf(tree);
    EXPECT_EQ(s.dimensionCount, 3);
    EXPECT_EQ(s.dataCount, 0);
    EXPECT_EQ(s.bucketSize, 4);
    expectCounts(s, 0, 0, 0, 0, 0);
    EXPECT_EQ(s.aspectSum, 0.0f);
    EXPECT_EQ(s.aspectMean, 0.0f);
}

/// A tree over two points in the box [0, 4] x [0, 1] from hand-made nodes (the points only fill the leaves).
QELkd_tree* handTree(QELkd_node* (*nodes)(IndexArray index), bool bd) {
    static testdata::PointSet set(2, 2);
    IndexArray index = new int[2]{0, 1};
    Point upper = newPoint(2, 1.0);
    upper[0] = 4;
    if (bd) return new QELbd_tree(set.points(), index, 2, 2, 1, newPoint(2, 0.0), upper, nodes(index));
    return new QELkd_tree(set.points(), index, 2, 2, 1, newPoint(2, 0.0), upper, nodes(index));
}

// Cells [0, 1] x [0, 1], [1, 3] x [0, 1] and, empty, [3, 4] x [0, 1].
TEST(TreeStatistics, SplitsNarrowTheCellsAndEmptyLeavesCount) {
    std::unique_ptr<QELkd_tree> tree(handTree(
        [](IndexArray index) -> QELkd_node* {
            auto* upper = new QELkd_split(0, 3, 1, 4, new QELkd_leaf(1, index + 1), markSharedEmptyLeaf());
            return new QELkd_split(0, 1, 0, 4, new QELkd_leaf(1, index), upper);
        },
        false));
    const TreeStats s = statsOf(*tree);
    expectCounts(s, 3, 1, 2, 0, 2);
    EXPECT_EQ(s.aspectSum, 4.0f);
    EXPECT_EQ(s.aspectMean, 4.0f / 3.0f);
}

// The inner cell [1, 2] x [0, 1] (ratio 1) and the outer one, the whole box (ratio 4).
TEST(TreeStatistics, ShrinkNarrowsOnlyTheInnerCell) {
    std::unique_ptr<QELkd_tree> tree(handTree(
        [](IndexArray index) -> QELkd_node* {
            return new QELbd_shrink(2, new HalfSpace[2]{{0, 1.0, +1}, {0, 2.0, -1}}, new QELkd_leaf(1, index),
                                    new QELkd_leaf(1, index + 1));
        },
        true));
    const TreeStats s = statsOf(*tree);
    expectCounts(s, 2, 0, 0, 1, 1);
    EXPECT_EQ(s.aspectSum, 5.0f);
    EXPECT_EQ(s.aspectMean, 2.5f);
}

// Each node once, with a shrink node's half-spaces; the shared empty leaf belongs to no tree.
TEST(StructureBytes, ObjectIndexAddressesBoxAndEveryOwnNode) {
    const std::size_t perTree = 2 * (sizeof(int) + sizeof(Point)) + 4 * sizeof(double);
    std::unique_ptr<QELkd_tree> kd(handTree(
        [](IndexArray index) -> QELkd_node* {
            auto* upper = new QELkd_split(0, 3, 1, 4, new QELkd_leaf(1, index + 1), markSharedEmptyLeaf());
            return new QELkd_split(0, 1, 0, 4, new QELkd_leaf(1, index), upper);
        },
        false));
    EXPECT_EQ(structureBytes(*kd),
              sizeof(QELkd_tree) + perTree + 2 * sizeof(QELkd_split) + 2 * sizeof(QELkd_leaf));
    std::unique_ptr<QELkd_tree> bd(handTree(
        [](IndexArray index) -> QELkd_node* {
            return new QELbd_shrink(2, new HalfSpace[2]{{0, 1.0, +1}, {0, 2.0, -1}}, new QELkd_leaf(1, index),
                                    new QELkd_leaf(1, index + 1));
        },
        true));
    EXPECT_EQ(structureBytes(*bd), sizeof(QELbd_tree) + perTree + sizeof(QELbd_shrink) +
                                       2 * sizeof(HalfSpace) + 2 * sizeof(QELkd_leaf));
    QELbruteForce brute(nullptr, 0, 2);
    EXPECT_EQ(structureBytes(brute), sizeof(QELbruteForce));
}

struct CellRow {
    const char* name;
    std::vector<std::vector<double>> points; ///< one leaf's points; their box is its cell
    float aspect;
};

// A flat cell divides by zero and counts as the cap, a point-sized cell (0 / 0) as 1; ratios at or above
// the cap count as the cap.
TEST(TreeStatistics, AspectOfDegenerateAndLongCells) {
    const CellRow rows[] = {
        {"flat", {{0, 0}, {1, 0}}, 1000.0f},          {"point-sized", {{0.5, 0.5}, {0.5, 0.5}}, 1.0f},
        {"one point in one dimension", {{7}}, 1.0f},  {"just below the cap", {{0, 0}, {999, 1}}, 999.0f},
        {"at the cap", {{0, 0}, {1000, 1}}, 1000.0f}, {"beyond the cap", {{0, 0}, {1e9, 1}}, 1000.0f},
        {"square", {{0, 0}, {3, 3}, {1, 2}}, 1.0f},
    };
    for (const CellRow& row : rows) {
        SCOPED_TRACE(row.name);
        const int n = static_cast<int>(row.points.size());
        const int dim = static_cast<int>(row.points[0].size());
        testdata::PointSet set(n, dim);
        for (int i = 0; i < n; ++i)
            std::copy(row.points[i].begin(), row.points[i].end(), set[i]);
        QELkd_tree tree(set.points(), n, dim, n, SplitRule::Default);
        const TreeStats s = statsOf(tree);
        expectCounts(s, 1, 0, 0, 0, 0);
        EXPECT_EQ(s.aspectSum, row.aspect);
        EXPECT_EQ(s.aspectMean, row.aspect);
    }
}

/// The capped aspect ratio of a leaf cell, worked out directly from its sides.
float cellAspect(int dim, const QELorthRect& cell) {
    double longest = 0;
    double shortest = unboundedDistance;
    for (int d = 0; d < dim; ++d) {
        longest = std::max(longest, cell.upper[d] - cell.lower[d]);
        shortest = std::min(shortest, cell.upper[d] - cell.lower[d]);
    }
    if (shortest == 0) return longest > 0 ? 1000.0f : 1.0f;
    return static_cast<float>(std::min(longest / shortest, 1000.0));
}

/// The aspect sum by plain recursion, each node adding its second child's sum to its first's in float.
float recursiveAspectSum(QELkd_node* node, int dim, QELorthRect& cell) {
    if (dynamic_cast<QELkd_leaf*>(node) != nullptr) return cellAspect(dim, cell);
    if (auto* split = dynamic_cast<QELkd_split*>(node)) {
        const int cd = split->splitDimension;
        const double hi = cell.upper[cd];
        cell.upper[cd] = split->splitValue;
        const float low = recursiveAspectSum(split->lowerChild, dim, cell);
        cell.upper[cd] = hi;
        const double lo = cell.lower[cd];
        cell.lower[cd] = split->splitValue;
        const float high = recursiveAspectSum(split->upperChild, dim, cell);
        cell.lower[cd] = lo;
        return low + high;
    }
    auto* shrink = dynamic_cast<QELbd_shrink*>(node);
    QELorthRect inner(dim);
    boxFromHalfSpaces(cell, dim, shrink->boundCount, shrink->bounds, inner);
    const float in = recursiveAspectSum(shrink->innerChild, dim, inner);
    return in + recursiveAspectSum(shrink->outerChild, dim, cell);
}

using searchcheck::Structure;

const SplitRule everySplitRule[] = {SplitRule::StandardKd, SplitRule::Midpoint, SplitRule::Fair,
                                    SplitRule::SlidingMidpoint, SplitRule::SlidingFair};

// Every split rule for kd-trees and every split x shrink rule for bd-trees, over data with empty cells,
// flat cells (duplicates) and far clusters that the shrinking rules cut out.
TEST(TreeStatistics, EveryBuiltTreeAgreesWithAPlainWalk) {
    const testdata::PointSet sets[] = {testdata::clusteredPoints(400, 3), testdata::duplicatedPoints(400, 3),
                                       testdata::farClusterPoints(400, 3), testdata::linePoints(400, 3)};
    int shrinkTrees = 0;
    for (const testdata::PointSet& set : sets) {
        for (SplitRule split : everySplitRule) {
            for (int shrink = -1; shrink <= 3; ++shrink) {
                SCOPED_TRACE("set " + std::to_string(&set - sets) + ", split " + std::to_string(int(split)) +
                             ", shrink " + std::to_string(shrink));
                auto tree = shrink < 0
                                ? searchcheck::buildTree(Structure::Kd, set, 3, split)
                                : searchcheck::buildTree(Structure::Bd, set, 3, split, ShrinkRule(shrink));
                const TreeStats s = statsOf(*tree);
                const treeshape::Counts counts = treeshape::countNodes(tree->rootNode);
                EXPECT_EQ(s.dataCount, 400);
                expectCounts(s, counts.leaves + counts.emptyLeaves, counts.emptyLeaves, counts.splits,
                             counts.shrinks, counts.depth);
                if (shrink <= 0) {
                    EXPECT_EQ(s.shrinkNodeCount, 0);
                }
                shrinkTrees += s.shrinkNodeCount > 0;
                QELorthRect cell(3, tree->boxLower, tree->boxUpper);
                const float sum = recursiveAspectSum(tree->rootNode, 3, cell);
                EXPECT_EQ(s.aspectSum, sum);
                EXPECT_EQ(s.aspectMean, sum / static_cast<float>(s.leafCount));
            }
        }
    }
    EXPECT_GT(shrinkTrees, 10);
}

// A node's statistics step may change the cell it is given only while it runs.
TEST(TreeStatistics, NodeStepRestoresTheCell) {
    const testdata::PointSet set = testdata::farClusterPoints(300, 2);
    QELbd_tree tree(set.points(), set.size(), 2, 2, SplitRule::Midpoint, ShrinkRule::Centroid);
    QELorthRect cell(2, tree.boxLower, tree.boxUpper);
    TreeStats s;
    tree.rootNode->collectStats(2, s, cell);
    for (int d = 0; d < 2; ++d) {
        EXPECT_EQ(cell.lower[d], tree.boxLower[d]);
        EXPECT_EQ(cell.upper[d], tree.boxUpper[d]);
    }
    EXPECT_GT(s.leafCount, 1);
}

} // namespace
