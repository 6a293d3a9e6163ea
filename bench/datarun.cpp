// The measurements of one point set.
#include "datarun.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "checks.h"
#include "peers.h"
#include "tightloop.h"
#include "timing.h"
#include <qel/bdtree.h>

namespace bench {
namespace {

class DataRun {
public:
    DataRun(const Plan& plan, const PlanEntry& entry, std::vector<QueryRecord>& queryLog,
            std::vector<BuildRecord>& buildLog)
        : plan(plan), entry(entry), key(entry.data), queryLog(queryLog), buildLog(buildLog) {}

    void run() {
        const double start = wallNow();
        data = makePoints(key.family, key.n, key.dim, DataSeed);
        queries = makePoints(key.family, plan.queryCount, key.dim, QuerySeed);
        std::printf("\n### %s, %d queries\n\nPoints generated in %s s.\n\n", dataName(key).c_str(),
                    plan.queryCount, seconds(wallNow() - start).c_str());
        std::printf("| structure | rules | bucket | build s | search | eps | k | queries timed | query s "
                    "(all queries) | µs/query | check |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const Setup& tree : entry.trees)
            measureTree(tree);
        measurePeers();
        if (entry.bruteForce) measureBruteForce();
        if (radiusBound >= 0)
            std::printf("\nFixed-radius bound %.6g (squared distance): the median distance of the %d-th "
                        "nearest neighbour.\n",
                        radiusBound, plan.ks.back());
        std::fflush(stdout);
    }

private:
    std::vector<Search> searchesFor(const Setup& setup) const {
        std::vector<Search> searches;
        for (int k : plan.ks)
            searches.push_back({SearchKind::Standard, 0.0, k});
        const bool main = setup.split == qel::SplitRule::SlidingMidpoint &&
                          (setup.structure == Structure::KdTree || setup.shrink == qel::ShrinkRule::Simple);
        if (!plan.everySearch || !main) return searches;
        for (int k : plan.ks)
            searches.push_back({SearchKind::Standard, 1.0, k});
        for (double eps : {0.0, 1.0})
            for (int k : plan.ks)
                searches.push_back({SearchKind::Priority, eps, k});
        for (double eps : {0.0, 1.0})
            for (int k : plan.ks)
                searches.push_back({SearchKind::Radius, eps, k});
        return searches;
    }

    template <class Answer> QueryRecord timed(const Setup& setup, const Search& search, Answer&& answer) {
        const QueryTime time = timeQueries(plan.queryReps, plan.queryCount, plan.cap, answer);
        return {key, setup, search, time.perQuery, time.answered};
    }

    void measureTree(const Setup& setup) {
        std::unique_ptr<qel::QELkd_tree> tree;
        const double buildSeconds = timeBuild(
            plan.buildReps, [&] { tree.reset(); },
            [&] {
                if (setup.structure == Structure::BdTree)
                    tree = std::make_unique<qel::QELbd_tree>(data.pointArray(), data.count, data.dim,
                                                             setup.bucket, setup.split, setup.shrink);
                else
                    tree = std::make_unique<qel::QELkd_tree>(data.pointArray(), data.count, data.dim,
                                                             setup.bucket, setup.split);
            });
        buildLog.push_back({key, setup, buildSeconds});
        bool first = true;
        for (const Search& search : searchesFor(setup)) {
            measureOurSearch(*tree, tree.get(), setup, search, first ? seconds(buildSeconds) : "");
            first = false;
        }
    }

    /// tree is null for brute force, which has no priority search.
    void measureOurSearch(qel::QELpointSet& set, qel::QELkd_tree* tree, const Setup& setup,
                          const Search& search, const std::string& buildText) {
        Answers answers(plan.queryCount, search.k);
        const int k = search.k;
        const double bound = search.kind == SearchKind::Radius ? fixedRadiusBound() : 0.0;
        const QueryRecord record = timed(setup, search, [&](int first, int last) {
            for (int q = first; q < last; ++q) {
                int* indices = answers.indices.data() + static_cast<size_t>(q) * k;
                double* dists = answers.dists.data() + static_cast<size_t>(q) * k;
                switch (search.kind) {
                case SearchKind::Standard:
                    set.searchNearest(queries.points[q], k, indices, dists, search.eps, Power);
                    break;
                case SearchKind::Priority:
                    tree->searchPriority(queries.points[q], k, indices, dists, search.eps, Power);
                    break;
                case SearchKind::Radius:
                    answers.counts[q] =
                        set.searchFixedRadius(queries.points[q], bound, k, indices, dists, search.eps, Power);
                    break;
                }
            }
        });
        const std::string check = checkOurs(search, answers, record.answered);
        report(record, buildText, check);
    }

    void measurePeers() {
        for (std::unique_ptr<PeerIndex>& peer : makePeers()) {
            Setup setup{Structure::Peer, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, PeerLeafSize,
                        peer->name()};
            const double buildSeconds = timeBuild(
                plan.buildReps, [] {}, [&] { peer->build(data, PeerLeafSize); });
            buildLog.push_back({key, setup, buildSeconds});
            bool first = true;
            for (int k : plan.ks) {
                std::vector<double> dists(static_cast<size_t>(plan.queryCount) * k);
                const QueryRecord record =
                    timed(setup, {SearchKind::Standard, 0.0, k},
                          [&](int begin, int end) { peer->search(queries, begin, end, k, dists.data()); });
                const std::string check =
                    compareExact(reference(standardReferences, k), dists, record.answered, k,
                                 peer->sumsInCoordinateOrder(key.dim) ? 0.0 : PeerTolerance);
                report(record, first ? seconds(buildSeconds) : "", check);
                first = false;
            }
            if (peer->name() != "nanoflann") continue;
            for (int bucket : plan.buckets) {
                if (bucket == PeerLeafSize) continue;
                setup.bucket = bucket;
                const double bucketBuild = timeBuild(
                    plan.buildReps, [] {}, [&] { peer->build(data, bucket); });
                buildLog.push_back({key, setup, bucketBuild});
                std::printf("| %s |  | %d | %s |  |  |  |  |  |  |  |\n", peer->name().c_str(), bucket,
                            seconds(bucketBuild).c_str());
            }
        }
    }

    void measureBruteForce() {
        const Setup setup{Structure::BruteForce, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, 0,
                          ""};
        std::unique_ptr<qel::QELbruteForce> brute;
        const double buildSeconds = timeBuild(
            plan.buildReps, [&] { brute.reset(); },
            [&] { brute = std::make_unique<qel::QELbruteForce>(data.pointArray(), data.count, data.dim); });
        buildLog.push_back({key, setup, buildSeconds});
        bool first = true;
        for (int k : plan.ks) {
            measureOurSearch(*brute, nullptr, setup, {SearchKind::Standard, 0.0, k},
                             first ? seconds(buildSeconds) : "");
            first = false;
        }
        if (plan.everySearch)
            measureOurSearch(*brute, nullptr, setup, {SearchKind::Radius, 0.0, plan.ks.back()}, "");

        const Setup floor{Structure::TightLoop, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, 0,
                          ""};
        for (int k : plan.ks) {
            std::vector<double> dists(static_cast<size_t>(plan.queryCount) * k);
            const QueryRecord record = timed(floor, {SearchKind::Standard, 0.0, k}, [&](int first, int last) {
                for (int q = first; q < last; ++q)
                    tightLoopNearest(data, queries.point(q), k, dists.data() + static_cast<size_t>(q) * k);
            });
            report(record, "",
                   compareExact(reference(standardReferences, k), dists, record.answered, k, 0.0));
        }
    }

    void report(const QueryRecord& record, const std::string& buildText, const std::string& check) {
        queryLog.push_back(record);
        const std::string estimate = record.answered < plan.queryCount ? "~" : "";
        std::printf("| %s | %s | %s | %s | %s | %g | %d | %d | %s%s | %s | %s |\n",
                    structureName(record.setup).c_str(), ruleName(record.setup).c_str(),
                    record.setup.bucket > 0 ? std::to_string(record.setup.bucket).c_str() : "",
                    buildText.c_str(), searchName(record.search.kind).c_str(), record.search.eps,
                    record.search.k, record.answered, estimate.c_str(),
                    seconds(record.perQuery * plan.queryCount).c_str(), micros(record.perQuery).c_str(),
                    check.c_str());
        std::fflush(stdout);
    }

    static Reference& reference(std::vector<std::pair<int, Reference>>& references, int k) {
        for (auto& [referenceK, ref] : references)
            if (referenceK == k) return ref;
        references.emplace_back(k, Reference{});
        return references.back().second;
    }

    /// The squared radius of the fixed-radius searches: the median k-th nearest distance of the exact
    /// answers, so that a query finds about k points.
    double fixedRadiusBound() {
        if (radiusBound >= 0) return radiusBound;
        const int k = plan.ks.back();
        const Reference& ref = reference(standardReferences, k);
        std::vector<double> kth;
        for (int q = 0; q < ref.answered; ++q)
            kth.push_back(ref.dists[static_cast<size_t>(q) * k + k - 1]);
        if (kth.empty()) return 0.0;
        std::nth_element(kth.begin(), kth.begin() + kth.size() / 2, kth.end());
        radiusBound = kth[kth.size() / 2];
        return radiusBound;
    }

    /// Checks an exact answer against the reference of its kind and k, an approximate one against the
    /// exact distances. The first exact answer becomes the reference; a later exact answer that agrees with
    /// it over more queries (the reference's run may have been cut short) takes its place.
    std::string checkOurs(const Search& search, const Answers& answers, int answered) {
        const bool radius = search.kind == SearchKind::Radius;
        Reference& ref = reference(radius ? radiusReferences : standardReferences, search.k);
        if (search.eps != 0.0) return compareApproximate(ref, answers, answered, search.k, radius);
        std::string check =
            ref.answered == 0 ? "reference" : compareExact(ref, answers.dists, answered, search.k, 0.0);
        if (check == "same" && radius) {
            const int overlap = std::min(answered, ref.answered);
            if (!std::equal(answers.counts.begin(), answers.counts.begin() + overlap, ref.counts.begin()))
                check = "COUNTS DIFFER";
        }
        if ((check == "reference" || check == "same") && answered > ref.answered) {
            ref.dists = answers.dists;
            ref.counts = answers.counts;
            ref.answered = answered;
        }
        return check;
    }

    const Plan& plan;
    const PlanEntry& entry;
    DataKey key;
    std::vector<QueryRecord>& queryLog;
    std::vector<BuildRecord>& buildLog;
    PointSet data;
    PointSet queries;
    std::vector<std::pair<int, Reference>> standardReferences; ///< by k: standard and priority, eps 0
    std::vector<std::pair<int, Reference>> radiusReferences;   ///< by k: fixed radius, eps 0
    double radiusBound = -1.0;                                 ///< below 0 until computed
};

} // namespace

void runDataSet(const Plan& plan, const PlanEntry& entry, std::vector<QueryRecord>& queryLog,
                std::vector<BuildRecord>& buildLog) {
    DataRun(plan, entry, queryLog, buildLog).run();
}

} // namespace bench
