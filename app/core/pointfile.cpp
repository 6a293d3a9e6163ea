// Point files: decoding, line splitting, the field split and the conversion of data lines.
#include "pointfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <sys/stat.h>

#include "numbers.h"
#include "windowops.h"
#include <qel/workerthreads.h>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

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
        // Number text is ASCII: skip it eight bytes at a time.
        constexpr std::uint64_t HighBits = 0x8080808080808080u;
        for (std::uint64_t word = 0; i + sizeof word <= n; i += sizeof word) {
            std::memcpy(&word, bytes.data() + i, sizeof word);
            if (word & HighBits) break;
        }
        if (i == n) break;
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

// Asks for huge pages under a large buffer that is about to be filled, where the system offers them:
// on a virtual machine the first touch of every small page costs more than reading the page's bytes.
void preferHugePages(const char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HugePage = std::uintptr_t{1} << 21;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + HugePage - 1) & ~(HugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(HugePage - 1);
    if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data, (void)size;
#endif
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void TextLines::assignText(std::string utf8) {
    text = std::move(utf8);
    lineEnds.clear();
    const std::size_t n = text.size();
    // One allocation of the right size: a million lines would otherwise be copied as the list grows.
    std::size_t lineFeeds = 0;
    std::size_t carriageReturns = 0;
    for (const char c : text) {
        lineFeeds += c == '\n';
        carriageReturns += c == '\r';
    }
    lineEnds.reserve(lineFeeds + carriageReturns + 1);
    if (carriageReturns == 0) {
        for (std::size_t at = 0; at < n; ++at) {
            const void* lineFeed = std::memchr(text.data() + at, '\n', n - at);
            at = lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - text.data()) : n;
            lineEnds.push_back(at);
        }
        return;
    }
    for (std::size_t at = 0; at < n; ++at) {
        if (text[at] == '\r' || text[at] == '\n') {
            lineEnds.push_back(at);
            if (text[at] == '\r' && at + 1 < n && text[at + 1] == '\n') ++at;
        }
    }
    if (n > 0 && text[n - 1] != '\r' && text[n - 1] != '\n') lineEnds.push_back(n);
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

std::string MissingFileMessage(const std::string& path) {
    std::error_code error;
    const std::string message = "File " + path + " doesn't exist.";
    return std::filesystem::is_directory(path, error) ? message + "\nIt is a folder, not a file." : message;
}

std::size_t BlankLineCount(const TextLines& lines) {
    std::size_t blank = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        blank += std::none_of(line.begin(), line.end(),
                              [](char c) { return static_cast<unsigned char>(c) > ' '; });
    }
    return blank;
}

int FileFieldCount(const TextLines& lines, const std::string& path) {
    if (lines.empty())
        throw RunError("List index out of bounds (0)\nFile " + path + " is empty: it holds no line.");
    return FieldCount(lines);
}

TextLines ReadTextFile(const std::string& path) {
    auto failure = [&](const char* what) {
        return RunError(std::string(what) + " file \"" + path + "\". " + std::strerror(errno));
    };
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw failure("Cannot open");
    struct stat opened {};
    const bool regular = fstat(fileno(file.get()), &opened) == 0 && S_ISREG(opened.st_mode);
    if (!regular && (S_ISCHR(opened.st_mode) || S_ISBLK(opened.st_mode)))
        throw RunError("Cannot read file \"" + path + "\". It is a device, not a file of points");
    // A NUL has no place in a text of numbers: it marks a binary file or UTF-16 without a byte-order
    // mark, which would otherwise load as wrong points without a word.
    const auto holdsNul = [&] {
        return RunError(
            "Cannot read file \"" + path +
            "\". It holds NUL characters: it is not a text file (UTF-16 needs a byte-order mark)");
    };
    // A buffer of the file's size, filled through a small one: reading straight into it would first
    // have to clear it, which costs as much as the read.
    const auto expected = regular ? static_cast<std::size_t>(opened.st_size) : 0;
    std::string bytes;
    bytes.reserve(expected);
    preferHugePages(bytes.data(), bytes.capacity());
    std::vector<char> chunk(std::size_t{1} << 16);
    std::size_t got = 0;
    bool utf16 = false;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) {
        if (bytes.empty())
            utf16 = got >= 2 && (std::string_view(chunk.data(), 2) == "\xFF\xFE" ||
                                 std::string_view(chunk.data(), 2) == "\xFE\xFF");
        // Stopping at the first NUL, a stream of binary data without end is refused at once.
        if (!utf16 && std::memchr(chunk.data(), '\0', got)) throw holdsNul();
        bytes.append(chunk.data(), got);
    }
    if (std::ferror(file.get())) throw failure("Cannot read");
    if (regular && bytes.size() < expected)
        throw RunError("Cannot read file \"" + path + "\". It became shorter while it was read (" +
                       std::to_string(bytes.size()) + " of " + std::to_string(expected) + " bytes)");
    std::string text = DecodeText(std::move(bytes));
    // Other bytes were searched as they came; only UTF-16 can decode to a NUL.
    if (utf16 && text.find('\0') != std::string::npos) throw holdsNul();
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

int ConvertFields(const FieldList& fields, int first, int used, qel::Point point, std::string& scratch) {
    for (int j = first; j < used; ++j) {
        const auto value = ConvertField(fields[static_cast<std::size_t>(j)], scratch);
        if (!value) return j;
        point[j] = *value;
    }
    return used;
}

namespace {

// Lines below which a thread of its own costs more than it saves.
constexpr std::size_t MinLinesPerThread = 4096;

// ConvertEveryLine over lines first .. last - 1.
DataConversion convertLines(int dim, const TextLines& lines, std::size_t first, std::size_t last,
                            qel::PointArray points, const ProgressCallback& progress) {
    DataConversion found;
    FieldList fields;
    std::string scratch;
    const auto total = static_cast<std::int64_t>(lines.size());
    for (std::size_t i = first; i < last; ++i) {
        SplitFields(lines[i], fields);
        const int fieldCount = static_cast<int>(fields.size());
        if (fieldCount > 0 && fieldCount < dim) found.shortLines.push_back({i, fieldCount});
        const int used = std::min(fieldCount, dim);
        for (int j = ConvertFields(fields, 0, used, points[i], scratch); j < used;
             j = ConvertFields(fields, j + 1, used, points[i], scratch)) {
            if (found.failedLine == DataConversion::NoFailure) found.failedLine = i, found.failedField = j;
        }
        reportProgress(progress, static_cast<std::int64_t>(i) + 1, total);
    }
    return found;
}

} // namespace

DataConversion ConvertEveryLine(int dim, const TextLines& lines, qel::PointArray points, int threads,
                                const ProgressCallback& progress) {
    const std::size_t n = lines.size();
    const std::size_t parts = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), 1,
                                                      std::max<std::size_t>(n / MinLinesPerThread, 1));
    // Each thread converts a run of consecutive lines, so the runs' findings join in file order.
    std::vector<DataConversion> found(parts);
    qel::runOnThreads(parts, [&](std::size_t part) {
        found[part] = convertLines(dim, lines, n * part / parts, n * (part + 1) / parts, points,
                                   part == 0 ? progress : ProgressCallback{});
    });
    DataConversion all = std::move(found[0]);
    for (std::size_t part = 1; part < parts; ++part) {
        if (all.failedLine == DataConversion::NoFailure)
            all.failedLine = found[part].failedLine, all.failedField = found[part].failedField;
        all.shortLines.insert(all.shortLines.end(), found[part].shortLines.begin(),
                              found[part].shortLines.end());
    }
    if (parts > 1) reportProgress(progress, static_cast<std::int64_t>(n), static_cast<std::int64_t>(n));
    return all;
}

bool KeepUpToFirstFailure(const DataConversion& conversion, int dim, std::size_t count,
                          qel::PointArray points) {
    if (conversion.failedLine == DataConversion::NoFailure) return true;
    std::fill(points[conversion.failedLine] + conversion.failedField, points[conversion.failedLine] + dim,
              0.0);
    for (std::size_t i = conversion.failedLine + 1; i < count; ++i)
        std::fill(points[i], points[i] + dim, 0.0);
    return false;
}

} // namespace knn
