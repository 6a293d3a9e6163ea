// Lines of the tree statistics.
#include "treereport.h"

#include "statistics.h"

namespace knn {

std::vector<std::string> TreeStatsLines(qel::QELkd_tree& tree) {
    qel::TreeStats stats;
    tree.collectStats(stats);
    const auto line = [](const char* caption, int value) {
        return caption + (" = " + std::to_string(value));
    };
    return {
        line("Dimension", stats.dimensionCount),
        line("Points", stats.dataCount),
        line("Bucket size", stats.bucketSize),
        line("Leaves", stats.leafCount),
        line("Empty leaves", stats.emptyLeafCount),
        line("Split nodes", stats.splitNodeCount),
        line("Shrink nodes", stats.shrinkNodeCount),
        line("Depth", stats.treeDepth),
        // Four decimals, like the data statistics: the mean is a 32-bit float.
        "Mean leaf aspect ratio = " + FormatStat(stats.aspectMean),
    };
}

} // namespace knn
