// Progress of the core's long loops, reported every so many items so that a window can repaint.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

namespace knn {

/// A progress report is sent after every this many items of a loop, and once at its end.
inline constexpr std::int64_t ProgressInterval = 64;

/// Told how many of a loop's items are done.
using ProgressCallback = std::function<void(std::int64_t done, std::int64_t total)>;

/// True when a loop that has done `done` of `total` items reports: every `ProgressInterval` items and
/// at the last.
inline bool progressDue(std::int64_t done, std::int64_t total) {
    return done % ProgressInterval == 0 || done == total;
}

/// A chunk of queries answered in one batch is wanted about this often, so that progress and a cancel
/// are heard in between.
inline constexpr double ChunkSeconds = 0.025;

/// The size of the chunk after one of `size` queries that took `seconds`: scaled towards ChunkSeconds,
/// at most doubled, and a multiple of `granule`, by default ProgressInterval so that the progress after
/// it is reported.
inline std::int64_t nextChunkSize(std::int64_t size, double seconds,
                                  std::int64_t granule = ProgressInterval) {
    const double scaled = static_cast<double>(size) * ChunkSeconds / std::max(seconds, 1e-6);
    const auto wanted = static_cast<std::int64_t>(std::min(scaled, 2.0 * static_cast<double>(size)));
    return std::max(granule, wanted / granule * granule);
}

inline void reportProgress(const ProgressCallback& progress, std::int64_t done, std::int64_t total) {
    if (progress && progressDue(done, total)) progress(done, total);
}

} // namespace knn
