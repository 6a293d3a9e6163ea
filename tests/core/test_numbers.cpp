// Number text: the typed decimal mark, the accepted grammar and the general format of doubles.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "coretest.h"
#include "numbers.h"

using coretest::SeparatorScope;
using knn::ConvertNumber;
using knn::FormatDouble;
using knn::NormalizeNumber;

TEST(NormalizeNumber, ReplacesOnlyTheFirstMark) {
    SeparatorScope point('.');
    EXPECT_EQ(NormalizeNumber("1,5"), "1.5");
    EXPECT_EQ(NormalizeNumber("1,234.5"), "1.234.5");
    EXPECT_EQ(NormalizeNumber("1,5,5"), "1.5,5");
    EXPECT_EQ(NormalizeNumber("2.5"), "2.5");
}

TEST(NormalizeNumber, CommaSeparatorTurnsThePointIntoAComma) {
    SeparatorScope comma(',');
    EXPECT_EQ(NormalizeNumber("0.5"), "0,5");
    EXPECT_EQ(NormalizeNumber("1.2.3"), "1,2.3");
}

TEST(NormalizeNumber, OtherSeparatorsLeaveTheTextAlone) {
    SeparatorScope other('\'');
    EXPECT_EQ(NormalizeNumber("1,5.5"), "1,5.5");
}

struct ConvertCase {
    const char* text;
    bool converts;
    double value;
};
void PrintTo(const ConvertCase& row, std::ostream* out) {
    *out << '"' << row.text << '"';
}

class ConvertNumberGrammar : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertNumberGrammar, AcceptsExactlyTheGrammar) {
    SeparatorScope point('.');
    const ConvertCase& c = GetParam();
    const auto value = ConvertNumber(c.text);
    ASSERT_EQ(value.has_value(), c.converts) << '"' << c.text << '"';
    if (c.converts) {
        EXPECT_EQ(*value, c.value) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConvertNumberGrammar,
    testing::Values(ConvertCase{"1e3", true, 1000.0}, ConvertCase{"  -2.5  ", true, -2.5},
                    ConvertCase{"+7", true, 7.0}, ConvertCase{".5", true, 0.5}, ConvertCase{"5.", true, 5.0},
                    ConvertCase{"1.5E-2", true, 0.015}, ConvertCase{"2e+2", true, 200.0},
                    ConvertCase{"1e-400", true, 0.0}, ConvertCase{"1.7976931348623157e308", true, DBL_MAX},
                    ConvertCase{"1e400", false, 0}, ConvertCase{"-1e400", false, 0},
                    ConvertCase{"", false, 0}, ConvertCase{" ", false, 0}, ConvertCase{".", false, 0},
                    ConvertCase{"-", false, 0}, ConvertCase{"1.2.3", false, 0}, ConvertCase{"1,5", false, 0},
                    ConvertCase{"1e", false, 0}, ConvertCase{"1e+", false, 0}, ConvertCase{"e5", false, 0},
                    ConvertCase{"0x10", false, 0}, ConvertCase{"inf", false, 0}, ConvertCase{"nan", false, 0},
                    ConvertCase{"1 2", false, 0}, ConvertCase{"\t1", false, 0}, ConvertCase{"++1", false, 0},
                    ConvertCase{"+-1", false, 0}, ConvertCase{"-+1", false, 0},
                    ConvertCase{"1.5.", false, 0}));

TEST(ConvertNumber, UsesTheSeparatorInForceOnly) {
    SeparatorScope comma(',');
    EXPECT_EQ(ConvertNumber("2,5"), 2.5);
    EXPECT_FALSE(ConvertNumber("2.5").has_value());
}

struct FormatCase {
    double value;
    const char* text;
};
void PrintTo(const FormatCase& row, std::ostream* out) {
    *out << row.text;
}

class FormatDoubleCases : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatDoubleCases, WritesTheGeneralFormat) {
    SeparatorScope point('.');
    EXPECT_EQ(FormatDouble(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, FormatDoubleCases,
                         testing::Values(FormatCase{0.0, "0"}, FormatCase{-0.0, "0"}, FormatCase{5.0, "5"},
                                         FormatCase{-2.5, "-2.5"}, FormatCase{0.1, "0.1"},
                                         FormatCase{1.0 / 3.0, "0.333333333333333"},
                                         FormatCase{2.0 / 3.0, "0.666666666666667"}, FormatCase{100.0, "100"},
                                         FormatCase{1e-5, "0.00001"}, FormatCase{1.5e-5, "0.000015"},
                                         FormatCase{9.9e-6, "9.9E-6"}, FormatCase{1e-20, "1E-20"},
                                         FormatCase{999999999999999.0, "999999999999999"},
                                         FormatCase{1e15, "1E15"}, FormatCase{9999999999999999.0, "1E16"},
                                         FormatCase{123456789012345678.0, "1.23456789012346E17"},
                                         FormatCase{std::sqrt(DBL_MAX), "1.34078079299426E154"},
                                         FormatCase{DBL_MAX, "1.79769313486232E308"},
                                         FormatCase{-1.5e-7, "-1.5E-7"}));

TEST(FormatDouble, WritesTheSeparatorInForce) {
    SeparatorScope comma(',');
    EXPECT_EQ(FormatDouble(0.5), "0,5");
    EXPECT_EQ(FormatDouble(1.25e20), "1,25E20");
}
