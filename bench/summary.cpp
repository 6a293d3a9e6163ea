// The summary tables over everything measured.
#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "timing.h"

namespace bench {
namespace {

const QueryRecord* fastest(const std::vector<QueryRecord>& log, const DataKey& key, int k, auto&& accept) {
    const QueryRecord* best = nullptr;
    for (const QueryRecord& record : log)
        if (record.data == key && record.search.k == k && record.search.eps == 0.0 &&
            record.search.range == knn::SearchRange::Standard && accept(record.setup) &&
            (!best || record.perQuery < best->perQuery))
            best = &record;
    return best;
}

bool isKdSlidingMidpoint(const Setup& setup) {
    return setup.source == Source::Ours && setup.mode == knn::SearchMode::KdTree &&
           setup.split == qel::SplitRule::SlidingMidpoint;
}
bool isOurTree(const Setup& setup) {
    return setup.source == Source::Ours && setup.mode != knn::SearchMode::BruteForce;
}

std::string describe(const QueryRecord* record, int queryCount) {
    if (!record) return "—";
    std::string text = seconds(record->perQuery * queryCount);
    if (isOurTree(record->setup))
        text += " (" + setupName(record->setup) + ", bucket " + std::to_string(record->setup.bucket) + ")";
    return text;
}

/// One line of the targets table.
struct Verdict {
    std::string target;
    std::string data;
    double value = 0.0;
    double goal = 0.0;
};

} // namespace

void printSummary(const Plan& plan, const std::vector<QueryRecord>& queryLog,
                  const std::vector<BuildRecord>& buildLog) {
    std::vector<Verdict> verdicts;
    std::printf("\n## Exact k-nearest queries: ours against the faster peer\n\n"
                "Seconds for %d queries, standard search, eps 0. Ratio = ours / the faster peer.\n\n",
                plan.queryCount);
    const std::string kdName = setupName(ourSetup(knn::SearchMode::KdTree));
    std::printf("| data | k | ours: %s | ours: best tree | nanoflann | FLANN | ratio %s | ratio best tree "
                "|\n|---|---|---|---|---|---|---|---|\n",
                kdName.c_str(), kdName.c_str());
    for (const PlanEntry& entry : plan.entries) {
        const DataKey& key = entry.data;
        for (int k : plan.ks) {
            const QueryRecord* kd = fastest(queryLog, key, k, isKdSlidingMidpoint);
            const QueryRecord* best = fastest(queryLog, key, k, isOurTree);
            const QueryRecord* nanoflann =
                fastest(queryLog, key, k, [](const Setup& s) { return s.peer == "nanoflann"; });
            const QueryRecord* flann =
                fastest(queryLog, key, k, [](const Setup& s) { return s.peer == "FLANN"; });
            const QueryRecord* peer =
                fastest(queryLog, key, k, [](const Setup& s) { return s.source == Source::Peer; });
            if (!best || !peer) continue;
            const double kdRatio = kd ? kd->perQuery / peer->perQuery : 0.0;
            const double bestRatio = best->perQuery / peer->perQuery;
            std::printf("| %s | %d | %s | %s | %s | %s | %s | %s |\n", dataName(key).c_str(), k,
                        describe(kd, plan.queryCount).c_str(), describe(best, plan.queryCount).c_str(),
                        describe(nanoflann, plan.queryCount).c_str(),
                        describe(flann, plan.queryCount).c_str(), kd ? ratio(kdRatio).c_str() : "—",
                        ratio(bestRatio).c_str());
            if (key.n != 1000000) continue;
            if (key.family == Family::Uniform && (key.dim == 3 || key.dim == 8) && kd)
                verdicts.push_back({"exact query, kd-tree sliding midpoint / faster peer",
                                    dataName(key) + " k=" + std::to_string(k), kdRatio, 1.0});
            if (key.family == Family::Clustered && key.dim == 16)
                verdicts.push_back({"exact query, better of kd- and bd-tree / faster peer",
                                    dataName(key) + " k=" + std::to_string(k), bestRatio, 1.0});
        }
    }

    std::printf("\n## Build time against nanoflann at the same bucket (leaf) size\n\n"
                "| data | bucket | ours: %s s | nanoflann s | ratio |\n|---|---|---|---|---|\n",
                kdName.c_str());
    for (const PlanEntry& entry : plan.entries) {
        const DataKey& key = entry.data;
        double worst = 0.0;
        for (int bucket : plan.buckets) {
            const BuildRecord* ours = nullptr;
            const BuildRecord* theirs = nullptr;
            for (const BuildRecord& record : buildLog) {
                if (!(record.data == key) || record.setup.bucket != bucket) continue;
                if (isKdSlidingMidpoint(record.setup)) ours = &record;
                if (record.setup.peer == "nanoflann") theirs = &record;
            }
            if (!ours || !theirs) continue;
            worst = std::max(worst, ours->seconds / theirs->seconds);
            std::printf("| %s | %d | %s | %s | %s |\n", dataName(key).c_str(), bucket,
                        seconds(ours->seconds).c_str(), seconds(theirs->seconds).c_str(),
                        ratio(ours->seconds / theirs->seconds).c_str());
        }
        const bool target =
            key.n == 1000000 && ((key.family == Family::Uniform && (key.dim == 3 || key.dim == 8)) ||
                                 (key.family == Family::Clustered && key.dim == 16));
        if (worst > 0 && target)
            verdicts.push_back({"build, largest ratio over the bucket sizes", dataName(key), worst, 1.2});
    }

    std::printf("\n## Brute force against the tight loop over the same coordinates\n\n"
                "| data | k | brute force µs/query | tight loop µs/query | ratio |\n|---|---|---|---|---|\n");
    for (const PlanEntry& entry : plan.entries) {
        const DataKey& key = entry.data;
        for (int k : plan.ks) {
            const QueryRecord* brute = fastest(queryLog, key, k, [](const Setup& s) {
                return s.source == Source::Ours && s.mode == knn::SearchMode::BruteForce;
            });
            const QueryRecord* floor =
                fastest(queryLog, key, k, [](const Setup& s) { return s.source == Source::TightLoop; });
            if (!brute || !floor) continue;
            const double value = brute->perQuery / floor->perQuery;
            std::printf("| %s | %d | %s | %s | %s |\n", dataName(key).c_str(), k,
                        micros(brute->perQuery).c_str(), micros(floor->perQuery).c_str(),
                        ratio(value).c_str());
            if (key.n == 1000000)
                verdicts.push_back(
                    {"brute force / tight loop", dataName(key) + " k=" + std::to_string(k), value, 1.5});
        }
    }

    std::printf("\n## Targets\n\n| target | data | ratio | goal | met |\n|---|---|---|---|---|\n");
    for (const Verdict& verdict : verdicts)
        std::printf("| %s | %s | %s | ≤ %s | %s |\n", verdict.target.c_str(), verdict.data.c_str(),
                    ratio(verdict.value).c_str(), ratio(verdict.goal).c_str(),
                    verdict.value <= verdict.goal ? "yes" : "no");
}

} // namespace bench
