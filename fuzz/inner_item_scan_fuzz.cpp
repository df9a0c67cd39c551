// Fuzzes the inner item scan and its start-up repair. The first two input
// bytes steer, the rest becomes the top bytes of the eight highest sectors
// of the chip (piece i ends where sector i from the top ends, so trailers
// and values sit where items put them).
//   byte 0, bit 7 clear: the scan and the repair run on that content as it
//     is; bits 0-1 stamp a recovery key (in place, move, journal) into the
//     key word of the piece that bits 2-4 name, so that the repair of an
//     interrupted rewrite meets hostile copies and journals.
//   byte 0, bit 7 set: the repair runs first; then a change (byte 1: set or
//     remove an item, of a length taken from the input) loses its power
//     after (bits 0-5) sector operations; one byte of the area is then
//     damaged where the input says (unless bit 6 is set), and the start-up
//     repair finishes the interrupted rewrite.
// Nothing may crash or read out of bounds, and after the repair the area
// must hold exactly one environment, as its lowest item. Without the damaged
// byte, every item the change does not touch must be as it was, and the one
// it changes as before, as after or gone (never garbled).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz_flash_chip.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"

namespace {

constexpr uint32_t kPieces = 8;
constexpr uint32_t kPara = 0x100000;
constexpr uint32_t kRecoveryKeys[] = {0x5AA55AA5u, 0xA55AA55Au, 0x55A5A55Au, FLASH_INNER_KEY};

int g_budget = -1;  // sector operations the power lasts for; negative: no limit

int power_cut_hook(int, uint32_t, uint32_t, int) {
    if (g_budget == 0) return -1;
    if (g_budget > 0) --g_budget;
    return 0;
}

void put_be32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

using Items = std::map<uint32_t, std::vector<uint8_t>>;

// The items of types 0 and 2 to 7 that the library finds.
Items items_found() {
    Items found;
    for (uint32_t type = 0; type < 8; ++type) {
        uint32_t len = 0;
        void *p = type == FLASH_INNER_TYPE_GEV ? nullptr : flashAppInnerGet(type, &len);
        if (p == nullptr) continue;
        found[type].assign(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + len);
        std::free(p);
    }
    return found;
}

// The change whose power is cut: set or remove an item of types 2 to 5, or
// replace the profile. Gives the item it changes and its new value (empty:
// removed), or no item for the profile, whose kept fields make its new
// value the library's.
std::pair<std::optional<uint32_t>, std::vector<uint8_t>> interrupted_change(uint8_t how, const uint8_t *data,
                                                                            size_t size) {
    const uint32_t sector = flashGetSectorSize();
    const uint32_t type = FLASH_INNER_TYPE_FIRST_EXTRA + (how & 3u);
    const uint32_t len =
        1 + (static_cast<uint32_t>(how >> 2) * 4099u + static_cast<uint32_t>(size)) % (3 * sector);
    std::vector<uint8_t> value(len);
    for (uint32_t i = 0; i < len; ++i) value[i] = size ? data[i % size] : static_cast<uint8_t>(i);
    if (how & 0x80u) {
        flashAppInnerUnset(type);
        return {type, {}};
    }
    if (how & 0x40u) {
        flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, value.data(), std::min<uint32_t>(len, 812), 0);
        return {std::nullopt, {}};
    }
    flashAppInnerSet(type, value.data(), len, 0);
    return {type, value};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[0], how = data[1];
    data += 2;
    size -= 2;
    pc::fuzz::fresh_para();
    const uint32_t sector = flashGetSectorSize();
    size_t piece = (size + kPieces - 1) / kPieces;
    for (uint32_t i = 0; i < kPieces && piece != 0; ++i) {
        size_t from = i * piece;
        if (from >= size) break;
        size_t len = std::min(piece, size - from);
        std::vector<uint8_t> bytes(data + from, data + from + len);
        if (!(control & 0x80u) && ((control >> 2) & 7u) == i && len >= 4)
            put_be32(bytes.data() + len - 4, kRecoveryKeys[control & 3u]);
        pc::fuzz::put_para(kPara - i * sector - static_cast<uint32_t>(len), bytes.data(), len);
    }
    Items before;
    std::optional<uint32_t> touched;
    std::vector<uint8_t> after;
    bool damaged = false;
    if (control & 0x80u) {
        if (flashAppInnerInit() != 0) return 0;
        before = items_found();
        g_budget = control & 0x3f;
        flashMtdSetWriteHook(&power_cut_hook);
        std::tie(touched, after) = interrupted_change(how, data, size);
        flashMtdSetWriteHook(nullptr);
        g_budget = -1;
        // One damaged byte in the top eight sectors, unless bit 6 says not.
        damaged = !(control & 0x40u) && size >= 4;
        if (damaged) {
            uint32_t at = (uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]) % (kPieces * sector);
            uint8_t b = data[3];
            pc::fuzz::put_para(kPara - kPieces * sector + at, &b, 1);
        }
        flashMtdSetDevicePrefix((pc::fuzz::flash_chip_dir() + "/mtd").c_str());
    } else if (flashAppInnerInit_patch() == 0) {
        // The scan alone, then each item it found.
        for (uint32_t type = 0; type < 8; ++type) {
            uint32_t len = 0, off = 0;
            std::free(flashAppInnerGet(type, &len));
            flashAppInnerGetOffset(type, &off);
        }
    }
    // The repair, then the scan must find the environment, lowest. After an
    // interrupted change with nothing damaged, every other item is as it
    // was, and the changed one as before, as after or gone.
    if (flashAppInnerInit() == 0) {
        uint32_t off = 0;
        if (flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &off) != 0) std::abort();
        if (off / sector * sector != flashInnerEdgeOffset) std::abort();
        if ((control & 0x80u) && !damaged) {
            Items now = items_found();
            for (uint32_t type = 0; type < 8; ++type) {
                auto b = before.find(type), n = now.find(type);
                const bool same = (b == before.end() && n == now.end()) ||
                                  (b != before.end() && n != now.end() && b->second == n->second);
                if (touched == type || (!touched && type == FLASH_INNER_TYPE_PROFILE)) {
                    const bool isAfter = n != now.end() && n->second == after;
                    if (touched && !same && n != now.end() && !isAfter) std::abort();
                } else if (!same) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
