// The option steps of a run and the report lines they write.
#include "optionreport.h"

#include <string>

#include "numbers.h"
#include "vocabulary.h"

namespace knn {

void ReadNeighbourCount(WindowOps& window, SearchSession& s) {
    const int requested = window.neighbourCount();
    s.k = requested > s.dataCount ? s.dataCount - 1 : requested;
    const int unsearchable = s.k;
    if (s.k < 1) s.k = 1; // a search needs at least one neighbour slot
    window.setNeighbourCount(s.k);
    window.addReportLine("No. of K neighbors = " + std::to_string(s.k));
    if (unsearchable != s.k)
        window.addReportLine("K raised from " + std::to_string(unsearchable) +
                             " to 1: a search needs a neighbour");
}

void ReadErrorBound(WindowOps& window, SearchSession& s) {
    const std::string text = NormalizeNumber(window.errorBoundText());
    window.setErrorBoundText(text);
    // A text that is no error bound the searches take becomes 0, written back so the user sees it.
    const std::optional<double> eps = ConvertNumber(text);
    s.eps = eps && !CheckErrorBound(*eps) ? *eps : 0.0;
    window.setErrorBoundText(FormatDouble(s.eps));
    window.addReportLine("Error bound = " + FormatDouble(s.eps));
}

void ReadMetric(WindowOps& window, SearchSession& s) {
    const int item = window.metricItem();
    const Metric metric = MetricOfItem(item, item == CustomMetricItem ? window.customPower() : 0);
    qel::metricKind = metric.kind;
    s.power = metric.power;
    window.addReportLine(MetricReportLine(metric));
}

void ReadVisitLimit(WindowOps& window, SearchSession& s) {
    s.earlyStop = window.earlyTermination();
    if (s.earlyStop) {
        const int limit = window.visitLimit();
        s.maxVisit = limit > s.dataCount ? s.dataCount - 1 : limit;
    } else {
        s.maxVisit = 0;
    }
    qel::setVisitLimit(s.maxVisit);
    window.setVisitLimit(s.maxVisit);
    window.addReportLine("Max points to visit = " + std::to_string(qel::maxPointsVisit));
}

void ReadTreeOptions(WindowOps& window, SearchSession& s) {
    s.bucketSize = window.bucketSize();
    window.addReportLine("Tree bucket size = " + std::to_string(s.bucketSize));
    const int splitItem = window.splitRuleItem();
    s.splitRule = static_cast<qel::SplitRule>(splitItem);
    window.addReportLine("Splitting rule = " + std::to_string(splitItem));
    const int shrinkItem = window.shrinkRuleItem();
    s.shrinkRule = static_cast<qel::ShrinkRule>(shrinkItem);
    window.addReportLine("Shrinking rule = " + std::to_string(shrinkItem));
}

void ReportSearchMode(WindowOps& window, SearchMode mode) {
    switch (mode) {
    case SearchMode::BruteForce:
        window.addReportLine("Search mode = Brute Force");
        break;
    case SearchMode::KdTree:
        window.addReportLine("Search mode = Unbalanced Tree");
        break;
    case SearchMode::BdTree:
        window.addReportLine("Search mode = Balanced Tree");
        break;
    }
}

void ReadSearchRange(WindowOps& window, SearchSession& s) {
    if (window.standardRangeSelected()) {
        s.searchRange = SearchRange::Standard;
        window.addReportLine("Search range = Standard");
    }
    if (window.fixedRadiusSelected()) {
        s.searchRange = SearchRange::FixedRadius;
        ReadRadius(window, s);
        window.addReportLine("Search range = Fixed radius");
    }
    if (window.priorityRangeSelected()) {
        s.searchRange = SearchRange::Priority;
        window.addReportLine("Search range = Priority");
    }
}

void ReadRadius(WindowOps& window, SearchSession& s) {
    const std::string text = NormalizeNumber(window.radiusText());
    window.setRadiusText(text);
    s.radius = ConvertNumber(text).value_or(0.0);
    window.setRadiusText(FormatDouble(s.radius));
}

} // namespace knn
