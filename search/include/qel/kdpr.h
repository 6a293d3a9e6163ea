// Priority search: cells are visited in increasing distance from the query, pending subtrees
// waiting in a binary min-heap keyed by their cell distance.
#pragma once

#include <memory>

#include <qel/kdtree.h>

namespace qel {

/// 1-based binary min-heap of tree nodes keyed by cell distance; slot 0 is unused.
class QELpr_queue {
public:
    struct Entry {
        double sortKey;
        QELkd_node* payload; ///< not owned
    };

    /// An empty queue with room for `capacity` entries (a negative capacity gives room for none).
    explicit QELpr_queue(int capacity);
    ~QELpr_queue();
    QELpr_queue(const QELpr_queue&) = delete;
    QELpr_queue& operator=(const QELpr_queue&) = delete;

    /// Adds an entry; more than `capacity` entries is a fatal "Priority queue overflow.".
    void enqueue(double key, QELkd_node* node);
    /// Removes the entry of smallest key (the queue must not be empty).
    void dequeueNearest(double& key, QELkd_node*& node);

    int held;     ///< entries held
    int capacity; ///< most entries allowed
    Entry* slots; ///< capacity + 1 entries
};

/// State of the running priority search; one per thread, reset at the search's entry. It shares
/// `visitedCount` with the standard search.
struct PrioritySearchState {
    int priorityDim = 0;                       ///< the tree's dimensionCount
    Point priorityQuery = nullptr;             ///< the query point
    PointArray priorityPoints = nullptr;       ///< the tree's dataPoints
    LeafPointOrder priorityOrder;              ///< the tree's points in leaf order
    double priorityErrorFactor = 1.0;          ///< coordinateTerm(1 + eps, power): the search stops once the
                                               ///< nearest pending cell's distance times this reaches the
                                               ///< k-th distance
    std::unique_ptr<QELmin_k> priorityNearest; ///< the k best so far; kept between searches, emptied at entry
    std::unique_ptr<QELpr_queue> pendingCells; ///< subtrees waiting, capacity the tree's dataCount; kept
                                               ///< between searches, emptied at entry
};
extern thread_local PrioritySearchState prioritySearch;

} // namespace qel
