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
    static constexpr unsigned kSpins = 128;
    static constexpr unsigned kYields = 8;
    static constexpr long kNapNs = 20000;

    static void relax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    void lock_contended() {
        for (unsigned tries = 0;; ++tries) {
            while (held_.load(std::memory_order_relaxed)) {
                if (tries < kSpins) {
                    relax();
                } else if (tries < kSpins + kYields) {
                    sched_yield();
                } else {
                    const timespec nap{0, kNapNs};
                    nanosleep(&nap, nullptr);
                }
                ++tries;
            }
            if (!held_.exchange(true, std::memory_order_acquire)) return;
        }
    }

    std::atomic<bool> held_{false};
};

}  // namespace pc::pal
