// Point files: reading a whole text file into lines (byte-order marks, CR/LF/CRLF), the field split
// and the conversion of lines into points.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fieldlist.h"
#include "progress.h"
#include "qelinclude.h"

namespace knn {

/// The lines of a text file, kept in one UTF-8 buffer.
class TextLines {
public:
    std::size_t size() const { return lineEnds.size(); }
    bool empty() const { return lineEnds.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : lineEnds[i - 1];
        return std::string_view(text).substr(begin, lineEnds[i] - begin);
    }
    /// Splits UTF-8 text at CR, LF and CRLF; a break at the very end adds no line.
    void assignText(std::string utf8);

private:
    std::string text;                  ///< the lines back to back, without their breaks
    std::vector<std::size_t> lineEnds; ///< end offset of each line in `text`
};

/// Decodes a file's bytes to UTF-8: a UTF-16 LE, UTF-16 BE or UTF-8 byte-order mark (tested in this
/// order) selects the encoding and is dropped; other bytes are UTF-8 when valid, else Latin-1.
std::string DecodeText(std::string bytes);

/// True when something other than a directory exists at the path.
bool FileExists(const std::string& path);

/// The file's lines. A file that cannot be opened or read raises a `RunError` with the system's words;
/// so does a file whose text holds a NUL character.
TextLines ReadTextFile(const std::string& path);

/// Splits a line into fields: runs of characters above code 32 separated by characters of codes 1 to
/// 32. A field opening with a double quote runs to the next single double quote (a doubled one stands
/// for one quote character; an unclosed one runs to the end of the line). A NUL ends the line.
void SplitFields(std::string_view line, FieldList& fields);

/// The field count of the first line; an empty list raises "List index out of bounds (0)".
int FieldCount(const TextLines& lines);

/// Converts line i into point i, the first min(field count, dim) coordinates; false at the first
/// field that does not convert.
bool ParseDataPoints(int dim, const TextLines& lines, qel::PointArray points,
                     const ProgressCallback& progress = {});

} // namespace knn
