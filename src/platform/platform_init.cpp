// platformInit: the core process's start-up, and the start-up flags.
#include <cstdlib>

#include "platform/startup_steps.h"
#include "platform_core/axpacket.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/web_pages.h"

namespace {

int g_pfm_inited = 0;  // set once every start-up step has succeeded

constexpr const char *kCacheDropCommands[] = {
    "sync",
    "echo 1 > /proc/sys/vm/drop_caches",
    "echo 2 > /proc/sys/vm/drop_caches",
    "echo 3 > /proc/sys/vm/drop_caches",
};

// The start-up flag other processes read to learn that the core is up.
int publish_init_flag() {
    constexpr int kFlagSize = static_cast<int>(sizeof(int));
    if (int rc = axshm_reg_data(PLATFORM_INIT, kFlagSize); rc != 0) {
        PFM_CALL_FAILED(MID_PLATFORM, rc, "axshm_reg_data(PLATFORM_INIT, sizeof(int))");
        return rc;
    }
    if (int rc = axshm_set_data(PLATFORM_INIT, &g_pfm_inited, kFlagSize); rc != 0) {
        PFM_CALL_FAILED(MID_PLATFORM, rc, "axshm_set_data(PLATFORM_INIT, &pfm_inited, sizeof(int))");
        return rc;
    }
    return 0;
}

void drop_caches() {
    for (const char *cmd : kCacheDropCommands) {
        int rc = std::system(cmd);
        (void)rc;  // results are ignored by design
    }
}

}  // namespace

extern "C" {

PC_API unsigned pfm_axconfig_load_finished = 0;

PC_API int isPfmInited(void) { return g_pfm_inited; }
PC_API unsigned isPfmAxconfigLoadFinished(void) { return pfm_axconfig_load_finished; }
PC_API void setPfmAxConfigLoadFinished(void) { pfm_axconfig_load_finished = 1; }

PC_API int platformInit(void) {
    int pid = pidGetCurrent();
    if (pid <= 0 || pid >= PID_MAX) {
        pfmLogEmit(PFM_LOG_ERR, MID_PLATFORM, __func__, __LINE__,
                   "Error: BASE_TH must be inited before platform service!");
        return -1;
    }
    for (const auto &step : pc::platform::startup_steps()) {
        int rc = step.run();
        if (rc != 0) {
            PFM_CALL_FAILED(MID_PLATFORM, rc, step.call_text);
            return rc;
        }
    }
    g_pfm_inited = 1;
    if (int rc = publish_init_flag(); rc != 0) return rc;
    drop_caches();
    // The packet service's management commands and web handlers are
    // registered here, once everything runs; their results do not stop the
    // start-up (each logs its own failure).
    axpacketRegisterCli();
    httpAxpacketRegister();
    httpCorePagesRegister();
    return 0;
}

}  // extern "C"
