// knnbench-bench: times building and searching the library's structures on generated point sets, and the
// peer libraries and a brute-force floor on the same arrays in the same process, checks that every exact
// answer has the same distances, and prints Markdown tables ending in the ratios ours / peer in which
// the performance targets are stated. `--quick` measures the targets' configurations; by default every
// family, size, dimension, splitting and shrinking rule, bucket size and search is measured. `--batch`
// measures the batch search and the parallel build instead (batchbench.cpp), `--per-query` one query at
// a time in two orders (perquery.cpp).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "batchbench.h"
#include "datarun.h"
#include "options.h"
#include "peers.h"
#include "perquery.h"
#include "plan.h"
#include "records.h"
#include "summary.h"
#include "timing.h"

int main(int argc, char** argv) {
    using namespace bench;
    Options options;
    if (!parseOptions(argc, argv, options)) return usage(argv[0]);
    qel::metricKind = peerMetric().kind;
    if (options.perQuery) return runPerQuery(options);
    Plan plan = options.quick ? quickPlan() : fullPlan();
    std::erase_if(plan.entries, [&](const PlanEntry& entry) { return !wanted(options, entry.data); });
    if (options.queryCount > 0) plan.queryCount = options.queryCount;
    if (options.cap > 0) plan.cap = options.cap;
    if (options.reps > 0) plan.buildReps = plan.queryReps = options.reps;

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
        runDataSet(plan, entry, queryLog, buildLog);
    printSummary(plan, queryLog, buildLog);
    std::printf("\nTotal benchmark wall time %s s. Load average after: %s.\n",
                seconds(wallNow() - start).c_str(), loadAverage().c_str());
    return 0;
}
