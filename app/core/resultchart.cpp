// The results chart's series and titles.
#include "resultchart.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace knn {

namespace {

std::string modeTitle(SearchMode mode) {
    switch (mode) {
    case SearchMode::BruteForce:
        return "Brute Force Search";
    case SearchMode::KdTree:
        return "Unbalanced Tree Search";
    case SearchMode::BdTree:
        return "Balanced Tree Search";
    }
    return {};
}

} // namespace

void BuildResultsChart(SearchSession& s, ChartContent& chart, const PointReader& read,
                       const ProgressCallback& progress) {
    chart.clear();
    s.dataSeries = s.querySeries = s.lineSeries = -1;
    chart.title = "KNN Search Results: " + modeTitle(s.searchMode);
    chart.subTitle = "KNN Search: k = " + std::to_string(s.k) +
                     ", no. of data points = " + std::to_string(s.dataCount) +
                     ", no. of query points = " + std::to_string(s.queryCount);
    std::vector<double> a(static_cast<std::size_t>(std::max(s.dim, 2)), 0.0);
    std::vector<double> b(a.size(), 0.0);
    // A one-coordinate point is drawn at (line index, coordinate).
    auto chartPoint = [&](const std::vector<double>& p, int line) {
        return s.dim >= 2 ? ChartPoint{p[0], p[1]} : ChartPoint{static_cast<double>(line), p[0]};
    };
    const std::int64_t total = static_cast<std::int64_t>(s.dataCount) + s.queryCount;
    std::int64_t done = 0;
    auto addPointSeries = [&](const TextLines& lines, int count, ChartColour colour) {
        const std::size_t first = chart.points.size();
        for (int i = 0; i < count; ++i) {
            if (!read(lines, i, a.data())) {
                chart.points.resize(first); // a series joins the chart only with all its points
                return -1;
            }
            chart.points.push_back(chartPoint(a, i));
            reportProgress(progress, ++done, total);
        }
        chart.series.push_back(
            {SeriesKind::Point, colour, 1, PenStyle::Solid, first, static_cast<std::size_t>(count)});
        return static_cast<int>(chart.series.size()) - 1;
    };
    s.dataSeries = addPointSeries(*s.dataLines, s.dataCount, DataPointColour);
    if (s.dataSeries >= 0) s.querySeries = addPointSeries(*s.queryLines, s.queryCount, QueryPointColour);
    if (s.querySeries < 0) return;
    const auto k = static_cast<std::size_t>(s.k);
    for (int q = 0; q < s.queryCount; ++q) {
        const int nearest = s.resultIdx[static_cast<std::size_t>(q) * k] - 1;
        if (nearest < 0) continue; // no point inside the radius: nothing to join
        if (!read(*s.queryLines, q, a.data()) || !read(*s.dataLines, nearest, b.data())) break;
        const std::size_t first = chart.points.size();
        chart.points.push_back(chartPoint(a, q));
        chart.points.push_back(chartPoint(b, nearest));
        chart.series.push_back({SeriesKind::Line, NeighbourLineColour, 1, PenStyle::Dotted, first, 2});
        s.lineSeries = static_cast<int>(chart.series.size()) - 1;
    }
}

} // namespace knn
