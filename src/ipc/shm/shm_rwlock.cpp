// Readers-writer lock operations on a semaphore pair, and the lock of one
// block (ShmBlockGuard, shm.h).
#include "ipc/shm/shm_rwlock.h"

#include <sys/sem.h>

#include <cerrno>

#include "ipc/shm/shm_layout.h"
#include "ipc/shm/shm_log.h"
#include "ipc/shm/shm_seqlock.h"

namespace pc::ipc {

namespace {

constexpr short kAllSlots = AXSHM_READER_SLOTS;

unsigned short write_sem(int pair) { return static_cast<unsigned short>(2 * pair); }
unsigned short reader_sem(int pair) { return static_cast<unsigned short>(2 * pair + 1); }

// semop that resumes after a signal.
int semop_retry(int semid, sembuf *ops, size_t n) {
    for (;;) {
        if (semop(semid, ops, n) == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

int read_take(int semid, int pair) {
    sembuf ops[2] = {{write_sem(pair), 0, 0}, {reader_sem(pair), -1, SEM_UNDO}};
    return semop_retry(semid, ops, 2);
}

int read_give(int semid, int pair) {
    sembuf op = {reader_sem(pair), 1, SEM_UNDO};
    return semop_retry(semid, &op, 1);
}

int write_take(int semid, int pair) {
    sembuf claim[2] = {{write_sem(pair), 0, 0}, {write_sem(pair), 1, SEM_UNDO}};
    if (semop_retry(semid, claim, 2) != 0) {
        AXSHM_LOG_ERR("semaphore_p failed");
        return -1;
    }
    sembuf drain = {reader_sem(pair), static_cast<short>(-kAllSlots), SEM_UNDO};
    if (semop_retry(semid, &drain, 1) != 0) {
        AXSHM_LOG_ERR("semaphore_p failed");
        sembuf back = {write_sem(pair), -1, SEM_UNDO};
        semop_retry(semid, &back, 1);
        return -1;
    }
    seq_write_begin(pair);
    return 0;
}

int write_give(int semid, int pair) {
    seq_write_end(pair);
    sembuf refill = {reader_sem(pair), kAllSlots, SEM_UNDO};
    sembuf unclaim = {write_sem(pair), -1, SEM_UNDO};
    int rc = 0;
    if (semop_retry(semid, &refill, 1) != 0) {
        AXSHM_LOG_ERR("semaphore_p failed");
        rc = -1;
    }
    if (semop_retry(semid, &unclaim, 1) != 0) {
        AXSHM_LOG_ERR("semaphore_p failed");
        rc = -1;
    }
    return rc;
}

bool pair_in_range(int pair) { return pair >= 0 && pair <= AXSHM_BLOCK_MAX; }

}  // namespace

int shm_lock_take(int semid, int pair, ShmLockMode mode) {
    if (semid < 0 || !pair_in_range(pair)) return -1;
    return mode == ShmLockMode::Read ? read_take(semid, pair) : write_take(semid, pair);
}

int shm_lock_give(int semid, int pair, ShmLockMode mode) {
    if (semid < 0 || !pair_in_range(pair)) return -1;
    return mode == ShmLockMode::Read ? read_give(semid, pair) : write_give(semid, pair);
}

ShmBlockGuard::ShmBlockGuard(const ShmAttachment &area, const ShmBlockRef &block, ShmLockMode mode)
    : semid_(area.semid), pair_(block_pair(block.index)), mode_(mode) {
    held_ = shm_lock_take(semid_, pair_, mode_) == 0;
}

ShmBlockGuard::~ShmBlockGuard() {
    if (held_) shm_lock_give(semid_, pair_, mode_);
}

}  // namespace pc::ipc
