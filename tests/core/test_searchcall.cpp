// The one-query call reports what the batch reports: the fixed-radius count is the caller's only way to
// know how many of the k slots hold a point.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "searchcall.h"

namespace {

TEST(SearchCallTest, OneQueryFixedRadiusCountsAsTheBatchDoes) {
    qel::metricKind = 2;
    std::vector<double> coords;
    for (int i = 0; i < 40; ++i) {
        coords.push_back(i % 8);
        coords.push_back(i / 8);
    }
    std::vector<qel::Point> points;
    for (int i = 0; i < 40; ++i)
        points.push_back(coords.data() + 2 * i);
    double queryCoords[2] = {3.2, 2.1};
    qel::Point queries[1] = {queryCoords};
    for (const knn::SearchMode mode : {knn::SearchMode::BruteForce, knn::SearchMode::KdTree}) {
        const knn::SearchConfig config{mode, knn::SearchRange::FixedRadius};
        const auto structure = knn::BuildStructure(config, points.data(), 40, 2, 1);
        const knn::Searcher searcher =
            knn::SearcherOf(structure.get(), knn::SearchRange::FixedRadius, 3, 0.0, 2, 1.4);
        int idx[3], batchIdx[3];
        double dists[3], batchDists[3];
        int count = -1, batchCount = -1;
        knn::SearchOne(searcher, queries[0], idx, dists, &count);
        knn::SearchBatch(searcher, queries, 1, batchIdx, batchDists, 1, &batchCount);
        EXPECT_EQ(count, 7) << "grid points within 1.4 of (3.2, 2.1)";
        EXPECT_EQ(count, batchCount);
    }
}

} // namespace
