// Shared segments of the simulated switch and their robust locks
// (sim_shared_segment.h).
#include "sim_shared_segment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace pc::sim {

namespace {

enum : uint32_t { kFresh = 0, kInitialising = 1, kReady = 2 };

// How long an attacher waits for the creator to publish the contents; a
// creator killed while it built them leaves them to the next process.
constexpr auto kInitWait = std::chrono::seconds(5);
constexpr auto kInitPoll = std::chrono::milliseconds(1);
constexpr int kMode = 0600;

void *attach_id(int id) {
    void *p = shmat(id, nullptr, 0);
    return p == reinterpret_cast<void *>(-1) ? nullptr : p;
}

// The segment of `key`, made anew when one of another size is in the way.
int segment_id(key_t key, size_t size) {
    int id = shmget(key, size, IPC_CREAT | kMode);
    if (id >= 0 || errno != EINVAL) return id;
    int old = shmget(key, 0, 0);
    if (old >= 0) shmctl(old, IPC_RMID, nullptr);
    return shmget(key, size, IPC_CREAT | kMode);
}

bool wait_ready(SegmentHeader &h) {
    auto until = std::chrono::steady_clock::now() + kInitWait;
    while (h.state.load(std::memory_order_acquire) != kReady) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(kInitPoll);
    }
    return true;
}

void build(SegmentHeader &h, size_t size, uint32_t magic, void (*init)(void *)) {
    init(&h);
    h.magic = magic;
    h.size = static_cast<uint32_t>(size);
    h.state.store(kReady, std::memory_order_release);
}

// A block of this process only, for a system that refuses the segment.
void *private_block(size_t size, uint32_t magic, void (*init)(void *)) {
    void *p = ::operator new (size, std::align_val_t{alignof(std::max_align_t)}, std::nothrow);
    if (p == nullptr) std::abort();
    std::memset(p, 0, size);
    build(*static_cast<SegmentHeader *>(p), size, magic, init);
    return p;
}

}  // namespace

void SharedMutex::init() {
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    if (pthread_mutex_init(&m_, &a) != 0) {
        // No robust futexes here (qemu-user): process-shared only.
        pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_STALLED);
        pthread_mutex_init(&m_, &a);
    }
    pthread_mutexattr_destroy(&a);
}

void SharedMutex::lock() {
    // The owner died holding it: what it guards is whole table entries, so
    // the lock is marked consistent and taken over.
    if (pthread_mutex_lock(&m_) == EOWNERDEAD) pthread_mutex_consistent(&m_);
}

void *attach_segment(key_t key, size_t size, uint32_t magic, void (*init)(void *)) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int id = segment_id(key, size);
        void *p = id >= 0 ? attach_id(id) : nullptr;
        if (p == nullptr) break;
        auto &h = *static_cast<SegmentHeader *>(p);
        uint32_t fresh = kFresh;
        if (h.state.compare_exchange_strong(fresh, kInitialising, std::memory_order_acq_rel)) {
            build(h, size, magic, init);
            return p;
        }
        if (fresh > kReady) {
            // Not a state of ours: left by another build.
            shmctl(id, IPC_RMID, nullptr);
            shmdt(p);
            continue;
        }
        if (!wait_ready(h)) {
            build(h, size, magic, init);  // its creator died while it built it
            return p;
        }
        if (h.magic == magic && h.size == size) return p;
        // Left by another build: made again for this one.
        shmctl(id, IPC_RMID, nullptr);
        shmdt(p);
    }
    std::fprintf(stderr,
                 "simulated switch: no shared segment 0x%x (%s); this process has a switch of its own\n",
                 static_cast<unsigned>(key), std::strerror(errno));
    return private_block(size, magic, init);
}

}  // namespace pc::sim
