// The inner item area: scan, pre-check and repair, and the rewrites that
// create, replace and remove items.
//
// Every change is made the same way: the items are read into memory, the
// new list (top item first, the environment last) is laid out from the top
// of the chip down with one erased sector below it, and the range is brought
// to that image sector by sector from the bottom up, leaving alone the
// sectors that do not change. Items above the first changed one keep their
// places and are never rewritten.
#include "platform_core/flash_inner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "flash/flash_internal.h"
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

std::vector<ItemRecord> g_items;

struct Item {
    uint32_t type;
    std::vector<uint8_t> value;
};

uint32_t chip_size() { return flashGetSectorSize() * flashGetSectorCount(); }
uint32_t area_floor() { return chip_size() - FLASH_INNER_AREA_MAX; }

// Sectors an item of this length takes, in bytes: its value and trailer
// rounded up to whole sectors.
uint32_t item_span(uint32_t len) {
    uint32_t size = flashGetSectorSize();
    return (len + FLASH_INNER_TRAILER_LEN + size - 1) / size * size;
}

// Walks the trailers from the top of the chip. Stops at a boundary without
// the key, a zero length, or a length that would reach below the area.
// Returns false only when the flash cannot be read.
bool walk(std::vector<ItemRecord> &out, uint32_t &edge) {
    out.clear();
    uint32_t b = chip_size();
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

// Lays the items out from the top of the chip, with one erased sector below
// the lowest, and writes the range. The caller has the values in memory and
// gives the bottom of the area as it is now (oldEdge).
//
// Power loss: a sector that must be erased is lost until it is written
// again. So that the environment survives such a stop, a copy of the new
// environment item is first programmed below both the old and the new area
// (the start-up repair takes it back when the scan finds no environment);
// then the environment's new place is written first and the other sectors
// from the top down, so that the chain of trailers from the top reaches a
// complete environment again as early as possible.
int rewrite_area(const std::vector<Item> &items, int progress, uint32_t oldEdge) {
    const uint32_t size = flashGetSectorSize();
    uint64_t total = size;
    for (const auto &it : items) total += item_span(static_cast<uint32_t>(it.value.size()));
    if (total > FLASH_INNER_AREA_MAX) {
        std::printf("Fatal error: inner area is full, valid_edge is %#x\r\n",
                    static_cast<unsigned>(chip_size() - total + size));
        return -1;
    }
    uint32_t bottom = chip_size() - static_cast<uint32_t>(total);
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
    for (const auto &it : items) {
        uint32_t len = static_cast<uint32_t>(it.value.size());
        uint8_t *trailer = image.data() + b - FLASH_INNER_TRAILER_LEN;
        std::memcpy(trailer - len, it.value.data(), len);
        pc::flash::put_be32(trailer, len);
        pc::flash::put_be32(trailer + 4, it.type);
        pc::flash::put_be32(trailer + 8, FLASH_INNER_KEY);
        b -= item_span(len);
        if (it.type == FLASH_INNER_TYPE_GEV) {
            envAt = b;
            envSpan = item_span(len);
        }
    }
    flashAppInnerInited = 0;
    const uint32_t newEdge = bottom + size;
    int needsErase = pc::flash::range_needs_erase(image.data(), static_cast<uint32_t>(total), bottom);
    if (needsErase < 0) {
        std::printf("Fatal error: Failed to read inner area.\r\n");
        return -1;
    }
    if (needsErase == 1 && envSpan != 0) {
        uint64_t below = std::min(oldEdge, newEdge);
        if (below >= static_cast<uint64_t>(area_floor()) + size + envSpan) {
            uint32_t staging = static_cast<uint32_t>(below - size - envSpan);
            if (pc::flash::update_range(image.data() + envAt, envSpan, staging, 0) != 0) {
                std::printf("Fatal error: Failed to write inner area.\r\n");
                return -1;
            }
        }
    }
    if (pc::flash::update_range(image.data(), static_cast<uint32_t>(total), bottom, progress, bottom + envAt,
                                envSpan) != 0) {
        std::printf(
            "\r\nError: Failed to write flash, innerItemBuf=%#x, innerItemSize=%#x, "
            "innerItemStartOffset=%#x\r\n",
            0u, static_cast<unsigned>(total), bottom);
        return -1;
    }
    return 0;
}

// With no environment in the area, an environment item below the place
// where the scan ended is what a rewrite leaves when the power went between
// erasing a sector and writing it again: the copy it had programmed lower
// down first. The nearest such copy is taken back.
std::optional<Item> stranded_environment(uint32_t edge) {
    uint32_t size = flashGetSectorSize();
    if (edge < area_floor() + 2 * size) return std::nullopt;
    for (uint32_t b = edge - size; b >= area_floor() + size; b -= size) {
        uint8_t trailer[FLASH_INNER_TRAILER_LEN];
        if (l_readFlash(trailer, sizeof trailer, b - FLASH_INNER_TRAILER_LEN) != 0) return std::nullopt;
        if (pc::flash::get_be32(trailer + 8) != FLASH_INNER_KEY ||
            pc::flash::get_be32(trailer + 4) != FLASH_INNER_TYPE_GEV ||
            pc::flash::get_be32(trailer) != GEV_CONTENT_LEN) {
            continue;
        }
        Item env{FLASH_INNER_TYPE_GEV, std::vector<uint8_t>(GEV_CONTENT_LEN)};
        if (l_readFlash(env.value.data(), GEV_CONTENT_LEN, b - FLASH_INNER_TRAILER_LEN - GEV_CONTENT_LEN) !=
            0) {
            return std::nullopt;
        }
        FLASH_DBG(flash_app_inner_debug, "Gev found below the inner area at %#x, taken back\r\n", b);
        return env;
    }
    return std::nullopt;
}

// Pre-check and repair: the environment must exist, once, as the lowest
// item.
int precheck() {
    std::vector<ItemRecord> records;
    uint32_t edge = 0;
    if (!walk(records, edge)) return -1;
    size_t envCount = static_cast<size_t>(std::count_if(
        records.begin(), records.end(), [](const ItemRecord &r) { return r.type == FLASH_INNER_TYPE_GEV; }));
    if (envCount == 1 && records.back().type == FLASH_INNER_TYPE_GEV) {
        FLASH_DBG(flash_app_inner_debug, "Gev is stored in the last inner item\r\n");
        return 0;
    }
    std::vector<Item> items;
    if (!read_items(records, items)) return -1;
    std::vector<Item> wanted;
    std::optional<Item> env;
    for (auto &it : items) {
        if (it.type != FLASH_INNER_TYPE_GEV) {
            wanted.push_back(std::move(it));
        } else if (!env) {
            env = std::move(it);  // the first one found is the one in use
        }
    }
    if (!env) env = stranded_environment(edge);
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
    g_items.clear();
    flashAppInnerInited = 0;
}

}  // namespace pc::flash

extern "C" {

int flashAppInnerInit_patch(void) {
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
    if (!flashInit) flashDrvLibInit();
    if (precheck() != 0) return -1;
    return flashAppInnerInit_patch();
}

void *flashAppInnerGet(uint32_t type, uint32_t *len) {
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
    if (offset == nullptr || !ensure_scanned()) return -1;
    const ItemRecord *r = find(type);
    if (r == nullptr) return -1;
    *offset = r->valueOffset;
    return 0;
}

int flashAppInnerSet(uint32_t type, const void *buf, uint32_t len, int progress) {
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
