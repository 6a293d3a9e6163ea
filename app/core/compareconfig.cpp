// Expanding a grid into configurations, and the default grid.
#include "compareconfig.h"

#include <set>
#include <tuple>

namespace knn {

std::vector<CompareConfig> ExpandGrid(const CompareGrid& grid) {
    std::vector<CompareConfig> configs;
    // Seen configurations in a set: a grid of thousands would otherwise compare each with all before it.
    const auto key = [](const CompareConfig& c) {
        return std::tuple(c.mode, c.range, c.split, c.shrink, c.bucketSize, c.eps, c.visitLimit);
    };
    std::set<decltype(key(CompareConfig{}))> seen;
    for (const SearchMode mode : grid.modes)
        for (const SearchRange range : grid.ranges)
            for (const qel::SplitRule split : grid.splits)
                for (const qel::ShrinkRule shrink : grid.shrinks)
                    for (const int bucket : grid.buckets)
                        for (const double eps : grid.eps)
                            for (const int limit : grid.visitLimits) {
                                if (mode == SearchMode::BruteForce && range == SearchRange::Priority)
                                    continue;
                                const CompareConfig c =
                                    CompareConfig{mode, range, split, shrink, bucket, eps, limit}
                                        .Normalized();
                                if (seen.insert(key(c)).second) configs.push_back(c);
                            }
    return configs;
}

std::vector<CompareConfig> DefaultCompareConfigs() {
    std::vector<CompareConfig> configs{CompareConfig{SearchMode::BruteForce, SearchRange::Standard}};
    for (const int bucket : {1, 4, 16})
        for (int split = 0; split < 5; ++split)
            configs.push_back(CompareConfig{SearchMode::KdTree, SearchRange::Standard,
                                            static_cast<qel::SplitRule>(split), qel::ShrinkRule::Default,
                                            bucket}
                                  .Normalized());
    for (int shrink = 0; shrink < 3; ++shrink)
        configs.push_back(CompareConfig{SearchMode::BdTree, SearchRange::Standard, qel::SplitRule::Default,
                                        static_cast<qel::ShrinkRule>(shrink), 4});
    return configs;
}

} // namespace knn
