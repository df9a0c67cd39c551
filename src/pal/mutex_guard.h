// RAII guard for the library's own PAL mutexes.
//
//   pc::pal::MutexGuard guard(g_lock);          // waits without limit
//   pc::pal::MutexGuard guard(g_lock, 100);     // waits up to 100 ms
//   if (!guard.held()) return -1;
#pragma once

#include "platform_core/pal.h"

namespace pc::pal {

class MutexGuard {
public:
    explicit MutexGuard(pal_mutex_t mutex, unsigned timeout_ms = PAL_WAIT_FOREVER,
                        const char *func = __builtin_FUNCTION(), int line = __builtin_LINE())
        : mutex_(mutex), func_(func), line_(line) {
        held_ = pal_mutex_take_int(mutex_, timeout_ms, func_, line_) == 0;
    }
    ~MutexGuard() { release(); }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;

    bool held() const { return held_; }
    void release() {
        if (held_) pal_mutex_give_int(mutex_, func_, line_);
        held_ = false;
    }

private:
    pal_mutex_t mutex_;
    const char *func_;
    int line_;
    bool held_ = false;
};

}  // namespace pc::pal
