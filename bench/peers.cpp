// Adapters for nanoflann's KDTreeSingleIndexAdaptor and FLANN's KDTreeSingleIndex, each set up as its
// users are advised to: nanoflann with the dimension fixed at compile time for the benchmark's
// dimensions, its simple metric for two and three coordinates and its unrolled one above; FLANN exact
// (eps 0, one core) with its default reordering of the points into leaf order.
#include "peers.h"

#if defined(KNN_HAVE_NANOFLANN)
#include <nanoflann.hpp>
#endif
#if defined(KNN_HAVE_FLANN)
#include <flann/flann.hpp>
#endif

namespace bench {
namespace {

#if defined(KNN_HAVE_NANOFLANN)

/// nanoflann's view of a point set: the coordinate block itself.
struct BlockSource {
    const double* coords = nullptr; ///< point i at coords[i * dim]
    size_t count = 0;               ///< number of points
    size_t dim = 0;                 ///< coordinates per point

    size_t kdtree_get_point_count() const { return count; }
    double kdtree_get_pt(size_t i, size_t d) const { return coords[i * dim + d]; }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

class NanoflannTree {
public:
    virtual ~NanoflannTree() = default;
    virtual void search(const double* query, int k, unsigned* indices, double* dists) const = 0;
};

template <class Metric, int Dim> class NanoflannTreeOf : public NanoflannTree {
public:
    NanoflannTreeOf(const BlockSource& block, int leafSize)
        : source(block), tree(block.dim, source, nanoflann::KDTreeSingleIndexAdaptorParams(leafSize)) {}

    void search(const double* query, int k, unsigned* indices, double* dists) const override {
        tree.knnSearch(query, static_cast<size_t>(k), indices, dists);
    }

private:
    BlockSource source; ///< the tree keeps a reference to it
    nanoflann::KDTreeSingleIndexAdaptor<Metric, BlockSource, Dim> tree;
};

template <int Dim> std::unique_ptr<NanoflannTree> nanoflannTree(const BlockSource& block, int leafSize) {
    constexpr bool lowDimension = Dim > 0 && Dim <= 3;
    using Metric = std::conditional_t<lowDimension, nanoflann::L2_Simple_Adaptor<double, BlockSource>,
                                      nanoflann::L2_Adaptor<double, BlockSource>>;
    return std::make_unique<NanoflannTreeOf<Metric, Dim>>(block, leafSize);
}

class NanoflannIndex : public PeerIndex {
public:
    std::string name() const override { return "nanoflann"; }

    void build(const PointSet& data, int leafSize) override {
        tree.reset();
        const BlockSource block{data.coords.data(), static_cast<size_t>(data.count),
                                static_cast<size_t>(data.dim)};
        switch (data.dim) {
        case 2:
            tree = nanoflannTree<2>(block, leafSize);
            break;
        case 3:
            tree = nanoflannTree<3>(block, leafSize);
            break;
        case 8:
            tree = nanoflannTree<8>(block, leafSize);
            break;
        case 16:
            tree = nanoflannTree<16>(block, leafSize);
            break;
        default:
            tree = nanoflannTree<-1>(block, leafSize);
            break;
        }
    }

    void search(const PointSet& queries, int first, int last, int k, double* dists) override {
        indices.resize(static_cast<size_t>(k));
        for (int q = first; q < last; ++q)
            tree->search(queries.point(q), k, indices.data(), dists + static_cast<size_t>(q) * k);
    }

    bool sumsInCoordinateOrder(int dim) const override { return dim <= 3; }

private:
    std::unique_ptr<NanoflannTree> tree;
    std::vector<unsigned> indices; ///< scratch: nanoflann always reports indices
};

#endif

#if defined(KNN_HAVE_FLANN)

class FlannIndex : public PeerIndex {
public:
    std::string name() const override { return "FLANN"; }

    void build(const PointSet& data, int leafSize) override {
        const flann::Matrix<double> points(const_cast<double*>(data.coords.data()),
                                           static_cast<size_t>(data.count), static_cast<size_t>(data.dim));
        index.reset();
        index = std::make_unique<Index>(points, flann::KDTreeSingleIndexParams(leafSize));
        index->buildIndex();
    }

    void search(const PointSet& queries, int first, int last, int k, double* dists) override {
        const size_t rows = static_cast<size_t>(last - first);
        const size_t columns = static_cast<size_t>(k);
        indices.resize(rows * columns);
        const flann::Matrix<double> queryRows(const_cast<double*>(queries.point(first)), rows,
                                              static_cast<size_t>(queries.dim));
        flann::Matrix<size_t> indexRows(indices.data(), rows, columns);
        flann::Matrix<double> distRows(dists + static_cast<size_t>(first) * columns, rows, columns);
        flann::SearchParams params;
        params.eps = 0;
        params.sorted = true;
        params.cores = 1;
        index->knnSearch(queryRows, indexRows, distRows, columns, params);
    }

    bool sumsInCoordinateOrder(int dim) const override { return dim < 4; }

private:
    using Index = flann::KDTreeSingleIndex<flann::L2<double>>;
    std::unique_ptr<Index> index;
    std::vector<size_t> indices; ///< scratch: FLANN always reports indices
};

#endif

} // namespace

knn::Metric peerMetric() {
    return {qel::euclideanMetric, 2}; // the peers' L2
}

std::vector<std::unique_ptr<PeerIndex>> makePeers() {
    std::vector<std::unique_ptr<PeerIndex>> peers;
#if defined(KNN_HAVE_NANOFLANN)
    peers.push_back(std::make_unique<NanoflannIndex>());
#endif
#if defined(KNN_HAVE_FLANN)
    peers.push_back(std::make_unique<FlannIndex>());
#endif
    return peers;
}

} // namespace bench
