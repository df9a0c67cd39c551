// The record behind a pal_mutex_t.
//
// A PAL mutex is a plain (non-recursive) POSIX mutex plus the bookkeeping
// that makes it recursive for its owner and lets it refuse a give by another
// thread. owner, recursion and depth are written only by the thread that
// holds `lock` (or is about to release it); owner is read by any thread to
// test "do I hold it", so it is atomic. The number of users (holder plus
// waiters) is derived: waiters counts only the threads that had to block,
// so an uncontended take and give touch no shared counter.
#pragma once

#include <pthread.h>

#include <atomic>

#include "platform_core/pal.h"

struct pal_mutex_s {
    pthread_mutex_t lock;                // the underlying lock
    char *name;                          // owned copy of the creation name (malloc)
    std::atomic<pal_thread_t> owner{0};  // holder; 0 when free (guarded by lock)
    int recursion = 0;                   // takes by the owner beyond the first (guarded by lock)
    int depth = 0;                       // takes not yet given back (guarded by lock)
    std::atomic<int> waiters{0};         // threads blocked in a take; statistics only
};

namespace pc::pal {

// Ctrl-C hold-back: called by a mutex take in the main thread only.
void ctrl_c_block_for_take();

}  // namespace pc::pal
