// Point files: encodings, line ends, the field split and the conversion of data lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "coretest.h"
#include "pointfile.h"
#include "windowops.h"

using namespace knn;

namespace {

std::vector<std::string> linesOf(const TextLines& lines) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out.emplace_back(lines[i]);
    return out;
}

std::vector<std::string> fieldsOf(std::string_view line) {
    FieldList fields;
    SplitFields(line, fields);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out.emplace_back(fields[i]);
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

struct LineCase {
    const char* name;
    std::string text;
    Lines lines;
};
void PrintTo(const LineCase& row, std::ostream* out) {
    *out << row.name;
}

class LineBreaks : public testing::TestWithParam<LineCase> {};

TEST_P(LineBreaks, SplitAtCrLfAndCrLf) {
    TextLines lines;
    lines.assignText(GetParam().text);
    EXPECT_EQ(linesOf(lines), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LineBreaks,
    testing::Values(LineCase{"Empty", "", {}}, LineCase{"NoBreak", "a", {"a"}},
                    LineCase{"FinalBreakAddsNoLine", "a\n", {"a"}}, LineCase{"LoneBreak", "\n", {""}},
                    LineCase{"Lf", "a\nb", {"a", "b"}}, LineCase{"Cr", "a\rb\r", {"a", "b"}},
                    LineCase{"CrLfIsOneBreak", "a\r\nb\r\n", {"a", "b"}},
                    LineCase{"LfCrIsTwo", "a\n\rb", {"a", "", "b"}},
                    LineCase{"TwoFinalBreaksMakeAnEmptyLine", "1 2\n3 4\n\n", {"1 2", "3 4", ""}},
                    LineCase{"LoneLfs", "\n\n", {"", ""}}, LineCase{"LoneCrs", "\r\r", {"", ""}},
                    LineCase{"MixedBreaks", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
                    LineCase{"EmptyLineBetweenCrLfs", "a\r\n\r\nb", {"a", "", "b"}},
                    LineCase{"FinalCrLfAfterEmptyLine", "a\n\r\n", {"a", ""}}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

struct EncodingCase {
    const char* name;
    std::string bytes;
    std::string utf8;
};
void PrintTo(const EncodingCase& row, std::ostream* out) {
    *out << row.name;
}

class Encodings : public testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, DecodeToUtf8) {
    EXPECT_EQ(DecodeText(GetParam().bytes), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Marks, Encodings,
                         testing::Values(EncodingCase{"Utf16LittleEndian",
                                                      std::string("\xFF\xFE"
                                                                  "1\0 \0\xE9\0\n\0",
                                                                  10),
                                                      "1 \xC3\xA9\n"},
                                         EncodingCase{"Utf16BigEndian",
                                                      std::string("\xFE\xFF\0"
                                                                  "1\0 \0\xE9\0\n",
                                                                  10),
                                                      "1 \xC3\xA9\n"},
                                         EncodingCase{"Utf16SurrogatePair",
                                                      std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6),
                                                      "\xF0\x9F\x98\x80"},
                                         EncodingCase{"Utf16OddLastByteDropped",
                                                      std::string("\xFF\xFE"
                                                                  "7\0x",
                                                                  5),
                                                      "7"},
                                         EncodingCase{"Utf8MarkDropped",
                                                      "\xEF\xBB\xBF"
                                                      "2.5 3",
                                                      "2.5 3"},
                                         EncodingCase{"PlainUtf8Kept", "\xC3\xA9 1", "\xC3\xA9 1"},
                                         EncodingCase{"OtherBytesAreLatin1", "\xE9 1", "\xC3\xA9 1"}),
                         [](const testing::TestParamInfo<EncodingCase>& info) { return info.param.name; });

struct SplitCase {
    const char* name;
    std::string line;
    Lines fields;
};
void PrintTo(const SplitCase& row, std::ostream* out) {
    *out << row.name;
}

class FieldSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(FieldSplit, FollowsTheBlankAndQuoteRules) {
    EXPECT_EQ(fieldsOf(GetParam().line), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FieldSplit,
    testing::Values(SplitCase{"Blank", "1.5 2.5", {"1.5", "2.5"}}, SplitCase{"Tab", "3\t4", {"3", "4"}},
                    SplitCase{"SurroundingBlanks", "   5    6   ", {"5", "6"}},
                    SplitCase{"ControlCharacters",
                              "\x01"
                              "7\x1F"
                              "8",
                              {"7", "8"}},
                    SplitCase{"CommaIsNoSeparator", "1.5,2.5", {"1.5,2.5"}},
                    SplitCase{"SemicolonIsNoSeparator", "1;2", {"1;2"}}, SplitCase{"Empty", "", {}},
                    SplitCase{"OnlyBlanks", " \t ", {}}, SplitCase{"Quoted", "\"7\"", {"7"}},
                    SplitCase{"QuotedBlank", "\"a b\" c", {"a b", "c"}},
                    SplitCase{"DoubledQuote", "\"a\"\"b\"", {"a\"b"}},
                    SplitCase{"EmptyQuotes", "\"\" 1", {"", "1"}},
                    SplitCase{"TextAfterClosingQuoteIsNextField", "\"a\"b", {"a", "b"}},
                    SplitCase{"QuoteInsideFieldIsText", "a\"b c", {"a\"b", "c"}},
                    SplitCase{"UnclosedQuoteRunsToLineEnd", "1 \"2 3", {"1", "2 3"}},
                    SplitCase{"NulEndsTheLine", std::string("1 2\0 3", 6), {"1", "2"}},
                    SplitCase{"NonAsciiIsText", "\xC3\xA9\xC2\xA0x", {"\xC3\xA9\xC2\xA0x"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(FieldCount, IsTheFirstLinesFieldCount) {
    TextLines lines;
    lines.assignText("1 2 3\n4 5\n");
    EXPECT_EQ(FieldCount(lines), 3);
}

TEST(FieldCount, EmptyListRaisesTheListIndexError) {
    const TextLines empty;
    try {
        FieldCount(empty);
        FAIL() << "no error raised";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (0)");
    }
}

TEST(ReadTextFile, UnreadableFileRaisesTheSystemsWords) {
    const coretest::TempFolder folder;
    try {
        ReadTextFile(folder.pathOf("missing.pts"));
        FAIL() << "no error raised";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + folder.pathOf("missing.pts") + "\". No such file or directory");
    }
}

TEST(ReadTextFile, RefusesTextHoldingNul) {
    const coretest::TempFolder folder;
    // A NUL byte in 8-bit text, UTF-16 without a byte-order mark, and a NUL character that only
    // appears once UTF-16 with a mark is decoded.
    const std::pair<const char*, std::string> files[] = {
        {"nul.pts", std::string("1 2\n3\0 4\n", 9)},
        {"utf16-no-mark.pts", std::string("1\0 \0"
                                          "2\0\n\0",
                                          8)},
        {"utf16-nul-char.pts", std::string("\xFF\xFE"
                                           "1\0\0\0",
                                           6)},
    };
    for (const auto& [name, bytes] : files) {
        const std::string path = folder.write(name, bytes);
        try {
            ReadTextFile(path);
            ADD_FAILURE() << name << ": no error raised";
        } catch (const RunError& error) {
            EXPECT_EQ(
                std::string(error.what()),
                "Cannot read file \"" + path +
                    "\". It holds NUL characters: it is not a text file (UTF-16 needs a byte-order mark)");
        }
    }
    EXPECT_EQ(ReadTextFile(folder.write("plain.pts", "1 2\n3 4")).size(), 2u);
}

namespace {

// The points a load keeps from text: every line converted on `threads` threads, then what precedes the
// first field that does not convert; `loaded` tells whether every field converted.
std::vector<std::vector<double>> loadPoints(const std::string& text, int dim, int threads, bool& loaded) {
    TextLines lines;
    lines.assignText(text);
    const int n = static_cast<int>(lines.size());
    qel::PointArray points = qel::newPointArray(n, dim);
    loaded = KeepUpToFirstFailure(ConvertEveryLine(dim, lines, points, threads), dim, lines.size(), points);
    std::vector<std::vector<double>> out;
    for (int i = 0; i < n; ++i)
        out.emplace_back(points[i], points[i] + dim);
    qel::releasePointArray(points);
    return out;
}

} // namespace

struct LoadCase {
    const char* name;
    std::string text;
    int dim;
    bool loaded;
    std::vector<std::vector<double>> points;
};
void PrintTo(const LoadCase& row, std::ostream* out) {
    *out << row.name;
}

class LoadedPoints : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadedPoints, KeepEveryCoordinateUpToTheFirstFailure) {
    const coretest::SeparatorScope point('.');
    bool loaded = false;
    EXPECT_EQ(loadPoints(GetParam().text, GetParam().dim, 1, loaded), GetParam().points);
    EXPECT_EQ(loaded, GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadedPoints,
    testing::Values(
        LoadCase{"MissingCoordinatesAreZero",
                 "1.5 2.5\n3\t4\n   5    6   \n2,5\n7\n\n1 2 99",
                 2,
                 true,
                 {{1.5, 2.5}, {3, 4}, {5, 6}, {2.5, 0}, {7, 0}, {0, 0}, {1, 2}}},
        LoadCase{"StopsInsideALine", "1 2 3\n4 x 6\n7 8 9\n", 3, false, {{1, 2, 3}, {4, 0, 0}, {0, 0, 0}}},
        LoadCase{"BadFirstField", "y 2\n3 4", 2, false, {{0, 0}, {0, 0}}},
        LoadCase{"BadFieldBeyondDimIsNotRead", "1 2 x\n3 4 5", 2, true, {{1, 2}, {3, 4}}},
        LoadCase{"TwoBadLines", "1 2\nx 3\n4 y\n5 6", 2, false, {{1, 2}, {0, 0}, {0, 0}, {0, 0}}},
        LoadCase{"NoColumns", "\n\n", 0, true, {{}, {}}}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST(ConvertEveryLine, ReadsPastTheFirstFailureAndListsShortLines) {
    const coretest::SeparatorScope point('.');
    TextLines lines;
    lines.assignText("1 2 3\nx 5\n\n7 8 9\n");
    qel::PointArray points = qel::newPointArray(4, 3);
    const DataConversion conversion = ConvertEveryLine(3, lines, points);
    EXPECT_EQ(conversion.failedLine, 1u);
    EXPECT_EQ(conversion.failedField, 0);
    ASSERT_EQ(conversion.shortLines.size(), 1u); // the blank line has no field to stand in
    EXPECT_EQ(conversion.shortLines[0].line, 1u);
    EXPECT_EQ(conversion.shortLines[0].fieldCount, 2);
    EXPECT_EQ(points[1][1], 5.0);
    EXPECT_EQ(points[3][2], 9.0);
    qel::releasePointArray(points);
}

// Enough lines for several threads, with short lines and bad fields in more than one thread's share.
TEST(ConvertEveryLine, ThreadsFindWhatOneThreadFinds) {
    const coretest::SeparatorScope point('.');
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += i % 997 == 5 ? "7\n" : i == 12000 || i == 15000 ? "1 bad\n" : std::to_string(i) + " 0.5\n";
    for (const int threads : {2, 3, 8}) {
        bool alone = false;
        bool shared = false;
        EXPECT_EQ(loadPoints(text, 2, threads, shared), loadPoints(text, 2, 1, alone))
            << threads << " threads";
        EXPECT_EQ(shared, alone);
        TextLines lines;
        lines.assignText(text);
        qel::PointArray points = qel::newPointArray(static_cast<int>(lines.size()), 2);
        const DataConversion conversion = ConvertEveryLine(2, lines, points, threads);
        EXPECT_EQ(conversion.failedLine, 12000u);
        EXPECT_EQ(conversion.shortLines.size(), 21u);
        EXPECT_TRUE(std::is_sorted(conversion.shortLines.begin(), conversion.shortLines.end(),
                                   [](const ShortLine& a, const ShortLine& b) { return a.line < b.line; }));
        qel::releasePointArray(points);
    }
}
