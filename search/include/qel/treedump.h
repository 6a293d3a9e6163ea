// The tree dump: a text file of a kd- or bd-tree and, optionally, its points, written by
// `QELkd_tree::dumpTree`. Numbers are written so that they read back to the same doubles, in the
// classic locale whatever the stream's. A dump read back gives the same tree: the same nodes, the same
// answers in the same tie order.
#pragma once

#include <istream>
#include <memory>

#include <qel/kdtree.h>

namespace qel {

/// Kd 0, Bd 1; any value other than Bd reads as Kd.
enum TreeKind { Kd = 0, Bd = 1 };

/// Reads a dump written with its points. Every out-parameter receives a new object owned by the caller
/// (the shared empty leaf excepted): points from `newPointArray`, indices of n entries (`new[]`), the
/// box corners from `newPoint`. Returns the root; for a "null" root the corners are null too, like those
/// of a built tree without points. Malformed input ends with a fatal report; if the fatal handler
/// throws, everything made so far is released and the out-parameters are left unchanged. Besides the
/// form, a dump must list each point once and hold each in one leaf, and when its coordinates are tame
/// (finite, at most a quarter of the largest double) its tree must be one the searches answer exactly:
/// finite corners, cuts and bounds, each split's bounds those of its cell, every leaf point in its cell.
/// Dumps of other coordinates are read as the builder writes them, whose cuts may be NaN or infinite.
QELkd_node* readDump(std::istream& in, TreeKind kind, PointArray& points, IndexArray& indices, int& dim,
                     int& n, int& bucketSize, Point& lower, Point& upper);
/// Reads one node record and its subtrees into indices[next..n-1], advancing next. Cut and bound
/// dimensions must lie in 0..dim-1, bound sides be 1 or -1 and each side bounded once per shrink, leaf
/// indices lie in 0..n-1 and appear once; "null" is refused below the top record, and so is a split or
/// shrink whose subtree holds no index. Cells are not checked: they need the box and the points.
QELkd_node* readDumpNode(std::istream& in, TreeKind kind, int dim, int n, IndexArray indices, int& next);

/// A tree read from a dump, and the points it reads. A tree does not own its points, so the two are
/// kept together; the tree, declared last, is destroyed first.
struct LoadedTree {
    OwnedPoints points;               ///< the dump's points; null when it holds none
    std::unique_ptr<QELkd_tree> tree; ///< a `QELbd_tree` for TreeKind Bd; reads `points`
};

/// `readDump` made into a tree, a `QELbd_tree` for Bd (which reads dumps with shrink nodes) and a
/// `QELkd_tree` otherwise. Malformed input is reported as by `readDump`; if the fatal handler throws,
/// nothing is left behind.
LoadedTree loadTree(std::istream& in, TreeKind kind);

} // namespace qel
