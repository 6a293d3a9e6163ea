// The data statistics block: exact report lines, "n/a" where a statistic cannot be computed, and the
// 4-decimal number format.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "coretest.h"
#include "statistics.h"

using namespace knn;
using Lines = std::vector<std::string>;

namespace {

// The block for the lines of text, written from their points as a load writes it.
void writeBlock(coretest::FakeWindow& window, const std::string& text, int dim, ColumnStats& stats,
                int threads = 1) {
    TextLines lines;
    lines.assignText(text);
    qel::PointArray points = qel::newPointArray(static_cast<int>(lines.size()), dim);
    const DataConversion conversion = ConvertEveryLine(dim, lines, points);
    WriteStatistics(window, DataColumns{points, lines.size(), conversion.shortLines}, dim, stats, threads);
    qel::releasePointArray(points);
}

// The 14 value lines of the first column's section (after its three header lines).
Lines columnSection(const std::string& text, int dim = 1) {
    coretest::FakeWindow window;
    ColumnStats stats;
    writeBlock(window, text, dim, stats);
    return Lines(window.report.begin() + 6, window.report.begin() + 20);
}

Lines section(const char* n, const char* sum, const char* squares, const char* min, const char* max,
              const char* mean, const char* median, const char* total, const char* unbiased,
              const char* deviation, const char* skewness, const char* kurtosis) {
    return {std::string("No. of valid cases\t") + n,
            std::string("Sum\t") + sum,
            std::string("Sum of squares\t") + squares,
            std::string("Min value\t") + min,
            std::string("Max value\t") + max,
            std::string("Mean\t") + mean,
            std::string("Median\t") + median,
            std::string("Total variance\t") + total,
            std::string("Unbiased variance\t") + unbiased,
            std::string("St. deviation\t") + deviation,
            std::string("Skewness\t") + skewness,
            std::string("Kurtosis\t") + kurtosis,
            "",
            ""};
}

} // namespace

struct StatsCase {
    const char* name;
    std::string file;
    Lines expected;
};
void PrintTo(const StatsCase& row, std::ostream* out) {
    *out << row.name;
}

class ColumnReport : public testing::TestWithParam<StatsCase> {};

TEST_P(ColumnReport, WritesTheExactLines) {
    const coretest::SeparatorScope point('.');
    EXPECT_EQ(columnSection(GetParam().file), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, ColumnReport,
    testing::Values(
        StatsCase{"OneToFour", "1\n2\n3\n4\n",
                  section("4", "10", "30", "1", "4", "2.5", "2.5", "5", "1.6667", "1.291", "0", "-1.2")},
        StatsCase{"WithTen", "1\n2\n3\n4\n10\n",
                  section("5", "20", "130", "1", "10", "4", "3", "50", "12.5", "3.5355", "1.6971", "3.152")},
        StatsCase{"Fractions", "0.5\n1.25\n2\n7.75\n3.1\n",
                  section("5", "14.6", "75.485", "0.5", "7.75", "2.92", "2", "32.853", "8.2133", "2.8659",
                          "1.6476", "2.8778")},
        // The cases below once ended the load with an arithmetic error; now the statistic reads n/a.
        StatsCase{"ThreeLinesHaveNoKurtosis", "1\n2\n3\n",
                  section("3", "6", "14", "1", "3", "2", "2", "2", "1", "1", "0", "n/a")},
        StatsCase{"TwoLinesHaveNoSkewness", "1\n3\n",
                  section("2", "4", "10", "1", "3", "2", "2", "2", "2", "1.4142", "n/a", "n/a")},
        StatsCase{"OneLineHasNoSpread", "7\n",
                  section("1", "7", "49", "7", "7", "7", "7", "0", "n/a", "n/a", "n/a", "n/a")},
        StatsCase{"ConstantColumnHasNoShape", "5\n5\n5\n5\n",
                  section("4", "20", "100", "5", "5", "5", "5", "0", "0", "0", "n/a", "n/a")},
        StatsCase{"HugeValuesLeaveTheDoubleRange", "1e308\n1e308\n-1e308\n3\n",
                  section("4", "1E308", "n/a", "-1E308", "1E308", "2.5E307", "5E307", "n/a", "n/a",
                          "9.57427107756338E307", "n/a", "n/a")},
        StatsCase{
            "BadFieldsAndEmptyLinesCountAsZero", "4\nx\n\n8\n",
            section("4", "12", "80", "0", "8", "3", "2", "44", "14.6667", "3.8297", "0.8546", "-1.2893")}),
    [](const testing::TestParamInfo<StatsCase>& info) { return info.param.name; });

TEST(WriteStatistics, WritesAHeaderAndSeventeenLinesPerColumn) {
    const coretest::SeparatorScope point('.');
    coretest::FakeWindow window;
    ColumnStats stats;
    writeBlock(window, "1 10\n2\n3 30\n4 40\n", 2, stats);
    ASSERT_EQ(window.report.size(), 3u + 17u * 2u);
    EXPECT_EQ(window.report[0], std::string(50, '='));
    EXPECT_EQ(window.report[1], "DATA STATISTICS");
    EXPECT_EQ(window.report[3], std::string(30, '-'));
    EXPECT_EQ(window.report[4], "Stats for Column 1");
    EXPECT_EQ(window.report[21], "Stats for Column 2");
    // Line 2 lacks column 2, so its field 0 (2) counts there: 10 + 2 + 30 + 40.
    EXPECT_EQ(window.report[24], "Sum\t82");
    EXPECT_EQ(stats.sum, 82.0L);
}

TEST(WriteStatistics, ThreadsWriteTheSameBlock) {
    const coretest::SeparatorScope point('.');
    const std::string text = "1 10 -3 0.5\n2\n3 30 7 x\n4 40 1e3 2\n\n9 8 7 6\n";
    coretest::FakeWindow alone;
    ColumnStats last;
    writeBlock(alone, text, 4, last);
    for (const int threads : {2, 3, 4, 9}) {
        coretest::FakeWindow shared;
        ColumnStats lastShared;
        writeBlock(shared, text, 4, lastShared, threads);
        EXPECT_EQ(shared.report, alone.report) << threads << " threads";
        EXPECT_EQ(lastShared.sum, last.sum); // the record of the last column is kept
    }
}

TEST(WriteStatistics, CommaLocaleWritesDecimalCommas) {
    const coretest::SeparatorScope comma(',');
    const Lines lines = columnSection("1\n2\n3\n4\n");
    EXPECT_EQ(lines[5], "Mean\t2,5");
    EXPECT_EQ(lines[8], "Unbiased variance\t1,6667");
}

struct FormatStatCase {
    long double value;
    const char* text;
};
void PrintTo(const FormatStatCase& row, std::ostream* out) {
    *out << row.text;
}

class FormatStatCases : public testing::TestWithParam<FormatStatCase> {};

TEST_P(FormatStatCases, RoundsToFourDecimals) {
    const coretest::SeparatorScope point('.');
    EXPECT_EQ(FormatStat(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatStatCases,
    testing::Values(FormatStatCase{0.0L, "0"}, FormatStatCase{1.23456L, "1.2346"},
                    FormatStatCase{-1.23456L, "-1.2346"}, FormatStatCase{0.00004L, "0"},
                    FormatStatCase{-0.00004L, "0"}, FormatStatCase{0.00005L, "0.0001"},
                    FormatStatCase{2.0L / 3.0L, "0.6667"},
                    FormatStatCase{123456789.123449L, "123456789.1234"},
                    // Too large for the 4-decimal rounding: 15 significant digits instead of an error.
                    FormatStatCase{1234567890123456.0L, "1.23456789012346E15"},
                    FormatStatCase{-9.3e14L, "-930000000000000"}, FormatStatCase{1e400L, "n/a"},
                    FormatStatCase{NAN, "n/a"}));
