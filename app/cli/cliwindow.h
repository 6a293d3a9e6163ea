// The window operations of the headless front end: reads answer with the flags' values, writes back
// go to no control, the report goes to standard output and message boxes to standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <ostream>

#include "options.h"
#include "vocabulary.h"
#include "windowops.h"

namespace knn::cli {

class CliWindow : public WindowOps {
public:
    explicit CliWindow(const CliOptions& options) : options(options) {}

    int neighbourCount() override { return options.neighbours; }
    void setNeighbourCount(int) override {}
    std::string errorBoundText() override { return options.errorBound; }
    void setErrorBoundText(const std::string&) override {}
    int metricItem() override { return options.metricItem; }
    int customPower() override { return options.power; }
    bool earlyTermination() override { return options.maxVisit.has_value(); }
    int visitLimit() override { return options.maxVisit.value_or(0); }
    void setVisitLimit(int) override {}
    int bucketSize() override { return options.bucketSize; }
    int splitRuleItem() override { return options.splitItem; }
    int shrinkRuleItem() override { return options.shrinkItem; }
    int searchModeItem() override { return options.modeItem; }
    bool standardRangeSelected() override {
        return options.rangeItem == static_cast<int>(SearchRange::Standard);
    }
    bool fixedRadiusSelected() override {
        return options.rangeItem == static_cast<int>(SearchRange::FixedRadius);
    }
    bool priorityRangeSelected() override {
        return options.rangeItem == static_cast<int>(SearchRange::Priority);
    }
    std::string radiusText() override { return options.radius; }
    void setRadiusText(const std::string&) override {}
    bool showGraph() override { return false; } // no chart to show; drawing it changes no output
    bool hasChart() override { return false; }

    std::string inputPath() override { return options.dataPath; }
    std::string queryPath() override { return options.queryPath; }
    int dimensionsValue() override { return options.dimensions.value_or(2); }
    bool dimensionsAuto() override { return !options.dimensions.has_value(); }
    void setDimensionsValue(int) override {}
    void setMaxDataUpperBound(int) override {}
    bool maxDataAuto() override { return true; }
    void setMaxDataValue(int) override {}
    bool displayStatistics() override { return options.statistics; }

    void writeStatus(int, const std::string&) override {}
    void showMessage(const std::string& text) override;
    void clearReport() override {}
    void addReportLine(const std::string& line) override;

    bool tableShown(TableId which) override;
    void tableAboutToReshape(TableId, const ResultTable&) override {}
    void tableReshaped(TableId, const ResultTable&) override {}
    void tableCellsChanged(TableId, const ResultTable&) override {}

    void clearChart() override {}
    void showChart(const ChartContent&) override {}
    void showResults() override {}

    void progress(RunPhase, std::int64_t, std::int64_t) override {}
    void showTimings(const RunTimings& timings) override;

private:
    const CliOptions& options;
};

/// Writes a table as tab-separated text: the column captions, then each row's caption and cells.
/// "-" is standard output. False, after a message on standard error, when the file cannot be written.
bool writeTable(const ResultTable& table, const std::string& path);
/// Writes what write puts into a stream to the file at path, "-" being standard output; false, after a
/// message on standard error, when it cannot be written.
bool writeOutput(const std::string& path, const std::function<void(std::ostream&)>& write);

/// Flushes standard output, which holds the report; false, after a message on standard error, when any
/// of it could not be written.
bool finishStandardOutput();

} // namespace knn::cli
