// Parsing the headless front end's flags. Values the library cannot take are usage errors, so a run
// started from flags never reaches a library fatal error through them.
#include "options.h"

#include <array>
#include <charconv>
#include <string_view>

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
constexpr std::array<std::string_view, 3> ModeNames{"brute", "kd", "bd"};
constexpr std::array<std::string_view, 3> RangeNames{"standard", "radius", "priority"};
constexpr std::array<std::string_view, 6> SplitNames{"standard",         "midpoint",     "fair",
                                                     "sliding-midpoint", "sliding-fair", "default"};
constexpr std::array<std::string_view, 4> ShrinkNames{"none", "simple", "centroid", "default"};

} // namespace

std::variant<CliOptions, HelpRequested, VersionRequested, UsageError> parseArguments(int argc, char** argv) {
    CliOptions options;
    bool dataGiven = false;
    bool queryGiven = false;
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
    if (options.modeItem == 0 && (options.treeStats || options.dumpPath))
        return UsageError{std::string(options.treeStats ? "--tree-stats" : "--dump") +
                          " needs a tree: use --mode kd or --mode bd"};
    return options;
}

} // namespace knn::cli
