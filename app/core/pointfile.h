// Point files: reading a whole text file into lines (byte-order marks, CR/LF/CRLF), the field split
// and the conversion of lines into points.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fieldlist.h"
#include "progress.h"
#include <qel/qelinclude.h>

namespace knn {

/// The lines of a text file, kept in one UTF-8 buffer with their breaks.
class TextLines {
public:
    std::size_t size() const { return lineEnds.size(); }
    bool empty() const { return lineEnds.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : afterBreak(lineEnds[i - 1]);
        return std::string_view(text.data() + begin, lineEnds[i] - begin);
    }
    /// Splits UTF-8 text at CR, LF and CRLF; a break at the very end adds no line.
    void assignText(std::string utf8);

private:
    /// Where the line after the break at `at` begins (CRLF is one break).
    std::size_t afterBreak(std::size_t at) const {
        return at + (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1);
    }

    std::string text;                  ///< the whole text, breaks included: splitting moves nothing
    std::vector<std::size_t> lineEnds; ///< where each line ends: at its break, or at the text's end
};

/// Decodes a file's bytes to UTF-8: a UTF-16 LE, UTF-16 BE or UTF-8 byte-order mark (tested in this
/// order) selects the encoding and is dropped; other bytes are UTF-8 when valid, else Latin-1.
std::string DecodeText(std::string bytes);

/// True when something other than a directory exists at the path.
bool FileExists(const std::string& path);
/// "File P doesn't exist.", and for a folder a second line that says so.
std::string MissingFileMessage(const std::string& path);

/// Lines without a field, each of which loads as a point at the origin.
std::size_t BlankLineCount(const TextLines& lines);

/// The field count of the first line of the file at path; an empty list raises "List index out of
/// bounds (0)" with a second line that names the empty file.
int FileFieldCount(const TextLines& lines, const std::string& path);

/// The file's lines. A file that cannot be opened or read raises a `RunError` with the system's words;
/// so does a device (whose reading need not end), a file whose text holds a NUL character (the reading
/// stops at the first one) and a file that shrinks while it is read.
TextLines ReadTextFile(const std::string& path);

/// Splits a line into fields: runs of characters above code 32 separated by characters of codes 1 to
/// 32. A field opening with a double quote runs to the next single double quote (a doubled one stands
/// for one quote character; an unclosed one runs to the end of the line). A NUL ends the line.
void SplitFields(std::string_view line, FieldList& fields);

/// The field count of the first line; an empty list raises "List index out of bounds (0)".
int FieldCount(const TextLines& lines);

/// Converts fields first .. used - 1 into the same coordinates of point, up to the first that does not
/// convert, which is left unwritten; returns that field's index, or `used` when all converted.
int ConvertFields(const FieldList& fields, int first, int used, qel::Point point, std::string& scratch);

/// A line with at least one field but fewer than the points have coordinates.
struct ShortLine {
    std::size_t line; ///< index of the line
    int fieldCount;   ///< its fields, 1 to dim - 1
};

/// What ConvertEveryLine met on its way.
struct DataConversion {
    static constexpr std::size_t NoFailure = static_cast<std::size_t>(-1);
    std::size_t failedLine = NoFailure; ///< line of the first field that does not convert
    int failedField = 0;                ///< that field's index in its line
    std::vector<ShortLine> shortLines;  ///< every short line, in file order
};

/// Converts line i into point i, the first min(field count, dim) coordinates, on `threads` threads (the
/// calling one reports progress). A field that does not convert stays 0, as do the coordinates a line
/// does not supply, and the lines after it are converted all the same, so that every line's values are
/// in the points for the statistics block. The points must come cleared (newPointArray clears them).
DataConversion ConvertEveryLine(int dim, const TextLines& lines, qel::PointArray points, int threads = 1,
                                const ProgressCallback& progress = {});

/// Clears what ConvertEveryLine wrote from its first field that did not convert on: a load keeps the
/// points up to there and the rest as they came. True when every field converted.
bool KeepUpToFirstFailure(const DataConversion& conversion, int dim, std::size_t count,
                          qel::PointArray points);

} // namespace knn
