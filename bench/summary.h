// The tables after every point set's own: ours against the faster peer, builds against nanoflann, brute
// force against the tight loop, and the performance targets with their verdicts.
#pragma once

#include <vector>

#include "plan.h"
#include "records.h"

namespace bench {

void printSummary(const Plan& plan, const std::vector<QueryRecord>& queryLog,
                  const std::vector<BuildRecord>& buildLog);

} // namespace bench
