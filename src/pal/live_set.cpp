// The allocator's set of live payload addresses (see live_set.h).
#include "pal/live_set.h"

#include <cstdlib>

namespace pc::pal {

namespace {

constexpr size_t kInitialCapacity = 1024;

}  // namespace

size_t LivePointerSet::home(const void *p) const {
    // Payloads are at least 8-byte aligned: drop those bits, then spread.
    auto v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p) >> 3);
    v *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(v >> 32) & (capacity_ - 1);
}

bool LivePointerSet::contains(const void *p) const {
    if (capacity_ == 0 || p == nullptr) return false;
    for (size_t i = home(p);; i = (i + 1) & (capacity_ - 1)) {
        if (slots_[i] == p) return true;
        if (slots_[i] == nullptr) return false;
    }
}

bool LivePointerSet::grow() {
    size_t cap = capacity_ == 0 ? kInitialCapacity : capacity_ * 2;
    auto **fresh = static_cast<const void **>(std::calloc(cap, sizeof(void *)));
    if (fresh == nullptr) return false;
    const void **old = slots_;
    size_t old_cap = capacity_;
    slots_ = fresh;
    capacity_ = cap;
    for (size_t i = 0; i < old_cap; ++i) {
        if (old[i] == nullptr) continue;
        size_t j = home(old[i]);
        while (slots_[j] != nullptr) j = (j + 1) & (capacity_ - 1);
        slots_[j] = old[i];
    }
    std::free(old);
    return true;
}

bool LivePointerSet::insert(const void *p) {
    if ((count_ + 1) * 2 > capacity_ && !grow()) return false;
    size_t i = home(p);
    while (slots_[i] != nullptr) i = (i + 1) & (capacity_ - 1);
    slots_[i] = p;
    ++count_;
    return true;
}

bool LivePointerSet::erase(const void *p) {
    if (capacity_ == 0 || p == nullptr) return false;
    const size_t mask = capacity_ - 1;
    size_t i = home(p);
    while (slots_[i] != p) {
        if (slots_[i] == nullptr) return false;
        i = (i + 1) & mask;
    }
    // Shift later members of the run back so that no probe stops early.
    for (size_t j = (i + 1) & mask; slots_[j] != nullptr; j = (j + 1) & mask) {
        size_t h = home(slots_[j]);
        // slots_[j] may move to i when its home is not within (i, j].
        bool home_in_between = i <= j ? (i < h && h <= j) : (i < h || h <= j);
        if (!home_in_between) {
            slots_[i] = slots_[j];
            i = j;
        }
    }
    slots_[i] = nullptr;
    --count_;
    return true;
}

}  // namespace pc::pal
