// Priority search: cells are visited in increasing distance from the query, pending subtrees
// waiting in a binary min-heap keyed by their cell distance.
#pragma once

#include "kdtree.h"

namespace qel {

/// 1-based binary min-heap of tree nodes keyed by cell distance; slot 0 is unused.
class QELpr_queue {
public:
    struct Entry {
        double sortKey;
        QELkd_node* payload; ///< not owned
    };

    /// An empty queue with room for `capacity` entries.
    explicit QELpr_queue(int capacity);
    ~QELpr_queue();
    QELpr_queue(const QELpr_queue&) = delete;
    QELpr_queue& operator=(const QELpr_queue&) = delete;

    /// Adds an entry; more than `capacity` entries is a fatal "Priority queue overflow.".
    void enqueue(double key, QELkd_node* node);
    /// Removes the entry of smallest key (the queue must not be empty).
    void dequeueNearest(double& key, QELkd_node*& node);

    int held;      ///< entries held
    int capacity;  ///< most entries allowed
    Entry* slots;  ///< capacity + 1 entries
};

} // namespace qel
