// Standard k-nearest-neighbour search of a kd- or bd-tree: depth first, nearer child first, the
// farther child only when its cell can still hold a closer point (allowing for eps).
#pragma once

#include "kdtree.h"
