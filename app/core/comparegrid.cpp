// Parsing a compare grid's text into its configurations; every error names the word at fault.
#include "comparegrid.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "session.h"

namespace knn {

namespace {

/// The text in double quotes.
std::string quoted(std::string_view text) {
    std::string out(1, '"');
    out.append(text);
    out += '"';
    return out;
}

/// One value of a grid key, or the text that says what is wrong with it.
template <class T> using Parsed = std::variant<T, std::string>;

/// The values of "A,B,..." where each may be a range "A..B" when parseOne takes integers.
template <class T, class ParseOne>
Parsed<std::vector<T>> gridValues(std::string_view text, bool ranges, ParseOne parseOne) {
    std::vector<T> values;
    for (std::size_t begin = 0; begin <= text.size();) {
        const std::size_t end = std::min(text.find(',', begin), text.size());
        const std::string_view value = text.substr(begin, end - begin);
        begin = end + 1;
        const std::size_t dots = value.find("..");
        if (ranges && dots != std::string_view::npos) {
            const auto low = ParseInt(value.substr(0, dots));
            const auto high = ParseInt(value.substr(dots + 2));
            if (!low || !high || *low > *high) return quoted(value) + " is no range A..B";
            // Counted before it is expanded: a range up to the largest int would not end otherwise.
            if (std::int64_t{*high} - *low >= GridCombinationLimit)
                return quoted(value) + " holds more than " + std::to_string(GridCombinationLimit) + " values";
            for (std::int64_t v = *low; v <= *high; ++v) {
                Parsed<T> one = parseOne(std::to_string(v));
                if (auto* why = std::get_if<std::string>(&one)) return *why;
                values.push_back(std::get<T>(one));
            }
            continue;
        }
        Parsed<T> one = parseOne(value);
        if (auto* why = std::get_if<std::string>(&one)) return *why;
        values.push_back(std::get<T>(one));
    }
    return values;
}

template <class T, std::size_t N>
auto namedItem(const std::array<std::string_view, N>& names, bool numbersAllowed, const char* what) {
    return [&names, numbersAllowed, what](std::string_view value) -> Parsed<T> {
        if (const auto item = ParseItem(value, names, numbersAllowed)) return static_cast<T>(*item);
        return std::string("unknown ").append(what).append(" ") + quoted(value);
    };
}

auto integerWithin(IntLimit limit) {
    return [limit](std::string_view value) -> Parsed<int> {
        const auto number = ParseInt(value);
        if (!number || CheckInt(*number, limit))
            return quoted(value) + " is no integer of at least " + std::to_string(limit.lowest);
        return *number;
    };
}

Parsed<double> errorBound(std::string_view value) {
    double eps = 0.0;
    const auto result = std::from_chars(value.data(), value.data() + value.size(), eps);
    if (result.ec != std::errc() || result.ptr != value.data() + value.size() || CheckErrorBound(eps))
        return quoted(value) + " is no error bound of at least 0";
    return eps;
}

} // namespace

std::variant<std::vector<CompareConfig>, std::string> ParseCompareGrid(std::string_view text) {
    if (text == "default") return DefaultCompareConfigs();
    CompareGrid grid{{SearchMode::KdTree},
                     {SearchRange::Standard},
                     {qel::SplitRule::Default},
                     {qel::ShrinkRule::Default},
                     {1},
                     {0.0},
                     {0}};
    std::array<bool, 7> given{};
    std::size_t begin = text.find_first_not_of(' ');
    while (begin != std::string_view::npos) {
        const std::size_t end = std::min(text.find(' ', begin), text.size());
        const std::string_view word = text.substr(begin, end - begin);
        begin = text.find_first_not_of(' ', end);
        auto bad = [&](const std::string& why) { return "bad word " + quoted(word) + ": " + why; };
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos) return bad("not KEY=VALUES");
        const std::string_view key = word.substr(0, equals);
        const std::string_view values = word.substr(equals + 1);
        constexpr std::array<std::string_view, 7> Keys{"mode",   "search", "split",    "shrink",
                                                       "bucket", "eps",    "max-visit"};
        const auto keyIndex = ParseItem(key, Keys, false);
        if (!keyIndex) return bad("unknown key (mode, search, split, shrink, bucket, eps or max-visit)");
        if (std::exchange(given[static_cast<std::size_t>(*keyIndex)], true)) return bad("key given twice");
        std::optional<std::string> why;
        auto take = [&why](auto parsed, auto& target) {
            if (auto* text = std::get_if<std::string>(&parsed)) {
                why = *text;
            } else {
                target = std::move(std::get<0>(parsed));
            }
        };
        switch (*keyIndex) {
        case 0:
            take(gridValues<SearchMode>(values, false, namedItem<SearchMode>(ModeNames, false, "mode")),
                 grid.modes);
            break;
        case 1:
            take(gridValues<SearchRange>(values, false, namedItem<SearchRange>(RangeNames, false, "search")),
                 grid.ranges);
            break;
        case 2:
            take(gridValues<qel::SplitRule>(values, true,
                                            namedItem<qel::SplitRule>(SplitNames, true, "splitting rule")),
                 grid.splits);
            break;
        case 3:
            take(gridValues<qel::ShrinkRule>(values, true,
                                             namedItem<qel::ShrinkRule>(ShrinkNames, true, "shrinking rule")),
                 grid.shrinks);
            break;
        case 4:
            take(gridValues<int>(values, true, integerWithin(BucketLimit)), grid.buckets);
            break;
        case 5:
            take(gridValues<double>(values, false, errorBound), grid.eps);
            break;
        case 6:
            take(gridValues<int>(values, true, integerWithin(VisitLimit)), grid.visitLimits);
            break;
        }
        if (why) return bad(*why);
        const double combinations = static_cast<double>(grid.modes.size()) * grid.ranges.size() *
                                    grid.splits.size() * grid.shrinks.size() * grid.buckets.size() *
                                    grid.eps.size() * grid.visitLimits.size();
        if (combinations > GridCombinationLimit)
            return bad("the grid would hold more than " + std::to_string(GridCombinationLimit) +
                       " combinations");
    }
    std::vector<CompareConfig> configs = ExpandGrid(grid);
    if (configs.empty()) return std::string(EmptyGridText);
    return configs;
}

} // namespace knn
