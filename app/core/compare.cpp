// The compare run: per configuration, the builds (those of the configuration before when the two differ
// only in search, eps or visit limit), for a tree a pass that times each query alone and reads the visit
// counter, the timed passes of the batch searches over all queries and the comparison with the exact
// answer.
#include "compare.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <limits>
#include <memory>
#include <numeric>

#include "progress.h"
#include "session.h"
#include <qel/kdbatch.h>
#include <qel/workerthreads.h>

namespace knn {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Up to this many distance computations (n times m) the exact answer comes from brute force; above,
/// from an exact kd-tree, checked against brute force on `ReferenceSampleQueries` queries.
constexpr double BruteReferenceWork = 5e7;
constexpr int ReferenceSampleQueries = 32;
constexpr int ReferenceBucketSize = 8;
/// A chunk expected to take less than this runs on the calling thread alone.
constexpr double ThreadWorthSeconds = 1e-3;

std::size_t rowStart(int q, int k) {
    return static_cast<std::size_t>(q) * static_cast<std::size_t>(k);
}

/// Answers of m queries, k slots each.
struct Answers {
    std::vector<int> idx;
    std::vector<double> dists;

    void resize(int m, int k) {
        idx.assign(rowStart(m, k), qel::noIndex);
        dists.assign(rowStart(m, k), qel::unboundedDistance);
    }
};

/// The seconds of a pass over all queries, chunk by chunk, and the longest mean per query of a chunk.
struct PassTimes {
    double seconds = 0.0;
    double slowestPerQuery = 0.0;
};

/// The build of a configuration's structure over n points of dim coordinates, on `threads` threads.
StructureBuild buildOf(const CompareConfig& c, qel::PointArray data, int n, int dim, int threads) {
    return [=]() -> BuiltStructure {
        const auto start = Clock::now();
        std::unique_ptr<qel::QELpointSet> structure = BuildStructure(c, data, n, dim, threads);
        return {std::move(structure), secondsSince(start)};
    };
}

/// Walks a compare run's work and tells the observer.
class Tracker {
public:
    Tracker(const CompareObserver& observer, std::int64_t total) : observer(observer), total(total) {}
    bool cancelled() const { return observer.cancelled && observer.cancelled(); }
    void advance(std::int64_t answers) {
        done = std::min(done + answers, total); // a reference tree that fails its check costs one pass more
        if (observer.progress) observer.progress(done, total);
    }
    /// The build's structure; none when the run was cancelled before or during it.
    BuiltStructure build(const StructureBuild& make) const {
        if (cancelled()) return {};
        return observer.build ? observer.build(make) : make();
    }

private:
    const CompareObserver& observer;
    std::int64_t total;
    std::int64_t done = 0;
};

/// True when the two configurations build the same structure.
bool sameBuild(const CompareConfig& a, const CompareConfig& b) {
    return a.mode == b.mode && a.split == b.split && a.shrink == b.shrink && a.bucketSize == b.bucketSize;
}

class CompareRun {
public:
    CompareRun(qel::PointArray data, int n, qel::PointArray queries, int m, int dim,
               const CompareSettings& settings, Tracker& tracker)
        : data(data), n(n), queries(queries), m(m), dim(dim), settings(settings), tracker(tracker) {}

    /// False when cancelled.
    bool measure(const CompareConfig& config, CompareRow& row);

private:
    /// Runs chunk(first, count, threads) over the positions 0..m-1 in chunks sized to `ChunkSeconds`,
    /// looking at the cancel flag before each; empty when cancelled.
    template <class Chunk> std::optional<PassTimes> inChunks(Chunk chunk);
    /// One pass over all queries through the batch searches, taken as `ordered` holds them (query
    /// order[i] at position i), into out in query order; empty when cancelled.
    std::optional<PassTimes> timedPass(const Searcher& searcher, const std::vector<int>& order,
                                       qel::PointArray ordered, Answers& out);
    /// Times each query alone and reads its visit count, its answer into out; false when cancelled.
    bool probePass(const Searcher& searcher, CompareRow& row, Answers& out);
    /// The searcher of a structure for a kind of search and eps, with the run's k, power and radius.
    Searcher searcherOf(qel::QELpointSet* structure, SearchRange range, double eps) const;
    /// The batch searches for count queries from position first of queries on threads, into out's rows.
    void batch(const Searcher& searcher, qel::PointArray queries, int first, int count, int threads,
               Answers& out) const;
    /// The exact answers of the configuration's kind of search, computed on first use.
    const Answers* reference(SearchRange range);
    void accuracy(const Answers& found, const Answers& exact, CompareRow& row) const;

    qel::PointArray data;
    int n;
    qel::PointArray queries;
    int m;
    int dim;
    const CompareSettings& settings;
    Tracker& tracker;
    std::optional<Answers> nearestReference; ///< standard and priority searches
    std::optional<Answers> radiusReference;  ///< the fixed-radius search
    /// The structure of the last configuration and what its builds measured: the next configuration
    /// searches it again when the two differ only in search, eps or visit limit.
    struct KeptStructure {
        CompareConfig config; ///< the configuration it was built for
        BuiltStructure built;
        double buildSeconds; ///< best of the repetitions
        std::optional<qel::TreeStats> tree;
        std::size_t memoryBytes;
    };
    std::optional<KeptStructure> kept;
};

template <class Chunk> std::optional<PassTimes> CompareRun::inChunks(Chunk chunk) {
    PassTimes times;
    // From a query per thread on: a search that visits most of a large set takes a good part of
    // ChunkSeconds alone.
    const int threads = std::max(settings.threads, 1);
    std::int64_t size = threads;
    double querySeconds = 0.0; ///< per query in the last chunk; 0 before the first
    for (int first = 0; first < m;) {
        if (tracker.cancelled()) return std::nullopt;
        const int count = static_cast<int>(std::min<std::int64_t>(size, m - first));
        // Starting the other threads costs tens of microseconds, most of a small chunk of fast queries.
        const bool worthThreads = querySeconds * count >= ThreadWorthSeconds;
        std::feclearexcept(FE_ALL_EXCEPT);
        const auto start = Clock::now();
        chunk(first, count, worthThreads ? threads : 1);
        const double seconds = secondsSince(start);
        // Ends the compare run as a fault ends the one-configuration run: an exact search whose
        // distances overflow leaves slots empty, and its row would show a recall below 1.
        CheckFloatingPointFaults();
        times.seconds += seconds;
        querySeconds = seconds / count;
        times.slowestPerQuery = std::max(times.slowestPerQuery, querySeconds);
        tracker.advance(count);
        size = nextChunkSize(size, seconds, threads);
        first += count;
    }
    return times;
}

Searcher CompareRun::searcherOf(qel::QELpointSet* structure, SearchRange range, double eps) const {
    return SearcherOf(structure, range, settings.k, eps, settings.power, settings.radius);
}

void CompareRun::batch(const Searcher& searcher, qel::PointArray queries, int first, int count, int threads,
                       Answers& out) const {
    const std::size_t row = rowStart(first, settings.k);
    SearchBatch(searcher, queries + first, count, out.idx.data() + row, out.dists.data() + row, threads);
}

std::optional<PassTimes> CompareRun::timedPass(const Searcher& searcher, const std::vector<int>& order,
                                               qel::PointArray ordered, Answers& out) {
    const int k = settings.k;
    Answers inOrder;
    inOrder.resize(m, k);
    const std::optional<PassTimes> times = inChunks(
        [&](int first, int count, int threads) { batch(searcher, ordered, first, count, threads, inOrder); });
    if (!times) return times;
    const auto rowOf = [k](int q) { return static_cast<std::ptrdiff_t>(rowStart(q, k)); };
    for (int i = 0; i < m; ++i) {
        const int q = order[static_cast<std::size_t>(i)];
        std::copy_n(inOrder.idx.begin() + rowOf(i), k, out.idx.begin() + rowOf(q));
        std::copy_n(inOrder.dists.begin() + rowOf(i), k, out.dists.begin() + rowOf(q));
    }
    return times;
}

bool CompareRun::probePass(const Searcher& s, CompareRow& row, Answers& out) {
    std::vector<double> seconds(static_cast<std::size_t>(m), 0.0);
    std::vector<int> visits(static_cast<std::size_t>(m), 0);
    const int k = settings.k;
    const auto pass = [&](int first, int count, int threads) {
        const int parts = std::min(threads, count);
        qel::runOnThreads(static_cast<std::size_t>(parts), [&](std::size_t part) {
            const auto p = static_cast<std::int64_t>(part);
            const int begin = first + static_cast<int>(count * p / parts);
            const int end = first + static_cast<int>(count * (p + 1) / parts);
            for (int q = begin; q < end; ++q) {
                int* idx = out.idx.data() + rowStart(q, k);
                double* dists = out.dists.data() + rowStart(q, k);
                const auto start = Clock::now();
                SearchOne(s, queries[q], idx, dists);
                seconds[static_cast<std::size_t>(q)] = secondsSince(start);
                visits[static_cast<std::size_t>(q)] = LastVisitCount(s);
            }
        });
    };
    const bool done = inChunks(pass).has_value();
    if (!done || m == 0) return done;
    row.slowestQuerySeconds = *std::max_element(seconds.begin(), seconds.end());
    // A sum of equal times divided back can round above each of them.
    row.meanQuerySeconds =
        std::min(std::accumulate(seconds.begin(), seconds.end(), 0.0) / m, row.slowestQuerySeconds);
    row.mostVisited = *std::max_element(visits.begin(), visits.end());
    row.meanVisited = std::accumulate(visits.begin(), visits.end(), 0.0) / m;
    return true;
}

const Answers* CompareRun::reference(SearchRange range) {
    std::optional<Answers>& slot = range == SearchRange::FixedRadius ? radiusReference : nearestReference;
    if (slot) return &*slot;
    const SearchRange kind = range == SearchRange::FixedRadius ? range : SearchRange::Standard;
    const int k = settings.k;
    qel::setVisitLimit(0);
    qel::QELbruteForce brute(data, n, dim);
    Answers exact;
    exact.resize(m, k);
    const Searcher bruteSearcher = searcherOf(&brute, kind, 0.0);
    if (static_cast<double>(n) * m > BruteReferenceWork) {
        const CompareConfig exactTree{SearchMode::KdTree, kind, qel::SplitRule::Default,
                                      qel::ShrinkRule::Default, ReferenceBucketSize};
        const BuiltStructure built = tracker.build(buildOf(exactTree, data, n, dim, settings.threads));
        if (!built.structure) return nullptr;
        const Searcher treeSearcher = searcherOf(built.structure.get(), kind, 0.0);
        if (!inChunks([&](int first, int count, int threads) {
                batch(treeSearcher, queries, first, count, threads, exact);
            }))
            return nullptr;
        // The tree's answers must be brute force's: the same distances in every slot of the sampled queries.
        Answers check;
        check.resize(m, k);
        const int step = std::max(1, m / ReferenceSampleQueries);
        bool equal = true;
        for (int q = 0; q < m && equal; q += step) {
            batch(bruteSearcher, queries, q, 1, 1, check);
            equal = std::equal(check.dists.begin() + static_cast<std::ptrdiff_t>(rowStart(q, k)),
                               check.dists.begin() + static_cast<std::ptrdiff_t>(rowStart(q + 1, k)),
                               exact.dists.begin() + static_cast<std::ptrdiff_t>(rowStart(q, k)));
        }
        if (equal) return &slot.emplace(std::move(exact));
    }
    if (!inChunks([&](int first, int count, int threads) {
            batch(bruteSearcher, queries, first, count, threads, exact);
        }))
        return nullptr;
    return &slot.emplace(std::move(exact));
}
void CompareRun::accuracy(const Answers& found, const Answers& exact, CompareRow& row) const {
    const int k = settings.k;
    std::int64_t trueCount = 0;
    std::int64_t foundCount = 0;
    double errorSum = 0.0;
    int errorQueries = 0;
    row.largestError = 0.0;
    row.emptySlotQueries = 0;
    for (int q = 0; q < m; ++q) {
        const int* trueIdx = exact.idx.data() + rowStart(q, k);
        const int* foundIdx = found.idx.data() + rowStart(q, k);
        const int filled = static_cast<int>(std::find(trueIdx, trueIdx + k, qel::noIndex) - trueIdx);
        if (std::find(foundIdx, foundIdx + k, qel::noIndex) != foundIdx + k) ++row.emptySlotQueries;
        if (filled == 0) continue;
        trueCount += filled;
        // A neighbour is true when it is no farther than the last exact one: among points at that very
        // distance any is as good, whatever the tie order.
        const double last = exact.dists[rowStart(q, k) + static_cast<std::size_t>(filled - 1)];
        int correct = 0;
        double lastFound = 0.0;
        for (int j = 0; j < k; ++j) {
            if (foundIdx[j] == qel::noIndex) continue;
            const double d = qel::pointDistance(dim, queries[q], data[foundIdx[j]], settings.power);
            if (d <= last) ++correct;
            if (j == filled - 1) lastFound = d;
        }
        foundCount += std::min(correct, filled);
        if (foundIdx[filled - 1] == qel::noIndex) continue;
        const double trueDistance = ReportedDistance(last, settings.power);
        const double foundDistance = ReportedDistance(lastFound, settings.power);
        const double error = trueDistance > 0.0     ? foundDistance / trueDistance - 1.0
                             : foundDistance == 0.0 ? 0.0
                                                    : std::numeric_limits<double>::infinity();
        errorSum += error;
        ++errorQueries;
        row.largestError = std::max(row.largestError, error);
    }
    row.recall = trueCount > 0 ? static_cast<double>(foundCount) / static_cast<double>(trueCount) : 1.0;
    row.meanError = errorQueries > 0 ? errorSum / errorQueries : std::numeric_limits<double>::quiet_NaN();
}

bool CompareRun::measure(const CompareConfig& config, CompareRow& row) {
    row.config = config;
    const Answers* exact = reference(config.range);
    if (!exact) return false;
    qel::setVisitLimit(config.visitLimit);

    const int repetitions = std::max(settings.repetitions, 1);
    if (!kept || !sameBuild(kept->config, config)) {
        kept.reset(); // one structure in memory at a time
        const StructureBuild make = buildOf(config, data, n, dim, settings.threads);
        KeptStructure next{config, {}, std::numeric_limits<double>::infinity(), {}, 0};
        for (int r = 0; r < repetitions; ++r) {
            next.built = {};
            next.built = tracker.build(make);
            if (!next.built.structure) return false;
            next.buildSeconds = std::min(next.buildSeconds, next.built.seconds);
        }
        if (auto* tree = dynamic_cast<qel::QELkd_tree*>(next.built.structure.get())) {
            next.tree.emplace();
            tree->collectStats(*next.tree);
        }
        next.memoryBytes = qel::structureBytes(*next.built.structure);
        kept.emplace(std::move(next));
    }
    row.buildSeconds = kept->buildSeconds;
    row.tree = kept->tree;
    row.memoryBytes = kept->memoryBytes;
    auto* tree = dynamic_cast<qel::QELkd_tree*>(kept->built.structure.get());

    const Searcher searcher = searcherOf(kept->built.structure.get(), config.range, config.eps);
    Answers found;
    found.resize(m, settings.k);
    // Brute force visits every point, so only a tree's queries are searched alone for their visits.
    if (tree && !probePass(searcher, row, found)) return false;
    if (!tree && m > 0) row.meanVisited = row.mostVisited = n;

    // The passes take the queries in the batch order over all of them, as the run driver does, so each
    // chunk goes on where the caches were left; every pass needs the order, so each is charged with it.
    const auto orderStart = Clock::now();
    std::vector<int> order(static_cast<std::size_t>(m));
    qel::batchOrder(*kept->built.structure, queries, m, order.data(), settings.threads);
    std::vector<qel::Point> ordered(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        ordered[i] = queries[order[i]];
    const double orderSeconds = secondsSince(orderStart);
    row.querySeconds = std::numeric_limits<double>::infinity();
    PassTimes fastestPass;
    for (int r = 0; r < repetitions; ++r) {
        const std::optional<PassTimes> pass = timedPass(searcher, order, ordered.data(), found);
        if (!pass) return false;
        if (orderSeconds + pass->seconds < row.querySeconds) fastestPass = *pass;
        row.querySeconds = std::min(row.querySeconds, orderSeconds + pass->seconds);
    }
    if (!tree && m > 0) {
        row.slowestQuerySeconds = fastestPass.slowestPerQuery;
        row.meanQuerySeconds = std::min(fastestPass.seconds / m, row.slowestQuerySeconds);
    }
    accuracy(found, *exact, row);
    return true;
}

/// The fastest row by query time among those that pass; -1 for none.
template <class Pass> int fastest(const std::vector<CompareRow>& rows, Pass pass) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const CompareRow& row = rows[static_cast<std::size_t>(i)];
        if (pass(row) && (best < 0 || row.querySeconds < rows[static_cast<std::size_t>(best)].querySeconds))
            best = i;
    }
    return best;
}

} // namespace

CompareResult RunCompare(qel::PointArray data, int n, qel::PointArray queries, int m, int dim,
                         const std::vector<CompareConfig>& configs, const CompareSettings& settings,
                         const CompareObserver& observer) {
    // Put back however the run ends, a floating-point fault included.
    struct LimitRestore {
        int saved;
        ~LimitRestore() { qel::setVisitLimit(saved); }
    } restore{qel::maxPointsVisit};
    // Per configuration: the timed passes and, for a tree, the pass that times each query; once per kind
    // of search, the exact answers.
    const auto radius = [](const CompareConfig& c) { return c.range == SearchRange::FixedRadius; };
    const auto tree = [](const CompareConfig& c) { return c.mode != SearchMode::BruteForce; };
    const std::int64_t references = (std::any_of(configs.begin(), configs.end(), radius) ? 1 : 0) +
                                    (std::all_of(configs.begin(), configs.end(), radius) ? 0 : 1);
    const std::int64_t passes =
        static_cast<std::int64_t>(configs.size()) * std::max(settings.repetitions, 1) +
        std::count_if(configs.begin(), configs.end(), tree) + references;
    const std::int64_t total = static_cast<std::int64_t>(m) * passes;
    Tracker tracker(observer, total);
    CompareRun run(data, n, queries, m, dim, settings, tracker);
    CompareResult result;
    result.configCount = static_cast<int>(configs.size());
    for (const CompareConfig& config : configs) {
        CompareRow row;
        if (!run.measure(config, row)) {
            result.cancelled = true;
            break;
        }
        result.rows.push_back(std::move(row));
    }
    result.fastestExact = fastest(result.rows, [](const CompareRow& row) { return row.exact(); });
    result.fastestAccurate =
        fastest(result.rows, [](const CompareRow& row) { return row.recall >= AccurateRecall; });
    return result;
}

} // namespace knn
