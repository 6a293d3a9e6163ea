// Shows one of the core's result tables (`DataTable` or `QueryTable`) in a view. The table's first
// column is the row caption ("#"); the model shows it as an ordinary first column. Cells are read
// on demand, so a million rows cost the view nothing until they are scrolled into sight.
#pragma once

#include <QAbstractTableModel>

namespace knn {
class ResultTable;
}

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TableModel(const knn::ResultTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// The table is about to gain or lose rows or columns ...
    void beginReshape() { beginResetModel(); }
    /// ... and has.
    void endReshape() { endResetModel(); }
    /// Cells were written; the shape is unchanged.
    void cellsChanged();
    const knn::ResultTable& resultTable() const { return table; }

private:
    const knn::ResultTable& table; ///< owned by the run driver, which outlives the window
};
