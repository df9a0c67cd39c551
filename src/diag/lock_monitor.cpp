// The lock monitor: PAL mutexes that look dead-locked.
//
// Every PAL mutex has a lock record from its creation (dk_locklist_insert)
// to its destruction (dk_locklist_remove), kept in a red-black tree keyed
// by the mutex and guarded by g_records_mutex, a plain POSIX mutex: the
// hooks run inside pal_mutex_create and pal_mutex_destroy, where a PAL
// mutex would recurse. The monitor's check takes its own PAL mutex
// ("LockMonMutex") and then g_records_mutex, and reads only what a mutex
// shows to other threads: its atomic owner and its name, which both live
// until the record is gone.
//
// A record counts the checks that found its mutex held by the same owner;
// from the sixth on it also watches the owner's CPU time, and six checks
// in a row without any growth make a report: the owner holds the mutex and
// is asleep, waiting for something that does not come. The CPU time is the
// task's user + system time in clock ticks from its stat file: a thread
// that only wakes now and then to look at something (a poll every few
// hundred milliseconds) uses well under a tick per check and still counts
// as stalled, where a nanosecond clock would count every wake-up as work.
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "diag/monitor_runner.h"
#include "diag/proc_files.h"
#include "pal/mutex_record.h"
#include "platform_core/diag.h"
#include "platform_core/gdsl_rbtree.h"

namespace {

using pc::diag::MonitorLock;

constexpr uint16_t kHeldChecks = 6;  // checks held by one owner before its CPU time is watched
constexpr int16_t kStallChecks = 6;  // checks without CPU growth before a report
constexpr uint32_t kCpuUnset = 0xFFFFFFFFu;
constexpr unsigned kOwnerNameLen = 32;

struct LockRecord {
    pal_mutex_t mutex;
    uint16_t checks;     // checks that found the same owner
    pal_thread_t owner;  // owner seen at the last check; 0 for none
    uint32_t owner_cpu;  // owner's user + system ticks at the last reading; kCpuUnset
    int16_t stall;       // checks without CPU growth; -1 when unset
};

void lock_check();
pc::diag::MonitorRunner g_runner("lock_monitor", "LockMonMutex", lock_check);

std::mutex g_records_mutex;
RbTree *g_records = nullptr;  // guarded by g_records_mutex; made on first insert, never freed

int compare_records(void *a, void *b) {
    auto x = reinterpret_cast<uintptr_t>(static_cast<LockRecord *>(a)->mutex);
    auto y = reinterpret_cast<uintptr_t>(static_cast<LockRecord *>(b)->mutex);
    return x < y ? -1 : x > y ? 1 : 0;
}
int compare_key(void *key, void *data) {
    auto x = reinterpret_cast<uintptr_t>(key);
    auto y = reinterpret_cast<uintptr_t>(static_cast<LockRecord *>(data)->mutex);
    return x < y ? -1 : x > y ? 1 : 0;
}
void destroy_record(void *data) { delete static_cast<LockRecord *>(data); }

void reset(LockRecord *r, pal_thread_t owner) {
    r->owner = owner;
    r->checks = 0;
    r->owner_cpu = kCpuUnset;
    r->stall = -1;
}

void *thread_ptr(pal_thread_t t) { return reinterpret_cast<void *>(static_cast<uintptr_t>(t)); }

// The kernel task id of a thread: from the PAL registry, or else from the
// thread's CPU clock, which Linux numbers after the task (~tid << 3 | 6).
int thread_tid(pal_thread_t t) {
    int tid = pal_thread_pid(t);
    if (tid > 0) return tid;
    clockid_t clock;
    if (pthread_getcpuclockid(t, &clock) != 0) return -1;
    return static_cast<int>(~(static_cast<unsigned>(clock) >> 3) & 0x1FFFFFFFu);
}

// The owner's user + system time in clock ticks (its task's stat file),
// or kCpuUnset.
uint32_t thread_cpu_ticks(pal_thread_t t) {
    int tid = thread_tid(t);
    long ticks = tid > 0 ? dk_mon_cpu_gettasktime(tid, DK_MON_TASK_THREAD) : -1;
    return ticks < 0 ? kCpuUnset : static_cast<uint32_t>(ticks);
}

void thread_name(pal_thread_t t, char *name, unsigned len) {
    if (pal_thread_name(t, name, len) != nullptr && name[0] != '\0') return;
    if (pthread_getname_np(t, name, len) != 0) std::snprintf(name, len, "unknown");
}

struct OtherLocks {
    const LockRecord *reported;
    pal_thread_t owner;
    int count;
};

void report(LockRecord *r) {
    pal_thread_t owner = r->owner;
    char name[kOwnerNameLen];
    thread_name(owner, name, sizeof name);
    int tid = thread_tid(owner);
    std::string process = pc::diag::own_process_name();
    printf("\n====================================\n");
    printf("[ INFO: possible deadlock detected ]\n");
    printf("------------------------------------\n");
    printf("lock  name  : %s\n", r->mutex->name);
    printf("owner thread: %s/%p/%d\n", name, thread_ptr(owner), tid);
    printf("in   process: %s/%d\n", process.c_str(), static_cast<int>(getpid()));
    printf("Other locks held by thread %s(%d/%p):\n", name, tid, thread_ptr(owner));
    OtherLocks others{r, owner, 0};
    rbtreeTraverse(
        g_records,
        [](void *ctx, void *data) {
            auto *o = static_cast<OtherLocks *>(ctx);
            auto *rec = static_cast<LockRecord *>(data);
            if (rec == o->reported || rec->mutex->owner.load(std::memory_order_relaxed) != o->owner) {
                return static_cast<int>(GDSL_RET_OK);
            }
            printf("  #%d: %s\n", o->count++, rec->mutex->name);
            return static_cast<int>(GDSL_RET_OK);
        },
        &others);
    if (others.count == 0) printf("  no other held locks.\n");
    fflush(stdout);
    if (tid > 0 && dk_getThreadStack(tid) != 0) printf("(thread %d did not print its stack)\n", tid);
}

int check_record(void *, void *data) {
    auto *r = static_cast<LockRecord *>(data);
    pal_thread_t owner = r->mutex->owner.load(std::memory_order_relaxed);
    if (owner == 0 || owner != r->owner) {
        reset(r, owner);
        return GDSL_RET_OK;
    }
    if (++r->checks < kHeldChecks) return GDSL_RET_OK;
    uint32_t cpu = thread_cpu_ticks(owner);
    if (cpu != kCpuUnset && r->owner_cpu != kCpuUnset && cpu <= r->owner_cpu) {
        if (++r->stall >= kStallChecks) {
            report(r);
            reset(r, 0);
        }
        return GDSL_RET_OK;
    }
    r->owner_cpu = cpu;
    r->stall = 0;
    return GDSL_RET_OK;
}

void lock_check() {
    MonitorLock guard(g_runner);
    std::lock_guard records(g_records_mutex);
    if (g_records != nullptr) rbtreeTraverse(g_records, check_record, nullptr);
}

int reset_visit(void *, void *data) {
    reset(static_cast<LockRecord *>(data), 0);
    return GDSL_RET_OK;
}

std::string process_line_name() { return pc::diag::own_process_name(); }

}  // namespace

extern "C" {

PC_API void dk_locklist_insert(pal_mutex_t mutex) {
    if (mutex == nullptr) return;
    std::lock_guard guard(g_records_mutex);
    if (g_records == nullptr) g_records = rbtreeInit(compare_records, compare_key, destroy_record);
    if (g_records == nullptr) return;
    auto *r = new (std::nothrow) LockRecord{};
    if (r == nullptr) return;
    r->mutex = mutex;
    reset(r, 0);
    if (rbtreeInsert(g_records, r) != 0) delete r;
}

PC_API void dk_locklist_remove(pal_mutex_t mutex) {
    if (mutex == nullptr) return;
    std::lock_guard guard(g_records_mutex);
    if (g_records != nullptr) rbtreeRemove(g_records, mutex);
}

PC_API int dk_mon_lock_init(void) {
    if (g_runner.on()) {
        printf("Process %s/%d: DO NOT open lock monitor twice, it's on already!\n",
               process_line_name().c_str(), static_cast<int>(getpid()));
        return -1;
    }
    {
        std::lock_guard guard(g_records_mutex);
        if (g_records != nullptr) rbtreeTraverse(g_records, reset_visit, nullptr);
    }
    return g_runner.start();
}

PC_API int dk_mon_lock_deinit(void) {
    if (g_runner.stop() != 0) {
        printf("Process %s/%d: DO NOT close lock monitor twice, it's off already!\n",
               process_line_name().c_str(), static_cast<int>(getpid()));
        return -1;
    }
    printf("Process %s/%d: Lock monitor is off.\n", process_line_name().c_str(), static_cast<int>(getpid()));
    return 0;
}

PC_API int dk_mon_lock_restart(void) {
    if (g_runner.on()) dk_mon_lock_deinit();
    return dk_mon_lock_init();
}

PC_API int dk_mon_lock_options_set(int option, int value) {
    if (option != DK_MON_LOCK_OPT_INTERVAL || value <= 0) return -1;
    g_runner.set_interval(value);
    return 0;
}

}  // extern "C"
