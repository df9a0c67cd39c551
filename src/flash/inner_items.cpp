// The inner item area: scan, pre-check and repair, and the rewrites that
// create, replace and remove items.
//
// Every change is made the same way: the items are read into memory, the
// new list (top item first, the environment last) is laid out from the top
// of the chip down with one erased sector below it, and the range is brought
// to that image sector by sector, leaving alone the sectors that do not
// change. Items above the first changed one keep their places and are never
// rewritten. Nothing outside the area and its one erased sector (before or
// after the change) is ever written.
#include "platform_core/flash_inner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "flash/flash_internal.h"
#include "flash/inner_journal.h"
#include "platform_core/flash.h"
#include "platform_core/gev.h"

uint32_t flashInnerEdgeOffset = 0;
int flashAppInnerInited = 0;
int flash_app_inner_debug = 0;

namespace {

// Profile fields that a rewrite of the whole profile never changes: MAC,
// signature and public key; the device identifier.
constexpr uint32_t kProfileKeptHead = 384;
constexpr uint32_t kProfileDevIdOffset = 724;
constexpr uint32_t kProfileDevIdLen = 40;

// One item of the cached list (fii_head); guarded by the callers (see the
// header). Top item first.
struct ItemRecord {
    uint32_t type;
    uint32_t valueOffset;  // on the chip
    uint32_t length;
    uint32_t top;  // upper boundary (end of the trailer)
};

// Readers of the identity and the environment run on several RPC workers at
// once, and a scan clears and refills the cached list: every use of it holds
// g_itemsLock. Recursive, as the exported calls use each other. It is never
// held across a call into the environment, whose mutex is taken before this
// one. Both live as long as the process: workers may still read at exit.
std::recursive_mutex &g_itemsLock = *new std::recursive_mutex;
std::vector<ItemRecord> &g_items = *new std::vector<ItemRecord>;
using ItemsGuard = std::lock_guard<std::recursive_mutex>;

struct Item {
    uint32_t type;
    std::vector<uint8_t> value;
};

using pc::flash::chip_size;

uint32_t area_floor() { return chip_size() - FLASH_INNER_AREA_MAX; }

// Sectors an item of this length takes, in bytes: its value and trailer
// rounded up to whole sectors.
uint32_t item_span(uint32_t len) { return pc::flash::inner_item_span(len, flashGetSectorSize()); }

// Walks the trailers from the top of the chip (or from the boundary from). Stops at a boundary without
// the key, a zero length, or a length that would reach below the area.
// Returns false only when the flash cannot be read.
bool walk(std::vector<ItemRecord> &out, uint32_t &edge, uint32_t from = chip_size()) {
    out.clear();
    uint32_t b = from;
    while (b > area_floor()) {
        uint8_t trailer[FLASH_INNER_TRAILER_LEN];
        if (l_readFlash(trailer, sizeof trailer, b - FLASH_INNER_TRAILER_LEN) != 0) return false;
        if (pc::flash::get_be32(trailer + 8) != FLASH_INNER_KEY) break;
        uint32_t type = pc::flash::get_be32(trailer + 4), len = pc::flash::get_be32(trailer);
        if (len == 0) break;
        // The value must lie inside the area, under its trailer.
        if (len > b - FLASH_INNER_TRAILER_LEN - area_floor()) {
            FLASH_DBG(flash_app_inner_debug, "Bad inner item at %#x: type=%#x length=%#x\r\n", b, type, len);
            break;
        }
        out.push_back({type, b - FLASH_INNER_TRAILER_LEN - len, len, b});
        b -= item_span(len);
    }
    edge = b;
    return true;
}

bool read_items(const std::vector<ItemRecord> &records, std::vector<Item> &items) {
    items.clear();
    for (const auto &r : records) {
        Item it{r.type, std::vector<uint8_t>(r.length)};
        if (l_readFlash(it.value.data(), r.length, r.valueOffset) != 0) {
            std::printf("Fatal error: Failed to read inner area.\r\n");
            return false;
        }
        items.push_back(std::move(it));
    }
    return true;
}

// Power loss. A sector that is erased holds nothing until it is written
// again. A rewrite of one one-sector item where it lies keeps a copy of its
// new sector (below); every other rewrite goes through the journal of
// inner_journal.h, which keeps every sector the new layout wants somewhere
// in the range; where no order of the writes allows that (and the journal
// has no room to break the cycle), the copy of the environment below is the
// way left. Both live in a sector that the rewrite does not otherwise need,
// inside the range it may write (the area and its one erased sector, before
// or after the change): the lowest sector of that range. A copy is laid out like an item
// (value under a trailer) but carries a key of its own, which no boot
// loader takes for an item; each rewrite erases its copy as its last step,
// so a copy on the flash always means an interrupted rewrite, which the
// start-up repair finishes (repair_interrupted_rewrite):
//   in place: one one-sector item (profile, environment) is rewritten where
//             it lies; the copy holds its new sector and sits directly
//             below the lowest item. The repair writes it to the item's
//             place (or to the erased gap where the chain of trailers
//             breaks) and erases the copy.
//   move:     the items are laid out anew; the copy holds the environment.
//             The repair keeps the items still found from the top, closes
//             the gaps and puts the copied environment at the bottom.
// Items are written before their old places are overwritten where they
// move up (the profile above all); the environment's new place is written
// first otherwise, so that a boot loader finds an environment at every step
// but the one erase of the sector the chain runs through.
constexpr uint32_t kCopyKeyInPlace = 0x5AA55AA5u;
constexpr uint32_t kCopyKeyMove = 0xA55AA55Au;

bool read_sector(uint32_t at, std::vector<uint8_t> &buf) {
    buf.resize(flashGetSectorSize());
    return l_readFlash(buf.data(), static_cast<uint32_t>(buf.size()), at) == 0;
}

// Programs a copy (sector bytes whose trailer gets the copy's key) into a
// sector that is blank or made blank first.
int put_copy(const uint8_t *sector, uint32_t at, uint32_t key) {
    uint32_t size = flashGetSectorSize();
    std::vector<uint8_t> copy(sector, sector + size);
    pc::flash::put_be32(copy.data() + size - 4, key);
    if (pc::flash::erase_sector_unless_blank(at) != 0) return -1;
    return pc::flash::update_range(copy.data(), size, at, 0);
}

// A re-layout through a journal in the lowest sector of the range (see
// inner_journal.h): 0 when done, -1 when it failed, nothing when no order
// of the writes keeps every sector that is still wanted.
std::optional<int> journal_rewrite(const std::vector<uint8_t> &image, uint32_t bottom, uint32_t lowest,
                                   uint32_t oldEdge,
                                   const std::vector<pc::flash::inner_journal::Placed> &placed,
                                   int progress) {
    namespace journal = pc::flash::inner_journal;
    const uint32_t size = flashGetSectorSize(), from = lowest + size;
    std::vector<uint8_t> target(chip_size() - from, 0xff);
    const uint32_t start = std::max(bottom, from);
    std::memcpy(target.data() + (start - from), image.data() + (start - bottom), chip_size() - start);
    switch (journal::write(lowest, oldEdge, target, placed, progress)) {
        case journal::Outcome::kDone:
            return 0;
        case journal::Outcome::kFailed:
            return -1;
        case journal::Outcome::kNoPlan:
            break;
    }
    return std::nullopt;
}

// Lays the items out from the top of the chip, with one erased sector below
// the lowest, and writes the range. The caller has the values in memory and
// gives the bottom of the area as it is now (oldEdge); the repair of an
// interrupted rewrite gives the copy it found (copyAt), which bounds the
// range from below.
int rewrite_area(const std::vector<Item> &items, int progress, uint32_t oldEdge, uint32_t copyAt = 0) {
    const uint32_t size = flashGetSectorSize();
    uint64_t total = size;
    for (const auto &it : items) total += item_span(static_cast<uint32_t>(it.value.size()));
    if (total > FLASH_INNER_AREA_MAX || (copyAt != 0 && total > chip_size() - copyAt)) {
        std::printf("Fatal error: inner area is full, valid_edge is %#x\r\n",
                    static_cast<unsigned>(chip_size() - total + size));
        return -1;
    }
    const uint32_t bottom = chip_size() - static_cast<uint32_t>(total);
    std::vector<uint8_t> image;
    try {
        image.assign(static_cast<size_t>(total), 0xff);
    } catch (const std::bad_alloc &) {
        std::printf("Fatal error: Failed to allocate memory for write inner area, size=%#x.\r\n",
                    static_cast<unsigned>(total));
        return -1;
    }
    uint32_t b = static_cast<uint32_t>(total);  // boundary, relative to bottom
    uint32_t envAt = 0, envSpan = 0;            // the environment's place in the image
    std::optional<uint32_t> newProfileAt;
    std::vector<pc::flash::inner_journal::Placed> placed;
    for (const auto &it : items) {
        uint32_t len = static_cast<uint32_t>(it.value.size());
        placed.push_back({it.type, bottom + b, item_span(len), &it.value});
        uint8_t *trailer = image.data() + b - FLASH_INNER_TRAILER_LEN;
        std::memcpy(trailer - len, it.value.data(), len);
        pc::flash::put_be32(trailer, len);
        pc::flash::put_be32(trailer + 4, it.type);
        pc::flash::put_be32(trailer + 8, FLASH_INNER_KEY);
        if (it.type == FLASH_INNER_TYPE_PROFILE && !newProfileAt)
            newProfileAt = bottom + b - FLASH_INNER_TRAILER_LEN - len;
        b -= item_span(len);
        if (it.type == FLASH_INNER_TYPE_GEV && envSpan == 0) {
            envAt = b;
            envSpan = item_span(len);
        }
    }
    flashAppInnerInited = 0;
    const uint32_t newEdge = bottom + size;
    // The range this rewrite may write: down to the lower of the old and the
    // new erased sector.
    uint32_t lowest = copyAt;
    if (lowest == 0) lowest = std::max(std::min(oldEdge, newEdge), area_floor() + size) - size;

    // The sectors that need an erase.
    std::vector<uint32_t> erasing;
    std::vector<uint8_t> current;
    for (uint32_t at = newEdge; at < chip_size(); at += size) {
        if (!read_sector(at, current)) {
            std::printf("Fatal error: Failed to read inner area.\r\n");
            return -1;
        }
        const uint8_t *wanted = image.data() + (at - bottom);
        for (uint32_t i = 0; i < size; ++i) {
            if ((current[i] & wanted[i]) != wanted[i]) {
                erasing.push_back(at);
                break;
            }
        }
    }
    auto fail_write = [&] {
        std::printf(
            "\r\nError: Failed to write flash, innerItemBuf=%#x, innerItemSize=%#x, "
            "innerItemStartOffset=%#x\r\n",
            0u, static_cast<unsigned>(total), bottom);
        return -1;
    };

    uint32_t copy = copyAt;
    bool inPlace = false;
    if (copyAt == 0 && !erasing.empty()) {
        const uint8_t *target = image.data() + (erasing[0] - bottom);
        std::optional<uint32_t> newType = pc::flash::one_sector_item(target, size);
        if (erasing.size() == 1 && oldEdge == newEdge && newType) {
            if (!read_sector(erasing[0], current)) return fail_write();
            inPlace = pc::flash::one_sector_item(current.data(), size) == newType;
        }
        if (inPlace) {
            copy = newEdge - size;
            if (put_copy(target, copy, kCopyKeyInPlace) != 0) return fail_write();
        } else if (auto done = journal_rewrite(image, bottom, lowest, oldEdge, placed, progress)) {
            return *done == 0 ? 0 : fail_write();
        } else if (envSpan == size) {
            copy = lowest;
            if (put_copy(image.data() + envAt, copy, kCopyKeyMove) != 0) return fail_write();
        }
    }
    // The environment's new place comes first, unless it lies where the
    // profile is now: then every sector is written from the top down, so
    // that the profile (which moves up) is written before its old place is
    // overwritten.
    bool envFirst = copyAt == 0 && envSpan != 0;
    if (envFirst && newProfileAt) {
        std::vector<ItemRecord> old;
        uint32_t oldBottom = 0;
        if (!walk(old, oldBottom)) return fail_write();
        auto p = std::find_if(old.begin(), old.end(),
                              [](const ItemRecord &r) { return r.type == FLASH_INNER_TYPE_PROFILE; });
        if (p != old.end() && p->valueOffset != *newProfileAt) {
            uint32_t profileLow = p->top - item_span(p->length), envLow = bottom + envAt;
            envFirst = envLow + envSpan <= profileLow || envLow >= p->top;
        }
    }
    int rc = envFirst ? pc::flash::update_range(image.data() + size, static_cast<uint32_t>(total) - size,
                                                newEdge, progress, bottom + envAt, envSpan)
                      : pc::flash::update_range_top_down(
                            image.data() + size, static_cast<uint32_t>(total) - size, newEdge, progress);
    if (rc != 0) return fail_write();
    // Whatever lies between the lowest sector of the range and the new
    // bottom (the new erased sector, places the area left) is erased, so that
    // no older copy of an item stays behind; the copy goes last.
    for (uint32_t at = lowest; at < newEdge; at += size) {
        if (at != copy && pc::flash::erase_sector_unless_blank(at) != 0) return fail_write();
    }
    if (copy != 0 && l_eraseFlash(copy, size, 0) != 0) return fail_write();
    return 0;
}

// Items found from the top down to a boundary, stepping over sectors
// without a trailer (the places an interrupted rewrite had erased or not yet
// finished).
bool walk_over_gaps(uint32_t floor, std::vector<ItemRecord> &out) {
    const uint32_t size = flashGetSectorSize();
    out.clear();
    uint32_t b = chip_size();
    while (b > floor) {
        uint8_t trailer[FLASH_INNER_TRAILER_LEN];
        if (l_readFlash(trailer, sizeof trailer, b - FLASH_INNER_TRAILER_LEN) != 0) return false;
        uint32_t type = pc::flash::get_be32(trailer + 4), len = pc::flash::get_be32(trailer);
        if (pc::flash::get_be32(trailer + 8) == FLASH_INNER_KEY && len != 0 &&
            len <= b - FLASH_INNER_TRAILER_LEN - floor) {
            out.push_back({type, b - FLASH_INNER_TRAILER_LEN - len, len, b});
            b -= item_span(len);
        } else {
            b -= size;
        }
    }
    return true;
}

// A copy whose bytes can be what a rewrite put there: a length that fits
// the sector under its trailer; for the environment (which a move copy
// always holds), the environment's length and a slot flag table that holds
// only the flags the environment writes.
bool copy_checks_out(const std::vector<uint8_t> &sector, uint32_t key) {
    const uint32_t size = flashGetSectorSize();
    const uint8_t *t = sector.data() + size - FLASH_INNER_TRAILER_LEN;
    const uint32_t len = pc::flash::get_be32(t), type = pc::flash::get_be32(t + 4);
    if (len == 0 || len > size - FLASH_INNER_TRAILER_LEN) return false;
    if (key == kCopyKeyMove && type != FLASH_INNER_TYPE_GEV) return false;
    if (type != FLASH_INNER_TYPE_GEV) return true;
    if (len != GEV_CONTENT_LEN) return false;
    const uint8_t *flags = t - len + GEV_FLAGS_OFFSET;
    return std::all_of(flags, flags + GEV_ITEM_MAX, [](uint8_t f) {
        return f == GEV_FLAG_BLANK || f == GEV_FLAG_ACTIVE || f == GEV_FLAG_INACTIVE;
    });
}

// Where an in-place copy can lie. The rewrite puts it into the area's own
// erased sector, directly below the lowest item, and erases and writes only
// the one sector of its item. So it lies directly below the chain of items
// (cut before that sector was erased, or after it was written again), or,
// with that sector erased, directly below the chain continued under it;
// then its type is one the chain lacks, and where the erased sector was the
// lowest item, the environment (the pre-check keeps it lowest, and no
// in-place rewrite runs before the pre-check). Sectors of the partitions
// below the area are never taken for a copy.
bool in_place_copy_place(uint32_t at, uint32_t type, const std::vector<ItemRecord> &records, uint32_t edge) {
    const uint32_t size = flashGetSectorSize();
    if (at + size == edge) return true;
    if (edge < area_floor() + 2 * size) return false;
    std::vector<ItemRecord> below;
    uint32_t bottom = 0;
    if (!walk(below, bottom, edge - size) || at + size != bottom) return false;
    auto has = [&](const std::vector<ItemRecord> &list) {
        return std::any_of(list.begin(), list.end(), [&](const ItemRecord &r) { return r.type == type; });
    };
    if (has(records) || has(below)) return false;
    return !below.empty() || type == FLASH_INNER_TYPE_GEV;
}

// Finishes a rewrite that the power interrupted: see the copies above. A
// journal or a copy that does not check out is left alone.
int repair_interrupted_rewrite() {
    const uint32_t size = flashGetSectorSize();
    std::vector<ItemRecord> records;
    uint32_t edge = 0;
    if (!walk(records, edge)) return -1;
    uint32_t copyAt = 0, key = 0, len = 0, type = 0;
    std::vector<uint8_t> sector;
    for (uint32_t b = edge; b >= area_floor() + size; b -= size) {
        uint8_t trailer[FLASH_INNER_TRAILER_LEN];
        if (l_readFlash(trailer, sizeof trailer, b - FLASH_INNER_TRAILER_LEN) != 0) return -1;
        key = pc::flash::get_be32(trailer + 8);
        if (key == pc::flash::inner_journal::kKey) {
            int rc = pc::flash::inner_journal::resume(b - size);
            if (rc <= 0) {
                flashAppInnerInited = 0;
                return rc;
            }
            continue;  // not a journal after all
        }
        if (key != kCopyKeyInPlace && key != kCopyKeyMove) continue;
        len = pc::flash::get_be32(trailer);
        type = pc::flash::get_be32(trailer + 4);
        if (key == kCopyKeyInPlace && !in_place_copy_place(b - size, type, records, edge)) continue;
        if (!read_sector(b - size, sector)) return -1;
        if (!copy_checks_out(sector, key)) {
            FLASH_DBG(flash_app_inner_debug, "Bad copy at %#x, left alone\r\n", b - size);
            continue;
        }
        copyAt = b - size;
        break;
    }
    if (copyAt == 0) return 0;
    pc::flash::put_be32(sector.data() + size - 4, FLASH_INNER_KEY);
    flashAppInnerInited = 0;
    if (key == kCopyKeyInPlace) {
        // The item's place: where the chain of trailers breaks (the copy lies
        // further down), or else the one-sector item of that type.
        uint32_t target = edge - size;
        if (copyAt + size == edge) {
            auto r = std::find_if(records.begin(), records.end(), [&](const ItemRecord &i) {
                return i.type == type && item_span(i.length) == size;
            });
            if (r == records.end()) return l_eraseFlash(copyAt, size, 0);
            target = r->top - size;
        }
        FLASH_DBG(flash_app_inner_debug, "Interrupted rewrite: type %#x back to %#x\r\n", type, target);
        if (pc::flash::update_range(sector.data(), size, target, 0) != 0) return -1;
        return l_eraseFlash(copyAt, size, 0);
    }
    std::vector<ItemRecord> found;
    if (!walk_over_gaps(copyAt + size, found)) return -1;
    std::vector<Item> items;
    if (!read_items(found, items)) return -1;
    std::vector<Item> kept;
    for (auto &it : items) {
        bool seen = std::any_of(kept.begin(), kept.end(), [&](const Item &k) { return k.type == it.type; });
        if (it.type != FLASH_INNER_TYPE_GEV && !seen) kept.push_back(std::move(it));
    }
    kept.push_back(
        Item{FLASH_INNER_TYPE_GEV, std::vector<uint8_t>(sector.end() - FLASH_INNER_TRAILER_LEN - len,
                                                        sector.end() - FLASH_INNER_TRAILER_LEN)});
    // What does not fit above the copy any more is dropped, lowest first.
    auto need = [&] {
        uint64_t t = size;
        for (const auto &it : kept) t += item_span(static_cast<uint32_t>(it.value.size()));
        return t;
    };
    while (kept.size() > 1 && need() > chip_size() - copyAt) kept.erase(kept.end() - 2);
    FLASH_DBG(flash_app_inner_debug, "Interrupted rewrite: %u items laid out again\r\n",
              static_cast<unsigned>(kept.size()));
    return rewrite_area(kept, 0, copyAt + size, copyAt);
}

// Pre-check and repair: the environment must exist, once, as the lowest
// item; with none, the defaults are written. A filler that an interrupted
// rewrite left goes, and so does a later copy of a type already found.
int precheck() {
    std::vector<ItemRecord> records;
    uint32_t edge = 0;
    if (!walk(records, edge)) return -1;
    size_t envCount = static_cast<size_t>(std::count_if(
        records.begin(), records.end(), [](const ItemRecord &r) { return r.type == FLASH_INNER_TYPE_GEV; }));
    bool filler = std::any_of(records.begin(), records.end(), [](const ItemRecord &r) {
        return r.type == pc::flash::inner_journal::kFillerType;
    });
    if (envCount == 1 && records.back().type == FLASH_INNER_TYPE_GEV && !filler) {
        FLASH_DBG(flash_app_inner_debug, "Gev is stored in the last inner item\r\n");
        return 0;
    }
    std::vector<Item> items;
    if (!read_items(records, items)) return -1;
    std::vector<Item> wanted;
    std::optional<Item> env;
    for (auto &it : items) {
        bool seen =
            std::any_of(wanted.begin(), wanted.end(), [&](const Item &w) { return w.type == it.type; });
        if (it.type == pc::flash::inner_journal::kFillerType || seen) continue;
        if (it.type != FLASH_INNER_TYPE_GEV) {
            wanted.push_back(std::move(it));
        } else if (!env) {
            env = std::move(it);  // the first one found is the one in use
        }
    }
    if (!env) {
        env = Item{FLASH_INNER_TYPE_GEV, std::vector<uint8_t>(GEV_CONTENT_LEN)};
        if (getDftGevContent(env->value.data(), GEV_CONTENT_LEN) != 0) return -1;
    }
    wanted.push_back(std::move(*env));
    return rewrite_area(wanted, 0, edge);
}

const ItemRecord *find(uint32_t type) {
    for (const auto &r : g_items) {
        if (r.type == type) return &r;
    }
    return nullptr;
}

bool ensure_scanned() {
    if (flashAppInnerInited) return true;
    if (flashAppInnerInit() != 0) {
        std::printf("Fatal error: Failed to init inner area structure.\r\n");
        return false;
    }
    return true;
}

// Copies the fields a profile rewrite must keep from old over the new value.
void keep_profile_fields(const std::vector<uint8_t> &old, std::vector<uint8_t> &value) {
    auto keep = [&](uint32_t from, uint32_t len) {
        size_t end = std::min<size_t>({from + len, old.size(), value.size()});
        if (end > from) std::memcpy(value.data() + from, old.data() + from, end - from);
    };
    keep(0, kProfileKeptHead);
    keep(kProfileDevIdOffset, kProfileDevIdLen);
}

}  // namespace

namespace pc::flash {

void forget_inner_items() {
    ItemsGuard guard(g_itemsLock);
    g_items.clear();
    flashAppInnerInited = 0;
}

int inner_write(uint32_t addr, const uint8_t *data, uint32_t len) {
    ItemsGuard guard(g_itemsLock);
    if (data == nullptr) return -1;
    int needsErase = range_needs_erase(data, len, addr);
    if (needsErase < 0) return -1;
    if (needsErase == 0) return update_range(data, len, addr, 0);
    if (!ensure_scanned()) return -1;
    auto r = std::find_if(g_items.begin(), g_items.end(), [&](const ItemRecord &i) {
        return addr >= i.valueOffset &&
               static_cast<uint64_t>(addr) + len <= uint64_t(i.valueOffset) + i.length;
    });
    if (r == g_items.end()) return -1;
    const uint32_t type = r->type, at = addr - r->valueOffset;
    std::vector<Item> items;
    if (!read_items(g_items, items)) return -1;
    for (auto &it : items) {
        if (it.type == type) {
            std::memcpy(it.value.data() + at, data, len);
            break;
        }
    }
    return rewrite_area(items, 0, flashInnerEdgeOffset);
}

}  // namespace pc::flash

extern "C" {

int flashAppInnerInit_patch(void) {
    ItemsGuard guard(g_itemsLock);
    if (!g_items.empty()) FLASH_DBG(flash_app_inner_debug, "Reinit the inner item list.\r\n");
    g_items.clear();
    flashAppInnerInited = 0;
    uint32_t edge = 0;
    if (!walk(g_items, edge)) {
        g_items.clear();
        return -1;
    }
    flashInnerEdgeOffset = edge;
    flashAppInnerInited = 1;
    return 0;
}

int flashAppInnerInit(void) {
    ItemsGuard guard(g_itemsLock);
    if (!flashInit) flashDrvLibInit();
    if (repair_interrupted_rewrite() != 0 || precheck() != 0) return -1;
    return flashAppInnerInit_patch();
}

void *flashAppInnerGet(uint32_t type, uint32_t *len) {
    ItemsGuard guard(g_itemsLock);
    if (!ensure_scanned()) return nullptr;
    const ItemRecord *r = find(type);
    void *copy = r ? std::malloc(r->length) : nullptr;
    if (copy == nullptr || l_readFlash(copy, r->length, r->valueOffset) != 0) {
        std::free(copy);
        FLASH_DBG(flash_app_inner_debug, "Failed to get inner item, type=%#x.", type);
        return nullptr;
    }
    if (len) *len = r->length;
    return copy;
}

int flashAppInnerGetOffset(uint32_t type, uint32_t *offset) {
    ItemsGuard guard(g_itemsLock);
    if (offset == nullptr || !ensure_scanned()) return -1;
    const ItemRecord *r = find(type);
    if (r == nullptr) return -1;
    *offset = r->valueOffset;
    return 0;
}

int flashAppInnerSet(uint32_t type, const void *buf, uint32_t len, int progress) {
    ItemsGuard guard(g_itemsLock);
    if (buf == nullptr || len == 0) {
        std::printf("Fatal error: buff=%#x, len=%#x", buf ? 1u : 0u, len);
        return -1;
    }
    if (len > FLASH_INNER_AREA_MAX) {
        std::printf("Fatal error: inner area is full, valid_edge is %#x\r\n", flashInnerEdgeOffset);
        return -1;
    }
    if (!ensure_scanned()) return -1;
    std::vector<Item> items;
    if (!read_items(g_items, items)) return -1;
    std::vector<uint8_t> value(static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + len);
    auto it = std::find_if(items.begin(), items.end(), [&](const Item &i) { return i.type == type; });
    if (it != items.end()) {
        if (type == FLASH_INNER_TYPE_PROFILE) keep_profile_fields(it->value, value);
        it->value = std::move(value);
    } else {
        // A new item goes directly above the environment, which stays lowest.
        auto env = std::find_if(items.begin(), items.end(),
                                [](const Item &i) { return i.type == FLASH_INNER_TYPE_GEV; });
        items.insert(env, Item{type, std::move(value)});
    }
    int rc = rewrite_area(items, progress, flashInnerEdgeOffset);
    if (rc == 0) {
        uint32_t offset = 0;
        flashAppInnerGetOffset(type, &offset);
        FLASH_DBG(flash_app_inner_debug,
                  "Set inner item ok, type=%d startOffset=%#x length=%d flashInnerEdgeOffset=%#x.",
                  static_cast<int>(type), offset, static_cast<int>(len), flashInnerEdgeOffset);
    } else {
        std::printf("Fatal error: Failed to write inner area.\r\n");
    }
    return rc;
}

int flashAppInnerUnset(uint32_t type) {
    ItemsGuard guard(g_itemsLock);
    if (!ensure_scanned()) return -1;
    if (find(type) == nullptr) return 0;
    std::vector<Item> items;
    if (!read_items(g_items, items)) return -1;
    items.erase(std::remove_if(items.begin(), items.end(), [&](const Item &i) { return i.type == type; }),
                items.end());
    if (rewrite_area(items, 0, flashInnerEdgeOffset) != 0) return -1;
    FLASH_DBG(flash_app_inner_debug, "\r\nRemove inner item done.\r\n");
    return 0;
}

int flashAppInnerReset(const char *bootSize, const char *fsOffset, const char *fsSize, const char *flVer) {
    if (bootSize == nullptr || fsOffset == nullptr || fsSize == nullptr || flVer == nullptr) {
        std::printf("Fatal error: Bad parameter, flBootSize=%#x, flFsOffset=%#x, flFsSize=%#x, flVer=%#x\r\n",
                    bootSize ? 1u : 0u, fsOffset ? 1u : 0u, fsSize ? 1u : 0u, flVer ? 1u : 0u);
        return -1;
    }
    FLASH_DBG(flash_app_inner_debug, "Reset inner items: %s %s %s %s\r\n", bootSize, fsOffset, fsSize, flVer);
    {
        ItemsGuard guard(g_itemsLock);  // let go before the environment takes its own mutex
        if (!ensure_scanned()) return -1;
        std::vector<ItemRecord> records = g_items;
        for (const auto &r : records) {
            if (r.type == FLASH_INNER_TYPE_PROFILE || r.type == FLASH_INNER_TYPE_GEV) continue;
            if (flashAppInnerUnset(r.type) != 0) {
                std::printf(
                    "Fatal error: Failed to remove inner item, type=%#x, value_offset=%#x, length=%#x\r\n",
                    r.type, r.valueOffset, r.length);
                return -1;
            }
        }
    }
    if (updateGevItem() != 0) {
        std::printf("Fatal error: Failed to clear gev.\r\n");
        return -1;
    }
    return 0;
}

int flashAppInnerEnum(uint32_t *first, uint32_t *last) {
    if (first) *first = FLASH_INNER_TYPE_FIRST_EXTRA;
    if (last) *last = FLASH_INNER_TYPE_LAST_EXTRA;
    return static_cast<int>(FLASH_INNER_TYPE_LAST_EXTRA);
}

}  // extern "C"
