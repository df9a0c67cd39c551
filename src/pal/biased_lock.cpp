// The lock that leans towards one thread (see biased_lock.h).
#include "pal/biased_lock.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pc::pal {

namespace {

long membarrier_call(int command) { return syscall(SYS_membarrier, command, 0, 0); }

bool register_barrier() {
    return membarrier_call(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0 &&
           membarrier_call(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0;
}

}  // namespace

bool process_barrier_ready() {
    static const bool ready = register_barrier();
    return ready;
}

void process_barrier() {
    // The registration carries over fork(); registering again is harmless.
    if (membarrier_call(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return;
    if (register_barrier()) return;
    if (membarrier_call(MEMBARRIER_CMD_GLOBAL) == 0) return;
    // A lean exists only where the barrier worked, so the kernel took it
    // away: going on could let two threads into one section.
    std::fputs("pal: the process memory barrier stopped working\n", stderr);
    std::abort();
}

void BiasedLock::lock_inner(const void *me) {
    inner_.lock();
    const void *owner = owner_.load(std::memory_order_relaxed);
    if (owner != nullptr && owner != me) {
        owner_.store(nullptr, std::memory_order_relaxed);
        process_barrier();
        wait_owner_idle();
        lean_after_ = std::min(lean_after_ * 2, kMaxLeanAfter);
        last_ = nullptr;
        streak_ = 0;
        return;
    }
    if (owner != nullptr) return;  // ours already; we are not busy the other way
    if (last_ != me) {
        last_ = me;
        streak_ = 1;
    } else if (++streak_ >= lean_after_ && process_barrier_ready()) {
        owner_.store(me, std::memory_order_relaxed);
    }
}

bool BiasedLock::take_for_walk() {
    inner_.lock();
    last_ = nullptr;
    streak_ = 0;
    if (owner_.load(std::memory_order_relaxed) == nullptr) return false;
    owner_.store(nullptr, std::memory_order_relaxed);
    return true;
}

void BiasedLock::wait_owner_idle() {
    for (unsigned tries = 0; busy_.load(std::memory_order_acquire); ++tries) wait_step(tries);
}

}  // namespace pc::pal
