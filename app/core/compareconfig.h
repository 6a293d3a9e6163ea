// The compare run's configurations: one is a search configuration, a grid is every combination of a few
// values per option, and the default grid is what a first compare run measures.
#pragma once

#include <vector>

#include "searchcall.h"
#include "vocabulary.h"

namespace knn {

/// One configuration of a compare run.
using CompareConfig = SearchConfig;

/// Values per option; the grid is every combination of them, brute force never with the priority search.
struct CompareGrid {
    std::vector<SearchMode> modes;
    std::vector<SearchRange> ranges;
    std::vector<qel::SplitRule> splits;
    std::vector<qel::ShrinkRule> shrinks;
    std::vector<int> buckets;
    std::vector<double> eps;
    std::vector<int> visitLimits;
};

/// The combinations of the grid, normalised, each once, in the order of the lists (modes outermost).
std::vector<CompareConfig> ExpandGrid(const CompareGrid& grid);

/// The default grid: brute force; kd-tree with the splitting rules 0 to 4 at buckets 1, 4 and 16;
/// bd-tree with the shrinking rules 0 to 2 at bucket 4; standard search, eps 0, no visit limit.
std::vector<CompareConfig> DefaultCompareConfigs();

} // namespace knn
