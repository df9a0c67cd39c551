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
//     damaged where the input says, and the start-up repair finishes the
//     interrupted rewrite.
// Nothing may crash or read out of bounds, and after the repair the area
// must hold exactly one environment, as its lowest item.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// The change whose power is cut: set or remove an item of types 2 to 5, or
// replace the profile.
void interrupted_change(uint8_t how, const uint8_t *data, size_t size) {
    const uint32_t sector = flashGetSectorSize();
    const uint32_t type = FLASH_INNER_TYPE_FIRST_EXTRA + (how & 3u);
    const uint32_t len =
        1 + (static_cast<uint32_t>(how >> 2) * 4099u + static_cast<uint32_t>(size)) % (3 * sector);
    std::vector<uint8_t> value(len);
    for (uint32_t i = 0; i < len; ++i) value[i] = size ? data[i % size] : static_cast<uint8_t>(i);
    if (how & 0x80u) {
        flashAppInnerUnset(type);
    } else if (how & 0x40u) {
        flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, value.data(), std::min<uint32_t>(len, 812), 0);
    } else {
        flashAppInnerSet(type, value.data(), len, 0);
    }
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
    if (control & 0x80u) {
        if (flashAppInnerInit() != 0) return 0;
        g_budget = control & 0x3f;
        flashMtdSetWriteHook(&power_cut_hook);
        interrupted_change(how, data, size);
        flashMtdSetWriteHook(nullptr);
        g_budget = -1;
        // One damaged byte in the top eight sectors.
        if (size >= 4) {
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
    // The repair, then the scan must find the environment, lowest.
    if (flashAppInnerInit() == 0) {
        uint32_t off = 0;
        if (flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &off) != 0) std::abort();
        if (off / sector * sector != flashInnerEdgeOffset) std::abort();
    }
    return 0;
}
