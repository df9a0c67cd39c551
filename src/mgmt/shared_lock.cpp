#include "mgmt/shared_lock.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <string>

#include "diag/proc_files.h"

namespace pc::mgmt {

namespace {

constexpr long kRecheckNs = 5 * 1000 * 1000;  // look at the holder every 5 ms

std::atomic_ref<uint32_t> atomic(uint32_t *word) { return std::atomic_ref<uint32_t>(*word); }

bool no_such_process(uint32_t pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// A task that has ended: a zombie or dead state, or no stat file any more.
bool task_ended(const std::string &stat_path) {
    auto stat = pc::diag::read_task_stat(stat_path);
    return !stat || stat->fields.empty() || stat->fields[0] == "Z" || stat->fields[0] == "X";
}

// A holder that died is gone even before its parent reaps it: kill() still
// finds a zombie, so its tasks' states are read too. A process is gone
// when none of its threads is left running (a main thread that ended while
// others still run shows as a zombie by itself).
bool process_gone(uint32_t pid) {
    if (no_such_process(pid)) return true;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    const std::vector<int> ids = pc::diag::numeric_entries(tasks);
    if (ids.empty()) return no_such_process(pid);  // no /proc, or reaped just now
    for (int id : ids)
        if (!task_ended(tasks + "/" + std::to_string(id) + "/stat")) return false;
    return true;
}

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
