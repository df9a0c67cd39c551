// Which payload addresses the accounted allocator has handed out and not
// yet taken back.
//
// pal_free and pal_realloc ask it whether a pointer is live before they
// touch anything in front of it: a pointer that was freed already, or that
// never came from the allocator, is refused without reading memory that
// may be released or foreign.
//
// One bit per possible payload address. Payloads are aligned to kUnit
// bytes, and two live payloads are always more than kUnit bytes apart (a
// block is a header, at least 4 payload bytes and a guard), so the bit of
// unit address / kUnit says whether a live payload starts exactly there; a
// pointer that is not aligned to kUnit is no payload at all. The address
// space is cut into granules (kGranuleShift): a directory, one word per
// granule, points to the granule's bitmap, which is mapped the first time a
// payload lands in the granule and kept for the life of the process. On a
// 64-bit host a bitmap spans 512 KiB of address space, of which only the
// pages that cover used heap are ever touched (one 4 KiB page per 512 KiB
// of heap); on the 32-bit target it is 16 KiB per MiB granule. The
// directory is mapped once, on the allocator's first use: 32 MiB of
// address space on a 64-bit host (48-bit addresses), 16 KiB on the target,
// touched only where granules are used.
//
// A lookup is an alignment and range check, a directory load and a bit
// test: no probing, and the bits of neighbouring blocks share cache lines
// where a hash would scatter them.
//
// Locking: the directory entry and the bitmap of one granule are guarded
// by the lock of the allocator's shard that the granule belongs to (the
// allocator picks a payload's shard from its granule, see granule_of). A
// bitmap word covers 1 KiB (target: 256 bytes) inside one granule, so no
// two shards ever write one word.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace pc::pal {

class LiveBlockMap {
public:
    // Payload alignment: every live payload is a multiple of this.
    static constexpr size_t kUnit = alignof(std::max_align_t);
    // log2 of the granule: that of the C library's per-thread heaps (64 MiB,
    // 1 MiB on 32-bit), so one thread's blocks mostly share one granule.
    static constexpr unsigned kGranuleShift = sizeof(void *) == 8 ? 26 : 20;

    static uintptr_t granule_of(const void *p) { return reinterpret_cast<uintptr_t>(p) >> kGranuleShift; }

    // Maps the directory; idempotent and safe to race. False when the
    // address space for it cannot be had.
    bool init();

    // Marks `p` (aligned to kUnit, not live) live. False when `p` lies
    // beyond the addresses the directory covers or its granule's bitmap
    // cannot be mapped. Under the lock of p's shard; the first payload of a
    // granule maps its bitmap (one mmap, once per granule).
    bool insert(const void *p) {
        Spot s{};
        if (!locate(p, s)) return false;
        Word *bits = dir()[s.granule];
        if (bits == nullptr && (bits = map_granule(s.granule)) == nullptr) return false;
        bits[s.word] |= s.mask;
        return true;
    }
    // Clears `p`; false when it was not live. Under the lock of p's shard.
    bool erase(const void *p) {
        Spot s{};
        if (!locate(p, s)) return false;
        Word *bits = dir()[s.granule];
        if (bits == nullptr || (bits[s.word] & s.mask) == 0) return false;
        bits[s.word] &= ~s.mask;
        return true;
    }
    // Under the lock of p's shard.
    bool contains(const void *p) const {
        Spot s{};
        if (!locate(p, s)) return false;
        const Word *bits = dir()[s.granule];
        return bits != nullptr && (bits[s.word] & s.mask) != 0;
    }

private:
    using Word = uintptr_t;
    static constexpr unsigned kWordBits = sizeof(Word) * 8;
    static constexpr unsigned kUnitShift = std::countr_zero(kUnit);
    // User addresses the directory covers: 48 bits on 64-bit hosts
    // (x86-64 and AArch64 user space), all of them on 32-bit.
    static constexpr unsigned kAddressBits = sizeof(void *) == 8 ? 48 : 32;
    static constexpr uintptr_t kGranules = uintptr_t{1} << (kAddressBits - kGranuleShift);
    static constexpr uintptr_t kUnitsPerGranule = uintptr_t{1} << (kGranuleShift - kUnitShift);
    static_assert(std::has_single_bit(kUnit) && kUnitsPerGranule % kWordBits == 0);

    struct Spot {
        uintptr_t granule;
        uintptr_t word;  // in the granule's bitmap
        Word mask;
    };

    static bool locate(const void *p, Spot &s) {
        const auto a = reinterpret_cast<uintptr_t>(p);
        if ((a & (kUnit - 1)) != 0) return false;
        s.granule = a >> kGranuleShift;
        if (s.granule >= kGranules) return false;
        const uintptr_t unit = (a >> kUnitShift) & (kUnitsPerGranule - 1);
        s.word = unit / kWordBits;
        s.mask = Word{1} << (unit % kWordBits);
        return true;
    }
    // Set by init() before the allocator is first used (its readers are
    // ordered after that by the allocator's ready flag).
    Word **dir() const { return dir_.load(std::memory_order_relaxed); }
    Word *map_granule(uintptr_t granule);

    std::atomic<Word **> dir_{nullptr};  // kGranules entries (mmap, never unmapped)
};

}  // namespace pc::pal
