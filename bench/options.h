// knnbench-bench's flags: which measurement, which of its point sets, and how long to keep at it.
#pragma once

#include <string>
#include <vector>

#include "plan.h"

namespace bench {

struct Options {
    bool quick = false;
    bool batch = false;
    bool perQuery = false;
    std::vector<std::string> families;
    std::vector<int> sizes;
    std::vector<int> dims;
    int queryCount = 0; ///< 0: the plan's default
    double cap = -1.0;  ///< below 0: the plan's default
    int reps = 0;       ///< runs of every build and query set; 0: the plan's defaults
};

/// False for an unknown flag, a flag without its value, or a value out of range.
bool parseOptions(int argc, char** argv, Options& options);
/// Prints the flags to standard error; returns the exit status of a usage error.
int usage(const char* program);
/// True when the point set matches every list of --family, --n and --dim given.
bool wanted(const Options& options, const DataKey& key);

} // namespace bench
