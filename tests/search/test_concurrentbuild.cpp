// Trees built on several threads at once, while the shared empty leaf is released and other threads
// search: run under ThreadSanitizer by make test-tsan.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "testdata.h"
#include "treeshape.h"
#include <qel/bdtree.h>

using namespace qel;

TEST(ConcurrentBuilds, NeverLeaveAnEmptyCellWithoutItsLeaf) {
    // Duplicates and the midpoint rule make many empty cells.
    const testdata::PointSet data = testdata::duplicatedPoints(400, 2);
    QELkd_tree searched(data.points(), data.size(), data.dim(), 1, SplitRule::Midpoint);
    std::atomic<bool> building{true};
    std::atomic<int> missingLeaves{0};
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (building)
            releaseSharedEmptyLeaf();
    });
    threads.emplace_back([&] {
        int index[1];
        double dist[1];
        while (building) {
            searched.searchNearest(data[7], 1, index, dist, 0.0, 2);
            if (dist[0] != 0.0) ++wrongAnswers;
        }
    });
    std::vector<std::thread> builders;
    for (int t = 0; t < 2; ++t) {
        builders.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const std::unique_ptr<QELkd_tree> tree =
                    t == 0 ? std::make_unique<QELkd_tree>(data.points(), data.size(), data.dim(), 1,
                                                          SplitRule::Midpoint)
                           : std::make_unique<QELbd_tree>(data.points(), data.size(), data.dim(), 1,
                                                          SplitRule::Midpoint, ShrinkRule::Simple);
                treeshape::forEachNode(tree->rootNode, [&](QELkd_node* node, int) {
                    if (node == nullptr) ++missingLeaves;
                });
            }
        });
    }
    for (std::thread& builder : builders)
        builder.join();
    building = false;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(missingLeaves, 0);
    EXPECT_EQ(wrongAnswers, 0);
}
