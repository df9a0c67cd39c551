// A lock in one 32-bit word of shared memory that keeps processes apart:
// the word holds the process id of its holder (0 when free). Waiters sleep
// on the word (a shared futex) and look every few milliseconds whether the
// holder's process still runs; a waiter that finds it gone (ended, reaped
// or not yet: a zombie counts as gone) takes the lock over, so a process
// that dies holding it does not block the others for ever. Not recursive: threads of one process wait for
// each other too.
#pragma once

#include <cstdint>

namespace pc::mgmt {

void shared_lock(uint32_t *word);
void shared_unlock(uint32_t *word);

// RAII guard.
class SharedLockGuard {
public:
    explicit SharedLockGuard(uint32_t *word) : word_(word) { shared_lock(word_); }
    ~SharedLockGuard() { shared_unlock(word_); }
    SharedLockGuard(const SharedLockGuard &) = delete;
    SharedLockGuard &operator=(const SharedLockGuard &) = delete;

private:
    uint32_t *word_;
};

}  // namespace pc::mgmt
