// Reboot requests: the message queue "/sysrbtrqst" (see platform_core/app.h).
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform_core/app.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/types.h"

namespace {

// The queue handle of this process: -1 until sysRebootInit succeeds, then
// fixed for the life of the process (guarded by g_queue_mutex).
std::mutex g_queue_mutex;
int g_queue = -1;

}  // namespace

extern "C" {

PC_API int sysRebootInit(void) {
    std::lock_guard guard(g_queue_mutex);
    if (g_queue >= 0) return 0;
    g_queue = pal_msgQ_create(SYS_REBOOT_QUEUE, SYS_REBOOT_QUEUE_DEPTH, SYS_REBOOT_MSG_SIZE, PAL_MSGQ_RDWR);
    if (g_queue < 0) {
        PFM_ERR(MID_PLATFORM, "Create sys_rbt_q msgq error\n");
        return -1;
    }
    return 0;
}

PC_API int sysReboot_local(int a, int b) {
    // A process that never ran sysRebootInit opens the queue now.
    if (sysRebootInit() != 0) return -1;
    const SYS_REBOOT_REQ_T request{static_cast<uint32_t>(b), static_cast<uint32_t>(a)};
    static_assert(sizeof request == SYS_REBOOT_MSG_SIZE);
    int rc;
    do {
        errno = 0;
        rc = pal_msgQ_send(g_queue, &request, sizeof request, 0, PAL_WAIT_FOREVER);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        PFM_ERR(MID_PLATFORM, "Send sys reboot error \n");
        return -1;
    }
    return 0;
}

}  // extern "C"
