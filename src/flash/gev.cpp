// The boot environment: the list of live variables in memory, slot updates
// on the flash, compaction, validity and the default table.
#include "platform_core/gev.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flash/flash_internal.h"
#include "pal/mutex_guard.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/pal.h"

const GEV_MAP_T gevMap[5] = {
    {0, 0x0, GEV_BOOT_PARAM_LEN},
    {1, GEV_FLAGS_OFFSET, GEV_ITEM_MAX},
    {2, GEV_RESERVED_OFFSET, GEV_SLOTS_OFFSET - GEV_RESERVED_OFFSET},
    {3, GEV_SLOTS_OFFSET, GEV_ITEM_MAX *GEV_SLOT_LEN},
    {4, GEV_FLAGS_OFFSET, GEV_CONTENT_LEN - GEV_FLAGS_OFFSET},
};

int flashGevInited = 0;
int gev_debug = 0;

namespace {

struct DefaultVariable {
    const char *name;
    const char *value;
};

constexpr std::array<DefaultVariable, 18> kDefaults{{
    {"START_CONFIG", "flash:config1.cfg"},
    {"BACKUP_CONFIG", "flash:config2.cfg"},
    {"START_IMAGE", "flash:image1.bin"},
    {"BACKUP_IMAGE", "flash:image2.bin"},
    {"FL_VER", "0x10500"},
    {"FL_SIZE_BOOT", "0x100000"},
    {"FL_OFFSET_KERNEL", "0x1300000"},
    {"FL_SIZE_KERNEL", "0x800000"},
    {"FL_OFFSET_USRIMG1", "0xa00000"},
    {"FL_SIZE_USRIMG1", "0x900000"},
    {"FL_OFFSET_USRIMG2", "0x100000"},
    {"FL_SIZE_USRIMG2", "0x900000"},
    {"FL_OFFSET_USRAPP", "0x1b00000"},
    {"FL_SIZE_USRAPP", "0x3c0000"},
    {"START_NO_CONFIG", "0"},
    {"FL_OFFSET_FW_HEAD", "0x1ec0000"},
    {"FL_SIZE_FW_HEAD", "0x40000"},
    {"NEED_CHECK_FW_HEAD", "1"},
}};

constexpr std::array<const char *, 14> kRequired{"START_CONFIG",      "BACKUP_CONFIG",    "FL_VER",
                                                 "FL_SIZE_BOOT",      "FL_OFFSET_KERNEL", "FL_SIZE_KERNEL",
                                                 "FL_OFFSET_USRIMG1", "FL_SIZE_USRIMG1",  "FL_OFFSET_USRIMG2",
                                                 "FL_SIZE_USRIMG2",   "FL_OFFSET_USRAPP", "FL_SIZE_USRAPP",
                                                 "FL_OFFSET_FW_HEAD", "FL_SIZE_FW_HEAD"};

// Kept by updateGevItem.
constexpr std::array<const char *, 15> kKept{
    "START_IMAGE",       "BACKUP_IMAGE",    "START_NO_CONFIG",  "START_CONFIG",      "BACKUP_CONFIG",
    "FL_OFFSET_KERNEL",  "FL_SIZE_BOOT",    "FL_SIZE_KERNEL",   "FL_OFFSET_USRIMG1", "FL_SIZE_USRIMG1",
    "FL_OFFSET_USRIMG2", "FL_SIZE_USRIMG2", "FL_OFFSET_USRAPP", "FL_SIZE_USRAPP",    "FL_VER"};

constexpr const char *kImage1 = "flash:image1.bin";
constexpr const char *kImage2 = "flash:image2.bin";
constexpr size_t kImageCompareLen = 160;

struct EnvNode {
    std::string name;
    std::string value;
    uint32_t slot;
};

// pEnvHead: the live variables in slot order as read, new names at the
// tail. Guarded by g_lock. Lives as long as the process: RPC workers may
// still read it while the process exits.
std::vector<EnvNode> &g_env = *new std::vector<EnvNode>;
pal_mutex_t g_lock = nullptr;  // "gevItem", created on first load, never freed
bool g_loading = false;        // a load is running (guarded by g_lock)

EnvNode *find(const char *name) {
    for (auto &n : g_env) {
        if (n.name == name) return &n;
    }
    return nullptr;
}

std::string field(const uint8_t *p, size_t width) {
    return std::string(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), width));
}

bool ensure_lock() {
    if (g_lock == nullptr) g_lock = pal_mutex_create("gevItem");
    return g_lock != nullptr;
}

bool valid() {
    auto image_ok = [](const char *name) {
        const EnvNode *n = find(name);
        return n && (std::strncmp(n->value.c_str(), kImage1, kImageCompareLen) == 0 ||
                     std::strncmp(n->value.c_str(), kImage2, kImageCompareLen) == 0);
    };
    if (!image_ok("START_IMAGE") || !image_ok("BACKUP_IMAGE")) return false;
    return std::all_of(kRequired.begin(), kRequired.end(), [](const char *n) { return find(n) != nullptr; });
}

// Reads the item into the list; false when the item cannot be read or is
// not the size of an environment.
bool read_list() {
    uint32_t len = 0;
    std::unique_ptr<uint8_t, decltype(&std::free)> value(
        static_cast<uint8_t *>(flashAppInnerGet(FLASH_INNER_TYPE_GEV, &len)), &std::free);
    if (!value || len < GEV_CONTENT_LEN) return false;
    g_env.clear();
    const uint8_t *flags = value.get() + GEV_FLAGS_OFFSET;
    for (uint32_t slot = 0; slot < GEV_ITEM_MAX; ++slot) {
        if (flags[slot] != GEV_FLAG_ACTIVE) continue;
        const uint8_t *rec = value.get() + GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN;
        // At most 255 characters each: a field without its NUL ends there.
        std::string name = field(rec, GEV_NAME_LEN - 1), val = field(rec + GEV_NAME_LEN, GEV_VALUE_LEN - 1);
        if (name.empty() || val.empty()) {
            FLASH_DBG(gev_debug, "Gev index=%d length is 0, and will be ignored.\r\n",
                      static_cast<int>(slot));
            continue;
        }
        g_env.push_back({std::move(name), std::move(val), slot});
    }
    return true;
}

int load() {
    if (!ensure_lock()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (!g_env.empty()) FLASH_DBG(gev_debug, "Reinit the environment list.\r\n");
    g_env.clear();
    g_loading = true;
    struct Done {
        ~Done() { g_loading = false; }
    } done;
    if (!read_list()) {
        std::printf("Failed to get gev at first read, and we will reset gev.\r\n");
        if (resetEnv() != 0 || !read_list()) {
            std::printf("Fatal error: Failed to get gev at second read.\r\n");
            return -1;
        }
    }
    return 0;
}

bool ensure_loaded() {
    if (flashGevInited) return true;
    if (flashAppInnerGevInit() != 0) {
        std::printf("Fatal error: Failed to init the gev.\r\n");
        return false;
    }
    return true;
}

int write_slot_flags(uint32_t base, const uint8_t *flags) {
    return pc::flash::inner_write(base + GEV_FLAGS_OFFSET, flags, GEV_ITEM_MAX);
}

// Rewrites flags and slots from the list, in list order from slot 0.
int set_back() {
    uint32_t len = 0;
    std::unique_ptr<uint8_t, decltype(&std::free)> value(
        static_cast<uint8_t *>(flashAppInnerGet(FLASH_INNER_TYPE_GEV, &len)), &std::free);
    if (!value || len < GEV_CONTENT_LEN) return -1;
    uint8_t *content = value.get();
    std::memset(content + GEV_FLAGS_OFFSET, GEV_FLAG_BLANK, GEV_ITEM_MAX);
    std::memset(content + GEV_SLOTS_OFFSET, 0xff, GEV_ITEM_MAX * GEV_SLOT_LEN);
    uint32_t slot = 0;
    for (auto &n : g_env) {
        uint8_t *rec = content + GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN;
        std::memset(rec, 0, GEV_SLOT_LEN);
        std::memcpy(rec, n.name.data(), n.name.size());
        std::memcpy(rec + GEV_NAME_LEN, n.value.data(), n.value.size());
        content[GEV_FLAGS_OFFSET + slot] = GEV_FLAG_ACTIVE;
        n.slot = slot++;
    }
    if (flashAppInnerSet(FLASH_INNER_TYPE_GEV, content, len, 0) != 0) return -1;
    FLASH_DBG(gev_debug, "Gev setback ok, index=%d.\r\n", static_cast<int>(slot));
    flashGevInited = 0;  // reload on next use
    return 0;
}

}  // namespace

namespace pc::flash {

void forget_environment() {
    flashAppInited = 0;
    flashDistributeInfo.valid = 0;
    if (g_lock) {
        pc::pal::MutexGuard guard(g_lock);
        g_env.clear();
        flashGevInited = 0;
    } else {
        g_env.clear();
        flashGevInited = 0;
    }
}

}  // namespace pc::flash

extern "C" {

int getDftGevContent(unsigned char *buf, unsigned int len) {
    if (buf == nullptr || len < GEV_CONTENT_LEN) return -1;
    char fsSize[16];
    if (flashGetDftGevFsSize(fsSize) != 0) {
        std::printf("Fatal error: Failed to get default fs size.\r\n");
        return -1;
    }
    std::memset(buf, 0xff, GEV_CONTENT_LEN);
    for (size_t i = 0; i < kDefaults.size(); ++i) {
        uint8_t *rec = buf + GEV_SLOTS_OFFSET + i * GEV_SLOT_LEN;
        std::memset(rec, 0, GEV_SLOT_LEN);
        std::memcpy(rec, kDefaults[i].name, std::strlen(kDefaults[i].name));
        std::memcpy(rec + GEV_NAME_LEN, kDefaults[i].value, std::strlen(kDefaults[i].value));
        buf[GEV_FLAGS_OFFSET + i] = GEV_FLAG_ACTIVE;
    }
    return 0;
}

int flashAppInnerGevInit(void) {
    int rc = load();
    if (rc == 0) {
        bool ok;
        {
            pc::pal::MutexGuard guard(g_lock);
            ok = valid();
        }
        if (!ok) {
            std::printf("Gev is not valid, and The gev will be reset.\r\n");
            rc = resetEnv() == 0 ? load() : -1;
        }
    }
    if (rc != 0) std::printf("Failed to read gev to memory.\r\n");
    flashGevInited = 1;  // a failure is not retried on every call
    return rc;
}

int getEnvItem(const char *name, char *out) {
    if (name == nullptr || out == nullptr) return -1;
    std::memset(out, 0, GEV_VALUE_LEN);
    if (!ensure_loaded()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    const EnvNode *n = find(name);
    if (n == nullptr) {
        FLASH_DBG(gev_debug, "Warning: Environment variable %s doesn't exist.\r\n", name);
        return -1;
    }
    std::memcpy(out, n->value.data(), n->value.size());
    return 0;
}

int setEnvItem(const char *name, const char *value) {
    if (name == nullptr || value == nullptr || *name == '\0' || *value == '\0' ||
        std::strlen(name) >= GEV_NAME_LEN || std::strlen(value) >= GEV_VALUE_LEN) {
        FLASH_DBG(gev_debug, "%s, invalid param.\r\n", __func__);
        return -1;
    }
    if (!ensure_loaded()) return -1;
    int rc = 0;
    {
        pc::pal::MutexGuard guard(g_lock);
        EnvNode *node = find(name);
        if (node && node->value == value) return 0;
        if (node == nullptr && g_env.size() >= GEV_ITEM_MAX) {
            std::printf("Warning: Failed to set %s=%s, %d items at most.\r\n", name, value, GEV_ITEM_MAX);
            return -1;
        }
        uint32_t base = 0;
        if (flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &base) != 0) {
            std::printf("Fatal error: Failed to set gev content offset.\r\n");
            return -1;
        }
        uint8_t flags[GEV_ITEM_MAX];
        if (l_readFlash(flags, GEV_ITEM_MAX, base + GEV_FLAGS_OFFSET) != 0) {
            std::printf("Fatal error: Failed to get gev bmp.\r\n");
            return -1;
        }
        uint8_t *blank = std::find(flags, flags + GEV_ITEM_MAX, GEV_FLAG_BLANK);
        if (blank == flags + GEV_ITEM_MAX) {
            std::printf("Fatal error: Can't find a blank gev.\r\n");
            return -1;
        }
        uint32_t slot = static_cast<uint32_t>(blank - flags);
        uint8_t rec[GEV_SLOT_LEN] = {};
        std::memcpy(rec, name, std::strlen(name));
        std::memcpy(rec + GEV_NAME_LEN, value, std::strlen(value));
        // The pair first, then the flags that make it live: a stop between
        // the two leaves the old value in force.
        if (pc::flash::inner_write(base + GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN, rec, GEV_SLOT_LEN) != 0) {
            std::printf("Fatal error: Failed to set gev content.\r\n");
            return -1;
        }
        flags[slot] = GEV_FLAG_ACTIVE;
        if (node) flags[node->slot] = GEV_FLAG_INACTIVE;
        if (write_slot_flags(base, flags) != 0) {
            std::printf("Fatal error: Failed to set gev pbm.\r\n");
            return -1;
        }
        // The list follows the flash only once the flash has the change.
        if (node) {
            node->value = value;
            node->slot = slot;
        } else {
            g_env.push_back({name, value, slot});
        }
        if (std::find(flags, flags + GEV_ITEM_MAX, GEV_FLAG_BLANK) == flags + GEV_ITEM_MAX &&
            set_back() != 0) {
            std::printf("Fatal error: Failed to setback gev.\r\n");
            rc = -1;
        }
    }
    flashAppInit();
    return rc;
}

int delEnvItem(const char *name) {
    if (name == nullptr) return -1;
    if (!ensure_loaded()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    auto it = std::find_if(g_env.begin(), g_env.end(), [&](const EnvNode &n) { return n.name == name; });
    if (it == g_env.end()) {
        std::printf("Warning: Environment variable %s doesn't exist.\r\n", name);
        return 0;
    }
    uint32_t base = 0;
    uint8_t flags[GEV_ITEM_MAX];
    if (flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &base) != 0 ||
        l_readFlash(flags, GEV_ITEM_MAX, base + GEV_FLAGS_OFFSET) != 0) {
        std::printf("Fatal error: Failed to get gev bmp.\r\n");
        return -1;
    }
    flags[it->slot] = GEV_FLAG_INACTIVE;
    if (write_slot_flags(base, flags) != 0) {
        std::printf("Fatal error: Failed to set gev pbm.\r\n");
        return -1;
    }
    g_env.erase(it);
    return 0;
}

int copyEnvItem(const char *dst, const char *src) {
    if (dst == nullptr || src == nullptr) return -1;
    char value[GEV_VALUE_LEN];
    if (getEnvItem(src, value) != 0) return -1;
    return setEnvItem(dst, value);
}

int updateGevItem(void) {
    if (!ensure_loaded()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    std::vector<EnvNode> snapshot = g_env;
    for (const auto &n : snapshot) {
        bool keep = std::any_of(kKept.begin(), kKept.end(), [&](const char *k) { return n.name == k; });
        if (keep) continue;
        FLASH_DBG(gev_debug, "Remove gev, %s=%s\r\n", n.name.c_str(), n.value.c_str());
        if (delEnvItem(n.name.c_str()) != 0) {
            std::printf("Fatal error: Failed to remove gev, %s=%s, index=%d\r\n", n.name.c_str(),
                        n.value.c_str(), static_cast<int>(n.slot));
            return -1;
        }
    }
    return 0;
}

int resetEnv(void) {
    std::vector<uint8_t> content(GEV_CONTENT_LEN);
    if (getDftGevContent(content.data(), GEV_CONTENT_LEN) != 0) {
        std::printf("Get default content failed.\r\n");
        return -1;
    }
    if (flashAppInnerSet(FLASH_INNER_TYPE_GEV, content.data(), GEV_CONTENT_LEN, 1) != 0) {
        std::printf("Fata error: Failed to set gev to default.\r\n");
        return -1;
    }
    flashGevInited = 0;
    // Inside a load the record is reloaded on its next use instead: loading
    // it now would load the environment again.
    if (g_loading) {
        flashAppInited = 0;
    } else if (flashAppInit() != 0) {
        std::printf("Fatal error: Failed to init flash app.\r\n");
        return -1;
    }
    FLASH_DBG(gev_debug, "Reset gev success.\r\n");
    return 0;
}

int printEnvItems(void) {
    if (!ensure_loaded()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    std::printf("Global environment variables:\r\n");
    int i = 1;
    for (const auto &n : g_env) std::printf("\t%-2d, %s=%s\r\n", i++, n.name.c_str(), n.value.c_str());
    std::printf("\r\n");
    return 0;
}

int sysGetBootFromFlash(unsigned char *buf) {
    uint32_t base = 0;
    if (buf == nullptr || !ensure_loaded() || flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &base) != 0 ||
        l_readFlash(buf, GEV_BOOT_PARAM_LEN, base) != 0) {
        std::printf("Failed to get boot param.\r\n");
        return -1;
    }
    return 0;
}

int sysSetBootToFlash(const unsigned char *buf) {
    uint32_t base = 0;
    if (buf == nullptr || !ensure_loaded()) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &base) != 0 ||
        pc::flash::inner_write(base, buf, GEV_BOOT_PARAM_LEN) != 0) {
        std::printf("Failed to write boot config to flash\r\n");
        return -1;
    }
    return 0;
}

int getStartUpIndex(void) {
    char value[GEV_VALUE_LEN];
    if (getEnvItem("START_IMAGE", value) != 0) return 1;
    return std::strcmp(value, kImage2) == 0 ? 2 : 1;
}

int setStartUpIndex(int n) {
    if (n != 1 && n != 2) return -1;
    if (setEnvItem("START_IMAGE", n == 1 ? kImage1 : kImage2) != 0 ||
        setEnvItem("BACKUP_IMAGE", n == 1 ? kImage2 : kImage1) != 0) {
        return -1;
    }
    char value[GEV_VALUE_LEN];
    return getEnvItem("START_IMAGE", value);
}

}  // extern "C"
