// The pending timers' heap and name index.
#include "timer/pending_timers.h"

#include <algorithm>
#include <new>

namespace pc::timer {

namespace {

// Heap order: true when `a` is due after `b`, so the earliest is in front.
bool due_after(const TimerRecord *a, const TimerRecord *b) {
    if (a->expire_ns != b->expire_ns) return a->expire_ns > b->expire_ns;
    return a->serial > b->serial;
}

}  // namespace

TimerRecord *PendingTimers::find(std::string_view name) const noexcept {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : *it;
}

bool PendingTimers::add(TimerRecord *rec) noexcept {
    try {
        heap_.push_back(rec);
    } catch (const std::bad_alloc &) {
        return false;
    }
    bool indexed = false;
    try {
        indexed = index_.insert(rec).second;
    } catch (const std::bad_alloc &) {
        indexed = false;
    }
    if (!indexed) {
        heap_.pop_back();
        return false;
    }
    std::push_heap(heap_.begin(), heap_.end(), due_after);
    return true;
}

void PendingTimers::unindex(TimerRecord *rec) noexcept {
    auto it = index_.find(ByName::key(rec));
    if (it != index_.end() && *it == rec) index_.erase(it);
}

TimerRecord *PendingTimers::pop_head() noexcept {
    std::pop_heap(heap_.begin(), heap_.end(), due_after);
    TimerRecord *rec = heap_.back();
    heap_.pop_back();
    return rec;
}

void PendingTimers::reschedule_head(int64_t expire_ns) noexcept {
    // Moving the head to the back and pushing it again reuses its slot, so
    // this never allocates.
    std::pop_heap(heap_.begin(), heap_.end(), due_after);
    heap_.back()->expire_ns = expire_ns;
    std::push_heap(heap_.begin(), heap_.end(), due_after);
}

}  // namespace pc::timer
