// Internals shared by the flash, inner item, environment, profile and image
// files: big-endian field access, debug lines and the hooks that forget
// cached state when the device prefix changes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"

namespace pc::flash {

inline uint32_t get_be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint16_t get_be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// A hexadecimal text of the environment or an image, parsed 64 bits wide on
// every build (a 32-bit long would saturate a long text) and cut to the 32
// bits the records hold: "0x010300010000" gives 0x10000 on the host and on
// the target alike.
inline uint32_t parse_hex32(const char *text) {
    return static_cast<uint32_t>(std::strtoull(text, nullptr, 16));
}

// Forgets the cached views; each owner file defines its own.
void forget_partition_cache();
void forget_inner_items();
void forget_environment();

}  // namespace pc::flash

// Diagnostic line of a flash family, gated by its debug switch.
#define FLASH_DBG(flag, ...)                           \
    do {                                               \
        if (flag) {                                    \
            std::printf("%s,%d:", __func__, __LINE__); \
            std::printf(__VA_ARGS__);                  \
        }                                              \
    } while (0)

namespace pc::flash {

// Brings [addr, addr + len) to the given bytes sector by sector, lowest
// sector first; or, when firstLen is given, the sectors of [firstAddr,
// firstAddr + firstLen) first and then the others highest first. A sector already holding the bytes is left
// alone; one whose new bytes only clear bits is programmed without an erase (as NOR flash allows); any other
// is erased and written whole. Prints the progress mark per sector written when progress is 1. 0 or the
// failing status.
int update_range(const uint8_t *data, uint32_t len, uint32_t addr, int progress, uint32_t firstAddr = 0,
                 uint32_t firstLen = 0);
// The same, every sector from the top down.
int update_range_top_down(const uint8_t *data, uint32_t len, uint32_t addr, int progress);
// Writes bytes inside an item of the inner item area: programmed in place
// when that only clears bits, otherwise through the area's rewrite, which
// survives a power cut at any step. 0 or -1.
int inner_write(uint32_t addr, const uint8_t *data, uint32_t len);
// 1 when bringing the range to these bytes needs an erase, 0 when it does
// not, -1 when the flash cannot be read.
int range_needs_erase(const uint8_t *data, uint32_t len, uint32_t addr);
// Erases the sector at addr unless it is blank already. 0 or the failing status.
int erase_sector_unless_blank(uint32_t addr);

// The sectors, in bytes, that an inner item of this value length takes: its
// value and 12-byte trailer rounded up to whole sectors.
inline uint32_t inner_item_span(uint32_t len, uint32_t sectorSize) {
    return static_cast<uint32_t>((uint64_t(len) + 12 + sectorSize - 1) / sectorSize * sectorSize);
}

// The chip's size in bytes: the inner item area ends there.
inline uint32_t chip_size() { return flashGetSectorSize() * flashGetSectorCount(); }

// The type of the one-sector item whose trailer ends these sector bytes (the
// item key, a length that is not zero and fits the sector under its
// trailer), if any.
inline std::optional<uint32_t> one_sector_item(const uint8_t *sector, uint32_t sectorSize) {
    const uint8_t *t = sector + sectorSize - FLASH_INNER_TRAILER_LEN;
    const uint32_t len = get_be32(t);
    if (get_be32(t + 8) != FLASH_INNER_KEY || len == 0 || len > sectorSize - FLASH_INNER_TRAILER_LEN)
        return std::nullopt;
    return get_be32(t + 4);
}

}  // namespace pc::flash
