// The run driver through a recording window: report lines, values written back, messages, status
// texts, result columns and the chart content of whole runs.
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <new>
#include <sstream>
#include <thread>

#include "coretest.h"
#include "session.h"

using namespace knn;
using Texts = std::vector<std::string>;

namespace {

const std::string DoubleRule(50, '=');

class DriverTest : public testing::Test {
protected:
    void files(const std::string& data, const std::string& query) {
        window.input = folder.write("data.pts", data);
        window.query = folder.write("query.pts", query);
    }
    bool run() { return driver.BitBtn1Click(); }
    Texts queryRow(int row) const {
        Texts out;
        const ResultTable& table = driver.queryTable();
        for (int c = 0; c < table.columnCount(); ++c)
            out.emplace_back(table.cell(row, c));
        return out;
    }
    Texts queryCaptions() const {
        Texts out;
        for (int c = 0; c < driver.queryTable().columnCount(); ++c)
            out.emplace_back(driver.queryTable().columnCaption(c));
        return out;
    }
    /// The report lines after the "SEARCH OPTIONS" header.
    Texts options() const {
        const auto header = std::find(window.report.begin(), window.report.end(), "SEARCH OPTIONS");
        return header == window.report.end() ? Texts{} : Texts(header + 2, window.report.end());
    }

    coretest::SeparatorScope point{'.'};
    coretest::TempFolder folder;
    coretest::FakeWindow window;
    RunDriver driver{window};
};

} // namespace

class DriverModes : public DriverTest, public testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(DriverModes, CompleteRunWritesReportStatusAndResultColumns) {
    const auto [mode, range] = GetParam();
    window.mode = mode;
    window.range = range;
    window.neighbours = 2;
    files("0 0\n1 0\n0 2\n3 3\n", "0.1 0\n2.9 3\n");
    ASSERT_TRUE(run());
    const char* modeLines[] = {"Search mode = Brute Force", "Search mode = Unbalanced Tree",
                               "Search mode = Balanced Tree"};
    const char* rangeLines[] = {"Search range = Standard", "", "Search range = Priority"};
    EXPECT_EQ(window.report,
              (Texts{DoubleRule, "SEARCH OPTIONS", DoubleRule, "Data & query dimension = 2",
                     "No. of data points = 4", "No. of query points = 2", "No. of K neighbors = 2",
                     "Error bound = 0", "Distance metric = Euclidean (2)", "Max points to visit = 0",
                     "Tree bucket size = 1", "Splitting rule = 5", "Shrinking rule = 3", modeLines[mode],
                     rangeLines[range]}));
    EXPECT_EQ(window.status, (std::array<std::string, 3>{"Input loaded", "Query loaded", "Ready"}));
    EXPECT_EQ(window.resultsShown, 1);
    EXPECT_EQ(window.writtenNeighbours, 2);
    EXPECT_EQ(window.writtenErrorBounds, (Texts{"0.0", "0"}));
    EXPECT_EQ(window.writtenLimit, 0);
    EXPECT_EQ(window.reshapesOpen, 0);
    EXPECT_EQ(queryCaptions(), (Texts{"#", "Q1", "Q2", "Index1", "Index2", "Dist1", "Dist2"}));
    EXPECT_EQ(queryRow(0), (Texts{"1", "0.1", "0", "1", "2", "0.1", "0.9"}));
    EXPECT_EQ(queryRow(1), (Texts{"2", "2.9", "3", "4", "3", "0.1", "3.06757233003559"}));
    EXPECT_EQ(driver.dataTable().cell(3, 2), "3");
}

INSTANTIATE_TEST_SUITE_P(ModesAndRanges, DriverModes,
                         testing::Values(std::tuple{0, 0}, std::tuple{1, 0}, std::tuple{2, 0},
                                         std::tuple{1, 2}, std::tuple{2, 2}));

struct MetricCase {
    int item;
    int power;
    const char* reportLine;
    const char* distance;      ///< from (0, 0) to (1, 2)
    const char* emptyDistance; ///< the root of the distance of an empty slot (1/p is not exact)
};
void PrintTo(const MetricCase& row, std::ostream* out) {
    *out << row.reportLine;
}

class DriverMetrics : public DriverTest, public testing::WithParamInterface<MetricCase> {};

TEST_P(DriverMetrics, ReportLineAndReportedDistances) {
    const MetricCase& c = GetParam();
    window.metric = c.item;
    window.power = c.power;
    window.mode = 0;
    files("1 2\n", "0 0\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[5], c.reportLine);
    EXPECT_EQ(queryRow(0)[4], c.distance);
}

TEST_P(DriverMetrics, FixedRadiusIsARadiusOfTheChosenMetric) {
    const MetricCase& c = GetParam();
    window.metric = c.item;
    window.power = c.power;
    window.range = 1;
    window.radius = "2,5";
    window.neighbours = 2;
    // Distances 2 and 3 under every metric: only the first lies within R = 2.5 (R squared would take both
    // under Manhattan and Chebyshev).
    files("2 0\n0 3\n", "0 0\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(window.writtenRadii, (Texts{"2.5", "2.5"}));
    EXPECT_EQ(options().back(), "Search range = Fixed radius");
    EXPECT_EQ(queryRow(0), (Texts{"1", "0", "0", "1", "0", "2", c.emptyDistance}));
}

INSTANTIATE_TEST_SUITE_P(
    Metrics, DriverMetrics,
    testing::Values(MetricCase{0, 2, "Distance metric = Manhattan (1)", "3", "1.79769313486232E308"},
                    MetricCase{1, 2, "Distance metric = Euclidean (2)", "2.23606797749979",
                               "1.34078079299426E154"},
                    MetricCase{2, 2, "Distance metric = Chebyshev (L-infinity)", "2", "1.79769313486232E308"},
                    MetricCase{3, 3, "Distance metric = LP (3)", "2.0800838230519", "5.64380309412229E102"},
                    MetricCase{3, 1, "Distance metric = LP (1)", "3", "1.79769313486232E308"}));

TEST_F(DriverTest, NeighbourCountAboveThePointCountBecomesOneLess) {
    files("0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n", "0\n");
    window.neighbours = 10;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[3], "No. of K neighbors = 10");
    window.neighbours = 11;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[3], "No. of K neighbors = 9");
    EXPECT_EQ(window.writtenNeighbours, 9);
}

TEST_F(DriverTest, NeighbourCountZeroIsRaisedToOneAndReported) {
    files("4 4\n", "0 0\n");
    window.neighbours = 2;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[3], "No. of K neighbors = 1");
    EXPECT_EQ(options()[4], "K raised from 0 to 1: a search needs a neighbour");
    EXPECT_EQ(window.writtenNeighbours, 1);
    EXPECT_EQ(queryRow(0)[3], "1");
}

TEST_F(DriverTest, ErrorBoundIsNormalisedAndWrittenBack) {
    files("0 0\n1 1\n", "0 0\n");
    window.errorBound = "0,5";
    ASSERT_TRUE(run());
    EXPECT_EQ(window.writtenErrorBounds, (Texts{"0.5", "0.5"}));
    EXPECT_EQ(options()[4], "Error bound = 0.5");
    window.errorBound = "abc";
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[4], "Error bound = 0");
}

TEST_F(DriverTest, VisitLimitIsCutToOneBelowThePointCount) {
    std::string data;
    for (int i = 0; i < 100; ++i)
        data += std::to_string(i) + " 0\n";
    files(data, "0 0\n");
    window.limit = 500;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[6], "Max points to visit = 99");
    EXPECT_EQ(window.writtenLimit, 99);
    window.early = false;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[6], "Max points to visit = 0");
}

TEST_F(DriverTest, DimensionsByHandTakeTheSmallerOfValueAndColumns) {
    files("1 2 3\n4 5 6\n", "1 2 3\n");
    window.dimensionsAutoFlag = false;
    window.dimensions = 2;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[0], "Data & query dimension = 2");
    EXPECT_EQ(window.writtenDimensions, -1);
    window.dimensions = 5;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[0], "Data & query dimension = 3");
    EXPECT_EQ(window.writtenDimensions, 3);
    EXPECT_EQ(window.maxDataBound, 2);
    EXPECT_EQ(window.maxDataValue, 2);
    // A value below 1 (typed, its box not yet left) takes the columns too.
    window.dimensions = -1;
    window.writtenDimensions = -1;
    ASSERT_TRUE(run());
    EXPECT_EQ(options()[0], "Data & query dimension = 3");
    EXPECT_EQ(window.writtenDimensions, 3);
}

TEST_F(DriverTest, StatisticsBlockComesFirstAndNeverEndsTheLoad) {
    files("1\n2\n3\n", "0\n");
    window.statistics = true;
    ASSERT_TRUE(run());
    ASSERT_EQ(window.report.size(), 3u + 17u + 15u);
    EXPECT_EQ(window.report[1], "DATA STATISTICS");
    EXPECT_EQ(window.report[17], "Kurtosis\tn/a");
    EXPECT_EQ(window.report[21], "SEARCH OPTIONS");
}

struct LoadFailure {
    const char* name;
    const char* data;    ///< null: no file
    const char* query;   ///< null: no file
    const char* message; ///< "FILE" stands for the path of the missing or empty file
    bool optionsWritten;
    const char* inputStatus;
};
void PrintTo(const LoadFailure& row, std::ostream* out) {
    *out << row.name;
}

class DriverLoadFailures : public DriverTest, public testing::WithParamInterface<LoadFailure> {};

TEST_P(DriverLoadFailures, ShowTheirMessageAndEndTheRun) {
    const LoadFailure& c = GetParam();
    window.input = c.data ? folder.write("data.pts", c.data) : folder.pathOf("nodata.pts");
    window.query = c.query ? folder.write("query.pts", c.query) : folder.pathOf("noquery.pts");
    EXPECT_FALSE(run());
    std::string message = c.message;
    if (const auto at = message.find("FILE"); at != std::string::npos)
        message.replace(at, 4, c.data && *c.data ? window.query : window.input);
    EXPECT_EQ(window.messages, Texts{message});
    EXPECT_EQ(!options().empty(), c.optionsWritten);
    EXPECT_EQ(window.status[0], c.inputStatus);
    EXPECT_EQ(window.resultsShown, 0);
    EXPECT_EQ(driver.queryTable().columnCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DriverLoadFailures,
    testing::Values(
        LoadFailure{"NoInputFile", nullptr, "1 2\n", "File FILE doesn't exist.", false, "Input not loaded"},
        LoadFailure{"NoQueryFile", "1 2\n", nullptr, "File FILE doesn't exist.", false, "Input not loaded"},
        LoadFailure{"DimensionsDiffer", "1 2 3\n", "1 2\n",
                    "The data & query dimensions do not coincide!\nPlease check input file structure.", false,
                    "Input not loaded"},
        LoadFailure{"EmptyInputFile", "", "1 2\n",
                    "List index out of bounds (0)\nFile FILE is empty: it holds no line.", false,
                    "Input not loaded"},
        LoadFailure{"EmptyQueryFile", "1 2\n", "",
                    "List index out of bounds (0)\nFile FILE is empty: it holds no line.", false,
                    "Input not loaded"},
        LoadFailure{"FieldDoesNotConvert", "1 2\n1,234.5 3\n", "1 2\n",
                    "Could not load data!\nPlease check input file structure.", true, "Input not loaded"},
        LoadFailure{"CommaSeparatedLinesAreOneColumn", "1.5,2.5\n", "1.5,2.5\n",
                    "Could not load data!\nPlease check input file structure.", true, "Input not loaded"}),
    [](const testing::TestParamInfo<LoadFailure>& info) { return info.param.name; });

TEST_F(DriverTest, BlankFirstLinesGiveDimensionZero) {
    files("\n", " \n");
    run();
    EXPECT_EQ(options()[0], "Data & query dimension = 0");
    EXPECT_EQ(window.status[0], "Input loaded");
}

TEST_F(DriverTest, UnreadableQueryLineEndsTheRunAfterItsMessages) {
    files("0 0\n1 1\n", "0 0\n1 1\nx 2\n");
    EXPECT_FALSE(run());
    EXPECT_EQ(window.messages,
              (Texts{"ReadPt:\nSome error occured while processing index 2", "Can't read query point 3"}));
    EXPECT_EQ(window.status, (std::array<std::string, 3>{"Input loaded", "Query not loaded", "Run failed"}));
    EXPECT_EQ(window.resultsShown, 0);
    EXPECT_EQ(queryCaptions(), (Texts{"#", "Q1", "Q2"}));
}

TEST_F(DriverTest, ShortQueryLineHasZeroForItsMissingCoordinates) {
    files("1 0\n5 5\n", "5 5\n1\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(queryRow(1), (Texts{"2", "1", "", "1", "0"}));
}

TEST_F(DriverTest, ChartHoldsPointsThenOneLinePerQuery) {
    files("0 0\n1 0\n0 2\n3 3\n5 5 9\n", "0.1 0\n2.9 3\n");
    ASSERT_TRUE(run());
    ASSERT_EQ(window.charts.size(), 1u);
    const ChartContent& chart = window.charts[0];
    EXPECT_EQ(chart.title, "KNN Search Results: Unbalanced Tree Search");
    EXPECT_EQ(chart.subTitle, "KNN Search: k = 1, no. of data points = 5, no. of query points = 2");
    ASSERT_EQ(chart.series.size(), 4u);
    EXPECT_EQ(chart.series[0].kind, SeriesKind::Point);
    EXPECT_EQ(chart.series[0].pointCount, 5u);
    EXPECT_EQ(chart.series[0].colour.blue, 255);
    EXPECT_EQ(chart.pointsOf(chart.series[0])[4].y, 5.0);
    EXPECT_EQ(chart.series[1].pointCount, 2u);
    EXPECT_EQ(chart.series[1].colour.red, 255);
    for (std::size_t s = 2; s < 4; ++s) {
        EXPECT_EQ(chart.series[s].kind, SeriesKind::Line);
        EXPECT_EQ(chart.series[s].penStyle, PenStyle::Dotted);
        EXPECT_EQ(chart.series[s].pointCount, 2u);
    }
    const auto line = chart.pointsOf(chart.series[3]);
    EXPECT_EQ(line[0].x, 2.9);
    EXPECT_EQ(line[1].x, 3.0);
    EXPECT_EQ(driver.session().lineSeries, 3);
}

TEST_F(DriverTest, ChartSkipsQueriesWithoutANeighbour) {
    files("0 0\n1 0\n", "0 0\n50 50\n0.9 0\n");
    window.range = 1;
    window.radius = "2";
    ASSERT_TRUE(run());
    ASSERT_EQ(window.charts.size(), 1u);
    const ChartContent& chart = window.charts[0];
    ASSERT_EQ(chart.series.size(), 4u);
    EXPECT_EQ(chart.pointsOf(chart.series[3])[0].x, 0.9);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(DriverTest, OneDimensionalChartPlotsLineIndexAgainstCoordinate) {
    files("3\n1\n", "2.9\n");
    ASSERT_TRUE(run());
    const ChartContent& chart = window.charts.at(0);
    const auto data = chart.pointsOf(chart.series.at(0));
    EXPECT_EQ(data[1].x, 1.0);
    EXPECT_EQ(data[1].y, 1.0);
    const auto line = chart.pointsOf(chart.series.at(2));
    EXPECT_EQ(line[0].x, 0.0);
    EXPECT_EQ(line[0].y, 2.9);
    EXPECT_EQ(line[1].x, 0.0);
    EXPECT_EQ(line[1].y, 3.0);
}

TEST_F(DriverTest, NoChartWithoutShowGraph) {
    files("0 0\n", "0 0\n");
    window.graph = false;
    ASSERT_TRUE(run());
    EXPECT_TRUE(window.charts.empty());
    EXPECT_GE(window.chartsCleared, 1);
}

TEST_F(DriverTest, OverflowInTheSearchEndsTheRun) {
    files("1e10 0\n", "0 0\n");
    window.metric = 3;
    window.power = 100;
    window.mode = 0;
    EXPECT_FALSE(run());
    EXPECT_EQ(window.messages, Texts{"Floating point overflow"});
    EXPECT_EQ(window.resultsShown, 0);
}

// The queries go to the batch search in chunks on several threads; a fault raised on any of them ends
// the run as on one thread, with the message of the query that raised it. Brute force over enough points
// keeps every thread busy, so the query that overflows is not always the calling thread's.
TEST_F(DriverTest, OverflowInALaterQueryEndsTheRunOnEveryThreadCount) {
    std::string data;
    for (int i = 0; i < 2000; ++i)
        data += std::to_string(i) + "e-4 0\n";
    std::string queries;
    for (int i = 0; i < 400; ++i)
        queries += i == 300 ? "1e10 0\n" : "0 1\n";
    files(data, queries);
    window.metric = 3;
    window.power = 100;
    window.mode = 0;
    for (const int threads : {1, 2, 2, 2, 3, 3, 3}) {
        driver.setThreads(threads);
        window.messages.clear();
        EXPECT_FALSE(run()) << threads << " threads";
        EXPECT_EQ(window.messages, Texts{"Floating point overflow"}) << threads << " threads";
        EXPECT_EQ(window.resultsShown, 0);
    }
}

TEST_F(DriverTest, ReloadWithMoreQueriesThenRunAgain) {
    files("0 0\n1 1\n", "0 0\n");
    ASSERT_TRUE(run());
    files("0 0\n1 1\n", "0 0\n1 1\n2 2\n3 3\n");
    EXPECT_TRUE(driver.BitBtn3Click());
    EXPECT_EQ(window.report.back(), "No. of query points = 4");
    ASSERT_TRUE(run());
    EXPECT_EQ(queryRow(3), (Texts{"4", "3", "3", "2", "2.82842712474619"}));
}

// A window without a chart or a shown data table lets the run drop the data lines after the load;
// the report and results stay those of a window that keeps them, run after run and after a reload.
TEST_F(DriverTest, HeadlessRunDropsTheDataLinesOnly) {
    files("0 0\n1 1\n2 2\n", "0.9 1\n");
    window.neighbours = 2;
    window.statistics = true;
    ASSERT_TRUE(run());
    const Texts report = window.report;
    const Texts row = queryRow(0);
    EXPECT_TRUE(driver.session().dataLines.has_value());

    window.graph = window.chart = window.dataTableShown = false;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(run());
        EXPECT_FALSE(driver.session().dataLines.has_value());
        EXPECT_TRUE(driver.session().queryLines.has_value());
        EXPECT_EQ(window.report, report);
        EXPECT_EQ(queryRow(0), row);
    }
    EXPECT_TRUE(driver.BitBtn3Click());
    EXPECT_EQ(driver.session().dataLines->size(), 3u);
    window.dataTableShown = true;
    ASSERT_TRUE(run());
    EXPECT_TRUE(driver.session().dataLines.has_value());
    EXPECT_EQ(driver.dataTable().cell(2, 1), "2");
}

// The build goes on after the cancel, reading points the run no longer holds: they must stay until it
// ends, and the next run must not meet it.
TEST_F(DriverTest, CancelDuringTheBuildEndsTheRunAndTheNextRunWorks) {
    std::string data;
    for (int i = 0; i < 200000; ++i)
        data += std::to_string(i % 997) + " " + std::to_string(i % 1009) + "\n";
    files(data, "0.1 0.2\n");
    window.cancelIn = RunPhase::Building;
    EXPECT_FALSE(run());
    EXPECT_EQ(window.status[2], "Run cancelled");
    EXPECT_EQ(window.resultsShown, 0);
    EXPECT_EQ(driver.timings().reached, TimedPhase::Build);
    EXPECT_EQ(driver.answeringTree(), nullptr);

    // A compare run's builds are given up the same way, keeping the rows measured before.
    window.cancelling = false;
    const std::optional<CompareResult> compared = driver.CompareConfigurations(
        {CompareConfig{SearchMode::KdTree, SearchRange::Standard, qel::SplitRule::Fair}}, 1);
    ASSERT_TRUE(compared);
    EXPECT_TRUE(compared->cancelled);
    EXPECT_TRUE(compared->rows.empty());
    EXPECT_EQ(window.status[2], "Run cancelled");

    window.cancelIn.reset();
    window.cancelling = false;
    ASSERT_TRUE(driver.CompareConfigurations({CompareConfig{}}, 1));
    EXPECT_EQ(window.status[2], "Ready");
    window.status[2].clear();
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Ready");
    EXPECT_EQ(queryRow(0).at(3), "1");
    EXPECT_NE(driver.answeringTree(), nullptr);
}

// A message box that stays open is the user's time, not the phase's; the timings say where the run ended.
TEST(DriverTimings, LeaveMessageTimeOutAndNameThePhaseThatEnded) {
    struct SlowReader : coretest::FakeWindow {
        void showMessage(const std::string& text) override {
            FakeWindow::showMessage(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        RunTimings shown;
        void showTimings(const RunTimings& timings) override { shown = timings; }
    };
    coretest::TempFolder folder;
    SlowReader window;
    RunDriver driver{window};
    window.input = folder.pathOf("absent.pts");
    window.query = folder.write("query.pts", "1 2\n3 4\nx y\n");
    EXPECT_FALSE(driver.BitBtn1Click());
    EXPECT_LT(window.shown.loadSeconds, 0.2);
    EXPECT_EQ(RunEndLine(window.shown), "Failed during the load");
    EXPECT_EQ(window.status[2], "Run failed");

    window.input = folder.write("data.pts", "0 0\n1 1\n");
    EXPECT_FALSE(driver.BitBtn1Click());
    EXPECT_EQ(window.messages.back(), "Can't read query point 3");
    EXPECT_LT(window.shown.queriesSeconds, 0.2);
    EXPECT_EQ(RunEndLine(window.shown), "Failed during the queries: 0 of 3 queries answered");

    window.query = folder.write("query.pts", "1 2\n");
    EXPECT_TRUE(driver.BitBtn1Click());
    EXPECT_EQ(RunEndLine(window.shown), "");
    window.cancelIn = RunPhase::Chart;
    EXPECT_FALSE(driver.BitBtn1Click());
    EXPECT_EQ(RunEndLine(window.shown), "Cancelled while showing the results: 1 of 1 queries answered");
}

// The tree that answered every query stays, with its points, through a cancel of the chart and any
// number of loads alone, until the next run.
TEST_F(DriverTest, AnsweringTreeOutlivesAChartCancelAndReloads) {
    files("0 0\n1 0\n0 2\n3 3\n", "0.1 0\n");
    window.cancelIn = RunPhase::Chart;
    EXPECT_FALSE(run());
    ASSERT_NE(driver.answeringTree(), nullptr);
    EXPECT_TRUE(driver.hasResults());
    std::ostringstream before;
    driver.answeringTree()->dumpTree(true, before);
    window.cancelIn.reset();
    window.cancelling = false;
    for (const char* data : {"5 5\n6 6\n", "7 7\n"}) {
        window.input = folder.write("data.pts", data);
        ASSERT_TRUE(driver.BitBtn3Click());
        ASSERT_NE(driver.answeringTree(), nullptr);
        std::ostringstream after;
        driver.answeringTree()->dumpTree(true, after);
        EXPECT_EQ(after.str(), before.str());
    }
    window.input = folder.pathOf("absent.pts");
    EXPECT_FALSE(run());
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(driver.answeringTree(), nullptr);
    EXPECT_FALSE(driver.hasResults());
}

TEST(RunHandler, TurnsEscapingErrorsIntoMessages) {
    coretest::FakeWindow window;
    EXPECT_TRUE(runHandler(window, [] {}));
    EXPECT_FALSE(runHandler(window, [] { throw RunError("List index out of bounds (0)"); }));
    EXPECT_FALSE(runHandler(window, [] { throw std::bad_alloc(); }));
    EXPECT_FALSE(runHandler(window, [] { throw 7; }));
    EXPECT_EQ(window.messages, (Texts{"List index out of bounds (0)", "Out of memory", ""}));
}
