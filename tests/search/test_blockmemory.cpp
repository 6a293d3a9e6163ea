// The brute-force block searches copy the points out in tiles. A tile must be sized by the points and
// coordinates there are: a fixed count of points made a few points of very many coordinates take
// hundreds of times their own size on every thread. The program's allocations are watched for it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "testdata.h"
#include <qel/kdbatch.h>

namespace {

std::atomic<std::size_t> largestAllocation{0};

} // namespace

// None of the three is inlined, so that the compiler does not take the pairing of malloc and free
// behind new and delete for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    std::size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size > 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}

[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(BlockSearch, TilesTakeNoMoreThanThePoints) {
    const int dim = 100000;
    const testdata::PointSet points(3, dim);
    const testdata::PointSet queries(2, dim);
    for (int d = 0; d < dim; ++d) {
        points[1][d] = 1.0;
        points[2][d] = d % 2;
        queries[1][d] = 0.75;
    }
    testdata::MetricGuard guard(2);
    qel::QELbruteForce brute(points.points(), 3, dim);
    std::vector<int> indices(4);
    std::vector<double> distances(4);
    std::vector<int> counts(2);
    largestAllocation = 0;
    qel::searchNearestBatch(brute, queries.points(), 2, 2, indices.data(), distances.data(), 0.0, 2, 2);
    qel::searchFixedRadiusBatch(brute, queries.points(), 2, 1e9, 2, nullptr, nullptr, counts.data(), 0.0, 2,
                                2);
    EXPECT_LE(largestAllocation.load(), sizeof(double) * 3 * dim);
    EXPECT_EQ(indices, (std::vector<int>{0, 2, 1, 2}));
    EXPECT_EQ(counts, (std::vector<int>{3, 3}));
}

} // namespace
