// What the runs over a plan's point sets measured, kept for the summary tables.
#pragma once

#include "plan.h"

namespace bench {

struct QueryRecord {
    DataKey data;
    Setup setup;
    Search search;
    double perQuery = 0.0; ///< seconds
    int answered = 0;      ///< queries timed
};

struct BuildRecord {
    DataKey data;
    Setup setup;
    double seconds = 0.0;
};

} // namespace bench
