// Answers against their reference.
#include "checks.h"

#include <algorithm>
#include <cmath>

namespace bench {

Differences countDifferences(const double* dists, const double* reference, size_t n, double tolerance) {
    Differences result;
    for (size_t i = 0; i < n; ++i) {
        const double x = dists[i];
        const double y = reference[i];
        if (x == y) continue;
        ++result.differing;
        if (std::fabs(x - y) > tolerance * std::max(x, y)) ++result.outside;
    }
    return result;
}

std::string compareExact(const Reference& ref, const std::vector<double>& dists, int answered, int k,
                         double tolerance) {
    if (ref.answered == 0) return "no reference";
    const size_t overlap = static_cast<size_t>(std::min(answered, ref.answered)) * k;
    const Differences d = countDifferences(dists.data(), ref.dists.data(), overlap, tolerance);
    if (d.outside > 0) return "DIFFERS in " + std::to_string(d.outside) + " of " + std::to_string(overlap);
    if (d.differing > 0)
        return "same to 1e-12 (" + std::to_string(d.differing) + " of " + std::to_string(overlap) +
               " differ in the last bits)";
    return "same";
}

std::string compareApproximate(const Reference& ref, const Answers& answers, int answered, int k,
                               bool withCounts) {
    if (ref.answered == 0) return "no reference";
    const int overlap = std::min(answered, ref.answered);
    int below = 0;
    for (size_t i = 0; i < static_cast<size_t>(overlap) * k; ++i)
        if (answers.dists[i] < ref.dists[i]) ++below;
    if (withCounts)
        for (int q = 0; q < overlap; ++q)
            if (answers.counts[q] > ref.counts[q]) ++below;
    return below == 0 ? "≥ exact" : "BELOW EXACT in " + std::to_string(below);
}

} // namespace bench
