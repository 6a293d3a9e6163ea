// The batch search and the parallel build against the peers. Times are wall-clock seconds (the batch on
// two threads has no single thread's CPU time to count); every contender of a table runs once per round,
// the rounds alternate them, so other load on the machine falls on all of them alike, and the fastest
// round counts. Every batch answer is checked against the one-query loop in the given order, bit for bit.
#include "batchbench.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "datagen.h"
#include "peers.h"
#include "searchcall.h"
#include "timing.h"

namespace bench {
namespace {

constexpr int K = 10;
constexpr int ChunkQueries = 256; ///< the batch called on chunks of this many queries, as the run driver may

struct BatchData {
    Family family;
    int n;
    int dim;
    int queries;
};

constexpr BatchData dataSets[] = {{Family::Uniform, 1000000, 3, 10000},
                                  {Family::Uniform, 1000000, 8, 10000},
                                  {Family::Clustered, 200000, 16, 5000}};
constexpr int buildBuckets[] = {1, 4, 8, 16, 32};
constexpr int queryBuckets[] = {16, 32};

/// What a round times, after an untimed preparation.
struct Contender {
    std::function<void()> prepare;
    std::function<void()> run;
};

/// The fastest round of a contender: its wall-clock seconds, and the process's CPU seconds in it (over
/// the wall time: the cores the round actually had).
struct Timing {
    double wall = std::numeric_limits<double>::max();
    double cpu = 0.0;
};

/// The fastest round of each contender, the contenders taking turns within each round.
std::vector<Timing> fastestInTurns(int rounds, const std::vector<Contender>& contenders) {
    std::vector<Timing> best(contenders.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            if (contenders[i].prepare) contenders[i].prepare();
            const double cpuStart = processCpuNow();
            const double start = wallNow();
            contenders[i].run();
            const double wall = wallNow() - start;
            if (wall < best[i].wall) best[i] = {wall, processCpuNow() - cpuStart};
        }
    }
    return best;
}

/// The positions of the points in Z-curve (Morton) order: each of the first 63 coordinates quantised in
/// the points' box to 63 / dim bits (at least one), the bits interleaved from the highest.
std::vector<int> mortonOrder(const PointSet& points) {
    const int dim = std::min(points.dim, 63);
    const int bits = std::max(1, 63 / std::max(dim, 1));
    std::vector<double> lo(static_cast<std::size_t>(dim), std::numeric_limits<double>::max());
    std::vector<double> hi(lo.size(), std::numeric_limits<double>::lowest());
    for (int i = 0; i < points.count; ++i) {
        for (int d = 0; d < dim; ++d) {
            lo[d] = std::min(lo[d], points.point(i)[d]);
            hi[d] = std::max(hi[d], points.point(i)[d]);
        }
    }
    const double cells = std::ldexp(1.0, bits);
    std::vector<std::pair<std::uint64_t, int>> keyed(static_cast<std::size_t>(points.count));
    std::vector<std::uint64_t> cell(lo.size());
    for (int i = 0; i < points.count; ++i) {
        for (int d = 0; d < dim; ++d) {
            const double t = hi[d] > lo[d] ? (points.point(i)[d] - lo[d]) / (hi[d] - lo[d]) : 0.0;
            cell[d] = static_cast<std::uint64_t>(std::min(cells - 1.0, t * cells));
        }
        std::uint64_t key = 0;
        for (int b = bits - 1; b >= 0; --b)
            for (int d = 0; d < dim; ++d)
                key = key << 1 | (cell[d] >> b & 1);
        keyed[static_cast<std::size_t>(i)] = {key, i};
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<int> order;
    for (const auto& entry : keyed)
        order.push_back(entry.second);
    return order;
}

/// The kd-tree every table measures, with the sliding-midpoint rule.
knn::SearchConfig treeConfig(int bucket) {
    return {knn::SearchMode::KdTree, knn::SearchRange::Standard, qel::SplitRule::SlidingMidpoint,
            qel::ShrinkRule::Default, bucket};
}

std::string fixed(double value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

/// k-nearest rows of every query, as a search left them.
struct Rows {
    std::vector<int> indices;
    std::vector<double> dists;

    explicit Rows(int queries) : indices(static_cast<std::size_t>(queries) * K), dists(indices.size()) {}
    bool operator==(const Rows&) const = default;
    int* indexRow(int q) { return indices.data() + static_cast<std::size_t>(q) * K; }
    double* distRow(int q) { return dists.data() + static_cast<std::size_t>(q) * K; }
};

void measureQueries(PointSet& data, PointSet& queries, int rounds) {
    std::vector<std::unique_ptr<PeerIndex>> peers = makePeers();
    for (auto& peer : peers)
        peer->build(data, PeerLeafSize);
    std::printf(
        "\n| bucket | loop, given order | loop, Z-curve order | batch, 1 thread | batch, 1 thread, chunks "
        "of %d | batch, 2 threads |",
        ChunkQueries);
    for (const auto& peer : peers)
        std::printf(" %s |", peer->name() == "FLANN" ? "FLANN knnSearch" : (peer->name() + " loop").c_str());
    std::printf(" batch 1 thread / best peer | batch 2 threads / best peer | 2 threads speed-up | cores the "
                "2 threads "
                "had | rows |\n|---|"
                "---|---|---|---|---|");
    for (std::size_t i = 0; i < peers.size(); ++i)
        std::printf("---|");
    std::printf("---|---|---|---|---|\n");
    const int m = queries.count;
    std::vector<double> peerDists(static_cast<std::size_t>(m) * K);
    for (int bucket : queryBuckets) {
        const std::unique_ptr<qel::QELpointSet> tree =
            knn::BuildStructure(treeConfig(bucket), data.pointArray(), data.count, data.dim, 1);
        const knn::Searcher searcher =
            knn::SearcherOf(tree.get(), knn::SearchRange::Standard, K, 0.0, peerMetric().power, 0.0);
        Rows given(m);
        Rows morton(m);
        Rows batch(m);
        Rows chunked(m);
        Rows twoThreads(m);
        const qel::PointArray queryPoints = queries.pointArray();
        std::vector<Contender> contenders = {
            {{},
             [&] {
                 for (int q = 0; q < m; ++q)
                     knn::SearchOne(searcher, queryPoints[q], given.indexRow(q), given.distRow(q));
             }},
            {{},
             [&] {
                 for (int q : mortonOrder(queries))
                     knn::SearchOne(searcher, queryPoints[q], morton.indexRow(q), morton.distRow(q));
             }},
            {{},
             [&] {
                 knn::SearchBatch(searcher, queryPoints, m, batch.indices.data(), batch.dists.data(), 1);
             }},
            {{},
             [&] {
                 for (int first = 0; first < m; first += ChunkQueries)
                     knn::SearchBatch(searcher, queryPoints + first, std::min(ChunkQueries, m - first),
                                      chunked.indexRow(first), chunked.distRow(first), 1);
             }},
            {{},
             [&] {
                 knn::SearchBatch(searcher, queryPoints, m, twoThreads.indices.data(),
                                  twoThreads.dists.data(), 2);
             }},
        };
        for (auto& peer : peers)
            contenders.push_back({{}, [&] { peer->search(queries, 0, m, K, peerDists.data()); }});
        const std::vector<Timing> times = fastestInTurns(rounds, contenders);
        double bestPeer = std::numeric_limits<double>::max();
        for (std::size_t i = 5; i < times.size(); ++i)
            bestPeer = std::min(bestPeer, times[i].wall);
        const bool same = morton == given && batch == given && chunked == given && twoThreads == given;
        std::printf("| %d |", bucket);
        for (const Timing& time : times)
            std::printf(" %s |", fixed(time.wall, 4).c_str());
        std::printf(" %s | %s | %s | %s | %s |\n", fixed(times[2].wall / bestPeer, 2).c_str(),
                    fixed(times[4].wall / bestPeer, 2).c_str(),
                    fixed(times[2].wall / times[4].wall, 2).c_str(),
                    fixed(times[4].cpu / times[4].wall, 2).c_str(), same ? "same" : "DIFFER");
        std::fflush(stdout);
    }
}

void measureBuilds(PointSet& data, int rounds) {
    std::unique_ptr<PeerIndex> nanoflann;
    for (auto& peer : makePeers())
        if (peer->name() == "nanoflann") nanoflann = std::move(peer);
    std::printf(
        "\n| bucket | ours, 1 thread | ours, 2 threads | nanoflann | 1 thread / nanoflann | 2 threads / "
        "nanoflann | 2 threads speed-up | cores the 2 threads had | same pointIndex |\n"
        "|---|---|---|---|---|---|---|---|---|\n");
    for (int bucket : buildBuckets) {
        std::unique_ptr<qel::QELpointSet> one;
        std::unique_ptr<qel::QELpointSet> two;
        auto build = [&](int threads) {
            return knn::BuildStructure(treeConfig(bucket), data.pointArray(), data.count, data.dim, threads);
        };
        std::vector<Contender> contenders = {{[&] { one.reset(); }, [&] { one = build(1); }},
                                             {[&] { two.reset(); }, [&] { two = build(2); }}};
        if (nanoflann) contenders.push_back({{}, [&] { nanoflann->build(data, bucket); }});
        const std::vector<Timing> times = fastestInTurns(rounds, contenders);
        const qel::IndexArray oneIndex = dynamic_cast<qel::QELkd_tree&>(*one).pointIndex;
        const bool same =
            std::equal(oneIndex, oneIndex + data.count, dynamic_cast<qel::QELkd_tree&>(*two).pointIndex);
        const double peer = nanoflann ? times[2].wall : std::numeric_limits<double>::quiet_NaN();
        std::printf("| %d | %s | %s | %s | %s | %s | %s | %s | %s |\n", bucket,
                    fixed(times[0].wall, 3).c_str(), fixed(times[1].wall, 3).c_str(), fixed(peer, 3).c_str(),
                    fixed(times[0].wall / peer, 2).c_str(), fixed(times[1].wall / peer, 2).c_str(),
                    fixed(times[0].wall / times[1].wall, 2).c_str(),
                    fixed(times[1].cpu / times[1].wall, 2).c_str(), same ? "yes" : "NO");
        std::fflush(stdout);
    }
}

} // namespace

void runBatchBench(int rounds, const std::vector<int>& dims) {
    std::printf(
        "# knnbench-bench --batch\n\nEuclidean metric (squared distances), exact, k = %d, kd-tree with "
        "the sliding-midpoint rule; peers with leaf size %d, FLANN on one core. Wall-clock seconds, "
        "fastest of %d rounds in which the contenders take turns.\n",
        K, PeerLeafSize, rounds);
    for (const BatchData& set : dataSets) {
        if (!dims.empty() && std::find(dims.begin(), dims.end(), set.dim) == dims.end()) continue;
        PointSet data = makePoints(set.family, set.n, set.dim, DataSeed);
        PointSet queries = makePoints(set.family, set.queries, set.dim, QuerySeed);
        std::printf("\n## %s n=%d d=%d, %d queries\n", familyName(set.family).c_str(), set.n, set.dim,
                    set.queries);
        measureQueries(data, queries, rounds);
        measureBuilds(data, rounds);
    }
}

} // namespace bench
