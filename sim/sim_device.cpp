// Hardware identity of the simulated switch: device type, unit numbers, the
// number of LAGs, and a recording port-mode hook.
#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform_core/appintf.h"
#include "platform_core/up_platform.h"
#include "platform_sim/sim_device.h"

namespace {

constexpr int kUnset = -1;
constexpr int kUnitId = 1;     // a stand-alone unit
constexpr int kLagCount = 14;  // port-channels 1..14
std::atomic<int> g_dev_type{kUnset};

int type_from_env() {
    int t = simDeviceTypeParse(std::getenv(SIM_ENV_DEV_TYPE));
    return t != 0 ? t : SIM_DEV_TYPE_DEFAULT;
}

// Port-mode hook records: one per inner port position of unit 1 and LAG.
constexpr int kModeSlots = 256;
std::mutex g_mode_lock;
int g_mode_calls[kModeSlots];  // g_mode_lock
int g_mode_last[kModeSlots];   // g_mode_lock

int mode_slot(UP up) {
    // Ports of unit 1 slot 0 at 0..127, LAGs at 128..255; others are not recorded.
    uint32_t type = up >> 24, port = up & 0xFFu;
    if (type == 1 && ((up >> 8) & 0xFFFFu) == 0x0100u && port < 128) return static_cast<int>(port);
    if (type == 2 && port < 128) return 128 + static_cast<int>(port);
    return -1;
}

int record_port_mode(UP up, int stacking) {
    int slot = mode_slot(up);
    if (slot < 0) return -1;
    std::lock_guard<std::mutex> guard(g_mode_lock);
    g_mode_calls[slot] += 1;
    g_mode_last[slot] = stacking ? 1 : 0;
    return 0;
}

}  // namespace

extern "C" {

int simDeviceTypeParse(const char *text) {
    if (text == nullptr || *text == '\0') return 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (*end == '\0')
        return DEV_TYPE_IS_VALID(v) && platformSupportDev[v].name[0] != '\0' ? static_cast<int>(v) : 0;
    for (int t = 1; t < DEV_TYPE_NUM; ++t)
        if (platformSupportDev[t].name[0] != '\0' && strcasecmp(platformSupportDev[t].name, text) == 0)
            return t;
    return 0;
}

void simDeviceSetType(int type) { g_dev_type.store(DEV_TYPE_IS_VALID(type) ? type : kUnset); }

int getDevType(void) {
    int t = g_dev_type.load();
    return t == kUnset ? type_from_env() : t;
}

int getUnitIDMin(void) { return kUnitId; }
int getUnitIDMax(void) { return kUnitId; }
int unitIsLegal(int unit) { return unit == kUnitId; }
int getChannelGroupNumber(void) { return kLagCount; }

void simPortModeHookReset(void) {
    std::lock_guard<std::mutex> guard(g_mode_lock);
    std::memset(g_mode_calls, 0, sizeof g_mode_calls);
    std::memset(g_mode_last, 0, sizeof g_mode_last);
}

void simPortModeHookInstall(void) {
    simPortModeHookReset();
    APPINTF_SET(APPINTF_SLOT_PORT_MODE, record_port_mode);
}

int simPortModeHookCalls(UP up) {
    int slot = mode_slot(up);
    if (slot < 0) return 0;
    std::lock_guard<std::mutex> guard(g_mode_lock);
    return g_mode_calls[slot];
}

int simPortModeHookLast(UP up) {
    int slot = mode_slot(up);
    if (slot < 0) return -1;
    std::lock_guard<std::mutex> guard(g_mode_lock);
    return g_mode_calls[slot] == 0 ? -1 : g_mode_last[slot];
}

}  // extern "C"
