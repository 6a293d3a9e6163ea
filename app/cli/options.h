// The headless front end's flags: the option panel's values, the files and what to print.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "compare.h"

namespace knn::cli {

/// Option values as the panel holds them after start, unless a flag says otherwise.
struct CliOptions {
    std::string dataPath;                     ///< --data ("Input file:")
    std::string queryPath;                    ///< --query ("Query file:")
    int neighbours = 1;                       ///< -k / --neighbours ("NN Amount:")
    std::optional<int> dimensions;            ///< --dim; empty = Auto
    std::string errorBound = "0.0";           ///< --eps ("Error bound:" text)
    int metricItem = 1;                       ///< --metric: 0 Manhattan, 1 Euclidean, 2 Chebyshev, 3 custom
    int power = 2;                            ///< --power ("P =")
    int modeItem = 1;                         ///< --mode: 0 brute force, 1 kd-tree, 2 bd-tree
    int rangeItem = 0;                        ///< --search: 0 standard, 1 fixed radius, 2 priority
    std::string radius = "0.0";               ///< --radius ("R =" text)
    int bucketSize = 1;                       ///< --bucket
    int splitItem = 5;                        ///< --split
    int shrinkItem = 3;                       ///< --shrink
    std::optional<int> maxVisit;              ///< --max-visit; empty = early termination off
    bool statistics = true;                   ///< cleared by --no-stats
    std::optional<std::string> resultsPath;   ///< --results ("-" = standard output)
    std::optional<std::string> dataTablePath; ///< --data-table ("-" = standard output)
    std::optional<char> decimalSeparator;     ///< --decimal-separator
    bool timing = false;                      ///< --timing
    std::optional<int> threads;               ///< --threads; empty = one per core
    bool treeStats = false;                   ///< --tree-stats
    std::optional<std::string> dumpPath;      ///< --dump ("-" = standard output)
    std::optional<std::vector<CompareConfig>> compare; ///< --compare GRID, expanded; empty = one run
    int repetitions = 3;                               ///< --repeat, for --compare
};

struct HelpRequested {};
struct VersionRequested {};
/// A flag error; the text says what is wrong.
struct UsageError {
    std::string text;
};

std::variant<CliOptions, HelpRequested, VersionRequested, UsageError> parseArguments(int argc, char** argv);

/// The number texts' usage error, if any, read as the run will read them: once the decimal separator
/// is in force.
std::optional<UsageError> checkNumberTexts(const CliOptions& options);

/// The usage text printed by --help and after a usage error.
extern const char* const UsageText;

} // namespace knn::cli
