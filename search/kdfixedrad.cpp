// Placeholder until the fixed-radius search lands.
#include "kdfixedrad.h"
#include "bdtree.h"

namespace qel {
int QELkd_tree::searchFixedRadius(Point, double, int, IndexArray, DistArray, double, int) { return 0; }
void QELkd_split::fixedRadiusStep(double, int) {}
void QELkd_leaf::fixedRadiusStep(double, int) {}
void QELbd_shrink::fixedRadiusStep(double, int) {}
} // namespace qel
