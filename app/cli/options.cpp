// Parsing the headless front end's flags. Values the library cannot take are usage errors, so a run
// started from flags never reaches a library fatal error through them.
#include "options.h"

#include <array>
#include <string_view>
#include <utility>

#include "comparegrid.h"
#include "numbers.h"
#include "outputfile.h"
#include "session.h"
#include "vocabulary.h"

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
    "  --eps TEXT             error bound of approximate search, a number of at least 0 (default 0.0)\n"
    "  --metric NAME          manhattan, euclidean, chebyshev or custom (default euclidean)\n"
    "  --power P              power of the custom metric, 1 to 100 (default 2)\n"
    "  --mode NAME            brute, kd or bd (default kd)\n"
    "  --search NAME          standard, radius or priority (default standard; priority needs kd or bd)\n"
    "  --radius TEXT          radius of the fixed-radius search, a number of at least 0 (default 0.0)\n"
    "  --bucket N             tree bucket size, at least 1 (default 1)\n"
    "  --split RULE           0..5 or standard, midpoint, fair, sliding-midpoint, sliding-fair,\n"
    "                         default (default 5)\n"
    "  --shrink RULE          0..3 or none, simple, centroid, default (default 3)\n"
    "  --max-visit N          stop a tree search after N data points (default: no limit)\n"
    "  --no-stats             leave out the data statistics block\n"
    "  --results FILE         write the query table as tab-separated text (\"-\": standard output)\n"
    "  --data-table FILE      write the data table as tab-separated text (\"-\": standard output)\n"
    "  --decimal-separator C  decimal separator of input and output, no digit, sign, e or blank\n"
    "                         (default: the user's locale)\n"
    "  --timing               print the phase times to standard error\n"
    "  --tree-stats           print the statistics of the tree that answered to standard error\n"
    "                         (needs --mode kd or bd)\n"
    "  --dump FILE            write the tree that answered, with its points, in the library's dump\n"
    "                         format (\"-\": standard output; needs --mode kd or bd)\n"
    "  --threads N            threads that load the data, build the tree and answer the queries,\n"
    "                         1 to 1024 (default: one per core); results and messages do not depend on it\n"
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
        auto within = [&](IntLimit limit, int& target) -> std::optional<UsageError> {
            const auto number = ParseInt(value);
            if (!number) return bad("not an integer");
            if (const auto why = CheckInt(*number, limit)) return bad(*why);
            target = *number;
            return std::nullopt;
        };
        std::optional<UsageError> error;
        if (flag == "--data") {
            options.dataPath = value, dataGiven = true;
        } else if (flag == "--query") {
            options.queryPath = value, queryGiven = true;
        } else if (flag == "-k" || flag == "--neighbours") {
            error = within(NeighbourLimit, options.neighbours);
        } else if (flag == "--dim") {
            int dim = 0;
            error = within(IntLimit{1}, dim);
            options.dimensions = dim;
        } else if (flag == "--eps") {
            options.errorBound = value;
        } else if (flag == "--metric") {
            const auto item = ParseItem(value, MetricNames, false);
            if (!item) return bad("unknown metric (manhattan, euclidean, chebyshev or custom)");
            options.metricItem = *item;
        } else if (flag == "--power") {
            error = within(PowerLimit, options.power);
        } else if (flag == "--mode") {
            const auto item = ParseItem(value, ModeNames, false);
            if (!item) return bad("unknown mode (brute, kd or bd)");
            options.modeItem = *item;
        } else if (flag == "--search") {
            const auto item = ParseItem(value, RangeNames, false);
            if (!item) return bad("unknown search range (standard, radius or priority)");
            options.rangeItem = *item;
        } else if (flag == "--radius") {
            options.radius = value;
        } else if (flag == "--bucket") {
            error = within(BucketLimit, options.bucketSize);
        } else if (flag == "--split") {
            const auto item = ParseItem(value, SplitNames, true);
            if (!item) return bad("splitting rule out of range (0..5 or a rule name)");
            options.splitItem = *item;
        } else if (flag == "--shrink") {
            const auto item = ParseItem(value, ShrinkNames, true);
            if (!item) return bad("shrinking rule out of range (0..3 or a rule name)");
            options.shrinkItem = *item;
        } else if (flag == "--max-visit") {
            int limit = 0;
            error = within(VisitLimit, limit);
            options.maxVisit = limit;
        } else if (flag == "--threads") {
            int count = 0;
            error = within(ThreadLimit, count);
            options.threads = count;
        } else if (flag == "--results") {
            options.resultsPath = value;
        } else if (flag == "--data-table") {
            options.dataTablePath = value;
        } else if (flag == "--compare") {
            auto grid = ParseCompareGrid(value);
            if (auto* why = std::get_if<std::string>(&grid)) return UsageError{"--compare: " + *why};
            options.compare = std::move(std::get<0>(grid));
        } else if (flag == "--repeat") {
            error = within(IntLimit{1}, options.repetitions);
            repeatGiven = true;
        } else if (flag == "--dump") {
            options.dumpPath = value;
        } else if (flag == "--decimal-separator") {
            if (const auto why = CheckDecimalSeparator(value)) return bad(*why);
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
    // An output written over an input or over another output would lose what was there, or half of it.
    const std::pair<const std::optional<std::string>*, const char*> outputs[] = {
        {&options.resultsPath, "--results"},
        {&options.dataTablePath, "--data-table"},
        {&options.dumpPath, "--dump"}};
    std::vector<std::pair<std::string, const char*>> files{{options.dataPath, "--data"},
                                                           {options.queryPath, "--query"}};
    for (const auto& [path, name] : outputs) {
        if (!*path || **path == "-") continue;
        for (const auto& [other, otherName] : files)
            if (SameFile(**path, other))
                return UsageError{std::string(name) + " names the same file as " + otherName};
        files.emplace_back(**path, name);
    }
    if (options.modeItem == 0 && (options.treeStats || options.dumpPath))
        return UsageError{std::string(options.treeStats ? "--tree-stats" : "--dump") +
                          " needs a tree: use --mode kd or --mode bd"};
    return options;
}

std::optional<UsageError> checkNumberTexts(const CliOptions& options) {
    const auto check = [](const std::string& text, const char* flag,
                          std::optional<std::string> (*checker)(double)) -> std::optional<UsageError> {
        const std::optional<double> value = ConvertNumber(NormalizeNumber(text));
        const std::optional<std::string> why = value ? checker(*value) : "not a number";
        if (!why) return std::nullopt;
        return UsageError{"bad value \"" + text + "\" for " + flag + ": " + *why};
    };
    if (auto error = check(options.errorBound, "--eps", CheckErrorBound)) return error;
    return check(options.radius, "--radius", CheckRadius);
}

} // namespace knn::cli
