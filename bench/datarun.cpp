// The measurements of one point set.
#include "datarun.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "checks.h"
#include "peers.h"
#include "searchcall.h"
#include "tightloop.h"
#include "timing.h"

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
            measureOurs(tree);
        measurePeers();
        if (entry.bruteForce) measureBruteForce();
        if (radiusBound >= 0)
            std::printf("\nFixed-radius bound %.6g (squared distance): the median distance of the %d-th "
                        "nearest neighbour.\n",
                        radiusBound, plan.ks.back());
        std::fflush(stdout);
    }

private:
    /// The exact standard search on everything of ours; with every search, the others on the main trees and
    /// the exact fixed-radius search on brute force.
    std::vector<Search> searchesFor(const Setup& setup) const {
        std::vector<Search> searches;
        for (int k : plan.ks)
            searches.push_back({knn::SearchRange::Standard, 0.0, k});
        if (!plan.everySearch) return searches;
        if (setup.mode == knn::SearchMode::BruteForce) {
            searches.push_back({knn::SearchRange::FixedRadius, 0.0, plan.ks.back()});
            return searches;
        }
        const bool main = setup.split == qel::SplitRule::SlidingMidpoint &&
                          (setup.mode == knn::SearchMode::KdTree || setup.shrink == qel::ShrinkRule::Simple);
        if (!main) return searches;
        for (int k : plan.ks)
            searches.push_back({knn::SearchRange::Standard, 1.0, k});
        for (double eps : {0.0, 1.0})
            for (int k : plan.ks)
                searches.push_back({knn::SearchRange::Priority, eps, k});
        for (double eps : {0.0, 1.0})
            for (int k : plan.ks)
                searches.push_back({knn::SearchRange::FixedRadius, eps, k});
        return searches;
    }

    template <class Answer> QueryRecord timed(const Setup& setup, const Search& search, Answer&& answer) {
        const QueryTime time = timeQueries(plan.queryReps, plan.queryCount, plan.cap, answer);
        return {key, setup, search, time.perQuery, time.answered};
    }

    void measureOurs(const Setup& setup) {
        std::unique_ptr<qel::QELpointSet> structure;
        const double buildSeconds = timeBuild(
            plan.buildReps, [&] { structure.reset(); },
            [&] {
                structure = knn::BuildStructure(configOf(setup), data.pointArray(), data.count, data.dim, 1);
            });
        buildLog.push_back({key, setup, buildSeconds});
        bool first = true;
        for (const Search& search : searchesFor(setup)) {
            measureOurSearch(*structure, setup, search, first ? seconds(buildSeconds) : "");
            first = false;
        }
    }

    void measureOurSearch(qel::QELpointSet& set, const Setup& setup, const Search& search,
                          const std::string& buildText) {
        Answers answers(plan.queryCount, search.k);
        const int k = search.k;
        knn::Searcher searcher = knn::SearcherOf(&set, search.range, k, search.eps, peerMetric().power, 0.0);
        // The bound is a median of powered distances already.
        if (search.range == knn::SearchRange::FixedRadius) searcher.radiusBound = fixedRadiusBound();
        const QueryRecord record = timed(setup, search, [&](int first, int last) {
            for (int q = first; q < last; ++q)
                knn::SearchOne(searcher, queries.points[q],
                               answers.indices.data() + static_cast<size_t>(q) * k,
                               answers.dists.data() + static_cast<size_t>(q) * k, &answers.counts[q]);
        });
        const std::string check = checkOurs(search, answers, record.answered);
        report(record, buildText, check);
    }

    void measurePeers() {
        for (std::unique_ptr<PeerIndex>& peer : makePeers()) {
            Setup setup = peerSetup(peer->name(), PeerLeafSize);
            const double buildSeconds = timeBuild(
                plan.buildReps, [] {}, [&] { peer->build(data, PeerLeafSize); });
            buildLog.push_back({key, setup, buildSeconds});
            bool first = true;
            for (int k : plan.ks) {
                std::vector<double> dists(static_cast<size_t>(plan.queryCount) * k);
                const QueryRecord record =
                    timed(setup, {knn::SearchRange::Standard, 0.0, k},
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
        measureOurs(ourSetup(knn::SearchMode::BruteForce));

        const Setup floor = tightLoopSetup();
        for (int k : plan.ks) {
            std::vector<double> dists(static_cast<size_t>(plan.queryCount) * k);
            const QueryRecord record =
                timed(floor, {knn::SearchRange::Standard, 0.0, k}, [&](int first, int last) {
                    for (int q = first; q < last; ++q)
                        tightLoopNearest(data, queries.point(q), k,
                                         dists.data() + static_cast<size_t>(q) * k);
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
                    buildText.c_str(), knn::RangeName(record.search.range).c_str(), record.search.eps,
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
        const bool radius = search.range == knn::SearchRange::FixedRadius;
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
