// The batch searches as a loop over the one-query searches, the queries cut into one run of consecutive
// queries per thread. The calling thread answers the first run.
#include "batch.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace knnpy {

namespace {

/// Calls answer(q) for q = 0 .. m - 1, on up to `threads` threads.
template <class Answer> void forEachQuery(int m, int threads, Answer answer) {
    const int parts = std::max(1, std::min(threads, m));
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(parts));
    auto runPart = [&](int part) {
        try {
            const int first = static_cast<int>(static_cast<long long>(m) * part / parts);
            const int end = static_cast<int>(static_cast<long long>(m) * (part + 1) / parts);
            for (int q = first; q < end; ++q)
                answer(q);
        } catch (...) {
            errors[static_cast<std::size_t>(part)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int part = 1; part < parts; ++part)
            helpers.emplace_back(runPart, part);
        runPart(0);
    }
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

std::size_t rowStart(int q, int k) {
    return static_cast<std::size_t>(q) * static_cast<std::size_t>(std::max(k, 0));
}

} // namespace

void searchNearestBatch(qel::QELpointSet& structure, qel::PointArray queries, int m, int k,
                        qel::IndexArray nnIdx, qel::DistArray dists, double eps, int power, int threads) {
    forEachQuery(m, threads, [&](int q) {
        structure.searchNearest(queries[q], k, nnIdx + rowStart(q, k), dists + rowStart(q, k), eps, power);
    });
}

void searchPriorityBatch(qel::QELkd_tree& tree, qel::PointArray queries, int m, int k, qel::IndexArray nnIdx,
                         qel::DistArray dists, double eps, int power, int threads) {
    forEachQuery(m, threads, [&](int q) {
        tree.searchPriority(queries[q], k, nnIdx + rowStart(q, k), dists + rowStart(q, k), eps, power);
    });
}

void searchFixedRadiusBatch(qel::QELpointSet& structure, qel::PointArray queries, int m, double radiusBound,
                            int k, qel::IndexArray nnIdx, qel::DistArray dists, int* counts, double eps,
                            int power, int threads) {
    forEachQuery(m, threads, [&](int q) {
        const int count = structure.searchFixedRadius(queries[q], radiusBound, k, nnIdx + rowStart(q, k),
                                                      dists + rowStart(q, k), eps, power);
        if (counts != nullptr) counts[q] = count;
    });
}

} // namespace knnpy
