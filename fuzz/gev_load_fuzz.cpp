// Fuzzes loading the boot environment from its inner item. Byte 0 chooses
// the item's length (the full table, or only as much as the input gives);
// the rest overlays the table from its slot flags on. The item is written
// raw at the top of the chip. Loading, reading, listing, setting and
// deleting must never crash or read out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz_flash_chip.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"

namespace {

constexpr uint32_t kPara = 0x100000;

void put_be32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    static FILE *sink = std::fopen("/dev/null", "w");
    pc::fuzz::fresh_para();
    std::vector<uint8_t> value(GEV_CONTENT_LEN, 0xff);
    size_t overlay = std::min<size_t>(size - 1, GEV_CONTENT_LEN - GEV_FLAGS_OFFSET);
    std::memcpy(value.data() + GEV_FLAGS_OFFSET, data + 1, overlay);
    uint32_t len = (data[0] & 1) ? GEV_CONTENT_LEN : static_cast<uint32_t>(GEV_FLAGS_OFFSET + overlay + 1);
    // Value directly under the trailer at the top of the chip.
    std::vector<uint8_t> top(len + 12);
    std::memcpy(top.data(), value.data(), len);
    put_be32(top.data() + len, len);
    put_be32(top.data() + len + 4, FLASH_INNER_TYPE_GEV);
    put_be32(top.data() + len + 8, FLASH_INNER_KEY);
    pc::fuzz::put_para(kPara - static_cast<uint32_t>(top.size()), top.data(), top.size());

    FILE *saved = stdout;
    stdout = sink;  // the library's own lines are not of interest here
    char out[GEV_VALUE_LEN];
    flashAppInnerGevInit();
    getEnvItem("START_IMAGE", out);
    printEnvItems();
    if (data[0] & 2) setEnvItem("FUZZ", "1");
    if (data[0] & 4) delEnvItem("START_CONFIG");
    getStartUpIndex();
    stdout = saved;
    return 0;
}
