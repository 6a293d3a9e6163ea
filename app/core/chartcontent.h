// The results chart as plain data: titles and series in the order they were added. A window draws
// it; one line series per query costs only its record, as every point lives in one shared array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace knn {

struct ChartPoint {
    double x = 0.0; ///< value on the bottom axis
    double y = 0.0; ///< value on the left axis
};

struct ChartColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

enum class SeriesKind { Point, Line };
enum class PenStyle { Solid, Dotted };

struct ChartSeries {
    SeriesKind kind = SeriesKind::Point;
    ChartColour colour; ///< colour of the markers or the line
    int penWidth = 1;   ///< line width in pixels (line series)
    PenStyle penStyle = PenStyle::Solid;
    std::size_t firstPoint = 0; ///< index of the series' first point in `ChartContent::points`
    std::size_t pointCount = 0; ///< number of points, in insertion order (X not sorted)
};

struct ChartContent {
    std::string title; ///< replaces the chart's designed title
    std::string subTitle;
    std::vector<ChartSeries> series; ///< in the order they were added to the chart
    std::vector<ChartPoint> points;  ///< every series' points, series after series

    std::span<const ChartPoint> pointsOf(const ChartSeries& s) const {
        return std::span<const ChartPoint>(points).subspan(s.firstPoint, s.pointCount);
    }
    void clear() {
        title.clear();
        subTitle.clear();
        series.clear();
        points.clear();
    }
};

inline constexpr ChartColour DataPointColour{0, 0, 255};
inline constexpr ChartColour QueryPointColour{255, 0, 0};
inline constexpr ChartColour NeighbourLineColour{0, 0, 0};

} // namespace knn
