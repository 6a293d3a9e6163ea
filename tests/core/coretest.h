// Helpers for the core tests: a window that records what the core did and answers with settable
// option values, files in a temporary folder, and a scoped decimal separator.
#pragma once

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "numbers.h"
#include "windowops.h"

namespace coretest {

/// Sets the decimal separator for one test and restores the point afterwards.
class SeparatorScope {
public:
    explicit SeparatorScope(char separator) { knn::setDecimalSeparator(separator); }
    ~SeparatorScope() { knn::setDecimalSeparator('.'); }
};

/// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("knncore-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    /// Writes bytes to a file of the folder and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const auto file = path / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }
    std::string pathOf(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

/// The option panel after start, with every value settable, and a record of everything written.
class FakeWindow : public knn::WindowOps {
public:
    // Option panel.
    int neighbours = 1;
    std::string errorBound = "0.0";
    int metric = 1;
    int power = 2;
    bool early = true;
    int limit = 0;
    int bucket = 1;
    int split = 5;
    int shrink = 3;
    int mode = 1;
    int range = 0; ///< 0 standard, 1 fixed radius, 2 priority
    std::string radius = "0.0";
    bool graph = true;
    bool chart = true;          ///< false: a window without a chart
    bool dataTableShown = true; ///< false: the data table stays empty
    std::string input;
    std::string query;
    int dimensions = 2;
    bool dimensionsAutoFlag = true;
    bool maxDataAutoFlag = true;
    bool statistics = false;

    // What the core wrote.
    std::vector<std::string> report;
    std::vector<std::string> messages;
    std::array<std::string, 3> status{"Input not loaded", "Query not loaded", ""};
    int writtenNeighbours = -1;
    std::vector<std::string> writtenErrorBounds;
    std::vector<std::string> writtenRadii;
    int writtenDimensions = -1;
    int writtenLimit = -1;
    int maxDataBound = -1;
    int maxDataValue = -1;
    int resultsShown = 0;
    int chartsCleared = 0;
    std::vector<knn::ChartContent> charts;
    int reshapesOpen = 0; ///< about-to-reshape notifications without their reshaped one
    int timingsShown = 0;
    std::optional<knn::RunPhase> cancelIn; ///< the user cancels at the first progress of this phase
    bool cancelling = false;               ///< and from then on

    int neighbourCount() override { return neighbours; }
    void setNeighbourCount(int k) override { writtenNeighbours = k; }
    std::string errorBoundText() override { return errorBound; }
    void setErrorBoundText(const std::string& text) override { writtenErrorBounds.push_back(text); }
    int metricItem() override { return metric; }
    int customPower() override { return power; }
    bool earlyTermination() override { return early; }
    int visitLimit() override { return limit; }
    void setVisitLimit(int value) override { writtenLimit = value; }
    int bucketSize() override { return bucket; }
    int splitRuleItem() override { return split; }
    int shrinkRuleItem() override { return shrink; }
    int searchModeItem() override { return mode; }
    bool standardRangeSelected() override { return range == 0; }
    bool fixedRadiusSelected() override { return range == 1; }
    bool priorityRangeSelected() override { return range == 2; }
    std::string radiusText() override { return radius; }
    void setRadiusText(const std::string& text) override { writtenRadii.push_back(text); }
    bool showGraph() override { return graph; }
    bool hasChart() override { return chart; }
    std::string inputPath() override { return input; }
    std::string queryPath() override { return query; }
    int dimensionsValue() override { return dimensions; }
    bool dimensionsAuto() override { return dimensionsAutoFlag; }
    void setDimensionsValue(int dim) override { writtenDimensions = dim; }
    void setMaxDataUpperBound(int count) override { maxDataBound = count; }
    bool maxDataAuto() override { return maxDataAutoFlag; }
    void setMaxDataValue(int count) override { maxDataValue = count; }
    bool displayStatistics() override { return statistics; }
    void writeStatus(int panel, const std::string& text) override {
        status.at(static_cast<std::size_t>(panel)) = text;
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void clearReport() override { report.clear(); }
    void addReportLine(const std::string& line) override { report.push_back(line); }
    bool tableShown(knn::TableId which) override {
        return which == knn::TableId::QueryTable || dataTableShown;
    }
    void tableAboutToReshape(knn::TableId, const knn::ResultTable&) override { ++reshapesOpen; }
    void tableReshaped(knn::TableId, const knn::ResultTable&) override { --reshapesOpen; }
    void tableCellsChanged(knn::TableId, const knn::ResultTable&) override {}
    void clearChart() override { ++chartsCleared; }
    void showChart(const knn::ChartContent& chart) override { charts.push_back(chart); }
    void showResults() override { ++resultsShown; }
    void progress(knn::RunPhase phase, std::int64_t, std::int64_t) override {
        cancelling = cancelling || phase == cancelIn;
    }
    bool cancelRequested() override { return cancelling; }
    void showTimings(const knn::RunTimings&) override { ++timingsShown; }
};

} // namespace coretest
