// The tree print: the exact lines of each node kind, the order of a whole tree turned on its side, the
// stream's own precision, and trees without points.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testdata.h"
#include <qel/bdtree.h>

using namespace qel;

namespace {

std::string printOf(QELkd_node& node, int level) {
    std::ostringstream out;
    node.printNode(level, out);
    return out.str();
}

TEST(PrintNode, LeafListsItsIndicesWithoutBlanks) {
    int indices[] = {4, 9, 2};
    QELkd_leaf leaf(3, indices);
    EXPECT_EQ(printOf(leaf, 1), "    ..Leaf n=3 <4,9,2>\n");
    EXPECT_EQ(printOf(leaf, 0), "    Leaf n=3 <4,9,2>\n");
}

TEST(PrintNode, SharedEmptyLeafIsTrivial) {
    EXPECT_EQ(printOf(*markSharedEmptyLeaf(), 2), "    ....Leaf (trivial)\n");
}

// The outer child above the node, the inner one below; half-spaces two to a line, each line indented by
// two blanks per level beyond the node's, and "< " padded to the width of ">=".
TEST(PrintNode, ShrinkPutsTwoHalfSpacesOnALine) {
    int indices[] = {7};
    QELbd_shrink shrink(3, new HalfSpace[3]{{0, 0.5, +1}, {1, 0.25, -1}, {2, -1.0, +1}},
                        new QELkd_leaf(1, indices), markSharedEmptyLeaf());
    EXPECT_EQ(printOf(shrink, 0), "    ..Leaf (trivial)\n"
                                  "    Shrink\n"
                                  "      ([0]>=0.5)  ([1]< 0.25)\n"
                                  "      ([2]>=-1)\n"
                                  "    ..Leaf n=1 <7>\n");
    EXPECT_EQ(printOf(shrink, 1), "    ....Leaf (trivial)\n"
                                  "    ..Shrink\n"
                                  "        ([0]>=0.5)  ([1]< 0.25)\n"
                                  "        ([2]>=-1)\n"
                                  "    ....Leaf n=1 <7>\n");
}

TEST(PrintNode, ShrinkWithoutHalfSpacesEndsItsLine) {
    QELbd_shrink shrink(0, nullptr, markSharedEmptyLeaf(), markSharedEmptyLeaf());
    EXPECT_EQ(printOf(shrink, 0), "    ..Leaf (trivial)\n"
                                  "    Shrink\n"
                                  "    ..Leaf (trivial)\n");
}

/// Points (0, 0), (1, 2), (3, 1) under a split in dimension 0 whose upper side splits again in dimension 1.
struct SmallTree {
    testdata::PointSet set{3, 2};
    QELkd_tree* tree;

    SmallTree() {
        set[1][0] = 1;
        set[1][1] = 2;
        set[2][0] = 3;
        set[2][1] = 1;
        IndexArray index = new int[3]{0, 2, 1};
        auto* upper =
            new QELkd_split(1, 1.5, 0, 2, new QELkd_leaf(1, index + 1), new QELkd_leaf(1, index + 2));
        auto* root = new QELkd_split(0, 0.123456789, 0, 3, new QELkd_leaf(1, index), upper);
        Point upperCorner = newPoint(2, 2.0);
        upperCorner[0] = 3;
        tree = new QELkd_tree(set.points(), index, 3, 2, 1, newPoint(2, 0.0), upperCorner, root);
    }
    ~SmallTree() { delete tree; }
};

TEST(PrintTree, WholeTreeOnItsSideWithPoints) {
    SmallTree small;
    std::ostringstream out;
    small.tree->printTree(true, out);
    EXPECT_EQ(out.str(), "QEL Version 1.1.1\n"
                         "    Points:\n"
                         "\t0: 0 0\n"
                         "\t1: 1 2\n"
                         "\t2: 3 1\n"
                         "    ....Leaf n=1 <1>\n"
                         "    ..Split cd=1 cv=1.5 lbnd=0 hbnd=2\n"
                         "    ....Leaf n=1 <2>\n"
                         "    Split cd=0 cv=0.123457 lbnd=0 hbnd=3\n"
                         "    ..Leaf n=1 <0>\n");
}

TEST(PrintTree, UsesTheStreamsPrecisionAndLeavesIt) {
    SmallTree small;
    std::ostringstream out;
    out.precision(3);
    small.tree->printTree(false, out);
    EXPECT_NE(out.str().find("    Split cd=0 cv=0.123 lbnd=0 hbnd=3\n"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("Points:"), std::string::npos);
    EXPECT_EQ(out.precision(), 3);
}

TEST(PrintTree, TreeWithoutPointsIsNull) {
    QELkd_tree tree(nullptr, 0, 2, 1, SplitRule::Default);
    std::ostringstream out;
    tree.printTree(true, out);
    EXPECT_EQ(out.str(), "QEL Version 1.1.1\n    Points:\n    Null tree.\n");
}

} // namespace
