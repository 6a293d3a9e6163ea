// The brute-force floor: a plain loop the compiler can unroll, a sorted array of the k best kept by
// insertion, entered only by a point closer than the current k-th.
#include "tightloop.h"

#include <algorithm>

namespace bench {
namespace {

template <int FixedDim>
void scanBlock(const double* coords, int n, int runtimeDim, const double* query, int k, double* best) {
    const int dim = FixedDim > 0 ? FixedDim : runtimeDim;
    std::fill(best, best + k, qel::unboundedDistance);
    double bound = qel::unboundedDistance;
    for (int i = 0; i < n; ++i) {
        const double* p = coords + static_cast<size_t>(i) * dim;
        double dist = 0.0;
        for (int d = 0; d < dim; ++d) {
            const double diff = query[d] - p[d];
            dist += diff * diff;
        }
        if (dist < bound) {
            int slot = k - 1;
            for (; slot > 0 && best[slot - 1] > dist; --slot)
                best[slot] = best[slot - 1];
            best[slot] = dist;
            bound = best[k - 1];
        }
    }
}

} // namespace

void tightLoopNearest(const PointSet& data, const double* query, int k, double* best) {
    const double* coords = data.coords.data();
    switch (data.dim) {
    case 2:
        return scanBlock<2>(coords, data.count, 2, query, k, best);
    case 3:
        return scanBlock<3>(coords, data.count, 3, query, k, best);
    case 8:
        return scanBlock<8>(coords, data.count, 8, query, k, best);
    case 16:
        return scanBlock<16>(coords, data.count, 16, query, k, best);
    default:
        return scanBlock<0>(coords, data.count, data.dim, query, k, best);
    }
}

} // namespace bench
