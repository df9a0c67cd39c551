// A lock that leans towards the one thread that uses it.
//
// Each shard of the accounted allocator is, most of the time, used by one
// thread only: a thread's blocks come from one of the C library's
// per-thread heaps, and the shard follows the heap. For that thread even
// one atomic exchange per call is most of the allocator's cost, so a
// BiasedLock has two ways in:
//
// - The owner, the thread the lock leans to, marks itself busy with a plain
//   store and checks that it still is the owner: no atomic
//   read-modify-write and no fence instruction, only a compiler fence.
// - Every other thread takes the inner ShortLock. When the lock leans to a
//   thread, the taker first withdraws the lean: it clears the owner, makes
//   every thread of the process run a full memory barrier (membarrier(2),
//   the expedited private command), then waits until the old owner is no
//   longer busy. The barrier is what makes the owner's plain store and load
//   enough: either the owner's busy mark is visible after the barrier (and
//   is waited out), or the owner's check runs after the barrier and finds
//   it is owner no more, so it takes the inner lock like anyone else.
//
// A lock starts without a lean. It leans to a thread once that thread has
// taken the inner lock `lean_after` times in a row; every withdrawal
// doubles that number (up to kMaxLeanAfter), so a lock that passes between
// threads settles as a plain ShortLock after a few barriers (each about a
// microsecond on the host). The walks over every shard withdraw all leans
// with one barrier (`take_for_walk` below).
//
// Without a working membarrier (an old kernel) no lock ever leans: every
// thread takes the inner lock, as with a ShortLock.
//
// The same rules as for ShortLock hold: short sections only, no recursion,
// never around code that may block or call back into the allocator, and
// never from a signal handler (the owner way would let the handler into a
// section its own thread was interrupted in).
#pragma once

#include <atomic>
#include <cstdint>

#include "pal/short_lock.h"

namespace pc::pal {

// A value that differs between the threads alive at one time: the thread
// pointer, the address of the thread's control block (one register read,
// where the address of a thread-local variable in a shared object costs a
// load from the GOT besides). A thread that ends may pass it on to a new
// one, which is harmless: the old thread is in no section any more.
inline const void *this_thread_token() { return __builtin_thread_pointer(); }

// True when the process-wide barrier works here; leans are made only then.
bool process_barrier_ready();
// Makes every running thread of the process execute a full memory barrier.
void process_barrier();

class BiasedLock {
public:
    enum class Way : uint8_t { owner, inner };

    BiasedLock() = default;
    BiasedLock(const BiasedLock &) = delete;
    BiasedLock &operator=(const BiasedLock &) = delete;

    Way lock() {
        const void *me = this_thread_token();
        if (owner_.load(std::memory_order_relaxed) == me) {
            busy_.store(true, std::memory_order_relaxed);
            // Paired with the process barrier of a thread that withdraws the lean.
            std::atomic_signal_fence(std::memory_order_seq_cst);
            if (owner_.load(std::memory_order_acquire) == me) return Way::owner;
            busy_.store(false, std::memory_order_release);
        }
        lock_inner(me);
        return Way::inner;
    }

    void unlock(Way way) {
        if (way == Way::owner)
            busy_.store(false, std::memory_order_release);
        else
            inner_.unlock();
    }

    // For walks that must hold every shard at once, in three steps: take
    // each lock's inner lock with `take_for_walk` (true when a lean was
    // withdrawn); when any was, run one `process_barrier` and then
    // `wait_owner_idle` on each; at the end `end_walk` on each.
    bool take_for_walk();
    void wait_owner_idle();
    void end_walk() { inner_.unlock(); }

private:
    static constexpr uint32_t kFirstLeanAfter = 64;
    static constexpr uint32_t kMaxLeanAfter = 1u << 16;

    void lock_inner(const void *me);

    std::atomic<const void *> owner_{nullptr};  // written under inner_; read by the owner without it
    std::atomic<bool> busy_{false};             // written by the owner only: in a section by the owner way
    ShortLock inner_;
    const void *last_ = nullptr;             // the last thread in through inner_ (guarded by inner_)
    uint32_t streak_ = 0;                    // its takes in a row (guarded by inner_)
    uint32_t lean_after_ = kFirstLeanAfter;  // guarded by inner_
};

}  // namespace pc::pal
