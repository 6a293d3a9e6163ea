// Window operations on the Qt windows.
#include "desktopops.h"

#include "dialogs.h"
#include "mainwindow.h"
#include "radiogroup.h"
#include "resultschart.h"
#include "resultswindow.h"
#include "rungate.h"
#include "spinedit.h"
#include "tablemodel.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

} // namespace

void DesktopWindowOps::attach(MainWindow& mainWindow, ResultsWindow& resultsWindow) {
    main = &mainWindow;
    results = &resultsWindow;
    gate = &mainWindow.runGate();
}

int DesktopWindowOps::neighbourCount() {
    return main->SpinEdit1->value();
}
void DesktopWindowOps::setNeighbourCount(int k) {
    main->SpinEdit1->setValue(k);
}
std::string DesktopWindowOps::errorBoundText() {
    return toUtf8(main->Edit3->text());
}
void DesktopWindowOps::setErrorBoundText(const std::string& text) {
    main->Edit3->setText(fromUtf8(text));
}
int DesktopWindowOps::metricItem() {
    return main->RadioGroup1->itemIndex();
}
int DesktopWindowOps::customPower() {
    return main->SpinEdit4->value();
}
bool DesktopWindowOps::earlyTermination() {
    return main->CheckBox11->isChecked();
}
int DesktopWindowOps::visitLimit() {
    return main->SpinEdit6->value();
}
void DesktopWindowOps::setVisitLimit(int limit) {
    main->SpinEdit6->setValue(limit);
}
int DesktopWindowOps::bucketSize() {
    return main->SpinEdit5->value();
}
int DesktopWindowOps::splitRuleItem() {
    return main->RadioGroup4->itemIndex();
}
int DesktopWindowOps::shrinkRuleItem() {
    return main->RadioGroup5->itemIndex();
}
int DesktopWindowOps::searchModeItem() {
    return main->RadioGroup2->itemIndex();
}
bool DesktopWindowOps::standardRangeSelected() {
    return main->RadioButton1->isChecked();
}
bool DesktopWindowOps::fixedRadiusSelected() {
    return main->RadioButton2->isChecked();
}
bool DesktopWindowOps::priorityRangeSelected() {
    return main->RadioButton3->isChecked();
}
std::string DesktopWindowOps::radiusText() {
    return toUtf8(main->Edit4->text());
}
void DesktopWindowOps::setRadiusText(const std::string& text) {
    main->Edit4->setText(fromUtf8(text));
}
bool DesktopWindowOps::showGraph() {
    return main->CheckBox13->isChecked();
}

std::string DesktopWindowOps::inputPath() {
    return toUtf8(main->Edit1->text());
}
std::string DesktopWindowOps::queryPath() {
    return toUtf8(main->Edit2->text());
}
int DesktopWindowOps::dimensionsValue() {
    return main->SpinEdit2->value();
}
bool DesktopWindowOps::dimensionsAuto() {
    return main->DisableDimensions->isChecked();
}
void DesktopWindowOps::setDimensionsValue(int dim) {
    main->SpinEdit2->setValue(dim);
}
void DesktopWindowOps::setMaxDataUpperBound(int count) {
    main->SpinEdit3->setMaxValue(count);
}
bool DesktopWindowOps::maxDataAuto() {
    return main->DisableMaxData->isChecked();
}
void DesktopWindowOps::setMaxDataValue(int count) {
    main->SpinEdit3->setValue(count);
}
bool DesktopWindowOps::displayStatistics() {
    return main->CheckBox12->isChecked();
}

void DesktopWindowOps::writeStatus(int panel, const std::string& text) {
    main->setStatusText(panel, fromUtf8(text));
    // Painted now: a run's first phase may be a second without progress reports, and the user should
    // see at once that it started (OK greyed, its status).
    if (gate->running()) main->repaint();
}

void DesktopWindowOps::showMessage(const std::string& text) {
    Dialogs::showMessage(main, fromUtf8(text));
}

void DesktopWindowOps::clearReport() {
    // The report is cleared as a run starts: what the last run measured goes with it.
    results->clearRunOutcome();
}

void DesktopWindowOps::addReportLine(const std::string& line) {
    results->Memo1->appendPlainText(fromUtf8(line));
}

TableModel* DesktopWindowOps::modelOf(knn::TableId which) const {
    return which == knn::TableId::DataTable ? results->dataModel : results->queryModel;
}

bool DesktopWindowOps::tableShown(knn::TableId) {
    return true;
}

void DesktopWindowOps::tableAboutToReshape(knn::TableId which, const knn::ResultTable&) {
    modelOf(which)->beginReshape();
}

void DesktopWindowOps::tableReshaped(knn::TableId which, const knn::ResultTable&) {
    modelOf(which)->endReshape();
}

void DesktopWindowOps::tableCellsChanged(knn::TableId which, const knn::ResultTable&) {
    modelOf(which)->cellsChanged();
}

void DesktopWindowOps::clearChart() {
    results->Chart1->clear();
}

void DesktopWindowOps::showChart(const knn::ChartContent& chart) {
    results->Chart1->draw(chart);
}

void DesktopWindowOps::showResults() {
    results->show();
    results->raise();
}

void DesktopWindowOps::progress(knn::RunPhase phase, std::int64_t done, std::int64_t total) {
    gate->showProgress(phase, done, total);
}

bool DesktopWindowOps::cancelRequested() {
    return gate->cancelRequested();
}

void DesktopWindowOps::showTimings(const knn::RunTimings& timings) {
    results->showTimings(timings);
}
