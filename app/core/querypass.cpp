// The query pass: chunks of the batch searches, then every row turned into what the user sees.
#include "querypass.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <vector>

#include <qel/kdbatch.h>

namespace knn {

namespace {

using Clock = std::chrono::steady_clock;

// The floating-point faults that end a run.
constexpr int RunFaults = FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID;

/// Answers the queries at positions first..last-1 of order into their result rows; false, with the rows
/// left as they were, when the searches raised a floating-point fault.
bool searchChunk(SearchSession& s, const Searcher& searcher, const std::vector<int>& order, int first,
                 int last, int threads) {
    const auto k = static_cast<std::size_t>(s.k);
    const auto m = static_cast<std::size_t>(last - first);
    std::vector<qel::Point> queries(m);
    for (std::size_t i = 0; i < m; ++i)
        queries[i] = s.queryPts[static_cast<std::size_t>(order[first + i])];
    std::vector<int> nnIdx(m * k, qel::noIndex);
    std::vector<double> dists(m * k, qel::unboundedDistance);
    std::feclearexcept(FE_ALL_EXCEPT);
    SearchBatch(searcher, queries.data(), static_cast<int>(m), nnIdx.data(), dists.data(), threads);
    if (std::fetestexcept(RunFaults)) return false;
    for (std::size_t i = 0; i < m; ++i) {
        const auto row = static_cast<std::size_t>(order[first + i]) * k;
        std::copy_n(nnIdx.begin() + i * k, k, s.resultIdx.begin() + row);
        std::copy_n(dists.begin() + i * k, k, s.resultDists.begin() + row);
    }
    return true;
}

/// Turns query q's result row, as the search left it, into reported distances and 1-based numbers.
void storeResults(SearchSession& s, int q) {
    const auto k = static_cast<std::size_t>(s.k);
    double* rowDists = s.resultDists.data() + static_cast<std::size_t>(q) * k;
    int* rowIdx = s.resultIdx.data() + static_cast<std::size_t>(q) * k;
    for (std::size_t j = 0; j < k; ++j) {
        rowDists[j] = ReportedDistance(rowDists[j], s.power);
        rowIdx[j] += 1;
    }
}

} // namespace

void AnswerQueries(SearchSession& s, const Searcher& searcher, int threads, RunTimings& timings,
                   const ProgressCallback& progress) {
    // Chunks follow the batch searches' own order over the whole run, so each one continues where the
    // caches were left.
    std::vector<int> order(static_cast<std::size_t>(s.queryCount));
    if (searcher.structure)
        qel::batchOrder(*searcher.structure, s.queryPts.get(), s.queryCount, order.data(), threads);
    bool faulted = false;
    std::int64_t size = ProgressInterval;
    for (int first = 0; first < s.queryCount && !faulted;) {
        const int last = static_cast<int>(std::min<std::int64_t>(s.queryCount, first + size));
        const auto chunkStart = Clock::now();
        faulted = !searchChunk(s, searcher, order, first, last, threads);
        const double chunkSeconds = std::chrono::duration<double>(Clock::now() - chunkStart).count();
        timings.searchSeconds += chunkSeconds;
        timings.slowestQuerySeconds = std::max(timings.slowestQuerySeconds, chunkSeconds / (last - first));
        timings.queriesAnswered = last;
        reportProgress(progress, last, s.queryCount);
        size = nextChunkSize(size, chunkSeconds);
        first = last;
    }
    const auto k = static_cast<std::size_t>(s.k);
    for (int q = 0; q < s.queryCount; ++q) {
        std::feclearexcept(FE_ALL_EXCEPT);
        if (faulted)
            SearchOne(searcher, s.queryPts[static_cast<std::size_t>(q)], s.resultIdx.data() + q * k,
                      s.resultDists.data() + q * k);
        storeResults(s, q);
        CheckFloatingPointFaults();
    }
}

} // namespace knn
