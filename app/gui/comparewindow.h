// The compare window: a picker of the configurations to measure (checkable lists per option, or the
// default grid), "Run" with a progress bar and "Cancel", the sortable results table with the winners
// highlighted, a chart of query time against recall (the Pareto front joined) and a bar chart of build
// plus query time. "Use this configuration" sets the main window's option panel to the selected row.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include "compare.h"
#include "resulttable.h"

namespace knn {
class RunDriver;
}

class MainWindow;
class QChartView;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QSpinBox;
class QTableView;

/// The rows of a compare run: the table's texts, sorting by the measured values, winners highlighted.
class CompareModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    /// Qt::UserRole holds the value the column sorts by.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setResult(knn::CompareResult newResult);
    const knn::CompareResult& result() const { return compared; }
    const knn::ResultTable& table() const { return texts; }

private:
    /// A time column's unit: its values are shown divided by scale, with the unit in the caption.
    struct TimeUnit {
        double scale = 0.0; ///< 0: not a time column
        QString name;
    };

    knn::CompareResult compared;
    knn::ResultTable texts; ///< CompareTable of the result, which is what a saved table holds
    QList<TimeUnit> units;  ///< one per column
};

class CompareWindow : public QWidget {
    Q_OBJECT
public:
    /// A window of its own, owned by the main window, whose run gate it runs through and whose option
    /// panel it sets.
    CompareWindow(MainWindow& mainWindow, knn::RunDriver& driver);

    /// The configurations the picker stands for.
    std::vector<knn::CompareConfig> pickedConfigs() const;
    CompareModel& model() { return *rows; }

    QCheckBox* DefaultGrid;
    QListWidget* Structures;
    QListWidget* Searches;
    QListWidget* SplitRules;
    QListWidget* ShrinkRules;
    QListWidget* BucketSizes;
    QListWidget* EpsValues;
    QListWidget* VisitLimits;
    QSpinBox* Repetitions;
    QPushButton* RunButton;
    QPushButton* CancelButton;
    QProgressBar* Progress;
    QLabel* Status;
    QTableView* Table;
    QChartView* RecallChart;
    QChartView* TimeChart;
    QPushButton* UseConfiguration;
    QPushButton* SaveTable;
    QPushButton* SaveChart;

public Q_SLOTS:
    void runCompare();
    void cancelCompare();
    /// Hands the selected row's configuration to the main window's option panel.
    void useConfiguration();
    void saveTable();
    void saveChart();

protected:
    /// Closing the window cancels its run.
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildPicker();
    void showResult(knn::CompareResult result);
    void drawCharts();

    MainWindow& main;
    knn::RunDriver& driver;
    CompareModel* rows;
    QSortFilterProxyModel* sorted;
    QWidget* charts;        ///< both charts, saved as one image
    bool comparing = false; ///< this window's run is in progress
};
