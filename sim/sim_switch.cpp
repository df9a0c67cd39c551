// Readiness and default debug level of the simulated switch.
#include <atomic>
#include <cstdlib>

#include "platform_core/sibling.h"
#include "platform_sim/sim.h"

namespace {

// Errors only, unless the environment or a test says otherwise.
constexpr signed char kDefaultDebugLevel = 3;
constexpr int kUnset = -1000;

std::atomic<int> g_switch_inited{0};
std::atomic<int> g_default_level{kUnset};

int level_from_env() {
    const char *s = std::getenv(SIM_ENV_DEBUG_DEFAULT);
    if (s && s[0] >= '0' && s[0] <= '3' && s[1] == '\0') return s[0] - '0';
    return kDefaultDebugLevel;
}

}  // namespace

extern "C" {

void simSwitchSetInited(int inited) { g_switch_inited.store(inited ? 1 : 0); }
int isSwitchInited(void) { return g_switch_inited.load(); }

void simSetDefaultDbgSwitch(signed char level) { g_default_level.store(level); }

signed char getDefaultDbgSwitch(void) {
    int v = g_default_level.load();
    if (v == kUnset) v = level_from_env();
    return static_cast<signed char>(v);
}

}  // extern "C"
