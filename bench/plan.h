// What a benchmark run measures: the point sets, the structures and peers built on each, the searches
// run on them, and how long to keep at it; and the names the tables print them by.
#pragma once

#include <string>
#include <vector>

#include "datagen.h"
#include "searchcall.h"
#include <qel/bdtree.h>

namespace bench {

/// Who answers: one of our structures, a peer library, or the brute-force floor.
enum class Source { Ours, Peer, TightLoop };

struct DataKey {
    Family family = Family::Uniform;
    int n = 0;   ///< data points
    int dim = 0; ///< coordinates per point
    bool operator==(const DataKey&) const = default;
};

struct Setup {
    Source source = Source::Ours;
    knn::SearchMode mode = knn::SearchMode::KdTree; ///< ours only
    qel::SplitRule split = qel::SplitRule::SlidingMidpoint;
    qel::ShrinkRule shrink = qel::ShrinkRule::None;
    int bucket = 0;   ///< bucket or leaf size; 0 where there is none
    std::string peer; ///< the peer library's name, for Source::Peer
};

struct Search {
    knn::SearchRange range = knn::SearchRange::Standard;
    double eps = 0.0;
    int k = 1;
};

/// One point set and what is measured on it.
struct PlanEntry {
    DataKey data;
    std::vector<Setup> trees; ///< in order; the first exact answers are the reference of the later ones
    bool bruteForce = true;   ///< brute force and the tight loop too
};

/// What to measure, and how long to keep at it.
struct Plan {
    std::vector<PlanEntry> entries;
    std::vector<int> buckets; ///< nanoflann's builds are timed at these leaf sizes too
    std::vector<int> ks;      ///< neighbour counts of the exact standard search on every tree
    bool everySearch = false; ///< priority, fixed-radius and eps 1 too, on the sliding-midpoint trees
    int queryCount = 10000;
    double cap = 2.0;  ///< CPU seconds after which a query run stops and its time is extrapolated
    int buildReps = 1; ///< builds of every structure; the fastest counts
    int queryReps = 2; ///< runs of every query set; the fastest counts
};

/// One of our structures, its bucket size still 0.
Setup ourSetup(knn::SearchMode mode, qel::SplitRule split = qel::SplitRule::SlidingMidpoint,
               qel::ShrinkRule shrink = qel::ShrinkRule::None);
Setup peerSetup(const std::string& name, int leafSize);
Setup tightLoopSetup();

/// The targets' configurations (`--quick`).
Plan quickPlan();
/// Everything: every family, size, dimension, rule, bucket size and search.
Plan fullPlan();

/// The configuration our structure of setup is built from; what it searches is the searcher's.
knn::SearchConfig configOf(const Setup& setup);

std::string dataName(const DataKey& key);
/// The structure's name in the options' vocabulary, or the peer's.
std::string structureName(const Setup& setup);
/// The splitting rule, and a bd-tree's shrinking rule; empty for what has no rules.
std::string ruleName(const Setup& setup);
/// The structure's name followed by its rules: "kd sliding-midpoint".
std::string setupName(const Setup& setup);

} // namespace bench
