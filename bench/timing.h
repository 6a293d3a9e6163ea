// The clocks every measurement reads, the load average printed beside the times, the repetitions that
// keep the fastest run, and the text of seconds and ratios in the tables.
#pragma once

#include <algorithm>
#include <string>

namespace bench {

constexpr int ChunkSize = 100; ///< queries answered between two looks at the clock

double wallNow();
/// CPU seconds of the calling thread. Every measurement uses it: on a shared machine the wall clock also
/// counts the time other processes hold the core, while the thread's CPU time of a single-threaded run
/// equals its wall time on an idle machine.
double cpuNow();
/// CPU seconds of the whole process, every thread counted.
double processCpuNow();
/// The system's 1-, 5- and 15-minute load averages: other work on the machine skews every time.
std::string loadAverage();

std::string seconds(double value);
std::string micros(double secondsValue);
std::string ratio(double value);

/// The fastest run of a query set.
struct QueryTime {
    double perQuery = 0.0; ///< seconds
    int answered = 0;      ///< queries timed
};

/// Answers queries [first, last) per chunk until all queryCount are answered or the first run has taken
/// cap CPU seconds; the later of the reps runs answer as many as the first. The fastest run counts.
template <class Answer> QueryTime timeQueries(int reps, int queryCount, double cap, Answer&& answer) {
    QueryTime best;
    for (int rep = 0; rep < reps; ++rep) {
        const int limit = rep == 0 ? queryCount : best.answered;
        const double start = cpuNow();
        int done = 0;
        while (done < limit) {
            const int last = std::min(limit, done + ChunkSize);
            answer(done, last);
            done = last;
            if (rep == 0 && cpuNow() - start > cap) break;
        }
        const double perQuery = (cpuNow() - start) / done;
        if (rep == 0 || perQuery < best.perQuery) best.perQuery = perQuery;
        best.answered = done;
    }
    return best;
}

/// The fastest of reps runs of build(); each run first drops the previous result, untimed.
template <class Reset, class Build> double timeBuild(int reps, Reset&& reset, Build&& build) {
    double best = 0.0;
    for (int rep = 0; rep < reps; ++rep) {
        reset();
        const double start = cpuNow();
        build();
        const double elapsed = cpuNow() - start;
        if (rep == 0 || elapsed < best) best = elapsed;
    }
    return best;
}

} // namespace bench
