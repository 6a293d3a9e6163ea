// The content of the results window's two list views (`DataTable`, `QueryTable`) as plain data, and
// the operations the run driver shapes and fills them with. A window shows a table through a model;
// the core tells it when a table's shape or cells changed (see windowops.h).
//
// A row holds a caption (shown in column 0) and one cell per further column. Its texts are kept in
// one string, separated by NUL characters (field text never holds NUL), so a million rows cost one
// small string each.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fieldlist.h"
#include "progress.h"

namespace knn {

class TextLines;

class ResultTable {
public:
    static constexpr char CellSeparator = '\0'; ///< between the texts of a row

    /// Columns, the caption column included.
    int columnCount() const { return static_cast<int>(captions.size()); }
    int rowCount() const { return static_cast<int>(rows.size()); }
    /// Caption of a column; empty for a column that does not exist.
    std::string_view columnCaption(int column) const;
    /// Column 0 is the row caption; empty for a cell that does not exist.
    std::string_view cell(int row, int column) const;
    /// Calls visit with the row caption and then every cell of the row, in column order: a whole row
    /// without looking each cell up from the row's start.
    template <class Visit> void visitRow(int row, Visit visit) const {
        const std::string_view text = rows[static_cast<std::size_t>(row)];
        for (std::size_t begin = 0;;) {
            const std::size_t end = text.find(CellSeparator, begin);
            visit(text.substr(begin, end - begin));
            if (end == std::string_view::npos) return;
            begin = end + 1;
        }
    }
    /// False, changing nothing, when the row or column does not exist.
    bool setCell(int row, int column, std::string_view text);
    /// Writes texts[i] into column firstColumn + i of the row for the columns the row has, and drops
    /// the rest; false, changing nothing, when the row does not exist.
    bool replaceCells(int row, int firstColumn, const FieldList& texts);

    /// Removes all rows, then all columns.
    void clear();
    /// Puts a column at position 0; every row keeps its texts and gains an empty last cell.
    void insertFirstColumn(std::string caption);
    /// Appends a column; every row gains an empty cell at its end.
    void appendColumn(std::string caption);
    /// Removes the last column and the last cell of every row.
    void removeLastColumn();
    /// Appends a row with the caption and an empty cell per column after the first.
    void appendRow(std::string_view caption);
    void removeLastRow() { rows.pop_back(); }

private:
    std::size_t cellsPerRow() const { return captions.empty() ? 0 : captions.size() - 1; }

    std::vector<std::string> captions; ///< column captions, caption column first
    std::vector<std::string> rows;     ///< per row: caption and cells separated by NUL
};

/// Removes all rows, then all columns.
void ClearTable(ResultTable& table);

/// Brings the table to `wantedColumns` data columns and `wantedRows` rows. With addHashColumn a "#"
/// column is put first and does not count, and new rows are captioned with their 1-based number. New
/// columns are captioned stem + number (numbered on from the current count with continueNumbering,
/// else from 1) with numberCaptions, or the bare stem without.
void ShapeTable(ResultTable& table, int wantedColumns, bool continueNumbering, bool numberCaptions,
                bool addHashColumn, std::string_view stem, int wantedRows);

/// Writes the normalised fields of line i into row i, its first field into column firstColumn (0 is
/// the row caption). Fields beyond the row's columns are skipped. Stops and returns false at a line
/// without a row.
bool FillTable(const TextLines& lines, ResultTable& table, int firstColumn,
               const ProgressCallback& progress = {});

} // namespace knn

namespace knn {

/// Writes the table as text: the column captions, then per row its caption and cells, separated by
/// `separator`. A text holding the separator, a double quote or a line break is put in double quotes
/// with inner quotes doubled.
void WriteTable(const ResultTable& table, std::ostream& out, char separator);
/// The same for the caption line and the given rows only, in the order given (each an existing row).
void WriteTableRows(const ResultTable& table, std::ostream& out, char separator, std::span<const int> rows);

} // namespace knn
