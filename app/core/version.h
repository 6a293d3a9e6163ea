// The test bench's version, shown by the About window and by `knnbench-cli --version`.
#pragma once

namespace knn {

inline constexpr const char* ProgramVersion = KNN_VERSION;

} // namespace knn
