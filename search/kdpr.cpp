// Placeholder until the priority search lands.
#include "kdpr.h"
#include "bdtree.h"

namespace qel {
void QELkd_tree::searchPriority(Point, int, IndexArray, DistArray, double, int) {}
void QELkd_split::prioritySearchStep(double, int) {}
void QELkd_leaf::prioritySearchStep(double, int) {}
void QELbd_shrink::prioritySearchStep(double, int) {}
} // namespace qel
