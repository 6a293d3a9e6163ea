// The main window "KNN": the two path boxes with their file choosers, the option panel with its Auto
// boxes and the rules that tie the options together, "Reload data", "OK" and the three status panels.
// Controls keep the names the run reads them by (SpinEdit1, RadioGroup4, ...), as members and as
// object names; handlers are named after their control and event or after their action.
#pragma once

#include <QMainWindow>
#include <functional>

namespace knn {
class RunDriver;
struct SearchConfig;
} // namespace knn

class AboutWindow;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class RadioGroup;
class RunGate;
class SpinEdit;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    /// "OK" and "Reload data" run the driver's handlers; the driver outlives the window.
    void setRunDriver(knn::RunDriver& runDriver) { driver = &runDriver; }
    /// The text of status panel 0, 1 or 2.
    QString statusText(int panel) const;
    void setStatusText(int panel, const QString& text);
    /// The gate "OK", "Reload data" and the compare run go through; the window operations ask it for
    /// the run's progress and cancel.
    RunGate& runGate() { return *gate; }
    /// Sets the option panel to the configuration; the Auto boxes of the options it sets are cleared,
    /// so the next run reads them.
    void applyConfiguration(const knn::SearchConfig& config);

    // The form's controls and actions, under the names the window operations and the tests use.
    // Path rows.
    QLineEdit* Edit1;          ///< "Input file:" path
    QLineEdit* Edit2;          ///< "Query file:" path
    QToolButton* SpeedButton1; ///< chooser of the input file
    QToolButton* SpeedButton2; ///< chooser of the query file

    // Options.
    SpinEdit* SpinEdit1;        ///< "NN Amount:"
    SpinEdit* SpinEdit2;        ///< "Dimensions:"
    QLineEdit* Edit3;           ///< "Error bound:"
    SpinEdit* SpinEdit3;        ///< "Max data:"
    RadioGroup* RadioGroup1;    ///< "Distance metric"
    SpinEdit* SpinEdit4;        ///< "P =", the custom power
    RadioGroup* RadioGroup2;    ///< "Search mode"
    QRadioButton* RadioButton1; ///< "&Standard (all)"
    QRadioButton* RadioButton2; ///< "&Fixed radius (all)"
    QRadioButton* RadioButton3; ///< "&Priority (kd, bd)"
    QLineEdit* Edit4;           ///< "R =", the fixed radius
    SpinEdit* SpinEdit5;        ///< "Tree bucket size:"
    RadioGroup* RadioGroup4;    ///< "Splitting rule"
    RadioGroup* RadioGroup5;    ///< "Shrinking rule"
    SpinEdit* SpinEdit6;        ///< "Max =", the early-termination limit

    // Auto boxes and the switches of the panel's foot.
    QCheckBox* CheckBox1;  ///< Auto of "Dimensions:"
    QCheckBox* CheckBox2;  ///< Auto of "NN Amount:"
    QCheckBox* CheckBox3;  ///< Auto of "Error bound:"
    QCheckBox* CheckBox4;  ///< Auto of "Max data:"
    QCheckBox* CheckBox5;  ///< Auto of "Distance metric"
    QCheckBox* CheckBox6;  ///< Auto of "Search mode"
    QCheckBox* CheckBox7;  ///< Auto of "Search range"
    QCheckBox* CheckBox8;  ///< Auto of "Tree bucket size:"
    QCheckBox* CheckBox9;  ///< Auto of "Splitting rule"
    QCheckBox* CheckBox10; ///< Auto of "Shrinking rule"
    QCheckBox* CheckBox11; ///< "Early termination"
    QCheckBox* CheckBox12; ///< "Display search statistics"
    QCheckBox* CheckBox13; ///< "Show graph"

    // The action list: each flag is the tick of its box.
    QAction* DisableNNAmount;
    QAction* DisableDimensions;
    QAction* DisableEpsilon;
    QAction* DisableMaxData;
    QAction* DisableDistances;
    QAction* DisableSearchMode;
    QAction* DisableSearchRange;
    QAction* DisableBS;
    QAction* DisableSplit;
    QAction* DisableShrink;
    QAction* DisableBreak;
    QAction* DisableAll; ///< set: every option at its default ("Enable all options" shown)

    // Buttons and status.
    QPushButton* BitBtn1; ///< "OK"
    QPushButton* BitBtn2; ///< "Enable all options" / "Default all options"
    QPushButton* BitBtn3; ///< "Reload data"
    QPushButton* BitBtn4; ///< "Compare...": opens the compare window

    QPushButton* AboutButton;  ///< opens the About window, as F1 does
    QPushButton* CancelButton; ///< stops a run; shown beside the progress bar

public Q_SLOTS:
    // Auto boxes: the option's flag has already changed.
    void DisableNNAmountExecute();
    void DisableDimensionsExecute();
    void DisableEpsilonExecute();
    void DisableMaxDataExecute();
    void DisableDistancesExecute();
    void DisableSearchModeExecute();
    void DisableSearchRangeExecute();
    void DisableBSExecute();
    void DisableSplitExecute();
    void DisableShrinkExecute();
    /// "Early termination" changed; its limit is editable while it is ticked.
    void DisableBreakExecute();
    /// `BitBtn2` was clicked; the flag of `DisableAll` has already been inverted.
    void DisableAllExecute();
    void RadioGroup1Click();
    void RadioGroup2Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    /// "OK": one complete run.
    void BitBtn1Click();
    /// "Reload data": the load alone.
    void BitBtn3Click();
    void showAbout();

Q_SIGNALS:
    /// "Compare..." was clicked.
    void compareRequested();

protected:
    /// Closing during a run cancels it; the window closes once the run has stopped using it.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    QWidget* buildPathRows();
    QWidget* buildOptionPanel();
    QWidget* buildSearchOptions();
    QWidget* buildAdvancedOptions();
    void buildStatusBar();
    /// Widens a status panel whose text does not fit.
    void fitStatusPanel(int panel);
    /// Creates the checkable action `name`, bound both ways to `box`; a change of the box runs `handler`.
    QAction* bindAutoBox(QCheckBox* box, const QString& name, void (MainWindow::*handler)());
    /// The Auto rule: the controls are editable while `flag` is clear; setting it writes the default.
    void applyAutoRule(const QAction* flag, std::initializer_list<QWidget*> controls,
                       const std::function<void()>& writeDefault);
    /// Runs the file chooser and puts a confirmed path into `pathBox`.
    void choosePath(QLineEdit* pathBox);

    knn::RunDriver* driver = nullptr; ///< runs "OK" and "Reload data"
    RunGate* gate;                    ///< every run's progress, cancel and held-back input
    AboutWindow* about = nullptr;     ///< created when first asked for
    QLabel* statusPanels[3];          ///< panels of `StatusBar1`: input file, query file, run progress
};
