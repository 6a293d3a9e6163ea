// The compact image of a kd- or bd-tree that the searches walk instead of the node objects: the split
// and shrink nodes in one array in depth-first order, the first child (lower or inner) right after its parent
// and the second one (upper or outer) by position, the node kind in a field. Leaves are runs of the
// leaf-order indices and point addresses in an array of their own, named by their parents: at bucket size 1
// they are half the nodes. Each split also keeps the extent of its two sides' points along the cut dimension,
// a tighter bound on them than their cells.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <qel/bdtree.h>

namespace qel {

/// The three node kinds of the trees. Every node is one of them.
enum class NodeKind : std::uint8_t { Split, Leaf, Shrink };

/// A leaf of the image: a run of the leaf order.
struct ImageLeaf {
    std::int32_t first; ///< first position in the leaf order
    std::int32_t count; ///< points
};

/// One split or shrink node of the image. A shrink node uses `run`, a split node `split`. A child that
/// is a leaf has no node: link and the flags say where it is in the leaves (see ImageView).
struct ImageNode {
    struct SplitFields {
        double cutValue;    ///< the cutting coordinate
        double cellLower;   ///< the cell's lower bound along the cut dimension
        double cellUpper;   ///< the cell's upper bound along the cut dimension
        double lowerExtent; ///< largest coordinate along the cut dimension of the lower side's points
        double upperExtent; ///< smallest coordinate along the cut dimension of the upper side's points
    };
    struct RunFields {
        std::int32_t first; ///< first of its bounds
        std::int32_t count; ///< bounds
    };
    union {
        SplitFields split;
        RunFields run;
    };
    std::uint32_t tag; ///< the kind, the flags below, and above them a split's cut dimension
    /// The first leaf child's leaf, else the second leaf child's leaf, else the second child's position.
    std::int32_t link;

    static constexpr std::uint32_t firstLeafFlag = 4u;    ///< its lower or inner child is a leaf
    static constexpr std::uint32_t firstEmptyFlag = 8u;   ///< that child is the shared empty leaf
    static constexpr std::uint32_t secondEmptyFlag = 16u; ///< its upper or outer child is
    static constexpr std::uint32_t secondLeafFlag = 32u;  ///< that child is a leaf
    static constexpr int dimensionShift = 6;
    /// Dimensions whose every cut dimension the tag holds.
    static constexpr int dimensionLimit = 1 << (32 - dimensionShift);

    NodeKind kind() const { return static_cast<NodeKind>(tag & 3u); }
    int cutDimension() const { return static_cast<int>(tag >> dimensionShift); }
    bool firstIsLeaf() const { return (tag & firstLeafFlag) != 0; }
    bool secondIsLeaf() const { return (tag & secondLeafFlag) != 0; }
    bool firstIsEmpty() const { return (tag & firstEmptyFlag) != 0; }
    bool secondIsEmpty() const { return (tag & secondEmptyFlag) != 0; }
};

class SearchImage {
public:
    std::vector<ImageNode> nodes;      ///< the split and shrink nodes in preorder
    std::vector<ImageLeaf> leaves;     ///< the leaves in preorder
    bool rootIsLeaf = false;           ///< the tree is one leaf, leaves[0]; else the root is nodes[0]
    std::vector<HalfSpace> bounds;     ///< the shrink nodes' half-spaces, each node's in one run
    const int* leafIndices = nullptr;  ///< point indices in leaf order
    const Point* leafPoints = nullptr; ///< their addresses
    std::vector<double> pointsLower;   ///< per dimension, the smallest coordinate of any point (NaN aside)
    std::vector<double> pointsUpper;   ///< per dimension, the largest one
    std::vector<int> ownIndices;       ///< the leaf order, when some leaf is no run of the tree's pointIndex
    std::vector<Point> ownPoints;      ///< its addresses
    std::vector<double> leafCoordinates; ///< when asked for, a copy of the points' coordinates in leaf order
};

/// True when an image holds the cuts of a tree of dim dimensions.
inline bool imageHoldsDimension(int dim) {
    return dim <= ImageNode::dimensionLimit;
}

/// The image of tree's nodes as they are now, with a copy of the coordinates in leaf order if
/// copyPoints; null when the tree has no root, has more dimensions than an image holds, or a leaf refers
/// to a point the tree does not hold: the searches then walk the nodes.
std::unique_ptr<SearchImage> makeSearchImage(const QELkd_tree& tree, bool copyPoints);

/// The coordinates of the image's leaf-order positions, one point after the other.
std::vector<double> coordinatesInLeafOrder(const SearchImage& image, int dim);

/// A copy of a tree's coordinates in leaf order that the calling thread's searches of that tree read,
/// on its image, while it is set: the scratch of one batch call, which the tree itself never sees.
struct ScratchCoordinates {
    const QELkd_tree* tree = nullptr;
    const SearchImage* image = nullptr;
    const double* coordinates = nullptr;
};
/// constinit: with no dynamic initialisation to run, every access reaches the variable directly rather
/// than through a per-thread wrapper call, whose result a sanitizer build reported as a null store.
extern thread_local constinit ScratchCoordinates scratchCoordinates;

} // namespace qel
