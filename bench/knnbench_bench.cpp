// knnbench-bench: times building and searching the library's structures on generated point sets, and the
// peer libraries and a brute-force floor on the same arrays in the same process, checks that every exact
// answer has the same distances, and prints Markdown tables ending in the ratios ours / peer in which
// the performance targets are stated. `--quick` measures the targets' configurations; by default every
// family, size, dimension, splitting and shrinking rule, bucket size and search is measured. `--batch`
// measures the batch search and the parallel build instead (batchbench.cpp).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <qel/bdtree.h>
#include "batchbench.h"
#include "datagen.h"
#include "peers.h"
#include "tightloop.h"
#include <qel/bdtree.h>

namespace bench {
namespace {

constexpr int Power = 2; ///< Euclidean: powered distances are the squared distances the peers report
constexpr int PeerLeafSize = 10;
constexpr int ChunkSize = 100; ///< queries answered between two looks at the clock
constexpr unsigned long long DataSeed = 12345;
constexpr unsigned long long QuerySeed = 67890;
constexpr double PeerTolerance = 1e-12; ///< relative, for peers that sum the coordinates in another order

enum class Structure { BruteForce, KdTree, BdTree, Peer, TightLoop };
enum class SearchKind { Standard, Priority, Radius };

struct DataKey {
    Family family = Family::Uniform;
    int n = 0;   ///< data points
    int dim = 0; ///< coordinates per point
    bool operator==(const DataKey&) const = default;
};

struct Setup {
    Structure structure = Structure::KdTree;
    qel::SplitRule split = qel::SplitRule::SlidingMidpoint;
    qel::ShrinkRule shrink = qel::ShrinkRule::None;
    int bucket = 0;   ///< bucket or leaf size; 0 where there is none
    std::string peer; ///< the peer library's name, for Structure::Peer
};

struct Search {
    SearchKind kind = SearchKind::Standard;
    double eps = 0.0;
    int k = 1;
};

struct QueryRecord {
    DataKey data;
    Setup setup;
    Search search;
    double perQuery = 0.0; ///< seconds
    int answered = 0;      ///< queries timed
};

struct BuildRecord {
    DataKey data;
    Setup setup;
    double seconds = 0.0;
};

/// One point set and what is measured on it.
struct PlanEntry {
    DataKey data;
    std::vector<Setup> trees; ///< in order; the first exact answers are the reference of the later ones
    bool bruteForce = true;   ///< brute force and the tight loop too
};

/// What to measure, and how long to keep at it.
struct Plan {
    std::vector<PlanEntry> entries;
    std::vector<int> buckets; ///< nanoflann's builds are timed at these leaf sizes too
    std::vector<int> ks;      ///< neighbour counts of the exact standard search on every tree
    bool everySearch = false; ///< priority, fixed-radius and eps 1 too, on the sliding-midpoint trees
    int queryCount = 10000;
    double cap = 2.0;  ///< CPU seconds after which a query run stops and its time is extrapolated
    int buildReps = 1; ///< builds of every structure; the fastest counts
    int queryReps = 2; ///< runs of every query set; the fastest counts
};

struct Options {
    bool quick = false;
    bool batch = false;
    bool perQuery = false;
    std::vector<std::string> families;
    std::vector<int> sizes;
    std::vector<int> dims;
    int queryCount = 0; ///< 0: the plan's default
    double cap = -1.0;  ///< below 0: the plan's default
    int reps = 0;       ///< runs of every build and query set; 0: the plan's defaults
};

double wallNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// CPU seconds of the calling thread. Every measurement uses it: on a shared machine the wall clock also
/// counts the time other processes hold the core, while the thread's CPU time of a single-threaded run
/// equals its wall time on an idle machine.
double cpuNow() {
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + 1e-9 * static_cast<double>(time.tv_nsec);
}

std::string splitName(qel::SplitRule rule) {
    switch (rule) {
    case qel::SplitRule::StandardKd:
        return "standard";
    case qel::SplitRule::Midpoint:
        return "midpoint";
    case qel::SplitRule::Fair:
        return "fair";
    case qel::SplitRule::SlidingFair:
        return "sliding fair";
    case qel::SplitRule::SlidingMidpoint:
    case qel::SplitRule::Default:
        break;
    }
    return "sliding midpoint";
}

std::string shrinkName(qel::ShrinkRule rule) {
    switch (rule) {
    case qel::ShrinkRule::None:
        return "none";
    case qel::ShrinkRule::Centroid:
        return "centroid";
    case qel::ShrinkRule::Simple:
    case qel::ShrinkRule::Default:
        break;
    }
    return "simple";
}

std::string structureName(const Setup& setup) {
    switch (setup.structure) {
    case Structure::BruteForce:
        return "brute force";
    case Structure::KdTree:
        return "kd-tree";
    case Structure::BdTree:
        return "bd-tree";
    case Structure::Peer:
        return setup.peer;
    case Structure::TightLoop:
        break;
    }
    return "tight loop";
}

std::string ruleName(const Setup& setup) {
    if (setup.structure == Structure::KdTree) return splitName(setup.split);
    if (setup.structure == Structure::BdTree) return splitName(setup.split) + ", " + shrinkName(setup.shrink);
    return "";
}

std::string searchName(SearchKind kind) {
    switch (kind) {
    case SearchKind::Standard:
        return "standard";
    case SearchKind::Priority:
        return "priority";
    case SearchKind::Radius:
        break;
    }
    return "fixed radius";
}

std::string dataName(const DataKey& key) {
    return familyName(key.family) + " n=" + std::to_string(key.n) + " d=" + std::to_string(key.dim);
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string micros(double secondsValue) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", secondsValue * 1e6);
    return text;
}

std::string ratio(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

/// Answers queries [first, last) per chunk until every query is answered or the first run has taken cap
/// CPU seconds; the later runs answer as many as the first. The fastest run counts.
template <class Answer> QueryRecord timeQueries(const Plan& plan, Answer&& answer) {
    QueryRecord record;
    for (int rep = 0; rep < plan.queryReps; ++rep) {
        const int limit = rep == 0 ? plan.queryCount : record.answered;
        const double start = cpuNow();
        int done = 0;
        while (done < limit) {
            const int last = std::min(limit, done + ChunkSize);
            answer(done, last);
            done = last;
            if (rep == 0 && cpuNow() - start > plan.cap) break;
        }
        const double perQuery = (cpuNow() - start) / done;
        if (rep == 0 || perQuery < record.perQuery) record.perQuery = perQuery;
        record.answered = done;
    }
    return record;
}

/// The fastest of the plan's runs of build(); each run first drops the previous result, untimed.
template <class Reset, class Build> double timeBuild(const Plan& plan, Reset&& reset, Build&& build) {
    double best = 0.0;
    for (int rep = 0; rep < plan.buildReps; ++rep) {
        reset();
        const double start = cpuNow();
        build();
        const double elapsed = cpuNow() - start;
        if (rep == 0 || elapsed < best) best = elapsed;
    }
    return best;
}

/// The first exact answers of one kind for one k: the distances every later exact answer must repeat.
struct Reference {
    std::vector<double> dists;
    std::vector<int> counts; ///< fixed radius only
    int answered = 0;        ///< queries the answers cover
};

/// Result arrays of one query run.
struct Answers {
    std::vector<int> indices;
    std::vector<double> dists;
    std::vector<int> counts;

    Answers(int queryCount, int k)
        : indices(static_cast<size_t>(queryCount) * k), dists(static_cast<size_t>(queryCount) * k),
          counts(static_cast<size_t>(queryCount)) {}
};

/// Measures every structure of the plan on one point set and prints its table.
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

    void measureTree(const Setup& setup) {
        std::unique_ptr<qel::QELkd_tree> tree;
        const double buildSeconds = timeBuild(
            plan, [&] { tree.reset(); },
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
        QueryRecord record = timeQueries(plan, [&](int first, int last) {
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
        record.data = key;
        record.setup = setup;
        record.search = search;
        const std::string check = checkOurs(search, answers, record.answered);
        report(record, buildText, check);
    }

    void measurePeers() {
        for (std::unique_ptr<PeerIndex>& peer : makePeers()) {
            Setup setup{Structure::Peer, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, PeerLeafSize,
                        peer->name()};
            const double buildSeconds = timeBuild(
                plan, [] {}, [&] { peer->build(data, PeerLeafSize); });
            buildLog.push_back({key, setup, buildSeconds});
            bool first = true;
            for (int k : plan.ks) {
                std::vector<double> dists(static_cast<size_t>(plan.queryCount) * k);
                QueryRecord record = timeQueries(
                    plan, [&](int begin, int end) { peer->search(queries, begin, end, k, dists.data()); });
                record.data = key;
                record.setup = setup;
                record.search = {SearchKind::Standard, 0.0, k};
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
                    plan, [] {}, [&] { peer->build(data, bucket); });
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
            plan, [&] { brute.reset(); },
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
            QueryRecord record = timeQueries(plan, [&](int first, int last) {
                for (int q = first; q < last; ++q)
                    tightLoopNearest(data, queries.point(q), k, dists.data() + static_cast<size_t>(q) * k);
            });
            record.data = key;
            record.setup = floor;
            record.search = {SearchKind::Standard, 0.0, k};
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
        auto& references = search.kind == SearchKind::Radius ? radiusReferences : standardReferences;
        Reference& ref = reference(references, search.k);
        if (search.eps != 0.0) return compareApproximate(ref, answers, answered, search);
        std::string check =
            ref.answered == 0 ? "reference" : compareExact(ref, answers.dists, answered, search.k, 0.0);
        if (check == "same" && search.kind == SearchKind::Radius) {
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

    /// Exact answers must repeat the reference's distances: bit for bit, or within the relative tolerance.
    static std::string compareExact(const Reference& ref, const std::vector<double>& dists, int answered,
                                    int k, double tolerance) {
        if (ref.answered == 0) return "no reference";
        const size_t overlap = static_cast<size_t>(std::min(answered, ref.answered)) * k;
        size_t differing = 0;
        size_t outside = 0;
        for (size_t i = 0; i < overlap; ++i) {
            if (dists[i] == ref.dists[i]) continue;
            ++differing;
            if (std::fabs(dists[i] - ref.dists[i]) > tolerance * std::max(dists[i], ref.dists[i])) ++outside;
        }
        if (outside > 0) return "DIFFERS in " + std::to_string(outside) + " of " + std::to_string(overlap);
        if (differing > 0)
            return "same to 1e-12 (" + std::to_string(differing) + " of " + std::to_string(overlap) +
                   " differ in the last bits)";
        return "same";
    }

    /// An approximate answer's i-th distance is never below the exact i-th; its count never above.
    static std::string compareApproximate(const Reference& ref, const Answers& answers, int answered,
                                          const Search& search) {
        if (ref.answered == 0) return "no reference";
        const int overlap = std::min(answered, ref.answered);
        int below = 0;
        for (size_t i = 0; i < static_cast<size_t>(overlap) * search.k; ++i)
            if (answers.dists[i] < ref.dists[i]) ++below;
        if (search.kind == SearchKind::Radius)
            for (int q = 0; q < overlap; ++q)
                if (answers.counts[q] > ref.counts[q]) ++below;
        return below == 0 ? "≥ exact" : "BELOW EXACT in " + std::to_string(below);
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

/// Every tree of the given rules, with each of the bucket sizes.
std::vector<Setup> withBuckets(const std::vector<Setup>& rules, const std::vector<int>& buckets) {
    std::vector<Setup> trees;
    for (const Setup& rule : rules) {
        for (int bucket : buckets) {
            trees.push_back(rule);
            trees.back().bucket = bucket;
        }
    }
    return trees;
}

// The targets' configurations: the sliding-midpoint kd-tree on uniform data, and the better of it and
// the bd-tree on clustered data, against both peers; builds against nanoflann; brute force on uniform
// data. The bd-tree, slow to build on clustered data, only at the bucket sizes the kd-tree does best with.
Plan quickPlan() {
    const Setup kd{Structure::KdTree, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, 0, ""};
    const Setup bd{Structure::BdTree, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple, 0, ""};
    Plan plan;
    plan.buckets = {1, 4, 8, 16, 32};
    std::vector<Setup> clusteredTrees = withBuckets({kd}, plan.buckets);
    for (const Setup& tree : withBuckets({bd}, {8, 16}))
        clusteredTrees.push_back(tree);
    plan.entries = {{{Family::Uniform, 1000000, 3}, withBuckets({kd}, plan.buckets), true},
                    {{Family::Uniform, 1000000, 8}, withBuckets({kd}, plan.buckets), true},
                    {{Family::Clustered, 1000000, 16}, clusteredTrees, false}};
    plan.ks = {1, 10};
    plan.cap = 0.4;
    return plan;
}

// Every family, size and dimension; every splitting rule, kd and bd with both shrinking rules, every
// bucket size; every search kind, eps and k on the sliding-midpoint trees.
Plan fullPlan() {
    std::vector<Setup> rules;
    const qel::SplitRule splits[] = {qel::SplitRule::SlidingMidpoint, qel::SplitRule::StandardKd,
                                     qel::SplitRule::Midpoint, qel::SplitRule::Fair,
                                     qel::SplitRule::SlidingFair};
    for (qel::SplitRule split : splits)
        rules.push_back({Structure::KdTree, split, qel::ShrinkRule::None, 0, ""});
    for (qel::ShrinkRule shrink : {qel::ShrinkRule::Simple, qel::ShrinkRule::Centroid})
        for (qel::SplitRule split : splits)
            rules.push_back({Structure::BdTree, split, shrink, 0, ""});
    Plan plan;
    plan.buckets = {1, 4, 8, 16, 32};
    for (Family family : {Family::Uniform, Family::Clustered, Family::Manifold})
        for (int n : {100000, 1000000})
            for (int dim : {2, 3, 8, 16})
                plan.entries.push_back({{family, n, dim}, withBuckets(rules, plan.buckets), true});
    plan.ks = {1, 10};
    plan.everySearch = true;
    plan.cap = 1.0;
    plan.buildReps = 2;
    return plan;
}

// Summary tables over everything measured.

const QueryRecord* fastest(const std::vector<QueryRecord>& log, const DataKey& key, int k, auto&& accept) {
    const QueryRecord* best = nullptr;
    for (const QueryRecord& record : log)
        if (record.data == key && record.search.k == k && record.search.eps == 0.0 &&
            record.search.kind == SearchKind::Standard && accept(record.setup) &&
            (!best || record.perQuery < best->perQuery))
            best = &record;
    return best;
}

bool isKdSlidingMidpoint(const Setup& setup) {
    return setup.structure == Structure::KdTree && setup.split == qel::SplitRule::SlidingMidpoint;
}
bool isOurTree(const Setup& setup) {
    return setup.structure == Structure::KdTree || setup.structure == Structure::BdTree;
}

std::string describe(const QueryRecord* record, int queryCount) {
    if (!record) return "—";
    std::string text = seconds(record->perQuery * queryCount);
    if (isOurTree(record->setup))
        text += " (" + structureName(record->setup) + " " + ruleName(record->setup) + ", bucket " +
                std::to_string(record->setup.bucket) + ")";
    return text;
}

/// One line of the targets table.
struct Verdict {
    std::string target;
    std::string data;
    double value = 0.0;
    double goal = 0.0;
};

void printSummary(const Plan& plan, const std::vector<QueryRecord>& queryLog,
                  const std::vector<BuildRecord>& buildLog) {
    std::vector<Verdict> verdicts;
    std::printf("\n## Exact k-nearest queries: ours against the faster peer\n\n"
                "Seconds for %d queries, standard search, eps 0. Ratio = ours / the faster peer.\n\n",
                plan.queryCount);
    std::printf("| data | k | ours: kd-tree, sliding midpoint | ours: best tree | nanoflann | FLANN | "
                "ratio kd sliding midpoint | ratio best tree |\n|---|---|---|---|---|---|---|---|\n");
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
                fastest(queryLog, key, k, [](const Setup& s) { return s.structure == Structure::Peer; });
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
                "| data | bucket | ours: kd-tree, sliding midpoint s | nanoflann s | ratio "
                "|\n|---|---|---|---|---|\n");
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
            const QueryRecord* brute = fastest(
                queryLog, key, k, [](const Setup& s) { return s.structure == Structure::BruteForce; });
            const QueryRecord* floor =
                fastest(queryLog, key, k, [](const Setup& s) { return s.structure == Structure::TightLoop; });
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

/// The system's 1-, 5- and 15-minute load averages: other work on the machine skews every time.
std::string loadAverage() {
    std::FILE* file = std::fopen("/proc/loadavg", "r");
    if (!file) return "unknown";
    double averages[3] = {0.0, 0.0, 0.0};
    const int read = std::fscanf(file, "%lf %lf %lf", &averages[0], &averages[1], &averages[2]);
    std::fclose(file);
    if (read != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f, %.2f, %.2f", averages[0], averages[1], averages[2]);
    return text;
}

// Per-query searches, one query at a time: our kd-tree on its compact image and walking its nodes (the
// search as it was before the image), against the peers, fed the queries in the order given and in a
// Z-curve order of their coordinates (the warm regime: neighbouring queries share nodes and points in
// the caches). The contenders take turns within every repetition, so the machine's load changes hit
// them alike; the fastest repetition of each counts.

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
    size_t differing = 0;
    size_t outside = 0;
    for (size_t i = 0; i < a.dists[order].size(); ++i) {
        const double x = a.dists[order][i];
        const double y = b.dists[order][i];
        if (x == y) continue;
        ++differing;
        if (std::fabs(x - y) > tolerance * std::max(x, y)) ++outside;
    }
    if (outside > 0) return "DIFFERS in " + std::to_string(outside);
    if (differing > 0) return "same to 1e-12 (" + std::to_string(differing) + " in the last bits)";
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
    std::vector<std::unique_ptr<qel::QELkd_tree>> trees;
    std::vector<Contender> contenders;
    const char* walkNames[] = {"ours, node walk", "ours, compact image", "ours, image + leaf-order copy"};
    for (int bucket : buckets) {
        for (Walk walk : {Walk::Image, Walk::Nodes, Walk::ImageWithCopy}) {
            double start = cpuNow();
            trees.push_back(std::make_unique<qel::QELkd_tree>(data.pointArray(), data.count, data.dim, bucket,
                                                              qel::SplitRule::SlidingMidpoint));
            const double build = cpuNow() - start;
            qel::QELkd_tree& tree = *trees.back();
            start = cpuNow();
            // The copy's setting first: it turns the image on.
            tree.copyPointsInLeafOrder(walk == Walk::ImageWithCopy);
            tree.useSearchImage(walk != Walk::Nodes);
            tree.searchImage();
            if (walk != Walk::Nodes)
                std::printf("| kd-tree sliding midpoint%s | %d | %s | %s |\n",
                            walk == Walk::ImageWithCopy ? ", leaf-order copy" : "", bucket,
                            seconds(build).c_str(), seconds(cpuNow() - start).c_str());
            Contender c;
            c.name = walkNames[static_cast<int>(walk)];
            c.bucket = bucket;
            c.ours = true;
            c.walk = walk;
            c.answer = [&tree, k](PointSet& queries, std::vector<int>& indices, std::vector<double>& dists) {
                for (int q = 0; q < queries.count; ++q)
                    tree.searchNearest(queries.points[q], k, indices.data() + static_cast<size_t>(q) * k,
                                       dists.data() + static_cast<size_t>(q) * k, 0.0, Power);
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

bool wanted(const Options& options, const DataKey& key);

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

std::vector<std::string> splitList(const char* text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        if (!item.empty()) items.push_back(item);
    return items;
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--quick | --batch | --per-query] [--family uniform,clustered,manifold] [--n LIST]\n"
                 "          [--dim LIST] [--queries N] [--cap SECONDS] [--reps N]\n"
                 "  --quick    the configurations of the performance targets only\n"
                 "  --batch    the batch search and the parallel build against the peers (--reps rounds, --dim)\n"
                 "  --per-query  one query at a time, in the given and a Z-curve order: the compact image\n"
                 "             against the node walk and the peers (k = 10; with --n, --dim, --queries)\n"
                 "  --family, --n, --dim   measure only the point sets matching every given list\n"
                 "  --queries  queries per point set (default 10000)\n"
                 "  --cap      CPU seconds after which a query run stops and its time is extrapolated\n"
                 "  --reps     runs of every build and query set; the fastest counts\n",
                 program);
    return 2;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--quick" || flag == "--batch" || flag == "--per-query") {
            (flag == "--quick" ? options.quick : flag == "--batch" ? options.batch : options.perQuery) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (flag == "--family") {
            options.families = splitList(value);
        } else if (flag == "--n" || flag == "--dim") {
            for (const std::string& item : splitList(value)) {
                const long number = std::strtol(item.c_str(), &end, 10);
                if (*end != '\0' || number < 1) return false;
                (flag == "--n" ? options.sizes : options.dims).push_back(static_cast<int>(number));
            }
        } else if (flag == "--queries" || flag == "--reps") {
            const long number = std::strtol(value, &end, 10);
            if (*end != '\0' || number < 1) return false;
            (flag == "--queries" ? options.queryCount : options.reps) = static_cast<int>(number);
        } else if (flag == "--cap") {
            options.cap = std::strtod(value, &end);
            if (*end != '\0' || !(options.cap > 0)) return false;
        } else {
            return false;
        }
    }
    for (const std::string& name : options.families) {
        Family family;
        if (!familyFromName(name, family)) return false;
    }
    return true;
}

bool wanted(const Options& options, const DataKey& key) {
    const bool family = options.families.empty() ||
                        std::find(options.families.begin(), options.families.end(), familyName(key.family)) !=
                            options.families.end();
    const bool size = options.sizes.empty() ||
                      std::find(options.sizes.begin(), options.sizes.end(), key.n) != options.sizes.end();
    const bool dim = options.dims.empty() ||
                     std::find(options.dims.begin(), options.dims.end(), key.dim) != options.dims.end();
    return family && size && dim;
}

} // namespace
} // namespace bench

int main(int argc, char** argv) {
    using namespace bench;
    Options options;
    if (!parseOptions(argc, argv, options)) return usage(argv[0]);
    if (options.perQuery) return runPerQuery(options);
    Plan plan = options.quick ? quickPlan() : fullPlan();
    std::erase_if(plan.entries, [&](const PlanEntry& entry) { return !wanted(options, entry.data); });
    if (options.queryCount > 0) plan.queryCount = options.queryCount;
    if (options.cap > 0) plan.cap = options.cap;
    if (options.reps > 0) plan.buildReps = plan.queryReps = options.reps;

    qel::metricKind = qel::euclideanMetric;
    if (options.batch) {
        std::printf("Load average before: %s.\n", loadAverage().c_str());
        const double start = wallNow();
        runBatchBench(options.reps > 0 ? options.reps : 3, options.dims);
        std::printf("\nTotal benchmark wall time %s s. Load average after: %s.\n",
                    seconds(wallNow() - start).c_str(), loadAverage().c_str());
        return 0;
    }
    const std::vector<std::unique_ptr<PeerIndex>> peers = makePeers();
    std::string peerNames;
    for (const auto& peer : peers)
        peerNames += (peerNames.empty() ? "" : ", ") + peer->name();
    std::printf(
        "# knnbench-bench%s\n\nEuclidean metric (squared distances), one thread, %d queries per point set. "
        "Times are the thread's CPU seconds. Fastest of %d builds and of %d query runs; a query run stops "
        "after its first %g s and its time is extrapolated to all queries (marked ~). Peers: %s.\n",
        options.quick ? " --quick" : "", plan.queryCount, plan.buildReps, plan.queryReps, plan.cap,
        peerNames.empty() ? "none found" : peerNames.c_str());

    std::printf("Load average before: %s.\n", loadAverage().c_str());
    const double start = wallNow();
    std::vector<QueryRecord> queryLog;
    std::vector<BuildRecord> buildLog;
    for (const PlanEntry& entry : plan.entries)
        DataRun(plan, entry, queryLog, buildLog).run();
    printSummary(plan, queryLog, buildLog);
    std::printf("\nTotal benchmark wall time %s s. Load average after: %s.\n",
                seconds(wallNow() - start).c_str(), loadAverage().c_str());
    return 0;
}
