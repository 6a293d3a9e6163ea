// Fuzz target: any bytes as the text of a compare grid. The parser must end with a usage error that
// names one of the text's words (or says the grid is empty), or with configurations the compare run
// accepts: known options, at least 1 per bucket, a finite eps of at least 0, a visit limit of at least 0,
// never brute force with the priority search, each normalised and given once, no more than the limit.
// Each configuration written back as a grid of one parses to that configuration alone.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "comparegrid.h"
#include "fuzzsupport.h"
#include "session.h"

namespace {

/// True when the text is "bad word "W": why" for a word W of the grid (words are separated by spaces).
bool namesAWord(std::string_view message, std::string_view grid) {
    constexpr std::string_view prefix = "bad word \"";
    if (!message.starts_with(prefix)) return false;
    for (std::size_t begin = 0; begin <= grid.size();) {
        const std::size_t end = std::min(grid.find(' ', begin), grid.size());
        const std::string_view word = grid.substr(begin, end - begin);
        begin = end + 1;
        if (word.empty()) continue;
        const std::string head = std::string(prefix).append(word).append("\": ");
        if (message.starts_with(head) && message.size() > head.size()) return true;
    }
    return false;
}

/// A grid of exactly one configuration, in the names the parser reads.
std::string gridOf(const knn::CompareConfig& c) {
    char eps[32];
    const auto end = std::to_chars(eps, eps + sizeof eps, c.eps).ptr;
    return "mode=" + knn::ModeName(c.mode) + " search=" + knn::RangeName(c.range) +
           " split=" + knn::SplitName(c.split) + " shrink=" + knn::ShrinkName(c.shrink) +
           " bucket=" + std::to_string(c.bucketSize) + " eps=" + std::string(eps, end) +
           " max-visit=" + std::to_string(c.visitLimit);
}

void checkConfig(const knn::CompareConfig& c) {
    const int mode = static_cast<int>(c.mode), range = static_cast<int>(c.range);
    FUZZ_CHECK(mode >= 0 && mode < static_cast<int>(knn::ModeNames.size()));
    FUZZ_CHECK(range >= 0 && range < static_cast<int>(knn::RangeNames.size()));
    FUZZ_CHECK(!(c.mode == knn::SearchMode::BruteForce && c.range == knn::SearchRange::Priority));
    FUZZ_CHECK(static_cast<int>(c.split) >= 0 &&
               static_cast<int>(c.split) < static_cast<int>(knn::SplitNames.size()));
    FUZZ_CHECK(static_cast<int>(c.shrink) >= 0 &&
               static_cast<int>(c.shrink) < static_cast<int>(knn::ShrinkNames.size()));
    FUZZ_CHECK(c.bucketSize >= 1);
    FUZZ_CHECK(std::isfinite(c.eps) && c.eps >= 0.0);
    FUZZ_CHECK(c.visitLimit >= 0);
    FUZZ_CHECK(c.Normalized() == c);
}

/// Round trips are checked for this many configurations of a grid: enough for every option's names.
constexpr std::size_t RoundTrips = 32;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = knn::ParseCompareGrid(text);
    if (const auto* why = std::get_if<std::string>(&parsed)) {
        if (*why != knn::EmptyGridText && !namesAWord(*why, text))
            fuzz::fail("unexpected message: " + *why, __FILE__, __LINE__);
        return 0;
    }
    const auto& configs = std::get<0>(parsed);
    FUZZ_CHECK(!configs.empty());
    FUZZ_CHECK(configs.size() <= static_cast<std::size_t>(knn::GridCombinationLimit));
    if (text == "default") FUZZ_CHECK(configs == knn::DefaultCompareConfigs());
    std::set<std::tuple<int, int, int, int, int, double, int>> seen;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const knn::CompareConfig& c = configs[i];
        checkConfig(c);
        FUZZ_CHECK(seen.emplace(static_cast<int>(c.mode), static_cast<int>(c.range),
                                static_cast<int>(c.split), static_cast<int>(c.shrink), c.bucketSize, c.eps,
                                c.visitLimit)
                       .second);
        if (i >= RoundTrips) continue;
        const auto again = knn::ParseCompareGrid(gridOf(c));
        const auto* one = std::get_if<0>(&again);
        FUZZ_CHECK(one != nullptr && one->size() == 1 && (*one)[0] == c);
    }
    return 0;
}
