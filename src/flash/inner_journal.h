// The journal of an inner area re-layout.
//
// A change that moves items (one grows, shrinks, comes or goes, or the
// environment moves to the bottom) rewrites many sectors, and a sector's old
// bytes may be the only copy of another item until that item is at its new
// place. Before such a rewrite touches the area, a journal goes into the
// lowest sector of the range that the rewrite may write (the area and its
// one erased sector, before or after the change), which the new layout does
// not use. It records, for every sector above it, the MD5 digest of the
// bytes the sector must end with, the upper boundaries of the new items,
// and, when it fits, the one new value that is nowhere else on the flash.
//
// The sectors are then brought to their new bytes in an order in which no
// sector is overwritten while its bytes are still wanted somewhere else, so
// that after a power cut every wanted sector lies somewhere in the range:
// at its place (done), at another place (still to be copied) or in the
// journal. The start-up repair (resume) finishes the same plan from what it
// finds. Only a new value too large for the journal can be missing. Its
// sectors are written last, and the journal then also holds the digests of
// the old bytes of every sector the rewrite changes, with the old bytes of
// the replaced item's sectors as far as they fit: while every old sector is
// still to be had, the repair undoes the rewrite; otherwise the missing
// place becomes a filler item (the old item kept above it when it is still
// whole there), which the pre-check removes.
//
// The journal carries a key of its own at its trailer's key word, which no
// boot loader takes for an item; the last step erases it.
#pragma once

#include <cstdint>
#include <vector>

namespace pc::flash::inner_journal {

constexpr uint32_t kKey = 0x55A5A55Au;
// The type of the filler item that stands for a value a power cut lost.
constexpr uint32_t kFillerType = 0xFFFFFF00u;

// One item of the new layout.
struct Placed {
    uint32_t type;
    uint32_t top;   // upper boundary on the chip
    uint32_t span;  // bytes, whole sectors
    const std::vector<uint8_t> *value;
};

enum class Outcome {
    kDone,
    kNoPlan,  // every order overwrites a sector still wanted: the caller takes another way
    kFailed,  // a read or write failed
};

// Brings [journalAt + sector, chip) to target (bytes of that range) through
// a journal at journalAt, then erases the journal. items describe the new
// layout; oldEdge is the bottom of the area before the change. Nothing is
// written when kNoPlan is answered.
Outcome write(uint32_t journalAt, uint32_t oldEdge, const std::vector<uint8_t> &target,
              const std::vector<Placed> &items, int progress);

// True when these sector bytes hold a journal.
bool holds_journal(const uint8_t *sector, uint32_t size);

// Finishes the rewrite recorded in the journal at journalAt and erases the
// journal. A journal that does not check out (its digest, its geometry) is
// left alone and nothing is written: 1. 0 when finished, -1 when a read or
// write failed.
int resume(uint32_t journalAt);

}  // namespace pc::flash::inner_journal
