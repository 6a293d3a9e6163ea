// Priority search: cells are visited in increasing distance from the query, pending subtrees
// waiting in a binary min-heap keyed by their cell distance.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>

#include <qel/kdtree.h>

namespace qel {

/// 1-based binary min-heap of tree nodes keyed by cell distance; slot 0 is unused. Payload names a node:
/// a node object, or a position in a tree's image.
template <class Payload> class CellQueue {
public:
    struct Entry {
        double sortKey;
        Payload payload; ///< not owned
    };

    /// An empty queue with room for `capacity` entries (a negative capacity gives room for none).
    explicit CellQueue(int maxEntries)
        : held(0), capacity(std::max(maxEntries, 0)),
          slots(new Entry[static_cast<std::size_t>(capacity) + 1]) {}
    ~CellQueue() { delete[] slots; }
    CellQueue(const CellQueue&) = delete;
    CellQueue& operator=(const CellQueue&) = delete;

    /// Adds an entry; more than `capacity` entries is a fatal "Priority queue overflow.".
    void enqueue(double key, Payload node) {
        ++held;
        if (held > capacity) {
            reportError("Priority queue overflow.", Fatal);
        }
        // Sift up; a parent moves down only when its key is strictly greater, so equal keys stay below.
        int r = held;
        while (r > 1) {
            const int p = r / 2;
            if (slots[p].sortKey > key) {
                slots[r] = slots[p];
                r = p;
            } else {
                break;
            }
        }
        slots[r] = {key, node};
    }

    /// Removes the entry of smallest key (the queue must not be empty).
    void dequeueNearest(double& key, Payload& node) {
        key = slots[1].sortKey;
        node = slots[1].payload;
        const Entry last = slots[held];
        --held;
        int p = 1;
        int r = 2;
        while (r <= held) {
            // On equal keys the left child is taken.
            if (r < held && slots[r].sortKey > slots[r + 1].sortKey) {
                ++r;
            }
            if (last.sortKey > slots[r].sortKey) {
                slots[p] = slots[r];
                p = r;
                r = 2 * p;
            } else {
                break;
            }
        }
        slots[p] = last;
    }

    int held;     ///< entries held
    int capacity; ///< most entries allowed
    Entry* slots; ///< capacity + 1 entries
};

using QELpr_queue = CellQueue<QELkd_node*>;

/// State of the running priority search; one per thread, reset at the search's entry. It shares
/// `visitedCount` with the standard search.
struct PrioritySearchState {
    int priorityDim = 0;                       ///< the tree's dimensionCount
    Point priorityQuery = nullptr;             ///< the query point
    PointArray priorityPoints = nullptr;       ///< the tree's dataPoints
    LeafPointOrder priorityOrder;              ///< the tree's points in leaf order
    ErrorFactor priorityErrorFactor;           ///< of eps: the search stops once the nearest pending cell's
                                               ///< distance times this reaches the k-th distance
    double pointsBound = 0.0;                  ///< a lower bound on every point's distance as computed (see
                                               ///< exactOffsetBounds), or -infinity: once the k-th distance
                                               ///< is no larger, no point can enter the list
    std::unique_ptr<QELmin_k> priorityNearest; ///< the k best so far; kept between searches, emptied at entry
    std::unique_ptr<QELpr_queue> pendingCells; ///< subtrees waiting, capacity the tree's dataCount; kept
                                               ///< between searches, emptied at entry
    std::unique_ptr<CellQueue<int>> pendingPositions; ///< the same for a search on a tree's image
};
extern thread_local PrioritySearchState prioritySearch;

} // namespace qel
