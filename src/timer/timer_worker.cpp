// A worker thread: runs the handlers the manager hands to it.
#include "pal/mutex_guard.h"
#include "timer/timer_service.h"

namespace pc::timer {

namespace {

// After a run, under the timer lock: lets the periodic timer run again and
// marks the worker idle. A timer deleted meanwhile, or deleted and added
// again under the same name (another record), is left alone.
void finish_run_locked(TimerService &svc, WorkerSlot &slot) {
    if (slot.job.mode == TIMER_MODE_PERIODIC) {
        TimerRecord *rec = svc.pending.find(slot.job.name);
        if (rec != nullptr && rec->serial == slot.job.serial) rec->running = false;
    }
    slot.job = TimerRecord{};
    svc.busy &= ~(1u << slot.number);
}

}  // namespace

void worker_main(void *arg) {
    auto &slot = *static_cast<WorkerSlot *>(arg);
    TimerService &svc = *slot.service;
    for (;;) {
        if (pal_sem_take(slot.go, PAL_WAIT_FOREVER) != 0) continue;
        // The manager filled the slot before giving `go` and leaves it alone
        // until this worker is marked idle again.
        slot.job.handler(slot.job.arg);
        pal::MutexGuard guard(svc.lock);
        finish_run_locked(svc, slot);
    }
}

}  // namespace pc::timer
