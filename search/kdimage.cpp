// Making the compact image of a tree: one preorder pass over the nodes lays them out, then one pass in
// reverse preorder over the leaves' points gives every subtree's box of points (so a parent sees both
// of its children's), from which each split keeps the extents facing its cut. Both passes use their
// own stacks: degenerate data builds chains of thousands of nodes.
#include <qel/kdimage.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include <qel/kd.h>

namespace qel {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

/// The flags of a node whose children are first and second: a search need not look at an empty child.
std::uint32_t emptyFlags(const QELkd_node* first, const QELkd_node* second) {
    return (isSharedEmptyLeaf(first) ? ImageNode::firstEmptyFlag : 0u) |
           (isSharedEmptyLeaf(second) ? ImageNode::secondEmptyFlag : 0u);
}

/// Where a node goes: the root, or a child of the node at position parent.
struct Pending {
    const QELkd_node* node;
    int parent; ///< -1 for the root
    bool second;
};

/// Records a leaf child of the node at parent, now the last leaf. A first leaf child names it in link;
/// a second one too unless the first did, which is then the leaf before it.
void linkLeaf(SearchImage& image, const Pending& at) {
    const auto leaf = static_cast<std::int32_t>(image.leaves.size() - 1);
    if (at.parent < 0) {
        image.rootIsLeaf = true;
        return;
    }
    ImageNode& parent = image.nodes[static_cast<std::size_t>(at.parent)];
    parent.tag |= at.second ? ImageNode::secondLeafFlag : ImageNode::firstLeafFlag;
    if (!at.second || !parent.firstIsLeaf()) parent.link = leaf;
}

/// The nodes and leaves in preorder. Leaves get their runs of the tree's pointIndex when every leaf is
/// one; otherwise sources lists every leaf's indices in preorder for the caller to copy.
bool layOutNodes(const QELkd_tree& tree, SearchImage& image, std::vector<const QELkd_leaf*>& sources) {
    const LeafPointOrder order = tree.leafOrder();
    bool runsOfPointIndex = true;
    std::vector<Pending> pending{{tree.rootNode, -1, false}};
    while (!pending.empty()) {
        const Pending at = pending.back();
        pending.pop_back();
        const QELkd_node* node = at.node;
        // A missing child holds no points, like an empty leaf.
        const NodeKind kind = node != nullptr ? kindOf(*node) : NodeKind::Leaf;
        if (kind == NodeKind::Leaf) {
            ImageLeaf out{0, 0};
            const auto* leaf = static_cast<const QELkd_leaf*>(node);
            // The count is kept as it is, even below 0: the visit counters add it whatever it is.
            if (leaf != nullptr && !isSharedEmptyLeaf(leaf)) out.count = leaf->bucketCount;
            if (out.count > 0) {
                sources.push_back(leaf);
                if (order.of(*leaf) != nullptr)
                    out.first = static_cast<std::int32_t>(leaf->bucketIndices - tree.pointIndex);
                else
                    runsOfPointIndex = false;
            }
            image.leaves.push_back(out);
            linkLeaf(image, at);
            continue;
        }
        const auto position = static_cast<std::int32_t>(image.nodes.size());
        // A second child after a leaf first child is the node right after its parent: link names the leaf.
        if (at.parent >= 0 && at.second) {
            ImageNode& parent = image.nodes[static_cast<std::size_t>(at.parent)];
            if (!parent.firstIsLeaf()) parent.link = position;
        }
        ImageNode out{};
        out.link = -1;
        out.tag = static_cast<std::uint32_t>(kind);
        if (kind == NodeKind::Split) {
            const auto& split = static_cast<const QELkd_split&>(*node);
            out.tag |= static_cast<std::uint32_t>(split.splitDimension) << ImageNode::dimensionShift;
            out.tag |= emptyFlags(split.lowerChild, split.upperChild);
            out.split = {split.splitValue, split.cellLower, split.cellUpper, infinity, -infinity};
            pending.push_back({split.upperChild, position, true});
            pending.push_back({split.lowerChild, position, false});
        } else {
            const auto& shrink = static_cast<const QELbd_shrink&>(*node);
            out.tag |= emptyFlags(shrink.innerChild, shrink.outerChild);
            out.run = {static_cast<std::int32_t>(image.bounds.size()), shrink.boundCount};
            image.bounds.insert(image.bounds.end(), shrink.bounds, shrink.bounds + shrink.boundCount);
            pending.push_back({shrink.outerChild, position, true});
            pending.push_back({shrink.innerChild, position, false});
        }
        image.nodes.push_back(out);
    }
    return runsOfPointIndex;
}

/// Copies the leaves' indices and addresses into the image in preorder; false when a leaf refers to a
/// point the tree does not hold.
bool copyLeafOrder(const QELkd_tree& tree, SearchImage& image,
                   const std::vector<const QELkd_leaf*>& sources) {
    if (tree.dataPoints == nullptr) return false;
    std::size_t next = 0;
    for (ImageLeaf& out : image.leaves) {
        if (out.count <= 0) continue;
        const QELkd_leaf& leaf = *sources[next++];
        out.first = static_cast<std::int32_t>(image.ownIndices.size());
        for (int i = 0; i < leaf.bucketCount; ++i) {
            const int index = leaf.bucketIndices[i];
            if (index < 0 || index >= tree.dataCount) return false;
            image.ownIndices.push_back(index);
            image.ownPoints.push_back(tree.dataPoints[index]);
        }
    }
    image.leafIndices = image.ownIndices.data();
    image.leafPoints = image.ownPoints.data();
    return true;
}

/// The coordinates of leaf-order position at: from the copy when there is one.
const double* pointAt(const SearchImage& image, std::size_t at, std::size_t width) {
    return image.leafCoordinates.empty() ? image.leafPoints[at] : image.leafCoordinates.data() + at * width;
}

/// Appends the box of the leaf's points, its lower then its upper corner; a leaf holding a point with a
/// NaN coordinate gets no bounds at all: that point's distance can be NaN, or, under Chebyshev, forget
/// the terms before the NaN one. The loads of points a little ahead are started early, as each is a miss
/// at a random place.
void appendLeafBox(const SearchImage& image, const ImageLeaf& leaf, std::size_t width,
                   std::vector<double>& boxes) {
    const double* copied = image.leafCoordinates.empty() ? nullptr : image.leafCoordinates.data();
    constexpr std::size_t lookAhead = 16;
    const std::size_t base = boxes.size();
    boxes.resize(base + width, infinity);
    boxes.resize(base + 2 * width, -infinity);
    bool unordered = false;
    for (int i = leaf.count; i-- > 0;) {
        const std::size_t at = static_cast<std::size_t>(leaf.first + i);
        const double* p = pointAt(image, at, width);
#if defined(__GNUC__)
        if (copied == nullptr && at >= lookAhead) __builtin_prefetch(image.leafPoints[at - lookAhead]);
#endif
        for (std::size_t d = 0; d < width; ++d) {
            unordered = unordered || std::isnan(p[d]);
            boxes[base + d] = std::min(boxes[base + d], p[d]);
            boxes[base + width + d] = std::max(boxes[base + width + d], p[d]);
        }
    }
    if (unordered) {
        std::fill_n(boxes.begin() + static_cast<std::ptrdiff_t>(base), width, -infinity);
        std::fill_n(boxes.begin() + static_cast<std::ptrdiff_t>(base + width), width, infinity);
    }
}

/// Sets every split's extents, and the box of all points, from the leaves' points. Subtrees are
/// finished second child first, so leaves are read last to first, and a node finds its first child's box
/// on top of its second child's. A subtree with a leaf without bounds has none either.
void measureExtents(SearchImage& image, int dim) {
    const auto width = static_cast<std::size_t>(std::max(dim, 0));
    // Boxes of finished subtrees whose parent is still to come, each its lower then its upper corner.
    std::vector<double> boxes;
    // Subtrees to finish, and nodes whose children's boxes are done (true).
    std::vector<std::pair<int, bool>> pending{{ImageView{&image, width, nullptr}.root(), false}};
    while (!pending.empty()) {
        const auto [ref, childrenDone] = pending.back();
        pending.pop_back();
        if (ref < ImageView::none) {
            appendLeafBox(image, image.leaves[static_cast<std::size_t>(-2 - ref)], width, boxes);
            continue;
        }
        ImageNode& node = image.nodes[static_cast<std::size_t>(ref)];
        if (!childrenDone) {
            pending.push_back({ref, true});
            pending.push_back({ImageView::firstChild(node, ref), false});
            pending.push_back({ImageView::secondChild(node, ref), false});
            continue;
        }
        const std::size_t first = boxes.size() - 2 * width;
        const std::size_t second = first - 2 * width;
        if (node.kind() == NodeKind::Split && static_cast<std::size_t>(node.cutDimension()) < width) {
            node.split.lowerExtent = boxes[first + width + static_cast<std::size_t>(node.cutDimension())];
            node.split.upperExtent = boxes[second + static_cast<std::size_t>(node.cutDimension())];
        }
        for (std::size_t d = 0; d < width; ++d) {
            boxes[second + d] = std::min(boxes[second + d], boxes[first + d]);
            boxes[second + width + d] = std::max(boxes[second + width + d], boxes[first + width + d]);
        }
        boxes.resize(first);
    }
    image.pointsLower.assign(boxes.begin(), boxes.begin() + static_cast<std::ptrdiff_t>(width));
    image.pointsUpper.assign(boxes.begin() + static_cast<std::ptrdiff_t>(width), boxes.end());
}

} // namespace

thread_local constinit ScratchCoordinates scratchCoordinates;

std::vector<double> coordinatesInLeafOrder(const SearchImage& image, int dim) {
    const auto width = static_cast<std::size_t>(std::max(dim, 0));
    std::size_t positions = 0;
    for (const ImageLeaf& leaf : image.leaves)
        if (leaf.count > 0)
            positions = std::max(positions, static_cast<std::size_t>(leaf.first + leaf.count));
    std::vector<double> coordinates(positions * width);
    for (std::size_t i = 0; i < positions; ++i) {
#if defined(__GNUC__)
        if (i + 16 < positions) __builtin_prefetch(image.leafPoints[i + 16]);
#endif
        std::copy_n(image.leafPoints[i], width, coordinates.begin() + static_cast<std::ptrdiff_t>(i * width));
    }
    return coordinates;
}

std::unique_ptr<SearchImage> makeSearchImage(const QELkd_tree& tree, bool copyPoints) {
    if (tree.rootNode == nullptr || !imageHoldsDimension(tree.dimensionCount)) return nullptr;
    auto image = std::make_unique<SearchImage>();
    std::vector<const QELkd_leaf*> sources;
    if (layOutNodes(tree, *image, sources)) {
        image->leafIndices = tree.pointIndex;
        image->leafPoints = tree.leafPoints;
    } else if (!copyLeafOrder(tree, *image, sources)) {
        return nullptr;
    }
    if (copyPoints) image->leafCoordinates = coordinatesInLeafOrder(*image, tree.dimensionCount);
    measureExtents(*image, tree.dimensionCount);
    return image;
}

} // namespace qel
