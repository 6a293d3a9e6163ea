// The compare run: many configurations (structure, search, rules, bucket size, eps, visit limit) measured
// on the same data and queries, each against the exact answer, so a user sees which one serves best.
// Build and query times are the best of a few repetitions; accuracy is measured, never assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compareconfig.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>

namespace knn {

/// What every configuration of a compare run shares. `qel::metricKind` is the caller's to set.
struct CompareSettings {
    int k = 1;
    int power = 2;
    double radius = 0.0; ///< R of the fixed-radius search, not powered
    int repetitions = 3; ///< builds and query passes per configuration, the best taken
    int threads = 1;     ///< threads that build the trees and answer the queries
};

/// A structure and the seconds its build took, timed on the thread that built it.
struct BuiltStructure {
    std::unique_ptr<qel::QELpointSet> structure;
    double seconds = 0.0;
};

/// A build that holds copies of everything it reads but the data points, so it can outlive a run
/// cancelled during it.
using StructureBuild = std::function<BuiltStructure()>;

/// Progress, cancel and builds of a compare run; all are called from the calling thread only.
struct CompareObserver {
    /// Work done of the whole run, in query answers.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    /// Polled between configurations, between builds and between chunks of queries, which are sized
    /// to take a few hundredths of a second, or hold one query per thread where a query takes longer.
    std::function<bool()> cancelled;
    /// Runs a build, for instance on a thread it can stop waiting for: the built structure, or none
    /// when the run was cancelled during the build. Left empty, builds run on the calling thread.
    std::function<BuiltStructure(const StructureBuild&)> build;
};

/// The measurements of one configuration.
struct CompareRow {
    CompareConfig config;
    double buildSeconds = 0.0; ///< best of the repetitions
    double querySeconds = 0.0; ///< all queries, best of the repetitions
    /// The mean per query of the pass that gives slowestQuerySeconds, on the same clock, so never above it.
    double meanQuerySeconds = 0.0;
    /// The longest query, each timed alone; for brute force, whose queries all read every point, the
    /// longest mean per query of a timed chunk of the fastest pass.
    double slowestQuerySeconds = 0.0;
    double meanVisited = 0.0; ///< data points visited per query
    int mostVisited = 0;
    std::optional<qel::TreeStats> tree; ///< empty for brute force
    std::size_t memoryBytes = 0;        ///< the structure's own memory; the data points are the caller's
    double recall = 0.0;                ///< true neighbours found / true neighbours, over all queries
    double meanError = 0.0; ///< relative error of the last exact neighbour's distance; NaN: no query had one
    double largestError = 0.0;
    int emptySlotQueries = 0; ///< queries whose answer holds an empty slot

    bool exact() const { return recall == 1.0 && largestError == 0.0; }
};

struct CompareResult {
    std::vector<CompareRow> rows; ///< the configurations measured, in run order
    int configCount = 0;          ///< configurations asked for
    bool cancelled = false;       ///< rows holds the configurations finished before the cancel
    int fastestExact = -1;        ///< row of least query time among the exact ones; -1 for none
    int fastestAccurate = -1;     ///< row of least query time with recall >= `AccurateRecall`; -1 for none
};

inline constexpr double AccurateRecall = 0.95;

/// Measures every configuration over n data points and m queries of dim coordinates (k <= n). The
/// library's visit limit is set per configuration and put back at the end. A configuration that differs
/// from the one before only in search, eps or visit limit searches that one's structure and takes its
/// build figures: the rows of a grid over eps and visit limits, which ExpandGrid puts side by side, build
/// their structure once.
/// A search that raises a floating-point fault ends the run with a `RunError`, as it ends the
/// one-configuration run.
CompareResult RunCompare(qel::PointArray data, int n, qel::PointArray queries, int m, int dim,
                         const std::vector<CompareConfig>& configs, const CompareSettings& settings,
                         const CompareObserver& observer = {});

} // namespace knn
