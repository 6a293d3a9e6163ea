// The list views' content and the operations that shape and fill it.
#include "resulttable.h"

#include <algorithm>
#include <string>

#include "numbers.h"
#include "pointfile.h"

namespace knn {

namespace {

constexpr char CellSeparator = ResultTable::CellSeparator;

// [begin, end) of field `index` of a row (0 = caption); npos begin when the row has fewer fields.
std::pair<std::size_t, std::size_t> fieldSpan(const std::string& row, int index) {
    std::size_t begin = 0;
    for (int i = 0; i < index; ++i) {
        begin = row.find(CellSeparator, begin);
        if (begin == std::string::npos) return {std::string::npos, std::string::npos};
        ++begin;
    }
    const std::size_t end = row.find(CellSeparator, begin);
    return {begin, end == std::string::npos ? row.size() : end};
}

} // namespace

std::string_view ResultTable::columnCaption(int column) const {
    if (column < 0 || column >= columnCount()) return {};
    return captions[static_cast<std::size_t>(column)];
}

std::string_view ResultTable::cell(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0) return {};
    const std::string& text = rows[static_cast<std::size_t>(row)];
    const auto [begin, end] = fieldSpan(text, column);
    if (begin == std::string::npos) return {};
    return std::string_view(text).substr(begin, end - begin);
}

bool ResultTable::setCell(int row, int column, std::string_view text) {
    if (row < 0 || row >= rowCount() || column < 0 || static_cast<std::size_t>(column) > cellsPerRow())
        return false;
    std::string& rowText = rows[static_cast<std::size_t>(row)];
    const auto [begin, end] = fieldSpan(rowText, column);
    rowText.replace(begin, end - begin, text);
    return true;
}

bool ResultTable::replaceCells(int row, int firstColumn, const FieldList& texts) {
    if (row < 0 || row >= rowCount()) return false;
    std::string& old = rows[static_cast<std::size_t>(row)];
    const auto fieldCount = static_cast<int>(cellsPerRow()) + 1;
    std::string rebuilt;
    rebuilt.reserve(old.size() + 16 * texts.size());
    std::size_t oldBegin = 0;
    for (int column = 0; column < fieldCount; ++column) {
        std::size_t oldEnd = old.find(CellSeparator, oldBegin);
        if (oldEnd == std::string::npos) oldEnd = old.size();
        if (column > 0) rebuilt += CellSeparator;
        const int textIndex = column - firstColumn;
        if (textIndex >= 0 && static_cast<std::size_t>(textIndex) < texts.size())
            rebuilt.append(texts[static_cast<std::size_t>(textIndex)]);
        else
            rebuilt.append(old, oldBegin, oldEnd - oldBegin);
        oldBegin = oldEnd + 1;
    }
    old = std::move(rebuilt);
    return true;
}

void ResultTable::clear() {
    rows.clear();
    captions.clear();
}

void ResultTable::insertFirstColumn(std::string caption) {
    captions.insert(captions.begin(), std::move(caption));
    if (captions.size() > 1)
        for (std::string& row : rows)
            row += CellSeparator;
}

void ResultTable::appendColumn(std::string caption) {
    captions.push_back(std::move(caption));
    if (captions.size() > 1)
        for (std::string& row : rows)
            row += CellSeparator;
}

void ResultTable::removeLastColumn() {
    if (captions.size() > 1)
        for (std::string& row : rows)
            row.erase(row.rfind(CellSeparator));
    captions.pop_back();
}

void ResultTable::appendRow(std::string_view caption) {
    std::string row(caption);
    row.append(cellsPerRow(), CellSeparator);
    rows.push_back(std::move(row));
}

void ClearTable(ResultTable& table) {
    table.clear();
}

void ShapeTable(ResultTable& table, int wantedColumns, bool continueNumbering, bool numberCaptions,
                bool addHashColumn, std::string_view stem, int wantedRows) {
    int columns = table.columnCount();
    const int rows = table.rowCount();
    if (addHashColumn) {
        table.insertFirstColumn("#");
        columns = table.columnCount() - 1;
    }
    if (columns < wantedColumns) {
        const int base = continueNumbering ? columns : 0;
        for (int i = 0; i < wantedColumns - columns; ++i) {
            std::string caption(stem);
            if (numberCaptions) caption += std::to_string(base + i + 1);
            table.appendColumn(std::move(caption));
        }
    } else {
        for (int i = 0; i < columns - wantedColumns; ++i)
            table.removeLastColumn();
    }
    if (rows < wantedRows) {
        for (int j = 0; j < wantedRows - rows; ++j)
            table.appendRow(addHashColumn ? std::to_string(rows + j + 1) : std::string());
    } else {
        for (int j = 0; j < rows - wantedRows; ++j)
            table.removeLastRow();
    }
}

bool FillTable(const TextLines& lines, ResultTable& table, int firstColumn,
               const ProgressCallback& progress) {
    FieldList fields;
    FieldList normalized;
    std::string scratch;
    const auto total = static_cast<std::int64_t>(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SplitFields(lines[i], fields);
        normalized.clear();
        for (std::size_t n = 0; n < fields.size(); ++n) {
            scratch.assign(fields[n]);
            scratch = NormalizeNumber(std::move(scratch));
            normalized.add(scratch);
        }
        if (!table.replaceCells(static_cast<int>(i), firstColumn, normalized)) return false;
        reportProgress(progress, static_cast<std::int64_t>(i) + 1, total);
    }
    return true;
}

} // namespace knn

namespace knn {

namespace {

void appendQuotedIfNeeded(std::string& line, std::string_view text, char separator) {
    const char needsQuotes[] = {separator, '"', '\r', '\n'};
    if (text.find_first_of(std::string_view(needsQuotes, sizeof needsQuotes)) == std::string_view::npos) {
        line.append(text);
        return;
    }
    line += '"';
    for (const char c : text) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

// The caption line, then the rows that rowAt(i) names for i below count.
template <class RowAt>
void writeRows(const ResultTable& table, std::ostream& out, char separator, std::size_t count, RowAt rowAt) {
    std::string line;
    const int columns = table.columnCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0) line += separator;
        appendQuotedIfNeeded(line, table.columnCaption(c), separator);
    }
    line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    for (std::size_t i = 0; i < count; ++i) {
        line.clear();
        bool first = true;
        table.visitRow(rowAt(i), [&](std::string_view text) {
            if (!first) line += separator;
            first = false;
            appendQuotedIfNeeded(line, text, separator);
        });
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

} // namespace

void WriteTable(const ResultTable& table, std::ostream& out, char separator) {
    writeRows(table, out, separator, static_cast<std::size_t>(table.rowCount()),
              [](std::size_t i) { return static_cast<int>(i); });
}

void WriteTableRows(const ResultTable& table, std::ostream& out, char separator, std::span<const int> rows) {
    writeRows(table, out, separator, rows.size(), [&](std::size_t i) { return rows[i]; });
}

} // namespace knn
