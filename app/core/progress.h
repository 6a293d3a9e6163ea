// Progress of the core's long loops, reported every so many items so that a window can repaint.
#pragma once

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

inline void reportProgress(const ProgressCallback& progress, std::int64_t done, std::int64_t total) {
    if (progress && progressDue(done, total)) progress(done, total);
}

} // namespace knn
