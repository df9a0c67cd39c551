// The priority-raising lock: one process-wide mutex for short sections.
#include <sched.h>

#include "platform_core/pal.h"

namespace {

constexpr int kSplPriority = 90;
pal_mutex_t g_spl_mutex = nullptr;  // "spl mutex", made by pal_spl_init
int g_spl_level = 0;                // nesting; guarded by g_spl_mutex

void set_policy_unless_rr(int policy, int priority) {
    int current = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &current, &param) != 0 || current == SCHED_RR) return;
    param.sched_priority = priority;
    // Raising needs the right to; without it the section is still exclusive.
    pthread_setschedparam(pthread_self(), policy, &param);
}

}  // namespace

extern "C" {

PC_API int pal_spl_init(void) {
    if (g_spl_mutex == nullptr) {
        g_spl_mutex = pal_mutex_create("spl mutex");
        if (g_spl_mutex == nullptr) return -1;
    }
    g_spl_level = 0;
    return 0;
}

PC_API int pal_splhi(void) {
    if (g_spl_mutex == nullptr && pal_spl_init() != 0) return -1;
    set_policy_unless_rr(SCHED_FIFO, kSplPriority);
    pal_mutex_take(g_spl_mutex, PAL_WAIT_FOREVER);
    return ++g_spl_level;
}

PC_API int pal_spl(void) {
    if (g_spl_mutex == nullptr) return -1;
    set_policy_unless_rr(SCHED_OTHER, 0);
    --g_spl_level;
    pal_mutex_give(g_spl_mutex);
    return 0;
}

}  // extern "C"
