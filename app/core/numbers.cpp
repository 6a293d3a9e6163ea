// Number text without the C library's locale: grammar checked by hand, digits converted by
// std::from_chars / std::to_chars (correctly rounded to double, which is as precise as the
// extended-precision conversion rounded to double), separator put in by hand.
#include "numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <locale>
#include <stdexcept>
#include <system_error>

namespace knn {

namespace {

char userLocaleSeparator() {
    try {
        return std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    } catch (const std::runtime_error&) {
        return '.'; // the environment names a locale the system does not have
    }
}

char& separatorInForce() {
    static char separator = userLocaleSeparator();
    return separator;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digits and exponent of v rounded to 15 significant digits: "d.dddddddddddddde[+-]x".
struct Decimal15 {
    char digits[15];
    int digitCount;
    int exponent; ///< v = d.ddd * 10^exponent
    bool negative;
};

Decimal15 toDecimal15(double v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 14).ptr;
    Decimal15 d{};
    const char* p = text;
    d.negative = *p == '-';
    if (d.negative) ++p;
    for (; p != end && *p != 'e'; ++p)
        if (isDigit(*p)) d.digits[d.digitCount++] = *p;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, d.exponent);
    while (d.digitCount > 1 && d.digits[d.digitCount - 1] == '0')
        --d.digitCount;
    return d;
}

// The decimal magnitude of a number's first non-zero digit, before its exponent: its place among the
// integer digits counted from 1, or minus its place among the fraction digits; 0 for a number of zeros.
long long leadingPosition(std::string_view integerDigits, std::string_view fractionDigits) {
    const auto inInteger = integerDigits.find_first_not_of('0');
    if (inInteger != std::string_view::npos) return static_cast<long long>(inInteger) + 1;
    const auto inFraction = fractionDigits.find_first_not_of('0');
    if (inFraction != std::string_view::npos) return -static_cast<long long>(inFraction) - 1;
    return 0;
}

// Where NormalizeNumber puts the separator in force: the first "," under a point separator, the first
// "." under a comma separator; npos when there is none or the separator is another character.
std::size_t typedMarkPosition(std::string_view text) {
    const char separator = decimalSeparator();
    const char typed = separator == '.' ? ',' : separator == ',' ? '.' : '\0';
    return typed == '\0' ? std::string_view::npos : text.find(typed);
}

} // namespace

char decimalSeparator() {
    return separatorInForce();
}

void setDecimalSeparator(char separator) {
    separatorInForce() = separator;
}

std::string NormalizeNumber(std::string text) {
    const auto at = typedMarkPosition(text);
    if (at != std::string_view::npos) text[at] = decimalSeparator();
    return text;
}

std::optional<double> ConvertNumber(std::string_view text) {
    const char separator = decimalSeparator();
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    std::size_t numberStart = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '+') numberStart = i + 1; // from_chars takes no leading plus
        ++i;
    }
    const std::size_t integerStart = i;
    while (i < n && isDigit(text[i]))
        ++i;
    const std::string_view integerDigits = text.substr(integerStart, i - integerStart);
    std::string_view fractionDigits;
    std::size_t separatorAt = std::string_view::npos;
    if (i < n && text[i] == separator) {
        separatorAt = i++;
        const std::size_t fractionStart = i;
        while (i < n && isDigit(text[i]))
            ++i;
        fractionDigits = text.substr(fractionStart, i - fractionStart);
    }
    if (integerDigits.empty() && fractionDigits.empty()) return std::nullopt;
    long long exponent = 0;
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        const std::size_t exponentStart = i;
        for (; i < n && isDigit(text[i]); ++i)
            if (exponent < 100000000) exponent = exponent * 10 + (text[i] - '0');
        if (i == exponentStart) return std::nullopt;
        if (negativeExponent) exponent = -exponent;
    }
    const std::size_t numberEnd = i;
    while (i < n && text[i] == ' ')
        ++i;
    if (i != n) return std::nullopt;

    // from_chars reads '.' only: a number with another separator is converted from a copy.
    std::string_view number = text.substr(numberStart, numberEnd - numberStart);
    std::string copy;
    if (separatorAt != std::string_view::npos && separator != '.') {
        copy.assign(number);
        copy[separatorAt - numberStart] = '.';
        number = copy;
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small to hold is zero; too large is not a number of this system.
        if (leadingPosition(integerDigits, fractionDigits) + exponent < 0)
            return number[0] == '-' ? -0.0 : 0.0;
        return std::nullopt;
    }
    if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return std::nullopt;
    return value;
}

std::optional<double> ConvertField(std::string_view field, std::string& scratch) {
    const auto at = typedMarkPosition(field);
    if (at == std::string_view::npos) return ConvertNumber(field); // normalising changes nothing
    scratch.assign(field);
    scratch[at] = decimalSeparator();
    return ConvertNumber(scratch);
}

std::string FormatDouble(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    if (v == 0.0) return "0";
    const Decimal15 d = toDecimal15(v);
    const char separator = decimalSeparator();
    std::string out = d.negative ? "-" : "";
    if (d.exponent >= -5 && d.exponent < 15) {
        if (d.exponent < 0) {
            out += '0';
            out += separator;
            out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
            out.append(d.digits, d.digitCount);
        } else {
            const int integerDigits = d.exponent + 1;
            for (int i = 0; i < integerDigits; ++i)
                out += i < d.digitCount ? d.digits[i] : '0';
            if (d.digitCount > integerDigits) {
                out += separator;
                out.append(d.digits + integerDigits, d.digitCount - integerDigits);
            }
        }
    } else {
        out += d.digits[0];
        if (d.digitCount > 1) {
            out += separator;
            out.append(d.digits + 1, d.digitCount - 1);
        }
        out += 'E';
        out += std::to_string(d.exponent);
    }
    return out;
}

double RoundTo15Digits(double v) {
    if (!std::isfinite(v)) return v;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 14).ptr;
    double rounded = 0.0;
    if (std::from_chars(text, end, rounded).ec == std::errc::result_out_of_range)
        return std::copysign(std::numeric_limits<double>::infinity(), v);
    return rounded;
}

} // namespace knn
