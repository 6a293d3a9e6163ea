// One point set of a plan, measured: its data and queries generated, every tree of the plan built and
// searched, the peers, brute force and the tight loop beside them, each answer checked, one table row
// per search.
#pragma once

#include <vector>

#include "plan.h"
#include "records.h"

namespace bench {

/// Measures every structure of the plan on entry's point set, prints its table, and appends what it
/// measured to the logs.
void runDataSet(const Plan& plan, const PlanEntry& entry, std::vector<QueryRecord>& queryLog,
                std::vector<BuildRecord>& buildLog);

} // namespace bench
