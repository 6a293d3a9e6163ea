// Fuzz target: the text path of a point file on arbitrary bytes. The bytes are decoded (byte-order
// marks, else UTF-8 or Latin-1), cut into lines, every line is split into fields and every field is
// normalised and converted. Each step is checked against a plain reference written from the format's
// rules: the line breaks, the field split with its quote rule, and the number grammar, whose values
// must equal the C library's correctly rounded conversion. Every converted value must also survive
// the general number format and read back as its 15-digit rounding.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fieldlist.h"
#include "fuzzsupport.h"
#include "numbers.h"
#include "pointfile.h"
#include "statistics.h"

namespace {

bool isBlank(unsigned char c) {
    return c >= 1 && c <= 32;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80             ? 0
                         : (lead & 0xE0) == 0xC0 ? 1
                         : (lead & 0xF0) == 0xE0 ? 2
                         : (lead & 0xF8) == 0xF0 ? 3
                                                 : -1;
        if (more < 0 || i + static_cast<std::size_t>(more) >= text.size()) return false;
        for (int j = 1; j <= more; ++j)
            if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return false;
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

// Lines end at CR, LF or CRLF; a break at the very end adds no line.
std::vector<std::string> referenceLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    if (!text.empty() && text.back() != '\r' && text.back() != '\n') lines.push_back(current);
    return lines;
}

// One character at a time: blanks are codes 1 to 32, a NUL ends the line, a field that opens with a
// double quote runs to the next single quote (a doubled one stands for one) or to the end of the line.
std::vector<std::string> referenceFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(static_cast<unsigned char>(line[i])))
            ++i;
    };
    skipBlanks();
    while (i < n && line[i] != '\0') {
        std::string field;
        if (line[i] == '"') {
            ++i;
            while (i < n && line[i] != '\0') {
                if (line[i] != '"') {
                    field += line[i++];
                } else if (i + 1 < n && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else {
                    ++i;
                    break;
                }
            }
        } else {
            while (i<n&& static_cast<unsigned char>(line[i])> 32)
                field += line[i++];
        }
        fields.push_back(field);
        skipBlanks();
    }
    return fields;
}

// The number grammar: spaces, sign, digits with at most one separator (at least one digit), an
// optional exponent, spaces. The value is strtod's (C locale) of the same number with a point; a value
// beyond the finite double range is no number.
std::optional<double> referenceNumber(std::string_view text, char separator) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    std::string canonical;
    while (i < n && text[i] == ' ')
        ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) canonical += text[i++];
    int digits = 0;
    bool separatorSeen = false;
    for (; i < n; ++i) {
        if (isDigit(text[i])) {
            ++digits;
            canonical += text[i];
        } else if (text[i] == separator && !separatorSeen) {
            separatorSeen = true;
            canonical += '.';
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        canonical += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) canonical += text[i++];
        const std::size_t start = i;
        while (i < n && isDigit(text[i]))
            canonical += text[i++];
        if (i == start) return std::nullopt;
    }
    while (i < n && text[i] == ' ')
        ++i;
    if (i != n) return std::nullopt;
    errno = 0;
    const double value = std::strtod(canonical.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(value)) return std::nullopt;
    return value;
}

bool sameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkNumber(const std::string& field, char separator) {
    const std::string normalised = knn::NormalizeNumber(field);
    FUZZ_CHECK(normalised.size() == field.size());
    int changed = 0;
    for (std::size_t i = 0; i < field.size(); ++i)
        changed += normalised[i] != field[i];
    FUZZ_CHECK(changed <= 1);

    const std::optional<double> value = knn::ConvertNumber(normalised);
    const std::optional<double> expected = referenceNumber(normalised, separator);
    FUZZ_CHECK(value.has_value() == expected.has_value());
    if (!value) return;
    FUZZ_CHECK(sameDouble(*value, *expected));
    FUZZ_CHECK(std::isfinite(*value));

    // What the bench writes reads back as the value's 15-digit rounding (unless that rounding leaves
    // the double range, as next to the largest double).
    const double rounded = knn::RoundTo15Digits(*value);
    if (std::isfinite(rounded)) {
        const std::optional<double> again = knn::ConvertNumber(knn::FormatDouble(*value));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == rounded);
    }
    FUZZ_CHECK(!knn::FormatStat(*value).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the separator in force: a point, a comma, or a rare one.
    static constexpr char separators[] = {'.', ',', '.', ',', '\'', ';', '/', '_'};
    const char separator = separators[data[0] % sizeof separators];
    knn::setDecimalSeparator(separator);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string text = knn::DecodeText(std::string(bytes));
    // A UTF-8 mark is taken at its word: the bytes after it are passed on as they are.
    if (!bytes.starts_with("\xEF\xBB\xBF")) FUZZ_CHECK(isValidUtf8(text));

    knn::TextLines lines;
    lines.assignText(text);
    const std::vector<std::string> expectedLines = referenceLines(text);
    FUZZ_CHECK(lines.size() == expectedLines.size());

    knn::FieldList fields;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(lines[i] == expectedLines[i]);
        knn::SplitFields(lines[i], fields);
        const std::vector<std::string> expectedFields = referenceFields(lines[i]);
        FUZZ_CHECK(fields.size() == expectedFields.size());
        for (std::size_t j = 0; j < fields.size(); ++j) {
            FUZZ_CHECK(fields[j] == expectedFields[j]);
            checkNumber(expectedFields[j], separator);
        }
    }
    if (!lines.empty())
        FUZZ_CHECK(knn::FieldCount(lines) == static_cast<int>(referenceFields(lines[0]).size()));
    return 0;
}
