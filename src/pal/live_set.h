// The set of payload addresses the accounted allocator has handed out and
// not yet taken back.
//
// pal_free and pal_realloc ask it whether a pointer is live before they
// touch anything in front of it: a pointer that was freed already, or that
// never came from the allocator, is refused without reading memory that
// may be released or foreign.
//
// Open addressing with linear probing and backward-shift deletion (no
// tombstones), at most half full; the slots come from the system allocator
// and double when needed. Not locked: the allocator's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pc::pal {

class LivePointerSet {
public:
    LivePointerSet() = default;
    LivePointerSet(const LivePointerSet &) = delete;
    LivePointerSet &operator=(const LivePointerSet &) = delete;

    // Adds `p` (not null, not present); false when out of memory.
    bool insert(const void *p) {
        if ((count_ + 1) * 2 > capacity_ && !grow()) return false;
        size_t i = home(p);
        while (slots_[i] != nullptr) i = (i + 1) & (capacity_ - 1);
        slots_[i] = p;
        ++count_;
        return true;
    }
    // Removes `p`; false when it was not present.
    bool erase(const void *p);
    bool contains(const void *p) const {
        if (capacity_ == 0 || p == nullptr) return false;
        for (size_t i = home(p);; i = (i + 1) & (capacity_ - 1)) {
            if (slots_[i] == p) return true;
            if (slots_[i] == nullptr) return false;
        }
    }
    size_t size() const { return count_; }

private:
    size_t home(const void *p) const {
        // Payloads are at least 8-byte aligned: drop those bits, then spread.
        auto v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p) >> 3);
        v *= 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(v >> 32) & (capacity_ - 1);
    }
    bool grow();

    const void **slots_ = nullptr;  // null entries are free; owned (std::malloc)
    size_t capacity_ = 0;           // a power of two, or 0
    size_t count_ = 0;
};

inline bool LivePointerSet::erase(const void *p) {
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
