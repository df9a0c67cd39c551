// The partition map from the boot loader's "mtdparts" setting, the
// translation of a chip sector into a partition offset, and whole-partition
// operations.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "flash/flash_internal.h"
#include "platform_core/flash.h"

namespace {

constexpr int kEnvMtd = 1;
constexpr std::array<const char *, FLASH_MTD_PART_COUNT> kPartitions{"boot", "env",    "usrimg2", "usrimg1",
                                                                     "sys",  "usrapp", "ax_head", "para"};
constexpr std::array<const char *, 5> kAddressable{"sys", "usrimg1", "usrimg2", "usrapp", "para"};

// The first 599 bytes of the env partition as one '$'-joined string;
// loaded on first use, forgotten when the device prefix changes.
char g_mtdparts[FLASH_MTDPARTS_CACHE_SIZE];
bool g_mtdparts_loaded = false;

bool load_mtdparts() {
    if (g_mtdparts_loaded) return true;
    char buf[FLASH_MTDPARTS_CACHE_SIZE] = {};
    if (flashMtdRead(kEnvMtd, buf, 0, FLASH_MTDPARTS_CACHE_SIZE - 1) != 0) return false;
    buf[FLASH_MTDPARTS_CACHE_SIZE - 1] = '\0';
    for (int i = 0; i < FLASH_MTDPARTS_CACHE_SIZE - 1; ++i) {
        if (buf[i] == '\0' && buf[i + 1] != '\0') buf[i] = '$';
    }
    std::memcpy(g_mtdparts, buf, sizeof buf);
    g_mtdparts_loaded = true;
    return true;
}

}  // namespace

namespace pc::flash {

void forget_partition_cache() { g_mtdparts_loaded = false; }

}  // namespace pc::flash

extern "C" {

int sysGetMtdpartsInfo(const char *name) {
    if (name == nullptr) return 0;
    if (std::strcmp(name, "boot") == 0) return static_cast<int>(FLASH_BOOT_PART_SIZE);
    if (!load_mtdparts()) return -1;
    const char *text = g_mtdparts;
    // Look inside the mtdparts setting, for the name as a partition name.
    if (const char *setting = std::strstr(text, "mtdparts")) text = setting;
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "(%s)", name);
    const char *found = std::strstr(text, pattern);
    if (found == nullptr) {
        std::printf("strstr return NULL!\n");
        return 0;
    }
    const char *at = found + 1;
    if (at - 2 < g_mtdparts) return 0;
    const char *unitPos = at - 2;
    unsigned multiplier = *unitPos == 'M' ? 0x100000u : *unitPos == 'K' ? 1024u : 0u;
    const char *start = unitPos;
    while (start > g_mtdparts && start[-1] != ',' && start[-1] != ':') {
        if (start - g_mtdparts >= 8 && std::strncmp(start - 8, "mtdparts", 8) == 0) break;
        --start;
    }
    unsigned value = 0;
    for (const char *p = start; p < unitPos; ++p) {
        if (*p < '0' || *p > '9') continue;
        if (value > 0xffffu) return 0;  // no partition is that large
        value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    uint64_t size = static_cast<uint64_t>(value) * multiplier;
    return size > 0x7fffffff ? 0 : static_cast<int>(size);
}

int flashOffset2mtdOffset(int s, unsigned int off, int *mtd, unsigned int *mtdOffset) {
    unsigned size = flashGetSectorSize();
    if (s < 0 || static_cast<unsigned>(s) >= flashGetSectorCount() || size == 0 || off >= size) return -1;
    if (mtd == nullptr || mtdOffset == nullptr) return -1;
    unsigned start = 0;
    for (int i = 0; i < FLASH_MTD_PART_COUNT; ++i) {
        int bytes = sysGetMtdpartsInfo(kPartitions[static_cast<size_t>(i)]);
        if (bytes < 0) return -1;
        unsigned sectors = static_cast<unsigned>(bytes) / size;
        if (static_cast<unsigned>(s) >= start && static_cast<unsigned>(s) < start + sectors) {
            *mtd = i;
            *mtdOffset = (static_cast<unsigned>(s) - start) * size + off;
            return 0;
        }
        start += sectors;
    }
    return 0;
}

int sysGetFlAddr(const char *name) {
    bool known = false;
    for (const char *n : kAddressable) known = known || (name && std::strcmp(n, name) == 0);
    if (!known) {
        std::printf("error input\n");
        return -1;
    }
    int64_t addr = 0;
    for (const char *part : kPartitions) {
        if (std::strcmp(part, name) == 0) break;
        int bytes = sysGetMtdpartsInfo(part);
        if (bytes < 0) return -1;
        addr += bytes;
    }
    return addr > 0x7fffffff ? -1 : static_cast<int>(addr);
}

int sysEraseCfg(void) {
    int addr = sysGetFlAddr("usrapp"), size = sysGetMtdpartsInfo("usrapp");
    if (addr <= 0 || size <= 0) {
        std::printf("ERR: usrapp partition addr %#x size %#x\n", addr, size);
        return -1;
    }
    return l_eraseFlash(static_cast<unsigned>(addr), static_cast<unsigned>(size), 0);
}

int sysUpdateCfg(const void *buf, unsigned int len) {
    int addr = sysGetFlAddr("usrapp"), size = sysGetMtdpartsInfo("usrapp");
    if (buf == nullptr || addr <= 0 || size <= 0) {
        std::printf("ERR: usrapp partition addr %#x size %#x\n", addr, size);
        return -1;
    }
    if (len > static_cast<unsigned>(size)) {
        std::printf("ERR: the configure too big: %d > %d", static_cast<int>(len), size);
        return -1;
    }
    int rc = l_eraseFlash(static_cast<unsigned>(addr), static_cast<unsigned>(size), 0);
    return rc != 0 ? rc : l_writeFlash_noErase(buf, len, static_cast<unsigned>(addr), 1);
}

int sysEraseImage(int n) {
    const char *name = n == 1 ? "usrimg1" : "usrimg2";
    int addr = sysGetFlAddr(name), size = sysGetMtdpartsInfo(name);
    if (addr <= 0 || size <= 0) {
        std::printf("ERR: %s partition addr %#x size %#x\n", name, addr, size);
        return -1;
    }
    return l_eraseFlash(static_cast<unsigned>(addr), static_cast<unsigned>(size), 0);
}

int sysUpdateUboot(const void *buf, unsigned int len) {
    // A boot loader larger than its partition would run into the environment.
    if (buf == nullptr || len == 0 || len > FLASH_BOOT_PART_SIZE) {
        std::printf("ERR: boot loader size %#x, at most %#x\n", len, FLASH_BOOT_PART_SIZE);
        return -1;
    }
    int rc = l_eraseFlash(0, FLASH_BOOT_PART_SIZE, 0);
    return rc != 0 ? rc : l_writeFlash_noErase(buf, len, 0, 1);
}

int writeBootrom(const void *buf) {
    if (buf == nullptr || writeFlash(buf, FLASH_BOOT_PART_SIZE, 0, 0) != 0) {
        std::printf("write bootrom error\r\n");
        return -1;
    }
    return 0;
}

}  // extern "C"
