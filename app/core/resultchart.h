// The results chart of a complete run as plain data: the data points, the query points and a dotted
// line from each query to its nearest neighbour, under titles that name the structure and the sizes.
#pragma once

#include <functional>

#include "chartcontent.h"
#include "pointfile.h"
#include "progress.h"
#include "session.h"

namespace knn {

/// Reads line `index` of lines into point; false, after its message, when the line does not convert.
using PointReader = std::function<bool(const TextLines& lines, int index, double* point)>;

/// Fills chart (cleared first) from the run state's lines and results and records the series' indices
/// in s. A point series joins the chart only with all its points, and a line that cannot be read ends
/// the lines; progress counts the points read.
void BuildResultsChart(SearchSession& s, ChartContent& chart, const PointReader& read,
                       const ProgressCallback& progress);

} // namespace knn
