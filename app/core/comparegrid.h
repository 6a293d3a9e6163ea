// The text form of a compare grid, as the headless front end's --compare takes it: "default", or words
// KEY=VALUES separated by spaces, each value list separated by commas, integers also as ranges A..B.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "compare.h"

namespace knn {

/// The most combinations of values a grid text may hold. Every configuration is built and searched at
/// least twice, so a grid beyond this is a slip of the keyboard (bucket=1..1000000), not a plan; it is
/// refused before its values are expanded.
inline constexpr int GridCombinationLimit = 10000;

/// The usage error of a grid whose every combination is brute force with the priority search.
inline constexpr std::string_view EmptyGridText =
    "the grid holds no configuration (brute force has no priority search)";

/// The configurations of a grid text, expanded as `ExpandGrid` does; or the text that says what is
/// wrong, either `EmptyGridText` or "bad word "W": why" naming the word at fault.
std::variant<std::vector<CompareConfig>, std::string> ParseCompareGrid(std::string_view text);

} // namespace knn
