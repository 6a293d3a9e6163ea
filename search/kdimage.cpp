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

/// The nodes in preorder. Leaves get their runs of the tree's pointIndex when every leaf is one;
/// otherwise sources lists every leaf's indices in preorder for the caller to copy.
bool layOutNodes(const QELkd_tree& tree, SearchImage& image, std::vector<const QELkd_leaf*>& sources) {
    const LeafPointOrder order = tree.leafOrder();
    bool runsOfPointIndex = true;
    // A node and the position whose second child it is (-1 for a first child or the root).
    std::vector<std::pair<const QELkd_node*, int>> pending{{tree.rootNode, -1}};
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        const auto position = static_cast<std::int32_t>(image.nodes.size());
        if (parent >= 0) image.nodes[static_cast<std::size_t>(parent)].second = position;
        ImageNode out{};
        out.second = -1;
        // A missing child holds no points, like an empty leaf that is not the shared one.
        const NodeKind kind = node != nullptr ? kindOf(*node) : NodeKind::Leaf;
        out.tag = static_cast<std::uint32_t>(kind);
        switch (kind) {
        case NodeKind::Split: {
            const auto& split = static_cast<const QELkd_split&>(*node);
            out.tag |= static_cast<std::uint32_t>(split.splitDimension) << ImageNode::dimensionShift;
            out.tag |= emptyFlags(split.lowerChild, split.upperChild);
            out.split = {split.splitValue, split.cellLower, split.cellUpper, infinity, -infinity};
            pending.push_back({split.upperChild, position});
            pending.push_back({split.lowerChild, -1});
            break;
        }
        case NodeKind::Shrink: {
            const auto& shrink = static_cast<const QELbd_shrink&>(*node);
            out.tag |= emptyFlags(shrink.innerChild, shrink.outerChild);
            out.run = {static_cast<std::int32_t>(image.bounds.size()), shrink.boundCount};
            image.bounds.insert(image.bounds.end(), shrink.bounds, shrink.bounds + shrink.boundCount);
            pending.push_back({shrink.outerChild, position});
            pending.push_back({shrink.innerChild, -1});
            break;
        }
        case NodeKind::Leaf: {
            out.run = {0, 0};
            if (node == nullptr) break;
            const auto& leaf = static_cast<const QELkd_leaf&>(*node);
            if (isSharedEmptyLeaf(&leaf)) {
                out.tag |= ImageNode::sharedEmptyFlag;
                break;
            }
            // The count is kept as it is, even below 0: the visit counters add it whatever it is.
            out.run.count = leaf.bucketCount;
            if (leaf.bucketCount <= 0) break;
            sources.push_back(&leaf);
            if (order.of(leaf) != nullptr)
                out.run.first = static_cast<std::int32_t>(leaf.bucketIndices - tree.pointIndex);
            else
                runsOfPointIndex = false;
            break;
        }
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
    for (ImageNode& node : image.nodes) {
        if (node.kind() != NodeKind::Leaf || node.isSharedEmpty() || node.run.count <= 0) continue;
        const QELkd_leaf& leaf = *sources[next++];
        node.run.first = static_cast<std::int32_t>(image.ownIndices.size());
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

/// Sets every split's extents, and the box of all points, from the leaves' points. A subtree holding a
/// point with a NaN coordinate gets no bounds at all: that point's distance can be NaN, or, under
/// Chebyshev, forget the terms before the NaN one.
void measureExtents(SearchImage& image, int dim) {
    const auto width = static_cast<std::size_t>(std::max(dim, 0));
    const double* copied = image.leafCoordinates.empty() ? nullptr : image.leafCoordinates.data();
    constexpr std::size_t lookAhead = 16;
    // Boxes of finished subtrees whose parent is still to come, each its lower then its upper corner.
    std::vector<double> boxes;
    for (std::size_t position = image.nodes.size(); position-- > 0;) {
        ImageNode& node = image.nodes[position];
        if (node.kind() == NodeKind::Leaf) {
            const std::size_t base = boxes.size();
            boxes.resize(base + width, infinity);
            boxes.resize(base + 2 * width, -infinity);
            bool unordered = false;
            // Leaves come last to first, so positions are read backwards; the loads of points a little
            // ahead are started early, as each is a miss at a random place.
            for (int i = node.run.count; i-- > 0;) {
                const std::size_t at = static_cast<std::size_t>(node.run.first + i);
                const double* p = pointAt(image, at, width);
#if defined(__GNUC__)
                if (copied == nullptr && at >= lookAhead)
                    __builtin_prefetch(image.leafPoints[at - lookAhead]);
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
            continue;
        }
        // The first child's subtree comes right after the node, so its box was finished last.
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

thread_local ScratchCoordinates scratchCoordinates;

std::vector<double> coordinatesInLeafOrder(const SearchImage& image, int dim) {
    const auto width = static_cast<std::size_t>(std::max(dim, 0));
    std::size_t positions = 0;
    for (const ImageNode& node : image.nodes)
        if (node.kind() == NodeKind::Leaf && node.run.count > 0)
            positions = std::max(positions, static_cast<std::size_t>(node.run.first + node.run.count));
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
    if (tree.rootNode == nullptr) return nullptr;
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
