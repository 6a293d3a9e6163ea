// Point files: decoding, line splitting, the field split and the conversion of data lines.
#include "pointfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "numbers.h"
#include "windowops.h"

namespace knn {

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr char32_t ReplacementCharacter = 0xFFFD;

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2; // an odd last byte is no character
    auto unitAt = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units && unitAt(i + 1) >= 0xDC00 &&
            unitAt(i + 1) < 0xE000) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            appendUtf8(out, ReplacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int continuation = 0;
        char32_t c = 0;
        char32_t smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            continuation = 1, c = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            continuation = 2, c = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            continuation = 3, c = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (i + continuation >= n) return false;
        for (int j = 1; j <= continuation; ++j) {
            const auto next = static_cast<unsigned char>(bytes[i + j]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
        i += continuation + 1;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char byte : bytes)
        appendUtf8(out, static_cast<unsigned char>(byte));
    return out;
}

bool isBlank(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void TextLines::assignText(std::string utf8) {
    text = std::move(utf8);
    lineEnds.clear();
    const std::size_t n = text.size();
    std::size_t write = 0;
    std::size_t read = 0;
    while (read < n) {
        const char c = text[read++];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && read < n && text[read] == '\n') ++read;
            lineEnds.push_back(write);
        } else {
            text[write++] = c;
        }
    }
    if (n > 0 && text[n - 1] != '\r' && text[n - 1] != '\n') lineEnds.push_back(write);
    text.resize(write);
}

std::string DecodeText(std::string bytes) {
    const std::string_view view = bytes;
    if (view.starts_with("\xFF\xFE")) return decodeUtf16(view.substr(2), false);
    if (view.starts_with("\xFE\xFF")) return decodeUtf16(view.substr(2), true);
    if (view.starts_with("\xEF\xBB\xBF")) {
        bytes.erase(0, 3);
        return bytes;
    }
    if (isValidUtf8(view)) return bytes;
    return latin1ToUtf8(view);
}

bool FileExists(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

TextLines ReadTextFile(const std::string& path) {
    auto failure = [&](const char* what) {
        return RunError(std::string(what) + " file \"" + path + "\". " + std::strerror(errno));
    };
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw failure("Cannot open");
    // Read straight into a buffer of the file's size (growing it for a file that grows meanwhile), so
    // a large file is neither copied nor reallocated on the way in.
    std::error_code sizeError;
    const auto expected = std::filesystem::file_size(path, sizeError);
    std::string bytes(sizeError ? std::size_t{1} << 16 : static_cast<std::size_t>(expected) + 1, '\0');
    std::size_t used = 0;
    std::size_t got = 0;
    while ((got = std::fread(bytes.data() + used, 1, bytes.size() - used, file.get())) > 0) {
        used += got;
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    }
    bytes.resize(used);
    if (std::ferror(file.get())) throw failure("Cannot read");
    std::string text = DecodeText(std::move(bytes));
    // A NUL has no place in a text of numbers: it marks a binary file or UTF-16 without a byte-order
    // mark, which would otherwise load as wrong points without a word.
    if (text.find('\0') != std::string::npos)
        throw RunError("Cannot read file \"" + path +
                       "\". It holds NUL characters: it is not a text file (UTF-16 needs a byte-order mark)");
    TextLines lines;
    lines.assignText(std::move(text));
    return lines;
}

void SplitFields(std::string_view line, FieldList& fields) {
    fields.clear();
    const std::size_t n = line.size();
    std::size_t i = 0;
    while (i < n && isBlank(line[i]))
        ++i;
    while (i < n && line[i] != '\0') {
        if (line[i] == '"') {
            fields.addEmpty();
            ++i;
            while (i < n && line[i] != '\0') {
                const std::size_t stop = std::min(line.find('"', i), line.find('\0', i));
                const std::size_t partEnd = std::min(stop, n);
                fields.extendLast(line.substr(i, partEnd - i));
                i = partEnd;
                if (i == n || line[i] == '\0') break;
                if (i + 1 < n && line[i + 1] == '"') { // a doubled quote stands for one
                    fields.extendLast("\"");
                    i += 2;
                } else {
                    ++i; // the closing quote ends the field
                    break;
                }
            }
        } else {
            const std::size_t start = i;
            while (i<n&& static_cast<unsigned char>(line[i])> 32)
                ++i;
            fields.add(line.substr(start, i - start));
        }
        while (i < n && isBlank(line[i]))
            ++i;
    }
}

int FieldCount(const TextLines& lines) {
    if (lines.empty()) throw RunError("List index out of bounds (0)");
    FieldList fields;
    SplitFields(lines[0], fields);
    return static_cast<int>(fields.size());
}

bool ParseDataPoints(int dim, const TextLines& lines, qel::PointArray points,
                     const ProgressCallback& progress) {
    FieldList fields;
    std::string scratch;
    const auto total = static_cast<std::int64_t>(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SplitFields(lines[i], fields);
        const int used = std::min(static_cast<int>(fields.size()), dim);
        for (int j = 0; j < used; ++j) {
            const auto value = ConvertField(fields[j], scratch);
            if (!value) return false;
            points[i][j] = *value;
        }
        reportProgress(progress, static_cast<std::int64_t>(i) + 1, total);
    }
    return true;
}

} // namespace knn
