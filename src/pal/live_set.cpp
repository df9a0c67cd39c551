// The allocator's set of live payload addresses (see live_set.h).
#include "pal/live_set.h"

#include <cstdlib>

namespace pc::pal {

namespace {

constexpr size_t kInitialCapacity = 1024;

}  // namespace

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

}  // namespace pc::pal
