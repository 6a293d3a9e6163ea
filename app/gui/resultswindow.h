// The results window "Form2": the data table (ListView1) over the query table (ListView2), the report
// (Memo1) beside the chart (Chart1), and a bottom panel with the run's phase times, the statistics of
// the tree that answered, and buttons that save the query table, the tree and the chart. Created
// hidden at start; a complete run shows it.
#pragma once

#include <QPlainTextEdit>
#include <QTableView>
#include <QWidget>

namespace knn {
class RunDriver;
struct RunTimings;
} // namespace knn

class QLabel;
class QPushButton;
class QSplitter;
class ResultsChart;
class TableModel;

/// A report-style table whose resizes are announced, so column widths can follow another table. Ctrl+C
/// copies the selected rows, Ctrl+A selects all; its context menu offers both.
class ListView : public QTableView {
    Q_OBJECT
public:
    ListView(const QString& name, QWidget* parent);
    /// The width each column needs to show its caption and the cells of the rows in sight (at least
    /// the first hundred from the top row) whole; the "#" column also the last row's number.
    QList<int> contentWidths() const;
    /// The selected rows as tab-separated text under a line of the column captions.
    void copySelection() const;

Q_SIGNALS:
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

/// The report: the Tab key stays in the box instead of moving the focus on.
class ReportMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool focusNextPrevChild(bool next) override;
};

class ResultsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ResultsWindow(QWidget* parent = nullptr);

    /// Shows the run driver's two tables and its answering tree; the driver outlives this window.
    void setRunDriver(const knn::RunDriver& runDriver);
    /// A run starts: the report, the phase times and the tree statistics of the last run go.
    void clearRunOutcome();
    /// The phases the run reached, one line each.
    void showTimings(const knn::RunTimings& timings);

    // The window's parts, under the names the window operations and the tests use.
    ListView* ListView1;            ///< `DataTable`
    ListView* ListView2;            ///< `QueryTable`
    ReportMemo* Memo1;              ///< the report
    ResultsChart* Chart1;           ///< data, queries and neighbour lines
    TableModel* dataModel;          ///< ListView1's model, null until `setRunDriver`
    TableModel* queryModel;         ///< ListView2's model, null until `setRunDriver`
    QLabel* timingsLabel;           ///< the last run's phase times
    QWidget* treeStatsPanel;        ///< one label per line of the tree statistics
    QPushButton* saveResultsButton; ///< "Save results..."
    QPushButton* saveTreeButton;    ///< "Save tree...": the answering tree in the library's dump format
    QPushButton* saveChartButton;   ///< "Save chart..."

public Q_SLOTS:
    /// The statistics of the tree that answered the last run's queries; nothing when there is none.
    void showTreeStats();
    /// A handler ended: the tree statistics follow, and "Save results..." is enabled only while the
    /// tables hold every result row of a run.
    void runEnded();
    // Column widths follow the other table only on these triggers, never on every width change.
    void ListView1Resize();
    void ListView1ColumnClick();
    void ListView2Resize();
    void ListView2ColumnClick();
    /// Writes the query table as text: comma-separated into a ".csv" file, else tab-separated.
    void saveResults();
    /// Writes the answering tree with its points.
    void saveTree();
    /// Writes the chart as a PNG image.
    void saveChart();
    /// Gives every column of both tables the width its texts need; the positions both tables have get
    /// the wider of their two widths, so mirroring them cuts no text.
    void fitColumns();

protected:
    void showEvent(QShowEvent* event) override;

private:
    /// Writes the tree statistics into their labels.
    void fillTreeStats();
    /// Copies each column width of from to the column of the same position in to.
    static void mirrorColumnWidths(const QTableView* from, QTableView* to);

    const knn::RunDriver* driver = nullptr; ///< whose tables and tree are shown, null until `setRunDriver`
    QList<QLabel*> treeStatLabels;          ///< the lines of treeStatsPanel
    bool treeStatsDue = false;              ///< the labels wait for the window to show
};
