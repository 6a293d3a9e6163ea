// The plans, and the names of what they measure.
#include "plan.h"

namespace bench {
namespace {

/// Every tree of the given rules, with each of the bucket sizes.
std::vector<Setup> withBuckets(const std::vector<Setup>& rules, const std::vector<int>& buckets) {
    std::vector<Setup> trees;
    for (const Setup& rule : rules) {
        for (int bucket : buckets) {
            trees.push_back(rule);
            trees.back().bucket = bucket;
        }
    }
    return trees;
}

} // namespace

Setup ourSetup(knn::SearchMode mode, qel::SplitRule split, qel::ShrinkRule shrink) {
    Setup setup;
    setup.mode = mode;
    setup.split = split;
    setup.shrink = shrink;
    return setup;
}

Setup peerSetup(const std::string& name, int leafSize) {
    Setup setup;
    setup.source = Source::Peer;
    setup.bucket = leafSize;
    setup.peer = name;
    return setup;
}

Setup tightLoopSetup() {
    Setup setup;
    setup.source = Source::TightLoop;
    return setup;
}

// The targets' configurations: the sliding-midpoint kd-tree on uniform data, and the better of it and
// the bd-tree on clustered data, against both peers; builds against nanoflann; brute force on uniform
// data. The bd-tree, slow to build on clustered data, only at the bucket sizes the kd-tree does best with.
Plan quickPlan() {
    const Setup kd = ourSetup(knn::SearchMode::KdTree);
    const Setup bd =
        ourSetup(knn::SearchMode::BdTree, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple);
    Plan plan;
    plan.buckets = {1, 4, 8, 16, 32};
    std::vector<Setup> clusteredTrees = withBuckets({kd}, plan.buckets);
    for (const Setup& tree : withBuckets({bd}, {8, 16}))
        clusteredTrees.push_back(tree);
    plan.entries = {{{Family::Uniform, 1000000, 3}, withBuckets({kd}, plan.buckets), true},
                    {{Family::Uniform, 1000000, 8}, withBuckets({kd}, plan.buckets), true},
                    {{Family::Clustered, 1000000, 16}, clusteredTrees, false}};
    plan.ks = {1, 10};
    plan.cap = 0.4;
    return plan;
}

// Every family, size and dimension; every splitting rule, kd and bd with both shrinking rules, every
// bucket size; every search kind, eps and k on the sliding-midpoint trees.
Plan fullPlan() {
    std::vector<Setup> rules;
    const qel::SplitRule splits[] = {qel::SplitRule::SlidingMidpoint, qel::SplitRule::StandardKd,
                                     qel::SplitRule::Midpoint, qel::SplitRule::Fair,
                                     qel::SplitRule::SlidingFair};
    for (qel::SplitRule split : splits)
        rules.push_back(ourSetup(knn::SearchMode::KdTree, split));
    for (qel::ShrinkRule shrink : {qel::ShrinkRule::Simple, qel::ShrinkRule::Centroid})
        for (qel::SplitRule split : splits)
            rules.push_back(ourSetup(knn::SearchMode::BdTree, split, shrink));
    Plan plan;
    plan.buckets = {1, 4, 8, 16, 32};
    for (Family family : {Family::Uniform, Family::Clustered, Family::Manifold})
        for (int n : {100000, 1000000})
            for (int dim : {2, 3, 8, 16})
                plan.entries.push_back({{family, n, dim}, withBuckets(rules, plan.buckets), true});
    plan.ks = {1, 10};
    plan.everySearch = true;
    plan.cap = 1.0;
    plan.buildReps = 2;
    return plan;
}

knn::SearchConfig configOf(const Setup& setup) {
    return knn::SearchConfig{setup.mode, knn::SearchRange::Standard, setup.split, setup.shrink, setup.bucket}
        .Normalized();
}

std::string dataName(const DataKey& key) {
    return familyName(key.family) + " n=" + std::to_string(key.n) + " d=" + std::to_string(key.dim);
}

std::string structureName(const Setup& setup) {
    switch (setup.source) {
    case Source::Ours:
        return knn::ModeName(setup.mode);
    case Source::Peer:
        return setup.peer;
    case Source::TightLoop:
        break;
    }
    return "tight loop";
}

std::string ruleName(const Setup& setup) {
    if (setup.source != Source::Ours || setup.mode == knn::SearchMode::BruteForce) return "";
    std::string name = knn::SplitName(setup.split);
    if (setup.mode == knn::SearchMode::BdTree) name += ", " + knn::ShrinkName(setup.shrink);
    return name;
}

std::string setupName(const Setup& setup) {
    const std::string rules = ruleName(setup);
    return structureName(setup) + (rules.empty() ? "" : " " + rules);
}

} // namespace bench
