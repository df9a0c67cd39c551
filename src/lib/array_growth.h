// Sizing rule shared by the array-backed containers (DArray, PQueue).
//
// Grow when full by half the capacity plus a fixed step; shrink after a
// removal once less than half of a capacity above the floor is used, to one
// and a half times the size. A failed shrink keeps the old array.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace pc::gdsl {

inline constexpr unsigned int kArrayGrowStep = 32;     // slots added beyond capacity / 2
inline constexpr unsigned int kArrayShrinkFloor = 32;  // arrays this small never shrink

// The capacity after one growth step, or 0 when it would not fit.
inline unsigned int grown_capacity(unsigned int capacity) {
    unsigned int grown = capacity + kArrayGrowStep + capacity / 2;
    return grown > capacity ? grown : 0;
}

// The capacity to shrink to after a removal left size elements, or 0 to
// keep the array as it is.
inline unsigned int shrunk_capacity(unsigned int size, unsigned int capacity) {
    if (capacity <= kArrayShrinkFloor || size >= capacity / 2) return 0;
    return size + size / 2;
}

// Reallocates *slots to capacity words; false (and *slots untouched) when
// the memory is not there.
inline bool resize_slots(void ***slots, unsigned int capacity) {
    // A capacity always fits in size_t words on a 64-bit machine; on a
    // 32-bit one the byte count can overflow.
    if (capacity == 0 || static_cast<uint64_t>(capacity) > SIZE_MAX / sizeof(void *)) return false;
    void *moved = std::realloc(*slots, capacity * sizeof(void *));
    if (!moved) return false;
    *slots = static_cast<void **>(moved);
    return true;
}

// Applies the shrink rule after a removal.
inline void shrink_after_removal(void ***slots, unsigned int size, unsigned int *capacity) {
    unsigned int target = shrunk_capacity(size, *capacity);
    if (target != 0 && resize_slots(slots, target)) *capacity = target;
}

}  // namespace pc::gdsl
