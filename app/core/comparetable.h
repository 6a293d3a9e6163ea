// The compare run's results as a user sees them: a table of one row per configuration with the
// winners named, the value each column sorts by, and a configuration's short label for the chart.
#pragma once

#include <string>

#include "compare.h"
#include "resulttable.h"

namespace knn {

/// A short label of a configuration, for the chart.
std::string CompareLabel(const CompareConfig& config);

/// The results as a table: "#", the options, the measurements and "Winner", one row per configuration.
ResultTable CompareTable(const CompareResult& result);
/// The value a column sorts by (the row number for the option columns, which sort by their text).
double CompareSortKey(const CompareRow& row, int rowNumber, int column);
/// True for the columns that hold times in seconds (their captions end in " s").
bool CompareColumnIsSeconds(int column);

} // namespace knn
