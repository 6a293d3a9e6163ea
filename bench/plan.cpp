// The plans, and the names of what they measure.
#include "plan.h"

namespace bench {
namespace {

std::string splitName(qel::SplitRule rule) {
    switch (rule) {
    case qel::SplitRule::StandardKd:
        return "standard";
    case qel::SplitRule::Midpoint:
        return "midpoint";
    case qel::SplitRule::Fair:
        return "fair";
    case qel::SplitRule::SlidingFair:
        return "sliding fair";
    case qel::SplitRule::SlidingMidpoint:
    case qel::SplitRule::Default:
        break;
    }
    return "sliding midpoint";
}

std::string shrinkName(qel::ShrinkRule rule) {
    switch (rule) {
    case qel::ShrinkRule::None:
        return "none";
    case qel::ShrinkRule::Centroid:
        return "centroid";
    case qel::ShrinkRule::Simple:
    case qel::ShrinkRule::Default:
        break;
    }
    return "simple";
}

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

// The targets' configurations: the sliding-midpoint kd-tree on uniform data, and the better of it and
// the bd-tree on clustered data, against both peers; builds against nanoflann; brute force on uniform
// data. The bd-tree, slow to build on clustered data, only at the bucket sizes the kd-tree does best with.
Plan quickPlan() {
    const Setup kd{Structure::KdTree, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::None, 0, ""};
    const Setup bd{Structure::BdTree, qel::SplitRule::SlidingMidpoint, qel::ShrinkRule::Simple, 0, ""};
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
        rules.push_back({Structure::KdTree, split, qel::ShrinkRule::None, 0, ""});
    for (qel::ShrinkRule shrink : {qel::ShrinkRule::Simple, qel::ShrinkRule::Centroid})
        for (qel::SplitRule split : splits)
            rules.push_back({Structure::BdTree, split, shrink, 0, ""});
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

std::string dataName(const DataKey& key) {
    return familyName(key.family) + " n=" + std::to_string(key.n) + " d=" + std::to_string(key.dim);
}

std::string structureName(const Setup& setup) {
    switch (setup.structure) {
    case Structure::BruteForce:
        return "brute force";
    case Structure::KdTree:
        return "kd-tree";
    case Structure::BdTree:
        return "bd-tree";
    case Structure::Peer:
        return setup.peer;
    case Structure::TightLoop:
        break;
    }
    return "tight loop";
}

std::string ruleName(const Setup& setup) {
    if (setup.structure == Structure::KdTree) return splitName(setup.split);
    if (setup.structure == Structure::BdTree) return splitName(setup.split) + ", " + shrinkName(setup.shrink);
    return "";
}

std::string searchName(SearchKind kind) {
    switch (kind) {
    case SearchKind::Standard:
        return "standard";
    case SearchKind::Priority:
        return "priority";
    case SearchKind::Radius:
        break;
    }
    return "fixed radius";
}

} // namespace bench
