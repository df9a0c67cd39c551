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
    bool insert(const void *p);
    // Removes `p`; false when it was not present.
    bool erase(const void *p);
    bool contains(const void *p) const;
    size_t size() const { return count_; }

private:
    size_t home(const void *p) const;
    bool grow();

    const void **slots_ = nullptr;  // null entries are free; owned (std::malloc)
    size_t capacity_ = 0;           // a power of two, or 0
    size_t count_ = 0;
};

}  // namespace pc::pal
