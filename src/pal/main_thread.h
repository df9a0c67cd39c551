// The process's main thread mark, read on every mutex take and give.
#pragma once

#include <pthread.h>

#include <atomic>

#include "platform_core/pal.h"

namespace pc::pal {

// 0 until pal_thread_main_set stores the main thread's identifier.
extern std::atomic<pal_thread_t> g_main_thread;

inline bool in_main_thread() {
    pal_thread_t main_id = g_main_thread.load(std::memory_order_relaxed);
    return main_id != 0 && pthread_equal(main_id, pthread_self());
}

}  // namespace pc::pal
