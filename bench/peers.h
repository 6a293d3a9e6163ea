// The peer libraries the benchmark measures ours against, each behind one small interface: build a
// kd-tree over a point set's coordinate block and answer exact k-nearest queries with squared Euclidean
// distances, which are in the same units as our powered distances. Only the peers found when the
// benchmark was configured are compiled in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "datagen.h"
#include "vocabulary.h"

namespace bench {

constexpr int PeerLeafSize = 10;

/// The metric every measurement of ours uses: Euclidean, whose powered distances are the squared
/// distances the peers report. `qel::metricKind` must hold its kind.
knn::Metric peerMetric();

class PeerIndex {
public:
    virtual ~PeerIndex() = default;
    virtual std::string name() const = 0;
    /// Builds over data's coordinates, leaves of at most leafSize points; data must outlive the index.
    virtual void build(const PointSet& data, int leafSize) = 0;
    /// Exact k nearest of queries first..last-1: query q's distances, ascending, go to dists[q * k ..].
    virtual void search(const PointSet& queries, int first, int last, int k, double* dists) = 0;
    /// True when the library adds the squared differences one by one in coordinate order, as ours does,
    /// so that equal neighbours must give equal bits; otherwise the sums may differ in the last place.
    virtual bool sumsInCoordinateOrder(int dim) const = 0;
};

/// One index of every peer library compiled in, unbuilt.
std::vector<std::unique_ptr<PeerIndex>> makePeers();

} // namespace bench
