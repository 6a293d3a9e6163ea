// The list views' content: shaping, filling and writing tables.
#include <gtest/gtest.h>

#include <sstream>

#include "coretest.h"
#include "pointfile.h"
#include "resulttable.h"

using namespace knn;
using Texts = std::vector<std::string>;

namespace {

Texts captionsOf(const ResultTable& table) {
    Texts out;
    for (int c = 0; c < table.columnCount(); ++c)
        out.emplace_back(table.columnCaption(c));
    return out;
}

Texts rowOf(const ResultTable& table, int row) {
    Texts out;
    for (int c = 0; c < table.columnCount(); ++c)
        out.emplace_back(table.cell(row, c));
    return out;
}

TextLines linesOf(const std::string& text) {
    TextLines lines;
    lines.assignText(text);
    return lines;
}

} // namespace

TEST(ShapeTable, DriverCallsGiveHashDataIndexAndDistColumns) {
    ResultTable table;
    ShapeTable(table, 2, true, true, true, "Q", 3);
    EXPECT_EQ(captionsOf(table), (Texts{"#", "Q1", "Q2"}));
    EXPECT_EQ(rowOf(table, 2), (Texts{"3", "", ""}));
    const int dim = 2;
    const int k = 3;
    ShapeTable(table, dim + k + 1, false, true, false, "Index", 3);
    ShapeTable(table, dim + 2 * k + 1, false, true, false, "Dist", 3);
    EXPECT_EQ(captionsOf(table),
              (Texts{"#", "Q1", "Q2", "Index1", "Index2", "Index3", "Dist1", "Dist2", "Dist3"}));
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(rowOf(table, 0), Texts({"1", "", "", "", "", "", "", "", ""}));
}

TEST(ShapeTable, ShrinksColumnsAndRowsFromTheEnd) {
    ResultTable table;
    ShapeTable(table, 3, true, true, true, "Data", 4);
    ASSERT_TRUE(table.setCell(1, 1, "a"));
    ASSERT_TRUE(table.setCell(1, 3, "c"));
    // Without a new "#" column the existing one counts: two columns are "#" and Data1.
    ShapeTable(table, 2, true, true, false, "Data", 2);
    EXPECT_EQ(captionsOf(table), (Texts{"#", "Data1"}));
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(rowOf(table, 1), (Texts{"2", "a"}));
}

TEST(ResultTable, MissingCellsReadEmptyAndRejectWrites) {
    ResultTable table;
    ShapeTable(table, 1, true, true, true, "Data", 1);
    EXPECT_EQ(table.cell(0, 2), "");
    EXPECT_EQ(table.cell(1, 0), "");
    EXPECT_EQ(table.cell(-1, 0), "");
    EXPECT_EQ(table.columnCaption(5), "");
    EXPECT_FALSE(table.setCell(0, 2, "x"));
    EXPECT_FALSE(table.setCell(1, 1, "x"));
}

TEST(FillTable, WritesNormalisedValuesFromTheFirstColumn) {
    const coretest::SeparatorScope point('.');
    ResultTable table;
    ShapeTable(table, 2, true, true, true, "Data", 2);
    EXPECT_TRUE(FillTable(linesOf("1,5 2\n\"3\" 4\n"), table, 1));
    EXPECT_EQ(rowOf(table, 0), (Texts{"1", "1.5", "2"}));
    EXPECT_EQ(rowOf(table, 1), (Texts{"2", "3", "4"}));
}

TEST(FillTable, FirstColumnZeroWritesTheCaption) {
    ResultTable table;
    ShapeTable(table, 1, true, true, true, "Data", 1);
    EXPECT_TRUE(FillTable(linesOf("a b c"), table, 0));
    EXPECT_EQ(rowOf(table, 0), (Texts{"a", "b"}));
}

TEST(FillTable, SkipsValuesWithoutAColumnAndGoesOn) {
    // "Dimensions:" below the values per line: every row still gets its first values.
    ResultTable table;
    ShapeTable(table, 2, true, true, true, "Data", 3);
    EXPECT_TRUE(FillTable(linesOf("1 2 3\n4 5 6\n7\n"), table, 1));
    EXPECT_EQ(rowOf(table, 0), (Texts{"1", "1", "2"}));
    EXPECT_EQ(rowOf(table, 1), (Texts{"2", "4", "5"}));
    EXPECT_EQ(rowOf(table, 2), (Texts{"3", "7", ""}));
}

TEST(FillTable, StopsAtALineWithoutARow) {
    ResultTable table;
    ShapeTable(table, 1, true, true, true, "Data", 1);
    EXPECT_FALSE(FillTable(linesOf("1\n2\n"), table, 1));
    EXPECT_EQ(rowOf(table, 0), (Texts{"1", "1"}));
}

TEST(WriteTable, WritesCaptionsThenRowsAndQuotesWhereNeeded) {
    ResultTable table;
    ShapeTable(table, 2, true, true, true, "Q", 2);
    ASSERT_TRUE(table.setCell(0, 1, "1,5"));
    ASSERT_TRUE(table.setCell(0, 2, "a\"b"));
    ASSERT_TRUE(table.setCell(1, 1, "2"));
    std::ostringstream tabs;
    WriteTable(table, tabs, '\t');
    EXPECT_EQ(tabs.str(), "#\tQ1\tQ2\n1\t1,5\t\"a\"\"b\"\n2\t2\t\n");
    std::ostringstream commas;
    WriteTable(table, commas, ',');
    EXPECT_EQ(commas.str(), "#,Q1,Q2\n1,\"1,5\",\"a\"\"b\"\n2,2,\n");
}
