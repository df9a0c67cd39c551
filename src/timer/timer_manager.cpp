// The manager thread: sleeps until the earliest timer is due and hands due
// timers to idle workers.
#include <algorithm>
#include <cstdint>

#include "pal/mutex_guard.h"
#include "timer/timer_service.h"

namespace pc::timer {

namespace {

// What the manager does after one pass: wait on the wake semaphore for
// `wait_ms`, after first sleeping until `sleep_until_ns` when that is set.
struct NextWait {
    unsigned wait_ms = PAL_WAIT_FOREVER;
    int64_t sleep_until_ns = 0;
};

// The first idle worker (1 .. kWorkerCount), or 0 when all are busy.
unsigned first_idle_worker(const TimerService &svc) {
    for (unsigned n = 1; n <= kWorkerCount; ++n)
        if ((svc.busy & (1u << n)) == 0) return n;
    return 0;
}

// Hands the due head to worker n and takes it off the heap (a one-shot
// timer) or schedules its next expiry (a periodic one). A periodic timer
// whose previous run has not finished skips this expiry.
void dispatch_head_locked(TimerService &svc, unsigned n, int64_t now_ns) {
    TimerRecord *head = svc.pending.head();
    if (!head->running) {
        WorkerSlot &slot = svc.slots[n - 1];
        slot.job = *head;
        head->running = true;
        svc.busy |= 1u << n;
        pal_sem_give(slot.go);
    }
    if (head->mode != TIMER_MODE_PERIODIC) {
        svc.pending.unindex(head);
        free_record(svc.pending.pop_head());
    } else {
        svc.pending.reschedule_head(now_ns + head->interval_ns);
    }
}

// How long to sleep before the head is due. Whole milliseconds go to the
// semaphore wait (so a change of the pending set still wakes the manager);
// the last part of a millisecond is slept on the monotonic clock, so the
// timer runs on time without the manager spinning.
NextWait wait_for_head(const TimerRecord *head, int64_t now_ns) {
    NextWait next;
    if (head == nullptr) return next;
    int64_t left_ns = head->expire_ns - now_ns;
    if (left_ns <= 0) {
        next.wait_ms = PAL_NO_WAIT;
    } else if (left_ns < kNsPerMs) {
        next.wait_ms = PAL_NO_WAIT;
        next.sleep_until_ns = head->expire_ns;
    } else {
        next.wait_ms = static_cast<unsigned>(std::min<int64_t>(left_ns / kNsPerMs, kMaxWaitMs));
    }
    return next;
}

// One pass over the head of the heap, under the timer lock.
NextWait manage_once_locked(TimerService &svc) {
    TimerRecord *head = svc.pending.head();
    if (head != nullptr && head->name[0] == '\0') {
        // A deleted timer that has reached the front.
        free_record(svc.pending.pop_head());
        return NextWait{PAL_NO_WAIT, 0};
    }
    int64_t now_ns = monotonic_now_ns();
    if (head != nullptr && head->expire_ns <= now_ns) {
        unsigned n = first_idle_worker(svc);
        if (n == 0) return NextWait{kBusyRetryMs, 0};
        dispatch_head_locked(svc, n, now_ns);
    }
    return wait_for_head(svc.pending.head(), now_ns);
}

}  // namespace

void manager_main(void *service) {
    auto &svc = *static_cast<TimerService *>(service);
    NextWait next;
    for (;;) {
        // Given or timed out: either way, look at the heap again.
        pal_sem_take(svc.wake, next.wait_ms);
        {
            pal::MutexGuard guard(svc.lock);
            if (!guard.held()) {
                next = NextWait{kBusyRetryMs, 0};
                continue;
            }
            next = manage_once_locked(svc);
        }
        if (next.sleep_until_ns != 0) sleep_until_ns(next.sleep_until_ns);
    }
}

}  // namespace pc::timer
