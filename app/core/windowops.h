// The one interface through which the test-bench core talks to its windows: it reads the option
// panel, writes values back, sets the status panels, shows message boxes, writes the report, tells
// the window that a table or the chart changed, reports progress and timings, shows the results, and
// asks whether the user wants the run to stop. The desktop front end implements it with its controls;
// the headless front end with its flags.
//
// Texts are UTF-8. Line breaks inside a message are "\n". Every operation is called from the thread
// that runs the core's handlers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "chartcontent.h"
#include "progress.h"
#include "resulttable.h"

namespace knn {

/// `DataTable` is the data points' list view (ListView1), `QueryTable` the queries' (ListView2).
enum class TableId { DataTable, QueryTable };

/// The long loops that report progress.
enum class RunPhase {
    Statistics,  ///< the statistics block, one column after the other (done counts lines)
    LoadingData, ///< converting the data lines into points
    DataTable,   ///< filling the data table
    QueryTable,  ///< filling the query table
    Searching,   ///< answering the queries
    Results,     ///< writing the Index and Dist cells
    Chart,       ///< reading points for the chart
    Building,    ///< constructing the search structure: one call, reported with done and total 0
    Comparing,   ///< a compare run (done counts query answers of all its configurations)
};

/// How far a run got, in run order: a phase's time means something only once the run reached it.
/// `Output` (writing the result cells, drawing the chart) follows the queries and is not timed.
enum class TimedPhase { None, Load, Build, Queries, Output };

/// How a run ended.
enum class RunEnd { Complete, Failed, Cancelled };

/// Wall-clock durations of a run's phases, in seconds; a phase not reached stays 0. A phase's time is
/// its work: the time a message box stays open is not part of it.
struct RunTimings {
    double loadSeconds = 0.0;         ///< LoadPoints: reading, statistics, converting the data
    double buildSeconds = 0.0;        ///< constructing the search structure
    double queriesSeconds = 0.0;      ///< the query loop: reading, searching, taking roots
    double searchSeconds = 0.0;       ///< the chunks of the batch searches alone, on the clock of the slowest
    std::int64_t queriesAnswered = 0; ///< queries the loop finished
    std::int64_t queryCount = 0;      ///< queries of the run, once its queries phase started
    double slowestQuerySeconds = 0.0; ///< the longest mean time per query of one chunk of the batch

    TimedPhase reached = TimedPhase::None; ///< the last phase the run started
    RunEnd end = RunEnd::Complete;         ///< set when the timings are shown

    /// The mean search time per query, from the chunks the slowest comes from, so never above it.
    double meanQuerySeconds() const {
        if (queriesAnswered <= 0) return 0.0;
        // A sum of equal times divided back can round above each of them.
        return std::min(searchSeconds / static_cast<double>(queriesAnswered), slowestQuerySeconds);
    }
};

/// For a run that did not complete, the line that says in which phase it ended and, from the queries
/// phase on, how many queries were answered; empty for a complete run.
std::string RunEndLine(const RunTimings& timings);

/// The one error type that leaves a core operation: its text is what the user is shown.
class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WindowOps {
public:
    virtual ~WindowOps() = default;

    // Option panel: values read by a run, and the values it writes back.
    virtual int neighbourCount() = 0;          ///< SpinEdit1 "NN Amount:"
    virtual void setNeighbourCount(int k) = 0; ///< SpinEdit1 (shown clamped)
    virtual std::string errorBoundText() = 0;  ///< Edit3 "Error bound:"
    virtual void setErrorBoundText(const std::string& text) = 0;
    virtual int metricItem() = 0;        ///< RadioGroup1 item index, 0..3
    virtual int customPower() = 0;       ///< SpinEdit4 "P ="
    virtual bool earlyTermination() = 0; ///< CheckBox11 "Early termination"
    virtual int visitLimit() = 0;        ///< SpinEdit6 "Max ="
    virtual void setVisitLimit(int limit) = 0;
    virtual int bucketSize() = 0;             ///< SpinEdit5 "Tree bucket size:"
    virtual int splitRuleItem() = 0;          ///< RadioGroup4 item index, 0..5
    virtual int shrinkRuleItem() = 0;         ///< RadioGroup5 item index, 0..3
    virtual int searchModeItem() = 0;         ///< RadioGroup2 item index, 0..2
    virtual bool standardRangeSelected() = 0; ///< RadioButton1 "Standard (all)"
    virtual bool fixedRadiusSelected() = 0;   ///< RadioButton2 "Fixed radius (all)"
    virtual bool priorityRangeSelected() = 0; ///< RadioButton3 "Priority (kd, bd)"
    virtual std::string radiusText() = 0;     ///< Edit4 "R ="
    virtual void setRadiusText(const std::string& text) = 0;
    virtual bool showGraph() = 0; ///< CheckBox13 "Show graph"
    /// False for a window without a chart (a headless front end): the core then drops the data file's
    /// lines once the points are loaded unless the data table shows them, since nothing reads them again.
    virtual bool hasChart() { return true; }

    // What the loader reads and writes.
    virtual std::string inputPath() = 0;              ///< Edit1 "Input file:"
    virtual std::string queryPath() = 0;              ///< Edit2 "Query file:"
    virtual int dimensionsValue() = 0;                ///< SpinEdit2 "Dimensions:"
    virtual bool dimensionsAuto() = 0;                ///< flag of action DisableDimensions
    virtual void setDimensionsValue(int dim) = 0;     ///< SpinEdit2 (shown clamped to 1..100)
    virtual void setMaxDataUpperBound(int count) = 0; ///< SpinEdit3 "Max data:" upper bound
    virtual bool maxDataAuto() = 0;                   ///< flag of action DisableMaxData
    virtual void setMaxDataValue(int count) = 0;      ///< SpinEdit3 (shown clamped)
    virtual bool displayStatistics() = 0;             ///< CheckBox12 "Display search statistics"

    // Status bar, message boxes, report memo.
    virtual void writeStatus(int panel, const std::string& text) = 0; ///< StatusBar1 panel 0, 1 or 2
    /// A modal message box with one OK button (errors that leave a handler come here too).
    virtual void showMessage(const std::string& text) = 0;
    virtual void clearReport() = 0;                          ///< Memo1
    virtual void addReportLine(const std::string& line) = 0; ///< Memo1

    // Tables. The core owns both tables for the life of the window; the references stay valid.
    /// False lets the core leave a table empty that nobody will look at (a headless run without a
    /// table file); the run's report and results do not depend on it.
    virtual bool tableShown(TableId which) = 0;
    /// Sent before rows or columns are added or removed (ClearTable, ShapeTable) ...
    virtual void tableAboutToReshape(TableId which, const ResultTable& table) = 0;
    /// ... and after.
    virtual void tableReshaped(TableId which, const ResultTable& table) = 0;
    /// Sent after cells were written and the shape stayed (FillTable, the result cells).
    virtual void tableCellsChanged(TableId which, const ResultTable& table) = 0;

    // Chart1 and the results window.
    virtual void clearChart() = 0; ///< remove every series and the titles
    /// The content DrawChart built (all of it, or what it had added when it stopped).
    virtual void showChart(const ChartContent& chart) = 0;
    virtual void showResults() = 0; ///< show the results window, not modal

    // Progress and timings.
    /// Called every `ProgressInterval` items of a long loop and at its end, and a few times a second
    /// while the structure is built; a window may repaint and move a progress bar here. Must not start
    /// another handler of the core.
    virtual void progress(RunPhase phase, std::int64_t done, std::int64_t total) = 0;
    /// Asked after every progress report and between a run's phases: true ends the run as cancelled,
    /// like a run that ended early. A window without a user at it never asks.
    virtual bool cancelRequested() { return false; }
    /// The phase times of a run when it ends, complete or not; for a complete run before the results
    /// are shown.
    virtual void showTimings(const RunTimings& timings) = 0;
};

/// Runs an event handler (OK, Reload data, ...). An error that escapes it is shown through
/// `showMessage`: a `RunError` with its text, an allocation failure as "Out of memory", any other
/// error with an empty text. Returns false when an error escaped.
bool runHandler(WindowOps& window, const std::function<void()>& handler);

} // namespace knn
