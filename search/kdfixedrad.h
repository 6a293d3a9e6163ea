// Fixed-radius search of a kd- or bd-tree: counts the points within a powered distance bound and
// reports the k nearest of them; eps loosens only the pruning of cells.
#pragma once

#include "kdtree.h"
