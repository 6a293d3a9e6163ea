// The data statistics block. Sums run in long double; a statistic that would divide by zero, or whose
// operands or result leave the double range, is NaN ("n/a") instead of ending the load.
#include "statistics.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "numbers.h"
#include "windowops.h"
#include <qel/workerthreads.h>

namespace knn {

namespace {

constexpr long double NotAvailable = std::numeric_limits<long double>::quiet_NaN();

bool inDoubleRange(long double v) {
    return std::fabs(v) <= DBL_MAX;
}

// dividend / divisor, or NaN when the divisor is 0 or either operand is outside the double range.
long double quotient(long double dividend, long double divisor) {
    if (divisor == 0.0L || !inDoubleRange(dividend) || !inDoubleRange(divisor)) return NotAvailable;
    return dividend / divisor;
}

// A value stored as a double: NaN when it does not fit.
double storedAsDouble(long double v) {
    return inDoubleRange(v) ? static_cast<double>(v) : std::numeric_limits<double>::quiet_NaN();
}

// The record of the values, taken in file order; the median is found in place, so the values come
// back reordered.
ColumnStats statsOf(std::vector<double>& values) {
    ColumnStats s;
    s.validCases = static_cast<int>(values.size());
    if (values.empty()) return s;
    const auto n = static_cast<long double>(values.size());

    s.maxValue = s.minValue = values[0];
    for (const double x : values) { // an extreme keeps the first of equal values
        s.sum += x;
        s.sumOfSquares += static_cast<long double>(x) * x;
        if (x > s.maxValue) s.maxValue = x;
        if (x < s.minValue) s.minValue = x;
    }
    s.mean = values.size() == 1 ? static_cast<long double>(values[0]) : s.sum / n;

    long double squaredDeviations = 0.0L;
    double s2 = 0.0;
    double s3 = 0.0;
    double s4 = 0.0;
    for (const double x : values) {
        squaredDeviations += (s.mean - x) * (s.mean - x);
        const long double d = x - s.mean;
        s2 = storedAsDouble(s2 + d * d);
        s3 = storedAsDouble(s3 + d * d * d);
        s4 = storedAsDouble(s4 + d * d * d * d);
    }
    // One value has no spread.
    s.stdDeviation = values.size() == 1 ? NotAvailable : std::sqrt(squaredDeviations / (n - 1.0L));

    // The median last: it reorders the values.
    const std::size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
    if (values.size() % 2 == 0) {
        const double upper = values[half];
        const double lower =
            *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
        s.median = static_cast<double>((static_cast<long double>(lower) + upper) * 0.5L);
    } else {
        s.median = values[half];
    }

    s.totalVariance = s.sumOfSquares - s.sum * s.sum / n;
    s.unbiasedVariance = quotient(s.totalVariance, n - 1.0L);

    const long double sd = s.stdDeviation;
    const long double sd3 = storedAsDouble(sd * sd * sd);
    const long double sd4 = storedAsDouble(sd * sd * sd * sd);
    const long double skewness = quotient(n * s3, ((n - 1.0L) * sd3) * (n - 2.0L));
    const long double kurtosis =
        quotient((n * n + n) * s4 - 3.0L * s2 * s2 * (n - 1.0L), (n - 1.0L) * sd4 * (n - 2.0L) * (n - 3.0L));
    s.skewness = RoundTo15Digits(storedAsDouble(skewness));
    s.kurtosis = RoundTo15Digits(storedAsDouble(kurtosis));
    return s;
}

} // namespace

ColumnStats ComputeColumnStats(int c, const DataColumns& data, std::vector<double>& values) {
    const auto column = static_cast<std::size_t>(c);
    values.resize(data.count);
    for (std::size_t i = 0; i < data.count; ++i)
        values[i] = data.points[i][column];
    for (const ShortLine& shortLine : data.shortLines)
        if (shortLine.fieldCount <= c) values[shortLine.line] = data.points[shortLine.line][0];
    return statsOf(values);
}

std::string FormatStat(long double v) {
    if (!inDoubleRange(v)) return "n/a"; // NaN fails the range test too
    const double value = static_cast<double>(v);
    const long double step = 1.0L / 10000.0L;
    const long double scaled = value >= 0.0 ? value / step + 0.5L : value / step - 0.5L;
    constexpr long double int64Bound = 9223372036854775808.0L; // 2^63
    if (scaled >= int64Bound || scaled < -int64Bound) return FormatDouble(value);
    const auto truncated = static_cast<std::int64_t>(scaled);
    return FormatDouble(static_cast<double>(static_cast<long double>(truncated) * step));
}

void WriteStatistics(WindowOps& window, const DataColumns& data, int dim, ColumnStats& columnStats,
                     int threads, const ProgressCallback& progress) {
    const std::string doubleRule(50, '=');
    const std::string singleRule(30, '-');
    window.addReportLine(doubleRule);
    window.addReportLine("DATA STATISTICS");
    window.addReportLine(doubleRule);
    // The columns are independent: threads take them one after the other, and their lines follow in
    // column order once all are done.
    const auto columnCount = static_cast<std::size_t>(std::max(dim, 0));
    std::vector<ColumnStats> stats(columnCount);
    std::atomic<std::size_t> nextColumn{0};
    std::atomic<std::int64_t> columnsDone{0};
    if (progress) progress(0, dim); // the phase shows, and hears a cancel, before its first column
    qel::runOnThreads(std::clamp<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), 1,
                                              std::max<std::size_t>(columnCount, 1)),
                      [&](std::size_t part) {
                          std::vector<double> values;
                          for (std::size_t c = nextColumn++; c < columnCount; c = nextColumn++) {
                              stats[c] = ComputeColumnStats(static_cast<int>(c), data, values);
                              const std::int64_t done = ++columnsDone;
                              if (part != 0 || !progress) continue;
                              try {
                                  progress(done, dim);
                              } catch (...) {
                                  nextColumn = columnCount; // the other threads take no further column
                                  throw;
                              }
                          }
                      });
    for (int c = 0; c < dim; ++c) {
        columnStats = stats[static_cast<std::size_t>(c)];
        const ColumnStats& s = columnStats;
        window.addReportLine(singleRule);
        window.addReportLine("Stats for Column " + std::to_string(c + 1));
        window.addReportLine(singleRule);
        window.addReportLine("No. of valid cases\t" + std::to_string(s.validCases));
        window.addReportLine("Sum\t" + FormatStat(s.sum));
        window.addReportLine("Sum of squares\t" + FormatStat(s.sumOfSquares));
        window.addReportLine("Min value\t" + FormatStat(s.minValue));
        window.addReportLine("Max value\t" + FormatStat(s.maxValue));
        window.addReportLine("Mean\t" + FormatStat(s.mean));
        window.addReportLine("Median\t" + FormatStat(s.median));
        window.addReportLine("Total variance\t" + FormatStat(s.totalVariance));
        window.addReportLine("Unbiased variance\t" + FormatStat(s.unbiasedVariance));
        window.addReportLine("St. deviation\t" + FormatStat(s.stdDeviation));
        window.addReportLine("Skewness\t" + FormatStat(s.skewness));
        window.addReportLine("Kurtosis\t" + FormatStat(s.kurtosis));
        window.addReportLine("");
        window.addReportLine("");
    }
}

} // namespace knn
