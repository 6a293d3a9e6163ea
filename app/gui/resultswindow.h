// The results window "Form2": the data table (ListView1) over the query table (ListView2), the report
// (Memo1) beside the chart (Chart1), and a bottom panel with the run's phase times and buttons that
// save the query table and the chart. Created hidden at start; a complete run shows it.
#pragma once

#include <QPlainTextEdit>
#include <QTableView>
#include <QWidget>

namespace knn {
class ResultTable;
struct RunTimings;
} // namespace knn

class QLabel;
class QPushButton;
class QSplitter;
class ResultsChart;
class TableModel;

/// A report-style table whose resizes are announced, so column widths can follow another table.
class ListView : public QTableView {
    Q_OBJECT
public:
    ListView(const QString& name, QWidget* parent);
    /// Widths that fit the captions and the first rows; the "#" column fits the last row's number.
    void fitColumnsToContents();

Q_SIGNALS:
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
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

    /// Shows the run driver's two tables, which outlive this window.
    void setTables(const knn::ResultTable& dataTable, const knn::ResultTable& queryTable);
    void showTimings(const knn::RunTimings& timings);

    // The window's parts, under the names the window operations and the tests use.
    ListView* ListView1;            ///< `DataTable`
    ListView* ListView2;            ///< `QueryTable`
    ReportMemo* Memo1;              ///< the report
    ResultsChart* Chart1;           ///< data, queries and neighbour lines
    TableModel* dataModel;          ///< ListView1's model, null until `setTables`
    TableModel* queryModel;         ///< ListView2's model, null until `setTables`
    QLabel* timingsLabel;           ///< the last run's phase times
    QPushButton* saveResultsButton; ///< "Save results..."
    QPushButton* saveChartButton;   ///< "Save chart..."

public Q_SLOTS:
    // Column widths follow the other table only on these triggers, never on every width change.
    void ListView1Resize();
    void ListView1ColumnClick();
    void ListView2Resize();
    void ListView2ColumnClick();
    /// Writes the query table as text: comma-separated into a ".csv" file, else tab-separated.
    void saveResults();
    /// Writes the chart as a PNG image.
    void saveChart();

private:
    /// Copies each column width of from to the column of the same position in to.
    static void mirrorColumnWidths(const QTableView* from, QTableView* to);

    const knn::ResultTable* queryRows; ///< the table "Save results..." writes, null until `setTables`
};
