// Adding and deleting timers.
#include <climits>
#include <cstring>
#include <new>
#include <string_view>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/timer.h"
#include "timer/timer_service.h"

namespace pc::timer {

namespace {

// The longest interval accepted, in whole seconds (about 68 years).
constexpr time_t kMaxIntervalSec = INT_MAX;

constexpr timer_id_t kNoTimer{};

std::string_view id_name(const timer_id_t &id) {
    return std::string_view(id.name, strnlen(id.name, TIMER_NAME_LEN));
}

bool interval_valid(const timespec &iv, int mode) {
    if (iv.tv_sec < 0 || iv.tv_sec > kMaxIntervalSec) return false;
    if (iv.tv_nsec < 0 || iv.tv_nsec > kNsPerSec) return false;
    // A periodic timer of no interval would be due again the moment it ran.
    return mode != TIMER_MODE_PERIODIC || iv.tv_sec != 0 || iv.tv_nsec != 0;
}

int64_t interval_ns(const timespec &iv) { return static_cast<int64_t>(iv.tv_sec) * kNsPerSec + iv.tv_nsec; }

TimerRecord *new_record(const timer_id_t &id, const timespec &iv, timer_handler_t handler, uintptr_t arg,
                        int mode, uint64_t serial) {
    void *mem = pal_alloc(sizeof(TimerRecord), kRecordTag);
    if (mem == nullptr) return nullptr;
    auto *rec = new (mem) TimerRecord{};
    rec->interval_ns = interval_ns(iv);
    rec->expire_ns = monotonic_now_ns() + rec->interval_ns;
    std::memcpy(rec->name, id.name, sizeof rec->name);
    rec->handler = handler;
    rec->arg = arg;
    rec->mode = mode;
    rec->running = false;
    rec->serial = serial;
    return rec;
}

}  // namespace

}  // namespace pc::timer

extern "C" {

PC_API timer_id_t add_timer(const char *name, const struct timespec *interval, timer_handler_t handler,
                            uintptr_t arg, int mode) {
    using namespace pc::timer;
    PFM_ENSURE_RET(MID_TIMER, mode == TIMER_MODE_ONESHOT || mode == TIMER_MODE_PERIODIC, kNoTimer);
    PFM_ENSURE_RET(MID_TIMER, handler != nullptr, kNoTimer);
    PFM_ENSURE_RET(MID_TIMER, name != nullptr && interval != nullptr, kNoTimer);
    size_t len = strnlen(name, TIMER_NAME_LEN);
    PFM_ENSURE_RET(MID_TIMER, len > 0 && len < TIMER_NAME_LEN, kNoTimer);
    PFM_ENSURE_RET(MID_TIMER, interval_valid(*interval, mode), kNoTimer);
    TimerService *svc = started_service();
    PFM_ENSURE_RET(MID_TIMER, svc != nullptr, kNoTimer);

    timer_id_t id{};
    std::memcpy(id.name, name, len);
    {
        pc::pal::MutexGuard guard(svc->lock);
        if (!guard.held()) return kNoTimer;
        // A name in use answers the pending timer, unchanged.
        if (svc->pending.find(id_name(id)) != nullptr) return id;
        TimerRecord *rec = new_record(id, *interval, handler, arg, mode, svc->next_serial++);
        if (rec == nullptr) {
            PFM_ERR(MID_TIMER, "No memory for timer %s.", id.name);
            return kNoTimer;
        }
        if (!svc->pending.add(rec)) {
            free_record(rec);
            PFM_ERR(MID_TIMER, "No memory to queue timer %s.", id.name);
            return kNoTimer;
        }
    }
    pal_sem_give(svc->wake);
    return id;
}

PC_API int del_timer(timer_id_t id) {
    using namespace pc::timer;
    std::string_view name = id_name(id);
    if (name.empty()) return -1;
    TimerService *svc = started_service();
    if (svc == nullptr) return 0;  // nothing can be pending
    {
        pc::pal::MutexGuard guard(svc->lock);
        if (!guard.held()) return -1;
        TimerRecord *rec = svc->pending.find(name);
        if (rec == nullptr) return 0;
        // The record stays in the heap, nameless, until the manager meets
        // it at the front and frees it.
        svc->pending.unindex(rec);
        std::memset(rec->name, 0, sizeof rec->name);
    }
    pal_sem_give(svc->wake);
    return 0;
}

PC_API int timer_clear(void) {
    using namespace pc::timer;
    TimerService *svc = started_service();
    PFM_ENSURE_RET(MID_TIMER, svc != nullptr, -1);
    {
        pc::pal::MutexGuard guard(svc->lock);
        if (!guard.held()) return -1;
        svc->pending.clear(free_record);
    }
    pal_sem_give(svc->wake);
    return 0;
}

}  // extern "C"
