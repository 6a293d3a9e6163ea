// The query pass of a run: every query answered through the batch searches, chunk by chunk in the order
// the searches prefer, into the run state's result rows, which it leaves holding reported distances and
// 1-based neighbour numbers.
#pragma once

#include "progress.h"
#include "searchcall.h"
#include "session.h"
#include "windowops.h"

namespace knn {

/// Answers the queryCount queries of s with searcher on `threads` threads into s's result rows (sized
/// for them), recording the chunks' time, the slowest chunk's time per query and the queries answered in
/// timings, and
/// telling progress after each chunk (it may throw to end the pass). Ends with the `RunError` of the
/// first query, in query order, that meets a root-taking error or a floating-point fault: once a chunk
/// faults, each query is searched again alone so that the fault is pinned on the query that raises it.
void AnswerQueries(SearchSession& s, const Searcher& searcher, int threads, RunTimings& timings,
                   const ProgressCallback& progress);

} // namespace knn
