// The window operations of the run driver, carried out on the two desktop windows: option reads and
// write-backs on the main window's controls, status panels, message boxes through `Dialogs`, the
// report memo, table models and the chart of the results window, and progress and cancel through the
// main window's run gate.
#pragma once

#include "windowops.h"

class MainWindow;
class ResultsWindow;
class RunGate;
class TableModel;

class DesktopWindowOps : public knn::WindowOps {
public:
    /// Windows come later (`attach`); until then only `showMessage` may be used.
    DesktopWindowOps() = default;
    void attach(MainWindow& mainWindow, ResultsWindow& resultsWindow);

    int neighbourCount() override;
    void setNeighbourCount(int k) override;
    std::string errorBoundText() override;
    void setErrorBoundText(const std::string& text) override;
    int metricItem() override;
    int customPower() override;
    bool earlyTermination() override;
    int visitLimit() override;
    void setVisitLimit(int limit) override;
    int bucketSize() override;
    int splitRuleItem() override;
    int shrinkRuleItem() override;
    int searchModeItem() override;
    bool standardRangeSelected() override;
    bool fixedRadiusSelected() override;
    bool priorityRangeSelected() override;
    std::string radiusText() override;
    void setRadiusText(const std::string& text) override;
    bool showGraph() override;

    std::string inputPath() override;
    std::string queryPath() override;
    int dimensionsValue() override;
    bool dimensionsAuto() override;
    void setDimensionsValue(int dim) override;
    void setMaxDataUpperBound(int count) override;
    bool maxDataAuto() override;
    void setMaxDataValue(int count) override;
    bool displayStatistics() override;

    void writeStatus(int panel, const std::string& text) override;
    void showMessage(const std::string& text) override;
    void clearReport() override;
    void addReportLine(const std::string& line) override;

    bool tableShown(knn::TableId which) override;
    void tableAboutToReshape(knn::TableId which, const knn::ResultTable& table) override;
    void tableReshaped(knn::TableId which, const knn::ResultTable& table) override;
    void tableCellsChanged(knn::TableId which, const knn::ResultTable& table) override;

    void clearChart() override;
    void showChart(const knn::ChartContent& chart) override;
    void showResults() override;

    void progress(knn::RunPhase phase, std::int64_t done, std::int64_t total) override;
    bool cancelRequested() override;
    void showTimings(const knn::RunTimings& timings) override;

private:
    TableModel* modelOf(knn::TableId which) const;

    MainWindow* main = nullptr;       ///< the window "KNN"
    ResultsWindow* results = nullptr; ///< the window "Form2"
    RunGate* gate = nullptr;          ///< the main window's, for progress and cancel
};
