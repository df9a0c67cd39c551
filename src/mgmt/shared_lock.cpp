#include "mgmt/shared_lock.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace pc::mgmt {

namespace {

constexpr long kRecheckNs = 5 * 1000 * 1000;  // look at the holder every 5 ms

std::atomic_ref<uint32_t> atomic(uint32_t *word) { return std::atomic_ref<uint32_t>(*word); }

bool process_gone(uint32_t pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

void wait_while(uint32_t *word, uint32_t value) {
    struct timespec ts {
        0, kRecheckNs
    };
    // A shared futex: keyed by the page, so it works at any mapping address.
    syscall(SYS_futex, word, FUTEX_WAIT, value, &ts, nullptr, 0);
}

}  // namespace

void shared_lock(uint32_t *word) {
    const uint32_t self = static_cast<uint32_t>(getpid());
    for (;;) {
        uint32_t holder = 0;
        if (atomic(word).compare_exchange_strong(holder, self, std::memory_order_acquire)) return;
        if (holder != self && process_gone(holder) &&
            atomic(word).compare_exchange_strong(holder, self, std::memory_order_acquire))
            return;
        wait_while(word, holder);
    }
}

void shared_unlock(uint32_t *word) {
    atomic(word).store(0, std::memory_order_release);
    syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

}  // namespace pc::mgmt
