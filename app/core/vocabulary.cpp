// The option vocabulary's lookups and checkers.
#include "vocabulary.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace knn {

std::string PlainCaption(std::string_view caption) {
    std::string plain;
    for (const char c : caption)
        if (c != '&') plain += c;
    return plain;
}

std::optional<int> ParseInt(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string ModeName(SearchMode mode) {
    return std::string(ModeNames[static_cast<std::size_t>(mode)]);
}

std::string RangeName(SearchRange range) {
    return std::string(RangeNames[static_cast<std::size_t>(range)]);
}

std::string SplitName(qel::SplitRule rule) {
    return std::string(SplitNames[static_cast<std::size_t>(rule)]);
}

std::string ShrinkName(qel::ShrinkRule rule) {
    return std::string(ShrinkNames[static_cast<std::size_t>(rule)]);
}

Metric MetricOfItem(int item, int customPower) {
    switch (item) {
    case 0:
        return {qel::manhattanMetric, 1};
    case 1:
        return {qel::euclideanMetric, 2};
    case 2:
        return {qel::chebyshevMetric, 1};
    default:
        return {qel::customLpMetric, customPower};
    }
}

double MinkowskiP(const Metric& metric) {
    return metric.kind == qel::chebyshevMetric ? std::numeric_limits<double>::infinity() : metric.power;
}

std::string MetricReportLine(const Metric& metric) {
    switch (metric.kind) {
    case qel::manhattanMetric:
        return "Distance metric = Manhattan (1)";
    case qel::euclideanMetric:
        return "Distance metric = Euclidean (2)";
    case qel::chebyshevMetric:
        return "Distance metric = Chebyshev (L-infinity)";
    default:
        return "Distance metric = LP (" + std::to_string(metric.power) + ")";
    }
}

double RootedDistance(double d, const Metric& metric) {
    if (metric.kind == qel::euclideanMetric) return std::sqrt(d);
    if (metric.kind == qel::customLpMetric) return std::pow(std::fabs(d), 1.0 / metric.power);
    return d;
}

std::optional<std::string> CheckInt(int value, IntLimit limit) {
    if (value < limit.lowest) return "must be at least " + std::to_string(limit.lowest);
    if (value > limit.highest) return "must be at most " + std::to_string(limit.highest);
    return std::nullopt;
}

namespace {

std::optional<std::string> checkNonNegative(double value) {
    if (value >= 0.0 && std::isfinite(value)) return std::nullopt;
    return std::string(NonNegativeRule);
}

} // namespace

std::optional<std::string> CheckErrorBound(double eps) {
    return checkNonNegative(eps);
}

std::optional<std::string> CheckRadius(double radius) {
    return checkNonNegative(radius);
}

std::optional<std::string> CheckDecimalSeparator(std::string_view separator) {
    if (separator.size() != 1) return "must be one character";
    const auto c = static_cast<unsigned char>(separator[0]);
    if (std::isdigit(c) || c == '+' || c == '-' || c == 'e' || c == 'E' || c <= ' ' || c == 0x7f)
        return "must be no digit, sign, exponent mark or blank";
    return std::nullopt;
}

} // namespace knn
