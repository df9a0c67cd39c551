// The pending timers: a heap by expiry and an index by name.
//
// The heap is a vector kept in binary-heap order (earliest expiry, then
// lowest serial, at the front): adding, popping and rescheduling the head
// cost O(log n). The index is an ordered set of the same records keyed by
// name: lookup, insertion and removal cost O(log n).
//
// Every record in the index is also in the heap. A deleted timer leaves the
// index at once but stays in the heap with an empty name until it reaches
// the front, where the manager frees it; so deletion costs O(log n) without
// searching the heap. The heap owns the records.
//
// No locking here: the timer service calls every member under its timer
// lock. No member throws; the ones that allocate report running out of
// memory by their result.
#pragma once

#include <cstddef>
#include <set>
#include <string_view>
#include <vector>

#include "timer/timer_record.h"

namespace pc::timer {

class PendingTimers {
public:
    // The pending (not deleted) timer of that name, or null.
    TimerRecord *find(std::string_view name) const noexcept;

    // Adds a record to the heap and the index; false, with nothing changed,
    // when memory runs out or the name is already indexed.
    bool add(TimerRecord *rec) noexcept;

    // Removes a record from the index only (it stays in the heap).
    void unindex(TimerRecord *rec) noexcept;

    // The earliest record, or null when the heap is empty.
    TimerRecord *head() const noexcept { return heap_.empty() ? nullptr : heap_.front(); }

    // Removes the earliest record from the heap and hands it to the caller.
    // The heap must not be empty.
    TimerRecord *pop_head() noexcept;

    // Gives the head a new expiry and moves it to its new place.
    void reschedule_head(int64_t expire_ns) noexcept;

    // Empties the index and the heap; the caller frees the records returned
    // through `release`, one at a time.
    template <typename Release>
    void clear(Release release) noexcept {
        index_.clear();
        for (TimerRecord *rec : heap_) release(rec);
        heap_.clear();
    }

    // Visits the indexed timers in name order.
    template <typename Visit>
    void visit_by_name(Visit visit) const {
        for (const TimerRecord *rec : index_) visit(*rec);
    }

    // Visits every record of the heap (deleted ones included) in heap order.
    template <typename Visit>
    void visit_by_heap(Visit visit) const {
        for (const TimerRecord *rec : heap_) visit(*rec);
    }

    size_t heap_size() const noexcept { return heap_.size(); }

private:
    struct ByName {
        using is_transparent = void;
        static std::string_view key(const TimerRecord *rec) { return rec->name; }
        bool operator()(const TimerRecord *a, const TimerRecord *b) const { return key(a) < key(b); }
        bool operator()(const TimerRecord *a, std::string_view b) const { return key(a) < b; }
        bool operator()(std::string_view a, const TimerRecord *b) const { return a < key(b); }
    };

    std::vector<TimerRecord *> heap_;        // binary heap, earliest first
    std::set<TimerRecord *, ByName> index_;  // pending records by name
};

}  // namespace pc::timer
