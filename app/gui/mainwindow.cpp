// Main window: the option panel's rules, the status panels and the handlers of its buttons.
#include "mainwindow.h"

#include "aboutwindow.h"
#include "dialogs.h"
#include "numbers.h"
#include "radiogroup.h"
#include "rungate.h"
#include "searchcall.h"
#include "session.h"
#include "spinedit.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

void MainWindow::fitStatusPanel(int panel) {
    QLabel* label = statusPanels[panel];
    QWidget* frame = label->parentWidget();
    const int chrome = frame->width() - label->contentsRect().width();
    const int wanted = label->fontMetrics().horizontalAdvance(label->text()) + chrome;
    // Panels only grow, so they do not jump back and forth from text to text.
    if (wanted > frame->width()) frame->setFixedWidth(wanted);
}

QString MainWindow::statusText(int panel) const {
    return statusPanels[panel]->text();
}

void MainWindow::setStatusText(int panel, const QString& text) {
    statusPanels[panel]->setText(text);
    fitStatusPanel(panel);
}

void MainWindow::applyAutoRule(const QAction* flag, std::initializer_list<QWidget*> controls,
                               const std::function<void()>& writeDefault) {
    for (QWidget* control : controls)
        control->setEnabled(!flag->isChecked());
    if (flag->isChecked()) writeDefault();
}

void MainWindow::DisableNNAmountExecute() {
    applyAutoRule(DisableNNAmount, {SpinEdit1}, [this] { SpinEdit1->setValue(1); });
}

void MainWindow::DisableDimensionsExecute() {
    applyAutoRule(DisableDimensions, {SpinEdit2}, [this] { SpinEdit2->setValue(2); });
}

void MainWindow::DisableEpsilonExecute() {
    applyAutoRule(DisableEpsilon, {Edit3}, [this] { Edit3->setText(QStringLiteral("0.0")); });
}

void MainWindow::DisableMaxDataExecute() {
    applyAutoRule(DisableMaxData, {SpinEdit3}, [this] { SpinEdit3->setValue(1000); });
}

void MainWindow::DisableDistancesExecute() {
    applyAutoRule(DisableDistances, {RadioGroup1}, [this] { RadioGroup1->setItemIndex(1); });
}

void MainWindow::DisableSearchModeExecute() {
    applyAutoRule(DisableSearchMode, {RadioGroup2}, [this] { RadioGroup2->setItemIndex(1); });
}

void MainWindow::DisableSearchRangeExecute() {
    applyAutoRule(DisableSearchRange, {RadioButton1, RadioButton2, RadioButton3},
                  [this] { RadioButton1->setChecked(true); });
    // Priority stays unavailable under brute force.
    if (!DisableSearchRange->isChecked()) RadioGroup2Click();
}

void MainWindow::DisableBSExecute() {
    applyAutoRule(DisableBS, {SpinEdit5}, [this] { SpinEdit5->setValue(1); });
}

void MainWindow::DisableSplitExecute() {
    applyAutoRule(DisableSplit, {RadioGroup4}, [this] { RadioGroup4->setItemIndex(5); });
}

void MainWindow::DisableShrinkExecute() {
    applyAutoRule(DisableShrink, {RadioGroup5}, [this] { RadioGroup5->setItemIndex(3); });
}

void MainWindow::DisableBreakExecute() {
    // Unlike the Auto boxes, a ticked "Early termination" makes its limit editable.
    const bool on = DisableBreak->isChecked();
    SpinEdit6->setEnabled(on);
    if (!on) SpinEdit6->setValue(0);
}

void MainWindow::DisableAllExecute() {
    QCheckBox* const autoBoxes[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5,
                                    CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10};
    if (!DisableAll->isChecked()) {
        BitBtn2->setText(QStringLiteral("Default all options"));
        for (QCheckBox* box : autoBoxes)
            box->setChecked(false);
        for (QWidget* control : std::initializer_list<QWidget*>{
                 SpinEdit1, SpinEdit2, SpinEdit3, SpinEdit5, Edit3, RadioGroup1, RadioGroup2, RadioButton1,
                 RadioButton2, RadioButton3, RadioGroup4, RadioGroup5})
            control->setEnabled(true);
        RadioGroup2Click();
        return;
    }
    BitBtn2->setText(QStringLiteral("Enable all options"));
    for (QCheckBox* box : autoBoxes)
        box->setChecked(true);
    CheckBox11->setChecked(false);
    for (QWidget* control : std::initializer_list<QWidget*>{
             SpinEdit1, SpinEdit2, SpinEdit3, SpinEdit5, SpinEdit6, Edit3, Edit4, RadioGroup1, RadioGroup2,
             RadioButton1, RadioButton2, RadioButton3, RadioGroup4, RadioGroup5})
        control->setEnabled(false);
    RadioGroup1->setItemIndex(1);
    RadioGroup2->setItemIndex(1);
    RadioButton1->setChecked(true);
    RadioGroup4->setItemIndex(5);
    RadioGroup5->setItemIndex(3);
    SpinEdit1->setValue(1);
    SpinEdit2->setValue(2);
    SpinEdit3->setValue(1000);
    SpinEdit5->setValue(1);
    SpinEdit6->setValue(0);
    Edit3->setText(QStringLiteral("0.0"));
}

void MainWindow::applyConfiguration(const knn::SearchConfig& config) {
    // Each option's Auto box is cleared first, so the value set stays and the run reads it.
    CheckBox6->setChecked(false);
    RadioGroup2->setItemIndex(static_cast<int>(config.mode));
    CheckBox7->setChecked(false);
    QRadioButton* const ranges[] = {RadioButton1, RadioButton2, RadioButton3};
    ranges[static_cast<int>(config.range)]->setChecked(true);
    if (config.mode == knn::SearchMode::BruteForce) return;
    CheckBox8->setChecked(false);
    SpinEdit5->setValue(config.bucketSize);
    CheckBox9->setChecked(false);
    RadioGroup4->setItemIndex(static_cast<int>(config.split));
    if (config.mode == knn::SearchMode::BdTree) {
        CheckBox10->setChecked(false);
        RadioGroup5->setItemIndex(static_cast<int>(config.shrink));
    }
    CheckBox3->setChecked(false);
    Edit3->setText(QString::fromStdString(knn::FormatDouble(config.eps)));
    CheckBox11->setChecked(config.visitLimit > 0);
    SpinEdit6->setValue(config.visitLimit);
}

void MainWindow::RadioGroup1Click() {
    SpinEdit4->setEnabled(RadioGroup1->itemIndex() == 3);
}

void MainWindow::RadioGroup2Click() {
    if (RadioGroup2->itemIndex() == 0) {
        if (RadioButton3->isChecked()) RadioButton1->setChecked(true);
        RadioButton3->setEnabled(false);
    } else if (!DisableSearchRange->isChecked()) {
        RadioButton3->setEnabled(true);
    }
}

void MainWindow::RadioButton1Click() {
    Edit4->setEnabled(false);
}

void MainWindow::RadioButton2Click() {
    Edit4->setEnabled(true);
}

void MainWindow::RadioButton3Click() {
    Edit4->setEnabled(false);
}

void MainWindow::SpeedButton1Click() {
    choosePath(Edit1);
}

void MainWindow::SpeedButton2Click() {
    choosePath(Edit2);
}

void MainWindow::choosePath(QLineEdit* pathBox) {
    // The bundled samples are .pts files: the first filter shows them, and the chooser opens where the
    // path in the box points.
    const Dialogs::FileRequest request{
        QStringLiteral("Select file"),
        {QStringLiteral("Point files (*.pts *.txt)"), QStringLiteral("Text files (*.txt)"),
         QStringLiteral("CSV files (*.csv)"), QStringLiteral("Data files (*.dat)"),
         QStringLiteral("All files (*)")},
        QStringLiteral("txt"),
        false,
        pathBox->text()};
    if (std::optional<QString> path = Dialogs::chooseFile(this, request)) pathBox->setText(*path);
}

void MainWindow::BitBtn1Click() {
    if (driver) gate->run([this] { driver->BitBtn1Click(); });
}

void MainWindow::BitBtn3Click() {
    if (driver) gate->run([this] { driver->BitBtn3Click(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (gate->deferClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::showAbout() {
    if (!about) about = new AboutWindow(this);
    about->show();
    about->raise();
    about->activateWindow();
}
