// The data statistics block of the report: per coordinate column, the count, sums, extremes, mean,
// median, variances, standard deviation, skewness and kurtosis of the input file's values.
// A statistic whose computation divides by zero or leaves the double range is NaN and reads "n/a";
// the block never ends the load.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "pointfile.h"
#include "progress.h"

namespace knn {

class WindowOps;

/// Statistics of one column over n values; long double is the 80-bit format on x86.
struct ColumnStats {
    int validCases = 0;                  ///< n, the number of lines (every line counts)
    long double sum = 0.0L;              ///< sum of the values
    long double sumOfSquares = 0.0L;     ///< sum of the squares of the values
    double minValue = 0.0;               ///< smallest value
    double maxValue = 0.0;               ///< largest value
    long double mean = 0.0L;             ///< sum / n
    double median = 0.0;                 ///< middle of the sorted values
    long double totalVariance = 0.0L;    ///< sumOfSquares - sum^2 / n
    long double unbiasedVariance = 0.0L; ///< totalVariance / (n - 1)
    long double stdDeviation = 0.0L;     ///< two-pass sample standard deviation (n >= 2)
    double skewness = 0.0;               ///< adjusted sample skewness, to 15 significant digits
    double kurtosis = 0.0;               ///< sample excess kurtosis, to 15 significant digits
};

/// The values the block reads: column c of line i is coordinate c of point i, as ConvertEveryLine
/// left the points, except that a short line's missing columns read its field 0.
struct DataColumns {
    qel::PointArray points;                ///< one point per line
    std::size_t count = 0;                 ///< number of lines
    std::span<const ShortLine> shortLines; ///< ConvertEveryLine's short lines
};

/// Reads column c of every line (field 0 for a line without column c; 0.0 for a line without fields
/// or a field that does not convert) and computes the record; values is reused storage.
ColumnStats ComputeColumnStats(int c, const DataColumns& data, std::vector<double>& values);

/// v to 4 decimals (halves away from zero) in general format; a value too large for that rounding
/// with 15 significant digits; "n/a" for a value that is not finite as a double.
std::string FormatStat(long double v);

/// Writes the "DATA STATISTICS" block for the first dim columns into the report, computing the columns
/// on up to `threads` threads. The calling thread tells progress how many columns are done after each
/// column it computed; an error progress raises stops the computation and leaves the report unwritten.
void WriteStatistics(WindowOps& window, const DataColumns& data, int dim, ColumnStats& columnStats,
                     int threads = 1, const ProgressCallback& progress = {});

} // namespace knn
