// The start-up of a feature process (see axmsg_client/feature_process.h).
#include "axmsg_client/feature_process.h"

#include <cstdio>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/notify.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace {

struct Step {
    const char *name;
    int (*run)(int pid, unsigned timeout_ms);
};

// Each step once per process: a repeated call (after the hub was late)
// goes on where the last one stopped.
constexpr Step kSteps[] = {
    {"axshm_init", [](int, unsigned) { return axshm_init(); }},
    {"debugFlagInit", [](int, unsigned) { return debugFlagInit(); }},
    {"up_mod_init", [](int, unsigned) { return up_mod_init(); }},
    {"adPmpInit", [](int, unsigned) { return adPmpInit(); }},
    {"axmsg_client_init",
     [](int pid, unsigned timeout_ms) {
         static bool started = false;
         if (!started) {
             int rc = axmsg_client_init(pid, timeout_ms);
             if (rc == -1) return -1;
             started = true;
             return rc;
         }
         return axmsg_client_wait_connected(timeout_ms) == 0 ? 0 : 1;
     }},
    {"axrpcInit", [](int, unsigned) { return axrpcInit(); }},
    {"notify_lib_init", [](int, unsigned) { return notify_lib_init(); }},
};
constexpr size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

size_t g_done = 0;  // steps that succeeded; only the start-up thread calls this

}  // namespace

extern "C" {

PC_API int axFeatureProcessInit(int pid, unsigned connect_timeout_ms) {
    if (!IS_PID_VALID(pid) || pid == PID_CORE || pid != pidGetCurrent()) {
        std::printf("feature process start-up: process id %d is not this process's id %d\n", pid,
                    pidGetCurrent());
        return -1;
    }
    for (; g_done < kStepCount; ++g_done) {
        const Step &step = kSteps[g_done];
        if (int rc = step.run(pid, connect_timeout_ms); rc != 0) {
            std::printf("feature process start-up: %s failed (%d)\n", step.name, rc);
            std::fflush(stdout);
            return rc;
        }
    }
    return 0;
}

}  // extern "C"
