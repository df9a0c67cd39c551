// The timer service of this process: its threads, locks and state.
//
// One manager thread and kWorkerCount workers. The manager sleeps on the
// wake semaphore until the earliest pending timer is due; every change of
// the pending set gives the semaphore so it recomputes its sleep. A due
// timer is copied into an idle worker's slot and that worker's semaphore
// is given; the worker runs the handler from its copy, with no lock held.
//
// Locking: one PAL mutex, the timer lock ("timerQueMutex"), guards the
// pending heap and index, every record's name, expiry and running flag,
// the busy bits and the slots' copies. Nothing else is locked while it is
// held except the accounted allocator's own lock (records are allocated and
// freed under it). Handlers are never called with it held.
//
// Costs: add and delete O(log n) in the pending timers, dispatch O(log n),
// the manager wakes once per change and once per expiry (at least every
// 60 s), and every 1 ms while a due timer waits for a busy worker.
//
// The service lives for the rest of the process once started; it is never
// torn down (its threads run until the process ends).
#pragma once

#include <array>
#include <cstdint>

#include "platform_core/pal.h"
#include "timer/pending_timers.h"
#include "timer/timer_record.h"

namespace pc::timer {

constexpr unsigned kWorkerCount = 8;
constexpr unsigned kThreadStackSize = 16384;
constexpr unsigned kThreadPriority = 50;
constexpr unsigned kMaxWaitMs = 60000;  // the manager sleeps at most this long
constexpr unsigned kBusyRetryMs = 1;    // re-check when every worker is busy
constexpr const char *kManagerThreadName = "sysTimerManage";
constexpr const char *kWorkerNameFormat = "sysTimerSub_%u";  // numbered 1 .. kWorkerCount
constexpr const char *kWakeSemName = "timerQueSem";
constexpr const char *kLockName = "timerQueMutex";

struct TimerService;

struct WorkerSlot {
    TimerService *service = nullptr;  // the owner; fixed
    unsigned number = 0;              // 1 .. kWorkerCount; fixed
    char name[16] = {};               // "sysTimerSub_<number>", of the thread and its semaphore; fixed
    pal_sem_t go = nullptr;           // given by the manager per handed-over timer; owned
    pal_thread_t thread = PAL_THREAD_INVALID;  // the worker; fixed once started
    // The timer being run, all zeros while idle. Written under the timer
    // lock; read by the worker after `go` without it.
    TimerRecord job{};
};

struct TimerService {
    pal_mutex_t lock = nullptr;  // the timer lock; owned
    pal_sem_t wake = nullptr;    // wakes the manager; owned
    pal_thread_t manager = PAL_THREAD_INVALID;
    PendingTimers pending;     // guarded by lock; owns the records
    uint32_t busy = 0;         // bit n set while worker n runs a handler; guarded by lock
    uint64_t next_serial = 1;  // guarded by lock
    std::array<WorkerSlot, kWorkerCount> slots{};
};

// The started service, or null before timer_init has succeeded.
TimerService *started_service();

// Thread bodies (arguments: the service, a worker's slot).
void manager_main(void *service);
void worker_main(void *slot);

// Frees a record that left the heap.
void free_record(TimerRecord *rec);

}  // namespace pc::timer
