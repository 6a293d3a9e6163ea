// The run's options as the report echoes them: each step reads its option from the panel, writes back
// into the panel what the run takes, keeps it in the run state and adds its report line, in the order
// the report lists them.
#pragma once

#include "session.h"
#include "windowops.h"

namespace knn {

/// "NN Amount:" cut to the data, into k: "No. of K neighbors = ".
void ReadNeighbourCount(WindowOps& window, SearchSession& s);
/// "Error bound:" into eps: "Error bound = ".
void ReadErrorBound(WindowOps& window, SearchSession& s);
/// The metric into `qel::metricKind` and the power: "Distance metric = ".
void ReadMetric(WindowOps& window, SearchSession& s);
/// Early termination and its limit into the library's visit limit: "Max points to visit = ".
void ReadVisitLimit(WindowOps& window, SearchSession& s);
/// Bucket size, splitting and shrinking rule: "Tree bucket size = ", "Splitting rule = ",
/// "Shrinking rule = ".
void ReadTreeOptions(WindowOps& window, SearchSession& s);
/// "Search mode = " of the structure the run built.
void ReportSearchMode(WindowOps& window, SearchMode mode);
/// The selected range button, reading "R =" for the fixed radius: "Search range = ".
void ReadSearchRange(WindowOps& window, SearchSession& s);
/// "R =" normalised, read into radius and written back; no report line.
void ReadRadius(WindowOps& window, SearchSession& s);

} // namespace knn
