// The options' one vocabulary: the names of the structures, searches, rules and metrics, in the machine
// form that flags, grids and keyword arguments take and in the form windows show, and the limits of the
// numeric options with one checker each. The headless front end, the compare grid, the desktop panel, the
// Python module and the benchmarks all read them here, so that no two of them can disagree.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <qel/bdtree.h>

namespace knn {

/// Values equal the item indices of the "Search mode" group.
enum class SearchMode { BruteForce = 0, KdTree = 1, BdTree = 2 };
/// Standard 0, FixedRadius 1, Priority 2, in the order of the "Search range" buttons.
enum class SearchRange { Standard = 0, FixedRadius = 1, Priority = 2 };

/// Machine names by item index, as flags, grid words and keyword arguments take them.
inline constexpr std::array<std::string_view, 3> ModeNames{"brute", "kd", "bd"};
inline constexpr std::array<std::string_view, 3> RangeNames{"standard", "radius", "priority"};
inline constexpr std::array<std::string_view, 6> SplitNames{"standard",         "midpoint",     "fair",
                                                            "sliding-midpoint", "sliding-fair", "default"};
inline constexpr std::array<std::string_view, 4> ShrinkNames{"none", "simple", "centroid", "default"};
/// By item index of the "Distance metric" group.
inline constexpr std::array<std::string_view, 4> MetricNames{"manhattan", "euclidean", "chebyshev", "custom"};

/// Display names by item index; "&" marks the keyboard accelerator where a window offers one.
inline constexpr std::array<std::string_view, 3> ModeCaptions{"Brute force", "kd-tree", "bd-tree"};
inline constexpr std::array<std::string_view, 3> RangeCaptions{"Standard", "Fixed radius", "Priority"};
inline constexpr std::array<std::string_view, 6> SplitCaptions{
    "&Standard kd", "&Midpoint", "&Fair", "Sl&iding midpoint", "S&liding fair", "&Default"};
inline constexpr std::array<std::string_view, 4> ShrinkCaptions{"&None", "&Simple", "&Centroid", "&Default"};

/// A caption without its accelerator mark.
std::string PlainCaption(std::string_view caption);

/// The whole text as a decimal int, an optional "-" and digits; empty for anything else.
std::optional<int> ParseInt(std::string_view text);

/// The item index of a name, or of a plain item number below the name count.
template <std::size_t N>
std::optional<int> ParseItem(std::string_view text, const std::array<std::string_view, N>& names,
                             bool numbersAllowed) {
    for (std::size_t i = 0; i < N; ++i)
        if (text == names[i]) return static_cast<int>(i);
    if (numbersAllowed) {
        const auto number = ParseInt(text);
        if (number && *number >= 0 && *number < static_cast<int>(N)) return number;
    }
    return std::nullopt;
}

std::string ModeName(SearchMode mode);
std::string RangeName(SearchRange range);
std::string SplitName(qel::SplitRule rule);
std::string ShrinkName(qel::ShrinkRule rule);

/// The library's metric: `qel::metricKind` and the power every search is handed.
struct Metric {
    int kind;  ///< one of qel's metric kinds
    int power; ///< 1 for Manhattan and Chebyshev, 2 for Euclidean, the custom power for Lp
};

/// The "Distance metric" item of the custom Lp metric.
inline constexpr int CustomMetricItem = 3;
/// The metric of a "Distance metric" item; customPower is read for the custom item only.
Metric MetricOfItem(int item, int customPower);
/// The metric's p in the Minkowski family: 1, 2, the custom power, or infinity for Chebyshev.
double MinkowskiP(const Metric& metric);
/// The report's line for the metric.
std::string MetricReportLine(const Metric& metric);
/// The distance in the metric's own units of a powered library distance: its root for kinds 2 and 3.
double RootedDistance(double d, const Metric& metric);

/// The inclusive range of an integer option.
struct IntLimit {
    int lowest;
    int highest = std::numeric_limits<int>::max();
};

/// Neighbours per query: a search needs a slot; a run keeps k at most the data count itself.
inline constexpr IntLimit NeighbourLimit{1};
/// The custom metric's power: the panel's range, beyond which every coordinate term of a point farther
/// than a few units overflows.
inline constexpr IntLimit PowerLimit{1, 100};
inline constexpr IntLimit BucketLimit{1};
/// 0 means no limit.
inline constexpr IntLimit VisitLimit{0};
/// Threads of a run: more than this is a slip of the keyboard, not a machine, and would only exhaust
/// the system's threads.
inline constexpr IntLimit ThreadLimit{1, 1024};

/// Empty when value is within limit, else why not: "must be at least L" or "must be at most H".
std::optional<std::string> CheckInt(int value, IntLimit limit);
/// Empty for an error bound the searches take (finite and at least 0), else why not.
std::optional<std::string> CheckErrorBound(double eps);
/// Empty for a fixed search radius the searches take (finite and at least 0), else why not.
std::optional<std::string> CheckRadius(double radius);
/// The checkers' reason for an error bound or a radius they refuse.
inline constexpr std::string_view NonNegativeRule = "must be a finite number of at least 0";
/// Empty for a decimal separator that keeps numbers readable, else why not: one character that is no
/// digit, sign, exponent mark or blank, any of which would make a written number read back as another.
std::optional<std::string> CheckDecimalSeparator(std::string_view separator);

} // namespace knn
