// Placeholder until the standard search lands.
#include "kd.h"
#include "bdtree.h"

namespace qel {
void QELkd_tree::searchNearest(Point, int, IndexArray, DistArray, double, int) {}
void QELkd_split::searchStep(double, int) {}
void QELkd_leaf::searchStep(double, int) {}
void QELbd_shrink::searchStep(double, int) {}
} // namespace qel
