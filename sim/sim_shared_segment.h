// The simulated switch's hardware state is one per switch, not one per
// process: it lives in a System V shared segment that the first process of
// the switch (the core, at start) creates and every other process attaches.
// System V, so that an IPC namespace is one switch.
//
// A segment starts with a SegmentHeader. The process that creates it wins
// the header's state word (fresh -> initialising), builds the contents and
// publishes them (-> ready); the others wait for that. A segment left by
// another build (other magic or size) is removed and made again.
//
// Its locks are SharedMutex: process-shared and robust, so a process
// killed while it holds one does not hold it forever; the next owner takes
// it over (the state it guards is plain table entries, each at worst left
// as a register write cut short would leave it). Where the system has no
// robust futexes (qemu-user) the lock is process-shared only.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#pragma GCC visibility push(hidden)

namespace pc::sim {

class SharedMutex {
public:
    void init();  // once, by the segment's creator
    void lock();
    void unlock() { pthread_mutex_unlock(&m_); }

private:
    pthread_mutex_t m_;
};

// Holds a SharedMutex for its scope (or from take() until its end).
class SharedLock {
public:
    SharedLock() = default;
    explicit SharedLock(SharedMutex &m) { take(m); }
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;
    ~SharedLock() {
        if (m_ != nullptr) m_->unlock();
    }
    void take(SharedMutex &m) {
        m.lock();
        m_ = &m;
    }

private:
    SharedMutex *m_ = nullptr;
};

struct SegmentHeader {
    std::atomic<uint32_t> state;  // fresh (0), initialising, ready
    uint32_t magic;
    uint32_t size;
};

// Attaches (creating and initialising with `init` when missing) the segment
// of `key` holding `size` bytes that begin with a SegmentHeader. Never
// detached: the process's threads use it until the end. Null when the
// system refuses the segment.
void *attach_segment(key_t key, size_t size, uint32_t magic, void (*init)(void *));

// The segment of one type T (a struct that begins with SegmentHeader
// `header` and has a static `init(T &)`), attached once per process.
template <typename T>
T *segment(key_t key, uint32_t magic) {
    static T *const s = static_cast<T *>(
        attach_segment(key, sizeof(T), magic, [](void *p) { T::init(*static_cast<T *>(p)); }));
    return s;
}

}  // namespace pc::sim

#pragma GCC visibility pop
