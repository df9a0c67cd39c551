// The asynchronous scheduler (see axrpc_scheduler.h).
#include "ipc/rpc/axrpc_scheduler.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ipc/rpc/axrpc_workers.h"
#include "ipc/rpc/rpc.h"
#include "pal/mutex_guard.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"

namespace pc::ipc::rpc {

namespace {

// Requested beyond the PAL's own reserve: reading /proc and leaving the
// thread (unwinding in pthread_exit) overflow a 512-byte request.
constexpr unsigned kSchedulerStack = 16384;
constexpr unsigned kSchedulerPriority = 90;
constexpr unsigned kStopWaitUs = 10000;
constexpr unsigned kStopWaitRounds = 300;
// Fields of /proc/<pid>/task/<tid>/stat after the command name: state is
// field 3, utime field 14, stime field 15.
constexpr int kUtimeField = 14;

struct Scheduler {
    pal_thread_t thread = PAL_THREAD_INVALID;
    pal_mutex_t lock = nullptr;  // guards stop
    pal_cond_t cond = nullptr;   // signalled by scheduler_stop
    bool stop = false;
    std::atomic<bool> running{false};
    long long lastCpu[AXRPC_ASYN_THREAD_NUM] = {};  // scheduler thread only
};

Scheduler g_sched;

// Waits one period; false when asked to stop.
bool wait_period() {
    pc::pal::MutexGuard guard(g_sched.lock);
    if (!g_sched.stop) pal_cond_wait(g_sched.cond, g_sched.lock, kSchedulePeriodMs);
    return !g_sched.stop;
}

void schedule_proc(void *) {
    int current = 0;
    give_first_async_turn();
    for (int i = 0; i < AXRPC_ASYN_THREAD_NUM; ++i)
        g_sched.lastCpu[i] = thread_cpu_time(async_worker_thread(i));
    while (wait_period()) {
        const long long now = thread_cpu_time(async_worker_thread(current));
        if (now < 0 || now <= g_sched.lastCpu[current]) {
            const int next = (current + 1) % AXRPC_ASYN_THREAD_NUM;
            PFM_DBG(kMid, "Async turn %d -> %d\n", current, next);
            pass_async_turn(current, next);
            g_sched.lastCpu[current] = now;
            current = next;
        } else {
            g_sched.lastCpu[current] = now;
        }
    }
    g_sched.running.store(false);
}

}  // namespace

long long thread_cpu_time(pal_thread_t thread) {
    if (thread == PAL_THREAD_INVALID) return -1;
    const int tid = pal_thread_pid(thread);
    if (tid <= 0) return -1;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", tid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return -1;
    buf[n] = '\0';
    // The command name (field 2) may hold spaces and parentheses: fields
    // are counted from the last ')'.
    char *p = std::strrchr(buf, ')');
    if (p == nullptr) return -1;
    int field = 2;
    long long utime = -1;
    for (char *tok = p + 1; *tok != '\0';) {
        while (*tok == ' ') ++tok;
        if (*tok == '\0') break;
        ++field;
        char *end = nullptr;
        long long v = std::strtoll(tok, &end, 10);
        if (field == kUtimeField) utime = v;
        if (field == kUtimeField + 1) return utime < 0 ? -1 : utime + v;
        tok = end != tok ? end : tok + 1;
        while (*tok != ' ' && *tok != '\0') ++tok;
    }
    return -1;
}

int scheduler_start() {
    g_sched.stop = false;
    g_sched.lock = pal_mutex_create("rpcAsynScheduleLock");
    g_sched.cond = pal_cond_create("rpcAsynScheduleCond");
    if (g_sched.lock == nullptr || g_sched.cond == nullptr) {
        PFM_ERR(kMid, "Create thread pool %d error\n", AXRPC_ASYN_THREAD_NUM);
        return -1;
    }
    g_sched.running.store(true);
    g_sched.thread =
        pal_thread_create("rpcAsynSchedule", kSchedulerStack, kSchedulerPriority, schedule_proc, nullptr);
    if (g_sched.thread == PAL_THREAD_INVALID) {
        g_sched.running.store(false);
        PFM_ERR(kMid, "Create thread pool %d error\n", AXRPC_ASYN_THREAD_NUM);
        return -1;
    }
    return 0;
}

void scheduler_stop() {
    if (g_sched.lock != nullptr) {
        pc::pal::MutexGuard guard(g_sched.lock);
        g_sched.stop = true;
        pal_cond_signal(g_sched.cond);
    }
    for (unsigned i = 0; g_sched.running.load() && i < kStopWaitRounds; ++i) pal_usleep(kStopWaitUs);
    if (g_sched.running.load() && g_sched.thread != PAL_THREAD_INVALID) pal_thread_destroy(g_sched.thread);
    g_sched.running.store(false);
    g_sched.thread = PAL_THREAD_INVALID;
    if (g_sched.cond != nullptr) pal_cond_destroy(g_sched.cond);
    if (g_sched.lock != nullptr) pal_mutex_destroy(g_sched.lock);
    g_sched.cond = nullptr;
    g_sched.lock = nullptr;
}

}  // namespace pc::ipc::rpc
