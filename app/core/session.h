// The main window's run state and its run driver: one press of "OK" resets the previous run, loads
// the point files, echoes the options, builds the chosen structure, answers every query and presents
// the results, all through the window operations. The driver owns the two tables and the chart data
// that the windows show.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buildwait.h"
#include "chartcontent.h"
#include "compare.h"
#include "pointfile.h"
#include "resulttable.h"
#include "searchcall.h"
#include "statistics.h"
#include "vocabulary.h"
#include "windowops.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>
#include <qel/qelinclude.h>

namespace knn {

/// Raises a `RunError` naming the fault when an overflow, a division by zero or an invalid operation
/// was raised since the flags were last cleared: searches whose distances overflow leave slots empty.
void CheckFloatingPointFaults();

/// The distance the user sees for a library distance d: the metric's root. A root the maths library
/// reports out of range or out of its domain raises a `RunError`.
double ReportedDistance(double d, int power);

/// A library point array released with the library's own routine.
struct PointArrayDeleter {
    void operator()(qel::Point* points) const;
};
using OwnedPointArray = std::unique_ptr<qel::Point[], PointArrayDeleter>;

/// Run state of the main window; `ResetRun` puts every field back to the value given here.
struct SearchSession {
    int k = 1;                                       ///< neighbours per query
    int dim = 2;                                     ///< coordinates of data and query points
    double eps = 0.0;                                ///< error bound of approximate search
    int power = 2;                                   ///< metric power passed to every search
    std::optional<TextLines> dataLines;              ///< the input file's lines, while anything may read them
    std::optional<TextLines> queryLines;             ///< the query file's lines
    int dataCount = 0;                               ///< number of data points
    int queryCount = 0;                              ///< number of query points
    OwnedPointArray dataPts;                         ///< dataCount points of dim coordinates
    OwnedPointArray queryPts;                        ///< queryCount points of dim coordinates
    std::unique_ptr<qel::QELbruteForce> bruteForce;  ///< built by the last brute-force run
    std::unique_ptr<qel::QELkd_tree> kdTree;         ///< built by the last kd-tree run
    std::unique_ptr<qel::QELbd_tree> bdTree;         ///< built by the last bd-tree run
    int resultRows = 0;                              ///< rows allocated in resultDists and resultIdx
    std::vector<double> resultDists;                 ///< resultRows rows of k reported distances, zero-filled
    std::vector<int> resultIdx;                      ///< resultRows rows of k 1-based neighbour numbers
    SearchRange searchRange = SearchRange::Standard; ///< chosen kind of search
    double radius = 0.0;                             ///< fixed search radius R
    qel::SplitRule splitRule = qel::SplitRule::Default;    ///< splitting rule of tree construction
    qel::ShrinkRule shrinkRule = qel::ShrinkRule::Default; ///< shrinking rule of bd-tree construction
    int bucketSize = 1;                                    ///< tree bucket size
    bool earlyStop = false;                                ///< early termination switched on
    int maxVisit = 100;                                    ///< visit limit last written to the library
    SearchMode searchMode = SearchMode::KdTree;            ///< structure chosen by the current run
    int dataSeries = -1;     ///< index of the data series in the chart, -1 for none
    int querySeries = -1;    ///< index of the query series in the chart, -1 for none
    int lineSeries = -1;     ///< index of the last neighbour line series, -1 for none
    ColumnStats columnStats; ///< statistics of the column being reported; not reset
};

/// The paths of a run's data and query files.
struct RunInputs {
    std::string data;
    std::string query;
};

class RunDriver {
public:
    /// Builds the run state of a new main window and resets it.
    explicit RunDriver(WindowOps& window);
    /// The window's destruction: releases what the run state holds.
    ~RunDriver();
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    /// The "OK" button: ResetRun, PrepareSearch, RunQueries. True when the run completed (the results
    /// were shown); false when it ended early, after its message.
    bool BitBtn1Click();
    /// The "Reload data" button: LoadPoints alone. True when the load succeeded.
    bool BitBtn3Click();
    /// A compare run: loads the files and reads every query as "OK" does, takes k, the metric and R from
    /// the panel and measures every configuration, each the best of `repetitions`. Its progress goes to
    /// `progress` and to the window, and a cancel the window asks for ends it with the configurations
    /// measured so far. Empty when the run ended before measuring (the load, a query line, a cancel or
    /// an error), after its message.
    std::optional<CompareResult> CompareConfigurations(const std::vector<CompareConfig>& configs,
                                                       int repetitions,
                                                       const ProgressCallback& progress = {});

    void ResetRun();
    /// Loads, echoes the options, builds the structure and prepares tables and result rows; false
    /// when the run ends here.
    bool PrepareSearch();
    /// Answers every query and presents the results; false when the run ended early.
    bool RunQueries();
    void FreeResults();
    void SetStatus(const std::string& text, int panel);
    bool LoadPoints();
    /// Says so when the file's blank lines take so much memory that a mistake is likelier than intent.
    void warnOfBlankLines(const TextLines& lines, const std::string& path);
    /// Converts line index of lines into the first dim coordinates of point; false after a message.
    bool ReadPt(int dim, int index, qel::Point point, const TextLines& lines);
    /// Builds the chart content and hands it to the window.
    void DrawChart();
    /// Threads that convert the data lines, build the tree and answer the queries of a run; 1 (the
    /// default) does all on the calling thread. Results, messages and the point where a run ends do not
    /// depend on it.
    void setThreads(int count);
    /// The tree that answered every query of the last run that got so far; null after a brute-force
    /// run, before any run answered its queries, and from the start of the next run on. A load alone
    /// keeps it, and the points it reads.
    qel::QELkd_tree* answeringTree() const { return answering; }
    /// True while the two tables hold every result row of a run: from their writing (a cancel of the
    /// chart keeps them) until the next run from "OK" starts, which clears them.
    bool hasResults() const { return resultsComplete; }
    /// The data and query files the last run read, which no output of it may replace.
    const RunInputs& inputFiles() const { return loadedFiles; }

    const SearchSession& session() const { return state; }
    const ResultTable& dataTable() const { return dataRows; }
    const ResultTable& queryTable() const { return queryRows; }
    const ChartContent& chart() const { return chartContent; }
    const RunTimings& timings() const { return phaseTimes; }

private:
    /// Shows a message box, keeping the time it stays open out of the phase times.
    void showMessage(const std::string& text);
    /// Clears or shapes a shown table between the window's two reshape notifications.
    template <class Change> void reshapeTable(TableId which, Change change);
    /// FillTable of lines into a shown table, from data column 1.
    void fillTable(TableId which, const TextLines& lines);
    /// Appends the Index and Dist columns to the query table and writes every query's results.
    void writeResultColumns();
    /// Passes progress to the window every `ProgressInterval` items and at the end.
    void reportPhase(RunPhase phase, std::int64_t done, std::int64_t total);
    /// Reports progress of the phase to the window, then stops the run if the user cancelled it.
    ProgressCallback phaseProgress(RunPhase phase);
    /// Ends the run by a `RunCancelled` when the window asks to cancel.
    void stopIfCancelled();
    /// Runs a handler's steps; a cancel ends them like an early end, with "Run cancelled" in panel 2.
    bool unlessCancelled(const std::function<bool()>& steps);
    /// Panel 2 of a handler that ended early: "Run failed" unless it was cancelled.
    void statusAfterEarlyEnd();
    /// Builds the configuration's structure through `builds`; a cancel during the build ends the run.
    std::unique_ptr<qel::QELpointSet> buildStructure(const SearchConfig& config);
    /// Reads every query line into queryPts; false when the run ends there: at a line that cannot be
    /// read, after its messages, or, once the first query is read, when the run is not searchable (it
    /// has no structure).
    bool readQueries(bool searchable);

    WindowOps& window;
    SearchSession state;
    ResultTable dataRows;      ///< `DataTable`
    ResultTable queryRows;     ///< `QueryTable`
    ChartContent chartContent; ///< what DrawChart last built
    RunTimings phaseTimes;     ///< phase times of the current run
    double messageSeconds = 0; ///< seconds message boxes stayed open, ever; the phase clocks leave them out
    FieldList fieldScratch;    ///< ReadPt's fields, reused from query to query
    std::string numberScratch; ///< ReadPt's normalised number text
    int threads = 1;           ///< threads that convert the data lines, build the tree and answer the queries

    qel::QELkd_tree* answering = nullptr; ///< see answeringTree
    OwnedPointArray answeringPoints;      ///< the answering tree's points after a load alone replaced them
    RunInputs loadedFiles;                ///< see inputFiles
    bool resultsComplete = false;         ///< see hasResults
    bool stepsCancelled = false;          ///< the last steps of unlessCancelled ended by a cancel
    BuildWait builds; ///< the builds of the runs; the points of one given up stay with it until it ends
};

} // namespace knn
