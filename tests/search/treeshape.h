// Structural checks of built trees for the tests: an iterative preorder walk (trees of degenerate data
// are far too deep for recursion), node counts, the leaves' runs of pointIndex and a node-by-node
// comparison of two trees.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

#include <qel/bdtree.h>

namespace treeshape {

/// Calls visit(node, depth) for every node in preorder, lower child before upper, inner before outer.
template <class Visit> void forEachNode(qel::QELkd_node* root, Visit visit) {
    std::vector<std::pair<qel::QELkd_node*, int>> stack;
    if (root != nullptr) stack.emplace_back(root, 0);
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        visit(node, depth);
        if (auto* split = dynamic_cast<qel::QELkd_split*>(node)) {
            stack.emplace_back(split->upperChild, depth + 1);
            stack.emplace_back(split->lowerChild, depth + 1);
        } else if (auto* shrink = dynamic_cast<qel::QELbd_shrink*>(node)) {
            stack.emplace_back(shrink->outerChild, depth + 1);
            stack.emplace_back(shrink->innerChild, depth + 1);
        }
    }
}

struct Counts {
    int leaves = 0;      ///< non-empty leaves
    int emptyLeaves = 0; ///< occurrences of the shared empty leaf
    int splits = 0;
    int shrinks = 0;
    int depth = 0; ///< levels of inner nodes on the longest path
};

inline Counts countNodes(qel::QELkd_node* root) {
    Counts counts;
    forEachNode(root, [&](qel::QELkd_node* node, int depth) {
        if (auto* leaf = dynamic_cast<qel::QELkd_leaf*>(node)) {
            ++(qel::isSharedEmptyLeaf(leaf) ? counts.emptyLeaves : counts.leaves);
            counts.depth = std::max(counts.depth, depth);
        } else {
            ++(dynamic_cast<qel::QELkd_split*>(node) != nullptr ? counts.splits : counts.shrinks);
        }
    });
    return counts;
}

/// pointIndex is a permutation of 0..n-1 and the non-empty leaves, in walk order, cover it as
/// consecutive runs from its start.
inline testing::AssertionResult leavesCoverIndex(const qel::QELkd_tree& tree) {
    std::vector<bool> seen(tree.dataCount, false);
    for (int i = 0; i < tree.dataCount; ++i) {
        const int p = tree.pointIndex[i];
        if (p < 0 || p >= tree.dataCount || seen[p])
            return testing::AssertionFailure() << "pointIndex is not a permutation at " << i;
        seen[p] = true;
    }
    int next = 0;
    std::ostringstream fault;
    forEachNode(tree.rootNode, [&](qel::QELkd_node* node, int) {
        auto* leaf = dynamic_cast<qel::QELkd_leaf*>(node);
        if (leaf == nullptr || qel::isSharedEmptyLeaf(leaf)) return;
        if (leaf->bucketCount <= 0 || leaf->bucketIndices != tree.pointIndex + next)
            fault << "leaf of " << leaf->bucketCount << " points out of place at run start " << next << "; ";
        next += leaf->bucketCount;
    });
    if (next != tree.dataCount) fault << "leaves hold " << next << " of " << tree.dataCount << " points";
    if (!fault.str().empty()) return testing::AssertionFailure() << fault.str();
    return testing::AssertionSuccess();
}

namespace detail {
inline void checkCell(const qel::QELkd_tree& tree, qel::QELkd_node* node, qel::QELorthRect& cell,
                      std::ostringstream& fault) {
    const int dim = tree.dimensionCount;
    if (auto* leaf = dynamic_cast<qel::QELkd_leaf*>(node)) {
        for (int i = 0; i < leaf->bucketCount; ++i)
            if (!cell.contains(dim, tree.dataPoints[leaf->bucketIndices[i]]))
                fault << "point " << leaf->bucketIndices[i] << " outside its leaf's cell; ";
    } else if (auto* split = dynamic_cast<qel::QELkd_split*>(node)) {
        const int cd = split->splitDimension;
        if (split->cellLower != cell.lower[cd] || split->cellUpper != cell.upper[cd])
            fault << "split bounds are not its cell's; ";
        const double hi = cell.upper[cd];
        cell.upper[cd] = split->splitValue;
        checkCell(tree, split->lowerChild, cell, fault);
        cell.upper[cd] = hi;
        const double lo = cell.lower[cd];
        cell.lower[cd] = split->splitValue;
        checkCell(tree, split->upperChild, cell, fault);
        cell.lower[cd] = lo;
    } else {
        auto* shrink = dynamic_cast<qel::QELbd_shrink*>(node);
        qel::QELorthRect inner(dim);
        qel::boxFromHalfSpaces(cell, dim, shrink->boundCount, shrink->bounds, inner);
        checkCell(tree, shrink->innerChild, inner, fault);
        checkCell(tree, shrink->outerChild, cell, fault);
    }
}
} // namespace detail

/// Every leaf's points lie in the leaf's cell, and every split node keeps its own cell's bounds.
/// Recursive: for trees of ordinary depth only.
inline testing::AssertionResult cellsHoldTheirPoints(const qel::QELkd_tree& tree) {
    if (tree.rootNode == nullptr) return testing::AssertionSuccess();
    qel::QELorthRect cell(tree.dimensionCount, tree.boxLower, tree.boxUpper);
    std::ostringstream fault;
    detail::checkCell(tree, tree.rootNode, cell, fault);
    if (!fault.str().empty()) return testing::AssertionFailure() << fault.str();
    return testing::AssertionSuccess();
}

/// Node by node: the same kinds, cuts, bounds and leaf runs (as offsets into each tree's pointIndex).
inline testing::AssertionResult sameTree(const qel::QELkd_tree& a, const qel::QELkd_tree& b) {
    if (a.dataCount != b.dataCount)
        return testing::AssertionFailure() << a.dataCount << " points against " << b.dataCount;
    std::vector<qel::QELkd_node*> left;
    std::vector<qel::QELkd_node*> right;
    forEachNode(a.rootNode, [&](qel::QELkd_node* node, int) { left.push_back(node); });
    forEachNode(b.rootNode, [&](qel::QELkd_node* node, int) { right.push_back(node); });
    if (left.size() != right.size())
        return testing::AssertionFailure() << left.size() << " nodes against " << right.size();
    for (std::size_t i = 0; i < left.size(); ++i) {
        auto fail = [&] { return testing::AssertionFailure() << "node " << i << " in preorder differs"; };
        if (auto* x = dynamic_cast<qel::QELkd_leaf*>(left[i])) {
            auto* y = dynamic_cast<qel::QELkd_leaf*>(right[i]);
            if (y == nullptr || qel::isSharedEmptyLeaf(x) != qel::isSharedEmptyLeaf(y) ||
                x->bucketCount != y->bucketCount ||
                (!qel::isSharedEmptyLeaf(x) &&
                 x->bucketIndices - a.pointIndex != y->bucketIndices - b.pointIndex))
                return fail();
        } else if (auto* x = dynamic_cast<qel::QELkd_split*>(left[i])) {
            auto* y = dynamic_cast<qel::QELkd_split*>(right[i]);
            if (y == nullptr || x->splitDimension != y->splitDimension || x->splitValue != y->splitValue ||
                x->cellLower != y->cellLower || x->cellUpper != y->cellUpper)
                return fail();
        } else {
            auto* p = dynamic_cast<qel::QELbd_shrink*>(left[i]);
            auto* q = dynamic_cast<qel::QELbd_shrink*>(right[i]);
            if (q == nullptr || p->boundCount != q->boundCount) return fail();
            for (int h = 0; h < p->boundCount; ++h)
                if (p->bounds[h].boundDimension != q->bounds[h].boundDimension ||
                    p->bounds[h].boundValue != q->bounds[h].boundValue ||
                    p->bounds[h].boundSide != q->bounds[h].boundSide)
                    return fail();
        }
    }
    for (int i = 0; i < a.dataCount; ++i)
        if (a.pointIndex[i] != b.pointIndex[i])
            return testing::AssertionFailure() << "pointIndex differs at " << i;
    return testing::AssertionSuccess();
}

} // namespace treeshape
