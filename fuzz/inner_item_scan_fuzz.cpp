// Fuzzes the inner item scan and its start-up repair: the input becomes the
// top bytes of the eight highest sectors of the chip (piece i ends where
// sector i from the top ends, so trailers and values sit where items put
// them). Nothing may crash or read out of bounds, and after the repair the
// area must hold exactly one environment, as its lowest item.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    pc::fuzz::fresh_para();
    const uint32_t sector = flashGetSectorSize();
    size_t piece = (size + kPieces - 1) / kPieces;
    for (uint32_t i = 0; i < kPieces && piece != 0; ++i) {
        size_t from = i * piece;
        if (from >= size) break;
        size_t len = std::min(piece, size - from);
        pc::fuzz::put_para(kPara - i * sector - static_cast<uint32_t>(len), data + from, len);
    }
    // The scan alone, then each item it found.
    if (flashAppInnerInit_patch() == 0) {
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
