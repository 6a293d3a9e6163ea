// The checks beside every time: an exact answer repeats the distances of the first exact answer of its
// kind, bit for bit or, for a peer that sums the coordinates in another order, within a relative
// tolerance; an approximate answer is never better than the exact one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

constexpr double PeerTolerance = 1e-12; ///< relative, for peers that sum the coordinates in another order

/// The first exact answers of one kind for one k: the distances every later exact answer must repeat.
struct Reference {
    std::vector<double> dists;
    std::vector<int> counts; ///< fixed radius only
    int answered = 0;        ///< queries the answers cover
};

/// Result arrays of one query run.
struct Answers {
    std::vector<int> indices;
    std::vector<double> dists;
    std::vector<int> counts;

    Answers(int queryCount, int k)
        : indices(static_cast<size_t>(queryCount) * k), dists(static_cast<size_t>(queryCount) * k),
          counts(static_cast<size_t>(queryCount)) {}
};

/// How many of n distances differ from the reference's at all, and how many beyond the relative tolerance.
struct Differences {
    size_t differing = 0;
    size_t outside = 0;
};
Differences countDifferences(const double* dists, const double* reference, size_t n, double tolerance);

/// Exact answers must repeat the reference's distances: bit for bit, or within the relative tolerance.
std::string compareExact(const Reference& ref, const std::vector<double>& dists, int answered, int k,
                         double tolerance);
/// An approximate answer's i-th distance is never below the exact i-th; with counts (fixed radius), its
/// count never above.
std::string compareApproximate(const Reference& ref, const Answers& answers, int answered, int k,
                               bool withCounts);

} // namespace bench
