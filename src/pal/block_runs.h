// The accounted allocator's own memory for small blocks.
//
// A block whose whole size (header, payload, tail guard) is at most
// kMaxSlotBytes lives in a slot of a run instead of in a block of its own
// from the C library. A run is kRunBytes of one region of address space
// that the allocator reserves once (RunRegion), aligned to kRunBytes, so
// the run of a slot is found by masking the address, and a pointer is known
// to lie in a run by one range test, without reading anything. A run holds
// slots of one size class only.
//
// Run layout: the Run header below (owner, counts, the links of its class's
// list, and the live map: one bit per kRunUnit of the run, set where a live
// payload starts), then the free stack (the unit offsets of freed slots,
// newest last), then the slots. A freed slot keeps nothing but its 0xCC
// fill: the free stack lives in the header, not in the slot.
//
// Ownership: every run in use belongs to one shard of the allocator (the
// shard of the thread that first needed a run of that class); its counts,
// free stack, links and live bits are guarded by that shard's lock, whoever
// frees. A run whose slots are all free again, and that is not its class's
// current run, goes back to the region's pool, from which any shard may take
// it for any class. Pages of a run are backed only once a slot on them has
// been handed out; a run that goes to a pool already holding a few backed
// runs gives its pages back to the system (madvise).
//
// The owner word says which shard holds a run (shard index + 1; 0 while it
// is in the pool or was never carved). It changes only under the holding
// shard's lock (to 0) or the taking shard's lock (from 0), and is read
// atomically, so a free may read it, take that shard's lock and read it
// again: if it still names that shard, the run cannot move while the lock
// is held.
//
// The region is reserved without backing (MAP_NORESERVE): 16 GiB of address
// space on a 64-bit host, 64 MiB on the 32-bit target, or less when the
// system will not give that much. When it is used up, or could not be had at
// all, small blocks take the large blocks' path through the C library.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "pal/short_lock.h"

namespace pc::pal {

// Payload alignment and the size of one bit of a run's live map.
constexpr size_t kRunUnit = alignof(std::max_align_t);
constexpr unsigned kRunUnitShift = std::countr_zero(kRunUnit);
constexpr size_t kRunBytes = sizeof(void *) == 8 ? 64 * 1024 : 32 * 1024;
// Largest slot; larger blocks go to the C library.
constexpr size_t kMaxSlotBytes = 2048;

struct Run {
    using Word = uintptr_t;
    static constexpr unsigned kWordBits = sizeof(Word) * 8;
    static constexpr size_t kUnits = kRunBytes / kRunUnit;

    uint32_t owner;       // shard + 1, or 0; only through owner_word()
    uint16_t cls;         // size class (guarded by the owner's lock, as is every field below)
    uint16_t fresh;       // slots [fresh, slots) were never handed out
    uint16_t free_count;  // entries on the free stack
    uint16_t live;        // slots handed out and not yet freed
    bool listed;          // on the owner's list of part-used runs of its class
    Run *prev;            // that list (the pool uses `next` only, under its lock)
    Run *next;
    Word bits[kUnits / kWordBits];  // live map: a live payload starts at this unit

    std::atomic_ref<uint32_t> owner_word() { return std::atomic_ref<uint32_t>(owner); }
    char *base() { return reinterpret_cast<char *>(this); }
    uint16_t *free_stack() { return reinterpret_cast<uint16_t *>(base() + sizeof(Run)); }

    static size_t unit_of(const void *p) {
        return (reinterpret_cast<uintptr_t>(p) & (kRunBytes - 1)) >> kRunUnitShift;
    }
    bool is_live(const void *payload) const {
        const size_t u = unit_of(payload);
        return (bits[u / kWordBits] >> (u % kWordBits) & 1u) != 0;
    }
    void set_live(const void *payload) {
        const size_t u = unit_of(payload);
        bits[u / kWordBits] |= Word{1} << (u % kWordBits);
    }
    void clear_live(const void *payload) {
        const size_t u = unit_of(payload);
        bits[u / kWordBits] &= ~(Word{1} << (u % kWordBits));
    }
};
static_assert(std::atomic_ref<uint32_t>::required_alignment <= alignof(uint32_t));

// One size class: slot size and where its slots lie in a run.
struct SlotClass {
    uint32_t slot_bytes;  // a multiple of kRunUnit
    uint16_t slots;       // per run
    uint16_t first_unit;  // unit offset of the first slot, after header and free stack
};

constexpr size_t align_unit(size_t n) { return (n + kRunUnit - 1) & ~(kRunUnit - 1); }

// The classes: every unit up to 256 bytes, then four steps per doubling.
struct ClassTable {
    static constexpr unsigned kMax = 64;
    std::array<SlotClass, kMax> classes{};
    unsigned count = 0;
    std::array<uint8_t, kMaxSlotBytes / kRunUnit + 1> by_units{};  // slot units -> class

    constexpr ClassTable() {
        for (size_t slot = kRunUnit; slot <= kMaxSlotBytes;) {
            size_t n = (kRunBytes - sizeof(Run)) / (slot + sizeof(uint16_t));
            while (align_unit(sizeof(Run) + n * sizeof(uint16_t)) + n * slot > kRunBytes) --n;
            classes[count] = {
                static_cast<uint32_t>(slot), static_cast<uint16_t>(n),
                static_cast<uint16_t>(align_unit(sizeof(Run) + n * sizeof(uint16_t)) / kRunUnit)};
            ++count;
            slot += slot < 256 ? kRunUnit : std::bit_floor(slot) / 4;
        }
        unsigned c = 0;
        for (size_t units = 0; units < by_units.size(); ++units) {
            while (classes[c].slot_bytes < units * kRunUnit) ++c;
            by_units[units] = static_cast<uint8_t>(c);
        }
    }
    // The class for a block of `bytes` (at most kMaxSlotBytes).
    unsigned class_of(size_t bytes) const { return by_units[(bytes + kRunUnit - 1) >> kRunUnitShift]; }
};
inline constexpr ClassTable kSlotClasses{};
static_assert(kSlotClasses.count <= ClassTable::kMax);
static_assert(kSlotClasses.classes[kSlotClasses.count - 1].slot_bytes == kMaxSlotBytes);
static_assert(kSlotClasses.classes[kSlotClasses.count - 1].slots >= 8);
static_assert(kRunBytes / kRunUnit <= UINT16_MAX);

// Slots of a run, under its owner's lock.
inline bool run_full(const Run &r) {
    return r.free_count == 0 && r.fresh == kSlotClasses.classes[r.cls].slots;
}
inline char *run_pop(Run &r) {
    const SlotClass &c = kSlotClasses.classes[r.cls];
    size_t unit;
    if (r.free_count != 0)
        unit = r.free_stack()[--r.free_count];
    else
        unit = c.first_unit + static_cast<size_t>(r.fresh++) * (c.slot_bytes / kRunUnit);
    ++r.live;
    return r.base() + unit * kRunUnit;
}
inline void run_push(Run &r, const char *slot) {
    r.free_stack()[r.free_count++] = static_cast<uint16_t>((slot - r.base()) >> kRunUnitShift);
    --r.live;
}

class RunRegion {
public:
    // Reserves the address space; once, before first use. False when none
    // could be had (the region then holds nothing).
    bool reserve();

    // True when `p` lies in the region. Reads nothing.
    bool holds(const void *p) const { return reinterpret_cast<uintptr_t>(p) - base_ < bytes_; }
    Run *run_of(const void *p) const {
        return reinterpret_cast<Run *>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kRunBytes - 1});
    }

    // An empty run of class `cls` for shard `owner` (index + 1), from the
    // pool or newly carved; null when the region is used up. Under the
    // taking shard's lock.
    Run *take(uint32_t owner, unsigned cls);
    // Hands an empty run back to the pool. Under the holding shard's lock.
    void give_back(Run *r);

private:
    uintptr_t base_ = 0;  // set once by reserve(), before the allocator is used
    size_t bytes_ = 0;
    ShortLock lock_;       // guards the three below; taken inside a shard's lock
    Run *pool_ = nullptr;  // empty runs, linked by `next`
    size_t pooled_ = 0;    // runs on pool_
    size_t carved_ = 0;    // bytes of the region handed out as runs so far
};

}  // namespace pc::pal
