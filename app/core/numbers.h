// Number text of the test bench: the decimal separator in force, the normalisation of a typed decimal
// mark, the conversion of a field into a double and the general format of a double. None of them
// depends on the C library's locale state; the separator is put in by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace knn {

/// The decimal separator in force: the user's locale's, read once on first use, unless overridden.
char decimalSeparator();
/// Overrides the separator for the rest of the process (tests, the headless front end's flag).
void setDecimalSeparator(char separator);

/// Replaces the first "," by "." under a point separator, the first "." by "," under a comma
/// separator; any other separator leaves the text unchanged.
std::string NormalizeNumber(std::string text);

/// The value of text of the form: spaces, optional sign, digits with at most one decimal separator
/// (the one in force; at least one digit), optional exponent ("E" or "e", optional sign, digits),
/// spaces. Empty for any other text and for a value beyond the finite double range.
std::optional<double> ConvertNumber(std::string_view text);

/// ConvertNumber of NormalizeNumber of a field; scratch is reused storage, so a loop allocates nothing.
std::optional<double> ConvertField(std::string_view field, std::string& scratch);

/// At most 15 significant digits, trailing zeros and a trailing separator dropped; fixed notation
/// for 1e-5 <= |v| < 1e15, else mantissa, "E" and the exponent without "+" or leading zeros.
std::string FormatDouble(double v);

/// v rounded to 15 significant digits (what FormatDouble writes, read back).
double RoundTo15Digits(double v);

} // namespace knn
