// The shape of the tree that answered a run, as the results window and the headless front end show
// it: one line per figure of the library's tree statistics.
#pragma once

#include <string>
#include <vector>

#include <qel/kdtree.h>

namespace knn {

/// "Dimension = 2", "Points = 1000", ... for the tree's statistics, in a fixed order: dimension, points,
/// bucket size, leaves, empty leaves, split nodes, shrink nodes, depth, mean leaf aspect ratio.
std::vector<std::string> TreeStatsLines(qel::QELkd_tree& tree);

} // namespace knn
