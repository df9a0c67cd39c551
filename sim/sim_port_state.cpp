// Administrative port states of the simulated switch and its chip count.
#include <map>
#include <mutex>

#include "platform_core/appintf.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/sibling.h"
#include "platform_sim/sim.h"

namespace {

std::mutex g_lock;
std::map<UP, int> g_state;     // guarded by g_lock
std::map<UP, int> g_shutdown;  // ports the user shut down; guarded by g_lock

int up_is_disable(UP up, int *disabled) {
    if (disabled == nullptr) return -1;
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_shutdown.find(up);
    *disabled = it != g_shutdown.end() && it->second != 0 ? 1 : 0;
    return 0;
}

}  // namespace

extern "C" {

uint32_t sdk_ndev = 1;

int adPortStateSet(UP up, int enable) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_state[up] = enable ? 1 : 0;
    return 0;
}

int simPortStateGet(UP up) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_state.find(up);
    return it == g_state.end() ? -1 : it->second;
}

void simPortStateReset(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_state.clear();
}

void simPortShutdownSet(UP up, int shutdown) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_shutdown[up] = shutdown ? 1 : 0;
}

void simPortHooksSet(void) { APPINTF_SET(APPINTF_SLOT_UP_IS_DISABLE, up_is_disable); }

}  // extern "C"
