// The per-query comparison. Z-curve order is the warm regime: neighbouring queries share nodes and points
// in the caches. The contenders take turns within every repetition, so the machine's load changes hit
// them alike; the fastest repetition of each counts.
#include "perquery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "checks.h"
#include "datagen.h"
#include "peers.h"
#include "plan.h"
#include "searchcall.h"
#include "timing.h"

namespace bench {
namespace {

/// The queries reordered along a Z-curve (Morton order) of their coordinates, each quantised to
/// 64 / dim bits within the queries' box.
PointSet zOrdered(const PointSet& queries) {
    const int dim = queries.dim;
    const int bits = std::max(1, 64 / std::max(dim, 1));
    std::vector<double> lo(static_cast<size_t>(dim), 0.0);
    std::vector<double> hi(static_cast<size_t>(dim), 0.0);
    for (int d = 0; d < dim; ++d) {
        lo[d] = hi[d] = queries.count > 0 ? queries.point(0)[d] : 0.0;
        for (int q = 1; q < queries.count; ++q) {
            lo[d] = std::min(lo[d], queries.point(q)[d]);
            hi[d] = std::max(hi[d], queries.point(q)[d]);
        }
    }
    const double cells = std::ldexp(1.0, bits) - 1.0;
    std::vector<std::pair<unsigned long long, int>> codes;
    for (int q = 0; q < queries.count; ++q) {
        std::vector<unsigned long long> cell(static_cast<size_t>(dim));
        for (int d = 0; d < dim; ++d) {
            const double span = hi[d] - lo[d];
            const double t = span > 0 ? (queries.point(q)[d] - lo[d]) / span : 0.0;
            cell[d] = static_cast<unsigned long long>(std::clamp(t, 0.0, 1.0) * cells);
        }
        unsigned long long code = 0;
        for (int b = bits - 1; b >= 0; --b)
            for (int d = 0; d < dim; ++d)
                code = code << 1 | ((cell[d] >> b) & 1u);
        codes.emplace_back(code, q);
    }
    std::stable_sort(codes.begin(), codes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    PointSet ordered;
    ordered.count = queries.count;
    ordered.dim = dim;
    for (const auto& [code, q] : codes)
        ordered.coords.insert(ordered.coords.end(), queries.point(q), queries.point(q) + dim);
    for (int q = 0; q < ordered.count; ++q)
        ordered.points.push_back(ordered.coords.data() + static_cast<size_t>(q) * dim);
    return ordered;
}

/// One contender of the per-query comparison: answers all queries of a set into its result arrays.
enum class Walk { Nodes, Image, ImageWithCopy };

struct Contender {
    std::string name;
    int bucket = 0;
    bool ours = false;
    Walk walk = Walk::Nodes;
    std::function<void(PointSet&, std::vector<int>&, std::vector<double>&)> answer;
    double best[2] = {0.0, 0.0}; ///< fastest pass per order (given, Z-curve)
    std::vector<int> indices[2];
    std::vector<double> dists[2];
};

/// The distances of two contenders' answers: "same" bit for bit, or how many differ beyond tolerance.
std::string compareAnswers(const Contender& a, const Contender& b, int order, double tolerance) {
    const Differences d =
        countDifferences(a.dists[order].data(), b.dists[order].data(), a.dists[order].size(), tolerance);
    if (d.outside > 0) return "DIFFERS in " + std::to_string(d.outside);
    if (d.differing > 0) return "same to 1e-12 (" + std::to_string(d.differing) + " in the last bits)";
    if (a.ours && b.ours && a.indices[order] != b.indices[order]) return "INDICES DIFFER";
    return "same";
}

void measurePerQuery(const DataKey& key, int queryCount, int k, int reps, const std::vector<int>& buckets) {
    PointSet data = makePoints(key.family, key.n, key.dim, DataSeed);
    PointSet given = makePoints(key.family, queryCount, key.dim, QuerySeed);
    PointSet zCurve = zOrdered(given);
    PointSet* orders[2] = {&given, &zCurve};
    std::printf("\n### %s, %d queries, k = %d, exact\n\n", dataName(key).c_str(), queryCount, k);
    std::printf("| structure | bucket | build s | image s |\n|---|---|---|---|\n");
    const Setup ours = ourSetup(knn::SearchMode::KdTree);
    const std::string oursName = setupName(ours);
    std::vector<std::unique_ptr<qel::QELpointSet>> trees;
    std::vector<Contender> contenders;
    const char* walkNames[] = {"ours, node walk", "ours, compact image", "ours, image + leaf-order copy"};
    for (int bucket : buckets) {
        for (Walk walk : {Walk::Image, Walk::Nodes, Walk::ImageWithCopy}) {
            double start = cpuNow();
            Setup setup = ours;
            setup.bucket = bucket;
            trees.push_back(knn::BuildStructure(configOf(setup), data.pointArray(), data.count, data.dim, 1));
            const double build = cpuNow() - start;
            const knn::Searcher searcher = knn::SearcherOf(trees.back().get(), knn::SearchRange::Standard, k,
                                                           0.0, peerMetric().power, 0.0);
            qel::QELkd_tree& tree = *searcher.tree;
            start = cpuNow();
            // The copy's setting first: it turns the image on.
            tree.copyPointsInLeafOrder(walk == Walk::ImageWithCopy);
            tree.useSearchImage(walk != Walk::Nodes);
            tree.searchImage();
            if (walk != Walk::Nodes)
                std::printf("| %s%s | %d | %s | %s |\n", oursName.c_str(),
                            walk == Walk::ImageWithCopy ? ", leaf-order copy" : "", bucket,
                            seconds(build).c_str(), seconds(cpuNow() - start).c_str());
            Contender c;
            c.name = walkNames[static_cast<int>(walk)];
            c.bucket = bucket;
            c.ours = true;
            c.walk = walk;
            c.answer = [searcher, k](PointSet& queries, std::vector<int>& indices,
                                     std::vector<double>& dists) {
                for (int q = 0; q < queries.count; ++q)
                    knn::SearchOne(searcher, queries.points[q], indices.data() + static_cast<size_t>(q) * k,
                                   dists.data() + static_cast<size_t>(q) * k);
            };
            contenders.push_back(std::move(c));
        }
    }
    std::vector<std::unique_ptr<PeerIndex>> peers = makePeers();
    for (std::unique_ptr<PeerIndex>& peer : peers) {
        const double start = cpuNow();
        peer->build(data, PeerLeafSize);
        std::printf("| %s | %d | %s | |\n", peer->name().c_str(), PeerLeafSize,
                    seconds(cpuNow() - start).c_str());
        Contender c;
        c.name = peer->name();
        c.bucket = PeerLeafSize;
        PeerIndex* index = peer.get();
        c.answer = [index, k](PointSet& queries, std::vector<int>&, std::vector<double>& dists) {
            for (int first = 0; first < queries.count; first += ChunkSize)
                index->search(queries, first, std::min(queries.count, first + ChunkSize), k, dists.data());
        };
        contenders.push_back(std::move(c));
    }
    const size_t slots = static_cast<size_t>(queryCount) * k;
    for (int rep = 0; rep < reps; ++rep) {
        for (int order = 0; order < 2; ++order) {
            for (Contender& c : contenders) {
                c.indices[order].assign(slots, 0);
                c.dists[order].assign(slots, 0.0);
                const double start = cpuNow();
                c.answer(*orders[order], c.indices[order], c.dists[order]);
                const double elapsed = cpuNow() - start;
                if (rep == 0 || elapsed < c.best[order]) c.best[order] = elapsed;
            }
        }
    }
    std::printf("\n| contender | bucket | order | s | µs/query | check against the first row |\n"
                "|---|---|---|---|---|---|\n");
    const char* orderNames[2] = {"given", "Z-curve"};
    for (int order = 0; order < 2; ++order) {
        for (const Contender& c : contenders) {
            const double tolerance = c.ours || key.dim <= 3 ? 0.0 : PeerTolerance;
            std::printf("| %s | %d | %s | %s | %s | %s |\n", c.name.c_str(), c.bucket, orderNames[order],
                        seconds(c.best[order]).c_str(), micros(c.best[order] / queryCount).c_str(),
                        compareAnswers(c, contenders.front(), order, tolerance).c_str());
        }
    }
    std::printf(
        "\n| order | node walk (best bucket) | compact image | image + copy | best peer | image / node walk "
        "| image / best peer | image + copy / best peer |\n|---|---|---|---|---|---|---|---|\n");
    for (int order = 0; order < 2; ++order) {
        const Contender* best[3] = {nullptr, nullptr, nullptr};
        const Contender* peer = nullptr;
        for (const Contender& c : contenders) {
            const Contender*& slot = c.ours ? best[static_cast<int>(c.walk)] : peer;
            if (!slot || c.best[order] < slot->best[order]) slot = &c;
        }
        if (!best[0] || !best[1] || !best[2] || !peer) continue;
        auto cell = [&](const Contender* c) {
            return seconds(c->best[order]) + " (bucket " + std::to_string(c->bucket) + ")";
        };
        std::printf("| %s | %s | %s | %s | %s %s | %s | %s | %s |\n", orderNames[order],
                    cell(best[0]).c_str(), cell(best[1]).c_str(), cell(best[2]).c_str(), peer->name.c_str(),
                    seconds(peer->best[order]).c_str(),
                    ratio(best[1]->best[order] / best[0]->best[order]).c_str(),
                    ratio(best[1]->best[order] / peer->best[order]).c_str(),
                    ratio(best[2]->best[order] / peer->best[order]).c_str());
    }
    std::fflush(stdout);
}

} // namespace

/// The shapes: uniform 3-D and 8-D with a million points, clustered 16-D with 200,000.
int runPerQuery(const Options& options) {
    struct Entry {
        DataKey key;
        int queries;
    };
    const Entry entries[] = {{{Family::Uniform, 1000000, 3}, 10000},
                             {{Family::Uniform, 1000000, 8}, 10000},
                             {{Family::Clustered, 200000, 16}, 5000}};
    const int reps = options.reps > 0 ? options.reps : 3;
    std::printf("# knnbench-bench --per-query\n\nEuclidean metric (squared distances), one thread, k = 10, "
                "eps 0. Times are the thread's CPU seconds for all queries, the fastest of %d repetitions; "
                "in each repetition every contender answers the given order, then the Z-curve order. Our "
                "kd-trees use the sliding-midpoint rule, the peers leaf size 10.\n",
                reps);
    std::printf("Load average before: %s.\n", loadAverage().c_str());
    const double start = wallNow();
    for (const Entry& entry : entries)
        if (wanted(options, entry.key))
            measurePerQuery(entry.key, options.queryCount > 0 ? options.queryCount : entry.queries, 10, reps,
                            {8, 16, 32});
    std::printf("\nTotal benchmark wall time %s s. Load average after: %s.\n",
                seconds(wallNow() - start).c_str(), loadAverage().c_str());
    return 0;
}

} // namespace bench
