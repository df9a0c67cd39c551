// flashimg: the simulated switch's flash chip as a boot loader sees it.
//
//   flashimg create DIR              an empty chip of the default geometry
//   flashimg printenv DIR            the boot environment
//   flashimg setenv DIR NAME [VALUE] sets a variable (no value: deletes it)
//   flashimg items DIR               the inner items
//   flashimg setitem DIR TYPE FILE   stores FILE as inner item TYPE
//
// DIR holds the partition files mtd0 ... mtd7 (see platform_sim/sim_flash.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "platform_sim/sim_flash.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: flashimg create DIR | printenv DIR | setenv DIR NAME [VALUE] | items DIR\n"
                 "       | setitem DIR TYPE FILE\n");
}

const char *type_name(uint32_t type) {
    switch (type) {
        case FLASH_INNER_TYPE_PROFILE:
            return "profile";
        case FLASH_INNER_TYPE_GEV:
            return "environment";
        default:
            return type >= FLASH_INNER_TYPE_FIRST_EXTRA && type <= FLASH_INNER_TYPE_LAST_EXTRA ? "image item"
                                                                                               : "other";
    }
}

// Every item the scan finds, from the top down, whatever its type.
int list_items() {
    if (flashAppInnerInit() != 0) return 1;
    std::printf("%-6s %-12s %-10s %s\n", "type", "name", "offset", "length");
    const uint32_t size = flashGetSectorSize(), top = size * flashGetSectorCount();
    for (uint32_t b = top; b > flashInnerEdgeOffset;) {
        unsigned char t[FLASH_INNER_TRAILER_LEN];
        if (l_readFlash(t, sizeof t, b - FLASH_INNER_TRAILER_LEN) != 0) return 1;
        auto be = [&](int i) {
            return uint32_t(t[i]) << 24 | uint32_t(t[i + 1]) << 16 | uint32_t(t[i + 2]) << 8 | t[i + 3];
        };
        uint32_t len = be(0), type = be(4), offset = b - FLASH_INNER_TRAILER_LEN - len;
        std::printf("%-6u %-12s %#-10x %u\n", type, type_name(type), offset, len);
        b = offset / size * size;
    }
    std::printf("bottom of the area: %#x\n", flashInnerEdgeOffset);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        usage();
        return 2;
    }
    std::string cmd = argv[1], dir = argv[2];
    if (cmd == "create") {
        if (simFlashCreate(dir.c_str(), 1) != 0) {
            std::fprintf(stderr, "flashimg: cannot create the chip in %s\n", dir.c_str());
            return 1;
        }
        std::printf("%s: empty chip, %u sectors of %#x bytes\n", dir.c_str(), FLASH_DFT_SECTOR_COUNT,
                    FLASH_DFT_SECTOR_SIZE);
        return 0;
    }
    flashDrvLibInit();
    flashMtdSetDevicePrefix((dir + "/mtd").c_str());
    if (cmd == "printenv" && argc == 3) return printEnvItems() == 0 ? 0 : 1;
    if (cmd == "setenv" && argc == 5) return setEnvItem(argv[3], argv[4]) == 0 ? 0 : 1;
    if (cmd == "setenv" && argc == 4) return delEnvItem(argv[3]) == 0 ? 0 : 1;
    if (cmd == "items" && argc == 3) return list_items();
    if (cmd == "setitem" && argc == 5) {
        std::ifstream f(argv[4], std::ios::binary);
        std::vector<uint8_t> value((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        if (!f.eof() && !f) return 1;
        uint32_t type = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
        return flashAppInnerSet(type, value.data(), static_cast<uint32_t>(value.size()), 0) == 0 ? 0 : 1;
    }
    usage();
    return 2;
}
