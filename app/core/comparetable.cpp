// The compare table's columns, number format and winners.
#include "comparetable.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "numbers.h"

namespace knn {

namespace {

/// v to 6 significant digits, in the test bench's number format.
std::string short6(double v) {
    if (std::isnan(v)) return "n/a";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6).ptr;
    double rounded = v;
    std::from_chars(text, end, rounded);
    return FormatDouble(rounded);
}

enum Column {
    Structure = 1,
    Search,
    Split,
    Shrink,
    Bucket,
    Eps,
    MaxVisit,
    BuildSeconds,
    QuerySeconds,
    MeanQuerySeconds,
    SlowestQuerySeconds,
    TotalSeconds,
    MeanVisited,
    MostVisited,
    Leaves,
    EmptyLeaves,
    SplitNodes,
    ShrinkNodes,
    Depth,
    AspectRatio,
    MemoryBytes,
    Recall,
    MeanError,
    LargestError,
    EmptySlots,
    Winner,
    ColumnCount
};

const char* const Captions[ColumnCount] = {"#",
                                           "Structure",
                                           "Search",
                                           "Split",
                                           "Shrink",
                                           "Bucket",
                                           "Eps",
                                           "Max visit",
                                           "Build s",
                                           "Query s",
                                           "Mean query s",
                                           "Slowest query s",
                                           "Build + query s",
                                           "Mean visited",
                                           "Most visited",
                                           "Leaves",
                                           "Empty leaves",
                                           "Split nodes",
                                           "Shrink nodes",
                                           "Depth",
                                           "Aspect ratio",
                                           "Memory bytes",
                                           "Recall",
                                           "Mean error",
                                           "Largest error",
                                           "Empty slots",
                                           "Winner"};

/// The value of a measurement column; NaN where the configuration has none (the tree columns of brute force).
double measurement(const CompareRow& row, int column) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    const qel::TreeStats* t = row.tree ? &*row.tree : nullptr;
    switch (column) {
    case BuildSeconds:
        return row.buildSeconds;
    case QuerySeconds:
        return row.querySeconds;
    case MeanQuerySeconds:
        return row.meanQuerySeconds;
    case SlowestQuerySeconds:
        return row.slowestQuerySeconds;
    case TotalSeconds:
        return row.buildSeconds + row.querySeconds;
    case MeanVisited:
        return row.meanVisited;
    case MostVisited:
        return row.mostVisited;
    case Leaves:
        return t ? t->leafCount : none;
    case EmptyLeaves:
        return t ? t->emptyLeafCount : none;
    case SplitNodes:
        return t ? t->splitNodeCount : none;
    case ShrinkNodes:
        return t ? t->shrinkNodeCount : none;
    case Depth:
        return t ? t->treeDepth : none;
    case AspectRatio:
        return t ? t->aspectMean : none;
    case MemoryBytes:
        return static_cast<double>(row.memoryBytes);
    case Recall:
        return row.recall;
    case MeanError:
        return row.meanError;
    case LargestError:
        return row.largestError;
    case EmptySlots:
        return row.emptySlotQueries;
    default:
        return none;
    }
}

std::string optionText(const CompareConfig& c, int column) {
    const bool tree = c.mode != SearchMode::BruteForce;
    switch (column) {
    case Structure:
        return ModeName(c.mode);
    case Search:
        return RangeName(c.range);
    case Split:
        return tree ? SplitName(c.split) : "-";
    case Shrink:
        return c.mode == SearchMode::BdTree ? ShrinkName(c.shrink) : "-";
    case Bucket:
        return tree ? std::to_string(c.bucketSize) : "-";
    case Eps:
        return tree ? FormatDouble(c.eps) : "-";
    case MaxVisit:
        return !tree ? "-" : c.visitLimit > 0 ? std::to_string(c.visitLimit) : "none";
    default:
        return {};
    }
}

} // namespace

std::string CompareLabel(const CompareConfig& c) {
    if (c.mode == SearchMode::BruteForce) return "brute " + RangeName(c.range);
    std::string label = ModeName(c.mode);
    const auto add = [&label](std::string_view prefix, const std::string& value) {
        label.append(prefix).append(value);
    };
    add(" ", SplitName(c.split));
    if (c.mode == SearchMode::BdTree) add(" ", ShrinkName(c.shrink));
    add(" b", std::to_string(c.bucketSize));
    if (c.range != SearchRange::Standard) add(" ", RangeName(c.range));
    if (c.eps != 0.0) add(" e", FormatDouble(c.eps));
    if (c.visitLimit > 0) add(" v", std::to_string(c.visitLimit));
    return label;
}

ResultTable CompareTable(const CompareResult& result) {
    ResultTable table;
    for (const char* caption : Captions)
        table.appendColumn(caption);
    for (int r = 0; r < static_cast<int>(result.rows.size()); ++r) {
        const CompareRow& row = result.rows[static_cast<std::size_t>(r)];
        table.appendRow(std::to_string(r + 1));
        for (int c = Structure; c <= MaxVisit; ++c)
            table.setCell(r, c, optionText(row.config, c));
        for (int c = BuildSeconds; c < Winner; ++c) {
            const double v = measurement(row, c);
            const bool integral =
                c == MostVisited || (c >= Leaves && c <= Depth) || c == MemoryBytes || c == EmptySlots;
            table.setCell(r, c,
                          std::isnan(v) && !row.tree && c >= Leaves && c <= AspectRatio ? "-"
                          : integral ? std::to_string(static_cast<std::int64_t>(v))
                                     : short6(v));
        }
        std::string winner;
        if (r == result.fastestExact) winner = "fastest exact";
        if (r == result.fastestAccurate)
            winner += (winner.empty() ? "" : ", ") + std::string("fastest recall >= 0.95");
        table.setCell(r, Winner, winner);
    }
    return table;
}

bool CompareColumnIsSeconds(int column) {
    return column >= BuildSeconds && column <= TotalSeconds;
}

double CompareSortKey(const CompareRow& row, int rowNumber, int column) {
    const CompareConfig& c = row.config;
    switch (column) {
    case Structure:
        return static_cast<double>(c.mode);
    case Search:
        return static_cast<double>(c.range);
    case Split:
        return static_cast<double>(c.split);
    case Shrink:
        return static_cast<double>(c.shrink);
    case Bucket:
        return c.bucketSize;
    case Eps:
        return c.eps;
    case MaxVisit:
        return c.visitLimit;
    case 0:
    case Winner:
        return rowNumber;
    default:
        return measurement(row, column);
    }
}

} // namespace knn
