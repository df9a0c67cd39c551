// Starting the timer service: its objects, the workers, then the manager.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>

#include "platform_core/platform.h"
#include "platform_core/timer.h"
#include "timer/timer_service.h"

namespace pc::timer {

namespace {

std::atomic<bool> g_init_claimed{false};         // set by the first timer_init that gets to run
std::atomic<TimerService *> g_service{nullptr};  // published once fully started; never freed

// Undoes a start that failed part-way. The threads started so far are
// blocked on their semaphores and hold no lock, so they can be cancelled.
void discard(TimerService *svc) {
    if (svc->manager != PAL_THREAD_INVALID) pal_thread_destroy(svc->manager);
    for (WorkerSlot &slot : svc->slots) {
        if (slot.thread != PAL_THREAD_INVALID) pal_thread_destroy(slot.thread);
        pal_sem_destroy(slot.go);
    }
    pal_sem_destroy(svc->wake);
    if (svc->lock != nullptr) pal_mutex_destroy(svc->lock);
    delete svc;
}

int start(TimerService *svc) {
    svc->wake = pal_sem_create(kWakeSemName, 0, 0);
    svc->lock = pal_mutex_create(kLockName);
    if (svc->wake == nullptr || svc->lock == nullptr) {
        PFM_ERR(MID_TIMER, "Cannot create the timer semaphore or lock.");
        return -1;
    }
    for (unsigned n = 1; n <= kWorkerCount; ++n) {
        WorkerSlot &slot = svc->slots[n - 1];
        slot.service = svc;
        slot.number = n;
        std::snprintf(slot.name, sizeof slot.name, kWorkerNameFormat, n);
        const char *name = slot.name;
        slot.go = pal_sem_create(name, 0, 0);
        if (slot.go == nullptr) {
            PFM_ERR(MID_TIMER, "Cannot create semaphore %s.", name);
            return -1;
        }
        slot.thread = pal_thread_create(name, kThreadStackSize, kThreadPriority, worker_main, &slot);
        if (slot.thread == PAL_THREAD_INVALID) {
            PFM_ERR(MID_TIMER, "Cannot start thread %s.", name);
            return -1;
        }
    }
    svc->manager =
        pal_thread_create(kManagerThreadName, kThreadStackSize, kThreadPriority, manager_main, svc);
    if (svc->manager == PAL_THREAD_INVALID) {
        PFM_ERR(MID_TIMER, "Cannot start thread %s.", kManagerThreadName);
        return -1;
    }
    return 0;
}

}  // namespace

TimerService *started_service() { return g_service.load(std::memory_order_acquire); }

void free_record(TimerRecord *rec) { pal_free(rec); }

}  // namespace pc::timer

extern "C" PC_API int timer_init(void) {
    using namespace pc::timer;
    if (g_init_claimed.exchange(true)) {
        PFM_ERR(MID_TIMER, "The timer service is already started.");
        return -1;
    }
    auto *svc = new (std::nothrow) TimerService;
    if (svc == nullptr) {
        g_init_claimed.store(false);
        return -1;
    }
    if (start(svc) != 0) {
        discard(svc);
        g_init_claimed.store(false);
        return -1;
    }
    g_service.store(svc, std::memory_order_release);
    return 0;
}
