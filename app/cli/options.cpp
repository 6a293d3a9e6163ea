// Parsing the headless front end's flags. Values the library cannot take are usage errors, so a run
// started from flags never reaches a library fatal error through them.
#include "options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "session.h"

namespace knn::cli {

const char* const UsageText =
    "Usage: knnbench-cli --data FILE --query FILE [options]\n"
    "\n"
    "Runs one k-nearest-neighbour search as the test bench's \"OK\" button does: the report goes to\n"
    "standard output, messages to standard error.\n"
    "\n"
    "  --data FILE            data points, one per line (required)\n"
    "  --query FILE           query points, one per line (required)\n"
    "  -k, --neighbours N     neighbours per query, at least 1 (default 1)\n"
    "  --dim N                coordinates to use, at least 1 (default: the file's column count)\n"
    "  --eps TEXT             error bound of approximate search (default 0.0)\n"
    "  --metric NAME          manhattan, euclidean, chebyshev or custom (default euclidean)\n"
    "  --power P              power of the custom metric, at least 1 (default 2)\n"
    "  --mode NAME            brute, kd or bd (default kd)\n"
    "  --search NAME          standard, radius or priority (default standard; priority needs kd or bd)\n"
    "  --radius TEXT          radius of the fixed-radius search (default 0.0)\n"
    "  --bucket N             tree bucket size, at least 1 (default 1)\n"
    "  --split RULE           0..5 or standard, midpoint, fair, sliding-midpoint, sliding-fair,\n"
    "                         default (default 5)\n"
    "  --shrink RULE          0..3 or none, simple, centroid, default (default 3)\n"
    "  --max-visit N          stop a tree search after N data points (default: no limit)\n"
    "  --no-stats             leave out the data statistics block\n"
    "  --results FILE         write the query table as tab-separated text (\"-\": standard output)\n"
    "  --data-table FILE      write the data table as tab-separated text (\"-\": standard output)\n"
    "  --decimal-separator C  decimal separator of input and output (default: the user's locale)\n"
    "  --timing               print the phase times to standard error\n"
    "  --tree-stats           print the statistics of the tree that answered to standard error\n"
    "                         (needs --mode kd or bd)\n"
    "  --dump FILE            write the tree that answered, with its points, in the library's dump\n"
    "                         format (\"-\": standard output; needs --mode kd or bd)\n"
    "  --threads N            threads that load the data, build the tree and answer the queries, at\n"
    "                         least 1 (default: one per core); results and messages do not depend on it\n"
    "  --compare GRID         measure many configurations on the data and print one row each as\n"
    "                         tab-separated text, the winners named in the last column. GRID is\n"
    "                         \"default\" or words KEY=VALUES (values separated by commas, A..B for\n"
    "                         a range of integers): mode (brute, kd, bd), search (standard, radius,\n"
    "                         priority), split (0..5 or a name), shrink (0..3 or a name), bucket,\n"
    "                         eps, max-visit (0: no limit); a key left out takes its default,\n"
    "                         e.g. \"mode=kd,bd split=0..4 bucket=1,4,16 eps=0,0.5\"\n"
    "  --repeat R             builds and query passes per configuration of --compare, the best\n"
    "                         taken, at least 1 (default 3)\n"
    "  --version              print the program's version\n"
    "  --help                 print this text\n"
    "\n"
    "Exit status: 0 complete run, 1 run ended early, 2 bad flags.\n";

namespace {

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// The item index of a name, or of a plain item number below the name count.
template <std::size_t N>
std::optional<int> parseItem(std::string_view text, const std::array<std::string_view, N>& names,
                             bool numbersAllowed) {
    for (std::size_t i = 0; i < N; ++i)
        if (text == names[i]) return static_cast<int>(i);
    if (numbersAllowed) {
        const auto number = parseInt(text);
        if (number && *number >= 0 && *number < static_cast<int>(N)) return number;
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 4> MetricNames{"manhattan", "euclidean", "chebyshev", "custom"};

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
            const auto low = parseInt(value.substr(0, dots));
            const auto high = parseInt(value.substr(dots + 2));
            if (!low || !high || *low > *high) return quoted(value) + " is no range A..B";
            for (int v = *low; v <= *high; ++v) {
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
        if (const auto item = parseItem(value, names, numbersAllowed)) return static_cast<T>(*item);
        return std::string("unknown ").append(what).append(" ") + quoted(value);
    };
}

auto integerAtLeast(int minimum) {
    return [minimum](std::string_view value) -> Parsed<int> {
        const auto number = parseInt(value);
        if (!number || *number < minimum)
            return quoted(value) + " is no integer of at least " + std::to_string(minimum);
        return *number;
    };
}

Parsed<double> errorBound(std::string_view value) {
    double eps = 0.0;
    const auto result = std::from_chars(value.data(), value.data() + value.size(), eps);
    if (result.ec != std::errc() || result.ptr != value.data() + value.size() || !(eps >= 0.0) ||
        !std::isfinite(eps))
        return quoted(value) + " is no error bound of at least 0";
    return eps;
}

/// The configurations of a grid text; the text that says what is wrong, naming the bad word.
Parsed<std::vector<CompareConfig>> parseGrid(std::string_view text) {
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
        const auto keyIndex = parseItem(key, Keys, false);
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
            take(gridValues<int>(values, true, integerAtLeast(1)), grid.buckets);
            break;
        case 5:
            take(gridValues<double>(values, false, errorBound), grid.eps);
            break;
        case 6:
            take(gridValues<int>(values, true, integerAtLeast(0)), grid.visitLimits);
            break;
        }
        if (why) return bad(*why);
    }
    std::vector<CompareConfig> configs = ExpandGrid(grid);
    if (configs.empty())
        return std::string("the grid holds no configuration (brute force has no priority search)");
    return configs;
}

} // namespace

std::variant<CliOptions, HelpRequested, VersionRequested, UsageError> parseArguments(int argc, char** argv) {
    CliOptions options;
    bool dataGiven = false;
    bool queryGiven = false;
    bool repeatGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        std::optional<std::string_view> inlineValue;
        if (flag.starts_with("--")) {
            const auto equals = flag.find('=');
            if (equals != std::string_view::npos) {
                inlineValue = flag.substr(equals + 1);
                flag = flag.substr(0, equals);
            }
        }
        if (flag == "--help") return HelpRequested{};
        if (flag == "--version") return VersionRequested{};
        if (flag == "--no-stats" || flag == "--timing" || flag == "--tree-stats") {
            if (inlineValue) return UsageError{std::string(flag) + " takes no value"};
            if (flag == "--no-stats") options.statistics = false;
            if (flag == "--timing") options.timing = true;
            if (flag == "--tree-stats") options.treeStats = true;
            continue;
        }
        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return UsageError{std::string(flag) + " needs a value"};
        }
        auto bad = [&](const std::string& what) {
            return UsageError{"bad value \"" + std::string(value) + "\" for " + std::string(flag) + ": " +
                              what};
        };
        auto atLeast = [&](int minimum, int& target) -> std::optional<UsageError> {
            const auto number = parseInt(value);
            if (!number) return bad("not an integer");
            if (*number < minimum) return bad("must be at least " + std::to_string(minimum));
            target = *number;
            return std::nullopt;
        };
        std::optional<UsageError> error;
        if (flag == "--data") {
            options.dataPath = value, dataGiven = true;
        } else if (flag == "--query") {
            options.queryPath = value, queryGiven = true;
        } else if (flag == "-k" || flag == "--neighbours") {
            error = atLeast(1, options.neighbours);
        } else if (flag == "--dim") {
            int dim = 0;
            error = atLeast(1, dim);
            options.dimensions = dim;
        } else if (flag == "--eps") {
            options.errorBound = value;
        } else if (flag == "--metric") {
            const auto item = parseItem(value, MetricNames, false);
            if (!item) return bad("unknown metric (manhattan, euclidean, chebyshev or custom)");
            options.metricItem = *item;
        } else if (flag == "--power") {
            error = atLeast(1, options.power);
        } else if (flag == "--mode") {
            const auto item = parseItem(value, ModeNames, false);
            if (!item) return bad("unknown mode (brute, kd or bd)");
            options.modeItem = *item;
        } else if (flag == "--search") {
            const auto item = parseItem(value, RangeNames, false);
            if (!item) return bad("unknown search range (standard, radius or priority)");
            options.rangeItem = *item;
        } else if (flag == "--radius") {
            options.radius = value;
        } else if (flag == "--bucket") {
            error = atLeast(1, options.bucketSize);
        } else if (flag == "--split") {
            const auto item = parseItem(value, SplitNames, true);
            if (!item) return bad("splitting rule out of range (0..5 or a rule name)");
            options.splitItem = *item;
        } else if (flag == "--shrink") {
            const auto item = parseItem(value, ShrinkNames, true);
            if (!item) return bad("shrinking rule out of range (0..3 or a rule name)");
            options.shrinkItem = *item;
        } else if (flag == "--max-visit") {
            int limit = 0;
            error = atLeast(0, limit);
            options.maxVisit = limit;
        } else if (flag == "--threads") {
            int count = 0;
            error = atLeast(1, count);
            options.threads = count;
        } else if (flag == "--results") {
            options.resultsPath = value;
        } else if (flag == "--data-table") {
            options.dataTablePath = value;
        } else if (flag == "--compare") {
            Parsed<std::vector<CompareConfig>> grid = parseGrid(value);
            if (auto* why = std::get_if<std::string>(&grid)) return UsageError{"--compare: " + *why};
            options.compare = std::move(std::get<0>(grid));
        } else if (flag == "--repeat") {
            error = atLeast(1, options.repetitions);
            repeatGiven = true;
        } else if (flag == "--dump") {
            options.dumpPath = value;
        } else if (flag == "--decimal-separator") {
            if (value.size() != 1) return bad("must be one character");
            options.decimalSeparator = value[0];
        } else {
            return UsageError{"unknown flag " + std::string(flag)};
        }
        if (error) return *error;
    }
    if (!dataGiven) return UsageError{"--data is required"};
    if (!queryGiven) return UsageError{"--query is required"};
    if (options.modeItem == 0 && options.rangeItem == 2)
        return UsageError{"priority search needs a tree: use --mode kd or --mode bd"};
    // A compare run writes only its table: an output asked for beside it would silently not appear.
    if (options.compare) {
        const std::pair<bool, const char*> outputs[] = {{options.resultsPath.has_value(), "--results"},
                                                        {options.dataTablePath.has_value(), "--data-table"},
                                                        {options.treeStats, "--tree-stats"},
                                                        {options.dumpPath.has_value(), "--dump"}};
        for (const auto& [given, name] : outputs)
            if (given) return UsageError{std::string(name) + " does not go with --compare"};
    } else if (repeatGiven) {
        return UsageError{"--repeat needs --compare"};
    }
    if (options.modeItem == 0 && (options.treeStats || options.dumpPath))
        return UsageError{std::string(options.treeStats ? "--tree-stats" : "--dump") +
                          " needs a tree: use --mode kd or --mode bd"};
    return options;
}

} // namespace knn::cli
