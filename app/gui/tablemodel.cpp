// Read-only table model over a core result table.
#include "tablemodel.h"

#include "resulttable.h"

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TableModel::TableModel(const knn::ResultTable& table, QObject* parent)
    : QAbstractTableModel(parent), table(table) {}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table.rowCount();
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table.columnCount();
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    return fromUtf8(table.cell(index.row(), index.column()));
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || section < 0) return {};
    if (orientation == Qt::Horizontal)
        return section < table.columnCount() ? fromUtf8(table.columnCaption(section)) : QVariant();
    return section < table.rowCount() ? QVariant(section + 1) : QVariant();
}

void TableModel::cellsChanged() {
    if (table.rowCount() > 0 && table.columnCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(table.rowCount() - 1, table.columnCount() - 1),
                           {Qt::DisplayRole});
}
