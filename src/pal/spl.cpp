// The priority-raising lock: one process-wide mutex for short sections.
#include <sched.h>

#include <atomic>

#include "platform_core/pal.h"

namespace {

constexpr int kSplPriority = 90;
std::atomic<pal_mutex_t> g_spl_mutex{nullptr};  // "spl mutex", made once, never destroyed
int g_spl_level = 0;                            // nesting; guarded by g_spl_mutex

// The spl mutex, made on first use. Threads that come here together all
// get the same one: the first to publish it wins, the others drop theirs.
pal_mutex_t spl_mutex() {
    pal_mutex_t m = g_spl_mutex.load(std::memory_order_acquire);
    if (m != nullptr) return m;
    pal_mutex_t fresh = pal_mutex_create("spl mutex");
    if (fresh == nullptr) return nullptr;
    if (g_spl_mutex.compare_exchange_strong(m, fresh, std::memory_order_acq_rel)) return fresh;
    pal_mutex_destroy(fresh);
    return m;
}

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
    // The level starts at 0 and is the holder's to change: a late call
    // while some thread is inside must not reset it under that thread.
    return spl_mutex() != nullptr ? 0 : -1;
}

PC_API int pal_splhi(void) {
    pal_mutex_t m = spl_mutex();
    if (m == nullptr) return -1;
    set_policy_unless_rr(SCHED_FIFO, kSplPriority);
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    return ++g_spl_level;
}

PC_API int pal_spl(void) {
    pal_mutex_t m = g_spl_mutex.load(std::memory_order_acquire);
    if (m == nullptr) return -1;
    set_policy_unless_rr(SCHED_OTHER, 0);
    --g_spl_level;
    pal_mutex_give(m);
    return 0;
}

}  // extern "C"
