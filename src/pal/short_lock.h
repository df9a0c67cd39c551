// A lock for sections of a few dozen instructions that are taken very often
// and rarely by two threads at once: the accounted allocator's shards.
//
// Taking it is one atomic exchange; giving it back is a plain release store,
// where a mutex needs a second atomic operation to learn whether anyone
// sleeps. A thread that finds it held spins briefly, then yields, then
// sleeps in short naps. The naps matter on this system: threads run under
// SCHED_RR at differing priorities, and a high-priority waiter that only
// spun or yielded could keep a preempted lower-priority holder off its CPU
// for ever. Sleeping gives the holder the CPU, so the wait is bounded.
//
// No owner is recorded and there is no recursion: never take it around code
// that may block or call back into the allocator.
#pragma once

#include <time.h>

#include <atomic>

#include <sched.h>

namespace pc::pal {

// One step of waiting for another thread to leave a short section: spin
// briefly, then yield, then nap (see above for why the naps matter).
// `tries` counts the steps taken so far.
inline void wait_step(unsigned tries) {
    constexpr unsigned kSpins = 128;
    constexpr unsigned kYields = 8;
    constexpr long kNapNs = 20000;
    if (tries < kSpins) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    } else if (tries < kSpins + kYields) {
        sched_yield();
    } else {
        const timespec nap{0, kNapNs};
        nanosleep(&nap, nullptr);
    }
}

class ShortLock {
public:
    ShortLock() = default;
    ShortLock(const ShortLock &) = delete;
    ShortLock &operator=(const ShortLock &) = delete;

    void lock() {
        if (!held_.exchange(true, std::memory_order_acquire)) return;
        lock_contended();
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    void lock_contended() {
        for (unsigned tries = 0;; ++tries) {
            while (held_.load(std::memory_order_relaxed)) wait_step(tries++);
            if (!held_.exchange(true, std::memory_order_acquire)) return;
        }
    }

    std::atomic<bool> held_{false};
};

}  // namespace pc::pal
