// The run driver behind "OK" and "Reload data": load, echo the options, build, search, present.
#include "session.h"

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <charconv>
#include <chrono>
#include <functional>
#include <string>

#include "numbers.h"
#include "optionreport.h"
#include "querypass.h"
#include "resultchart.h"

namespace knn {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Writes the seconds since its start, less those `paused` grew by meanwhile, into `seconds` when
/// stopped or, at the latest, when it goes, so a phase that ends early is timed as well.
class PhaseClock {
public:
    PhaseClock(double& seconds, const double& paused)
        : seconds(seconds), paused(paused), pausedAtStart(paused) {}
    ~PhaseClock() { stop(); }
    PhaseClock(const PhaseClock&) = delete;
    PhaseClock& operator=(const PhaseClock&) = delete;
    void stop() {
        if (running) seconds = secondsSince(start) - (paused - pausedAtStart);
        running = false;
    }

private:
    double& seconds;
    const double& paused;
    double pausedAtStart;
    Clock::time_point start = Clock::now();
    bool running = true;
};

/// Thrown where the driver notices that the user cancelled the run; the handler catches it.
struct RunCancelled {};

// Converts the first dim fields of a line into point; false at the first field that does not convert.
bool convertLine(std::string_view line, int dim, qel::Point point, FieldList& fields, std::string& scratch) {
    SplitFields(line, fields);
    const int used = std::min(static_cast<int>(fields.size()), dim);
    if (ConvertFields(fields, 0, used, point, scratch) < used) return false;
    std::fill(point + used, point + dim, 0.0); // a short line's missing coordinates are 0
    return true;
}

} // namespace

void CheckFloatingPointFaults() {
    if (std::fetestexcept(FE_OVERFLOW)) throw RunError("Floating point overflow");
    if (std::fetestexcept(FE_DIVBYZERO)) throw RunError("Floating point division by zero");
    if (std::fetestexcept(FE_INVALID)) throw RunError("Invalid floating point operation");
}

double ReportedDistance(double d, int power) {
    errno = 0;
    const double root = RootedDistance(d, {qel::metricKind, power});
    if (errno == ERANGE) throw RunError("Out of range error: check root-taking function!");
    if (errno == EDOM) throw RunError("Domain error: check root-taking function!");
    return root;
}

void PointArrayDeleter::operator()(qel::Point* points) const {
    qel::releasePointArray(points);
}

RunDriver::RunDriver(WindowOps& windowOps) : window(windowOps), builds(windowOps) {
    ResetRun();
}

RunDriver::~RunDriver() {
    ResetRun();
}

bool RunDriver::BitBtn1Click() {
    bool complete = false;
    runHandler(window, [&] {
        ResetRun();
        complete = unlessCancelled([this] { return PrepareSearch() && RunQueries(); });
    });
    if (!complete) {
        phaseTimes.end = stepsCancelled ? RunEnd::Cancelled : RunEnd::Failed;
        statusAfterEarlyEnd();
        window.showTimings(phaseTimes);
    }
    return complete;
}

bool RunDriver::BitBtn3Click() {
    bool loaded = false;
    runHandler(window, [&] { loaded = unlessCancelled([this] { return LoadPoints(); }); });
    if (loaded)
        SetStatus("Ready", 2);
    else
        statusAfterEarlyEnd();
    return loaded;
}

void RunDriver::statusAfterEarlyEnd() {
    if (!stepsCancelled) SetStatus("Run failed", 2);
}

bool RunDriver::unlessCancelled(const std::function<bool()>& steps) {
    stepsCancelled = false;
    try {
        return steps();
    } catch (const RunCancelled&) {
        stepsCancelled = true;
        SetStatus("Run cancelled", 2);
        return false;
    }
}

void RunDriver::ResetRun() {
    builds.finishAbandoned();
    answering = nullptr;
    answeringPoints.reset();
    SearchSession fresh;
    fresh.bruteForce = std::move(state.bruteForce);
    fresh.kdTree = std::move(state.kdTree);
    fresh.bdTree = std::move(state.bdTree);
    fresh.columnStats = state.columnStats;
    FreeResults();
    state = std::move(fresh);
    phaseTimes = RunTimings{};
}

void RunDriver::FreeResults() {
    state.resultDists = {};
    state.resultIdx = {};
    state.resultRows = 0;
}

void RunDriver::showMessage(const std::string& text) {
    const auto shown = Clock::now();
    window.showMessage(text);
    messageSeconds += secondsSince(shown);
}

void RunDriver::SetStatus(const std::string& text, int panel) {
    window.writeStatus(panel, text);
}

std::optional<CompareResult> RunDriver::CompareConfigurations(const std::vector<CompareConfig>& configs,
                                                              int repetitions,
                                                              const ProgressCallback& progress) {
    std::optional<CompareResult> result;
    bool measured = false;
    runHandler(window, [&] {
        ResetRun();
        window.clearReport();
        measured = unlessCancelled([&] {
            if (!LoadPoints()) return false;
            SearchSession& s = state;
            ReadNeighbourCount(window, s);
            ReadMetric(window, s);
            if (std::any_of(configs.begin(), configs.end(),
                            [](const CompareConfig& c) { return c.range == SearchRange::FixedRadius; }))
                ReadRadius(window, s);
            if (!readQueries(true)) return false;
            SetStatus("Comparing configurations...", 2);
            // A cancel inside the compare run keeps the configurations measured so far.
            CompareObserver observer;
            observer.progress = [&](std::int64_t done, std::int64_t total) {
                if (progress) progress(done, total);
                window.progress(RunPhase::Comparing, done, total);
            };
            observer.cancelled = [this] { return window.cancelRequested(); };
            observer.build = [this](const StructureBuild& make) {
                return builds.run(make, state.dataPts).value_or(BuiltStructure{});
            };
            result = RunCompare(s.dataPts.get(), s.dataCount, s.queryPts.get(), s.queryCount, s.dim, configs,
                                CompareSettings{s.k, s.power, s.radius, repetitions, threads}, observer);
            SetStatus(result->cancelled ? "Run cancelled" : "Ready", 2);
            return true;
        });
    });
    if (!measured) statusAfterEarlyEnd();
    return result;
}

bool RunDriver::PrepareSearch() {
    window.clearChart();
    chartContent.clear();
    window.clearReport();
    // The last run's rows go too, so a run that ends early leaves no rows of another beside its report.
    resultsComplete = false;
    for (const TableId which : {TableId::DataTable, TableId::QueryTable})
        reshapeTable(which, [](ResultTable& table) { ClearTable(table); });
    phaseTimes.reached = TimedPhase::Load;
    PhaseClock loadClock(phaseTimes.loadSeconds, messageSeconds);
    if (!LoadPoints()) return false;
    loadClock.stop();
    stopIfCancelled();
    SearchSession& s = state;
    // Dropped here, the data file's lines are out of memory while the structure is built.
    if (!window.hasChart() && !window.tableShown(TableId::DataTable)) s.dataLines.reset();

    ReadNeighbourCount(window, s);
    ReadErrorBound(window, s);
    ReadMetric(window, s);
    ReadVisitLimit(window, s);
    ReadTreeOptions(window, s);

    // A new structure replaces, and destroys, the one its mode built before.
    phaseTimes.reached = TimedPhase::Build;
    SetStatus("Building the search structure...", 2);
    PhaseClock buildClock(phaseTimes.buildSeconds, messageSeconds);
    s.searchMode = static_cast<SearchMode>(window.searchModeItem());
    const SearchConfig config{s.searchMode, SearchRange::Standard, s.splitRule, s.shrinkRule, s.bucketSize};
    // The mode's slot holds the structure as the type its mode builds.
    const auto slot = [&]<class Structure>(std::unique_ptr<Structure>& owner) {
        owner.reset();
        owner.reset(static_cast<Structure*>(buildStructure(config).release()));
    };
    switch (s.searchMode) {
    case SearchMode::BruteForce:
        slot(s.bruteForce);
        break;
    case SearchMode::KdTree:
        slot(s.kdTree);
        break;
    case SearchMode::BdTree:
        slot(s.bdTree);
        break;
    }
    ReportSearchMode(window, s.searchMode);
    buildClock.stop();

    ReadSearchRange(window, s);

    stopIfCancelled();
    SetStatus("Preparing tables...", 2);
    reshapeTable(TableId::DataTable, [&](ResultTable& table) {
        ClearTable(table);
        ShapeTable(table, s.dim, true, true, true, "Data", s.dataCount);
    });
    reshapeTable(TableId::QueryTable, [&](ResultTable& table) {
        ClearTable(table);
        ShapeTable(table, s.dim, true, true, true, "Q", s.queryCount);
    });
    SetStatus("Outputting data points...", 2);
    if (s.dataLines) fillTable(TableId::DataTable, *s.dataLines); // dropped only when the table is not shown
    SetStatus("Outputting query points...", 2);
    fillTable(TableId::QueryTable, *s.queryLines);

    SetStatus("Allocating memory...", 2);
    const auto cells = static_cast<std::size_t>(s.queryCount) * static_cast<std::size_t>(s.k);
    s.resultDists.assign(cells, 0.0);
    s.resultIdx.assign(cells, 0);
    s.resultRows = s.queryCount;
    return true;
}

bool RunDriver::RunQueries() {
    SearchSession& s = state;
    stopIfCancelled();
    SetStatus("Now searching for NN...", 2);
    qel::QELpointSet* const structures[] = {s.bruteForce.get(), s.kdTree.get(), s.bdTree.get()};
    const Searcher searcher =
        SearcherOf(structures[static_cast<int>(s.searchMode)], s.searchRange, s.k, s.eps, s.power, s.radius);

    phaseTimes.reached = TimedPhase::Queries;
    phaseTimes.queryCount = s.queryCount;
    PhaseClock queryClock(phaseTimes.queriesSeconds, messageSeconds);
    if (!readQueries(searcher.structure != nullptr)) return false;
    AnswerQueries(s, searcher, threads, phaseTimes, phaseProgress(RunPhase::Searching));
    queryClock.stop();
    phaseTimes.reached = TimedPhase::Output;
    // The tree answered every query: a cancel from here on leaves it the answering tree.
    answering = searcher.tree;

    SetStatus("Outputting results...", 2);
    writeResultColumns();
    resultsComplete = true;
    if (window.showGraph()) DrawChart();
    stopIfCancelled();
    qel::releaseSharedEmptyLeaf();
    SetStatus("Ready", 2);
    phaseTimes.end = RunEnd::Complete;
    window.showTimings(phaseTimes);
    window.showResults();
    return true;
}

bool RunDriver::readQueries(bool searchable) {
    SearchSession& s = state;
    for (int q = 0; q < s.queryCount; ++q) {
        if (!ReadPt(s.dim, q, s.queryPts[static_cast<std::size_t>(q)], *s.queryLines)) {
            showMessage("Can't read query point " + std::to_string(q + 1));
            SetStatus("Query not loaded", 1);
            return false;
        }
        if (q > 0) continue;
        SetStatus("Query loaded", 1); // later queries would write the same text again
        if (!searchable) return false;
    }
    return true;
}

void RunDriver::writeResultColumns() {
    if (!window.tableShown(TableId::QueryTable)) return;
    const SearchSession& s = state;
    reshapeTable(TableId::QueryTable, [&](ResultTable& table) {
        ShapeTable(table, s.dim + s.k + 1, false, true, false, "Index", s.queryCount);
        ShapeTable(table, s.dim + 2 * s.k + 1, false, true, false, "Dist", s.queryCount);
    });
    const auto k = static_cast<std::size_t>(s.k);
    FieldList cells;
    char number[16];
    for (int q = 0; q < s.queryCount; ++q) {
        cells.clear();
        const int* rowIdx = s.resultIdx.data() + static_cast<std::size_t>(q) * k;
        const double* rowDists = s.resultDists.data() + static_cast<std::size_t>(q) * k;
        for (std::size_t j = 0; j < k; ++j) {
            const auto end = std::to_chars(number, number + sizeof number, rowIdx[j]).ptr;
            cells.add(std::string_view(number, static_cast<std::size_t>(end - number)));
        }
        for (std::size_t j = 0; j < k; ++j)
            cells.add(FormatDouble(rowDists[j]));
        queryRows.replaceCells(q, s.dim + 1, cells);
        reportPhase(RunPhase::Results, q + 1, s.queryCount);
    }
    window.tableCellsChanged(TableId::QueryTable, queryRows);
}

bool RunDriver::LoadPoints() {
    SetStatus("Loading data...", 2);
    SearchSession& s = state;
    // A load alone (Reload data) replaces the points the answering tree reads: they stay with it.
    if (answering && !answeringPoints) answeringPoints = std::move(s.dataPts);
    s.dataLines.emplace();
    const std::string inputPath = window.inputPath();
    if (!FileExists(inputPath)) {
        showMessage(MissingFileMessage(inputPath));
        return false;
    }
    s.dataLines = ReadTextFile(inputPath);
    s.queryLines.emplace();
    const std::string queryPath = window.queryPath();
    if (!FileExists(queryPath)) {
        showMessage(MissingFileMessage(queryPath));
        return false;
    }
    s.queryLines = ReadTextFile(queryPath);
    loadedFiles = RunInputs{inputPath, queryPath};
    const int columns = FileFieldCount(*s.dataLines, inputPath);
    if (columns != FileFieldCount(*s.queryLines, queryPath)) {
        showMessage("The data & query dimensions do not coincide!\nPlease check input file structure.");
        return false;
    }

    // A value typed below 1 reaches here while its box still has the focus; like one beyond the
    // columns, it gives way to them, as a point needs a coordinate to search by.
    const int wantedDim = window.dimensionsValue();
    if (columns < wantedDim || wantedDim < 1 || window.dimensionsAuto()) {
        s.dim = columns;
        window.setDimensionsValue(columns);
    } else {
        s.dim = wantedDim;
    }
    warnOfBlankLines(*s.dataLines, inputPath);
    warnOfBlankLines(*s.queryLines, queryPath);
    const auto lineCount = static_cast<int>(s.dataLines->size());
    // The data lines are converted once, all of them, before the statistics block, which reads its
    // values from the points; the load then keeps what precedes the first field that does not convert.
    s.dataPts.reset();
    s.dataPts.reset(qel::newPointArray(lineCount, s.dim));
    const DataConversion conversion =
        ConvertEveryLine(s.dim, *s.dataLines, s.dataPts.get(), threads, phaseProgress(RunPhase::LoadingData));
    if (window.displayStatistics())
        WriteStatistics(window, DataColumns{s.dataPts.get(), s.dataLines->size(), conversion.shortLines},
                        s.dim, s.columnStats, threads, phaseProgress(RunPhase::Statistics));

    const std::string doubleRule(50, '=');
    window.addReportLine(doubleRule);
    window.addReportLine("SEARCH OPTIONS");
    window.addReportLine(doubleRule);
    window.addReportLine("Data & query dimension = " + std::to_string(s.dim));
    window.setMaxDataUpperBound(lineCount);
    s.dataCount = lineCount;
    if (window.maxDataAuto()) window.setMaxDataValue(lineCount);
    window.addReportLine("No. of data points = " + std::to_string(s.dataCount));
    s.queryCount = static_cast<int>(s.queryLines->size());
    window.addReportLine("No. of query points = " + std::to_string(s.queryCount));

    s.queryPts.reset();
    s.queryPts.reset(qel::newPointArray(s.queryCount, s.dim));
    if (KeepUpToFirstFailure(conversion, s.dim, s.dataLines->size(), s.dataPts.get())) {
        SetStatus("Input loaded", 0);
        return true;
    }
    SetStatus("Input not loaded", 0);
    showMessage("Could not load data!\nPlease check input file structure.");
    return false;
}

void RunDriver::warnOfBlankLines(const TextLines& lines, const std::string& path) {
    // A blank line of one byte costs a whole point: a small file of them can ask for gigabytes.
    constexpr std::size_t warningBytes = std::size_t{256} << 20;
    const std::size_t pointBytes = sizeof(double) * static_cast<std::size_t>(state.dim);
    if (lines.size() * pointBytes < warningBytes) return;
    const std::size_t blank = BlankLineCount(lines);
    if (blank * pointBytes < warningBytes) return;
    showMessage("File " + path + " holds " + std::to_string(blank) + " blank lines, each loaded as a point " +
                "with " + std::to_string(state.dim) + " coordinates of 0: they take " +
                std::to_string(blank * pointBytes >> 20) + " MB.");
}

bool RunDriver::ReadPt(int dim, int index, qel::Point point, const TextLines& lines) {
    if (index < 0 || index > static_cast<int>(lines.size()) - 1) {
        showMessage("ReadPt:\nIndex " + std::to_string(index) + " out of bounds.");
        return false;
    }
    if (!convertLine(lines[static_cast<std::size_t>(index)], dim, point, fieldScratch, numberScratch)) {
        showMessage("ReadPt:\nSome error occured while processing index " + std::to_string(index));
        return false;
    }
    return true;
}

void RunDriver::setThreads(int count) {
    threads = std::max(count, 1);
}

void RunDriver::DrawChart() {
    window.clearChart();
    BuildResultsChart(
        state, chartContent,
        [this](const TextLines& lines, int index, double* point) {
            return ReadPt(state.dim, index, point, lines);
        },
        phaseProgress(RunPhase::Chart));
    window.showChart(chartContent);
}

template <class Change> void RunDriver::reshapeTable(TableId which, Change change) {
    if (!window.tableShown(which)) return;
    ResultTable& table = which == TableId::DataTable ? dataRows : queryRows;
    window.tableAboutToReshape(which, table);
    change(table);
    window.tableReshaped(which, table);
}

void RunDriver::reportPhase(RunPhase phase, std::int64_t done, std::int64_t total) {
    if (!progressDue(done, total)) return;
    window.progress(phase, done, total);
    stopIfCancelled();
}

ProgressCallback RunDriver::phaseProgress(RunPhase phase) {
    return [this, phase](std::int64_t done, std::int64_t total) {
        window.progress(phase, done, total);
        stopIfCancelled();
    };
}

void RunDriver::stopIfCancelled() {
    if (window.cancelRequested()) throw RunCancelled{};
}

std::unique_ptr<qel::QELpointSet> RunDriver::buildStructure(const SearchConfig& config) {
    std::optional<std::unique_ptr<qel::QELpointSet>> built =
        builds.run([config, data = state.dataPts.get(), n = state.dataCount, dim = state.dim,
                    threads = threads] { return BuildStructure(config, data, n, dim, threads); },
                   state.dataPts);
    if (!built) throw RunCancelled{};
    return std::move(*built);
}

void RunDriver::fillTable(TableId which, const TextLines& lines) {
    if (!window.tableShown(which)) return;
    ResultTable& table = which == TableId::DataTable ? dataRows : queryRows;
    const RunPhase phase = which == TableId::DataTable ? RunPhase::DataTable : RunPhase::QueryTable;
    FillTable(lines, table, 1, phaseProgress(phase));
    window.tableCellsChanged(which, table);
}

} // namespace knn
