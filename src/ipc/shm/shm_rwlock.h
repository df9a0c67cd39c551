// Readers-writer locks made of System V semaphore pairs.
//
// Pair k is semaphore 2k (write lock: 0 free, 1 held) and 2k+1 (reader
// slots: AXSHM_READER_SLOTS when free). A reader waits for the write
// semaphore to be 0 and takes one slot in the same semop. A writer first
// raises the write semaphore (so new readers wait), then takes all slots,
// which waits for the readers inside to leave. Every change uses SEM_UNDO,
// so a process that dies holding a lock gives it back through the kernel.
//
//   pc::ipc::ShmLockGuard guard(semid, pair, pc::ipc::ShmLockMode::Read);
//   if (!guard.held()) return -1;
#pragma once

#include "ipc/shm/shm.h"

namespace pc::ipc {

int shm_lock_take(int semid, int pair, ShmLockMode mode);
int shm_lock_give(int semid, int pair, ShmLockMode mode);

class ShmLockGuard {
public:
    ShmLockGuard(int semid, int pair, ShmLockMode mode) : semid_(semid), pair_(pair), mode_(mode) {
        held_ = shm_lock_take(semid_, pair_, mode_) == 0;
    }
    ~ShmLockGuard() { release(); }
    ShmLockGuard(const ShmLockGuard &) = delete;
    ShmLockGuard &operator=(const ShmLockGuard &) = delete;

    bool held() const { return held_; }
    void release() {
        if (held_) shm_lock_give(semid_, pair_, mode_);
        held_ = false;
    }

private:
    int semid_;
    int pair_;
    ShmLockMode mode_;
    bool held_ = false;
};

}  // namespace pc::ipc
