// timer_dump: the pending timers and the handlers now running.
#include <cstdio>

#include "pal/mutex_guard.h"
#include "platform_core/timer.h"
#include "timer/timer_service.h"

namespace pc::timer {

namespace {

unsigned whole_sec(int64_t ns) { return static_cast<unsigned>(ns / kNsPerSec); }
unsigned sub_sec_ns(int64_t ns) { return static_cast<unsigned>(ns % kNsPerSec); }

void print_timer(const TimerRecord &rec) {
    std::printf("  name: %s expire_sec=%u, expire_nsec=%u, intvl_sec=%u, intvl_nsec=%u\n\r", rec.name,
                whole_sec(rec.expire_ns), sub_sec_ns(rec.expire_ns), whole_sec(rec.interval_ns),
                sub_sec_ns(rec.interval_ns));
}

}  // namespace

}  // namespace pc::timer

extern "C" PC_API void timer_dump(void) {
    using namespace pc::timer;
    int64_t now_ns = monotonic_now_ns();
    std::printf("  Current time: sec=%u, nsec=%u\n\r", whole_sec(now_ns), sub_sec_ns(now_ns));
    TimerService *svc = started_service();
    if (svc == nullptr) {
        std::printf("  The timer service is not started.\n\r");
        return;
    }
    pc::pal::MutexGuard guard(svc->lock);
    if (!guard.held()) return;
    std::printf("*** Pending timers dump by handler name:\n\r");
    svc->pending.visit_by_name(print_timer);
    std::printf("*** Pending timers dump by pri Queue:\n\r");
    svc->pending.visit_by_heap(print_timer);
    // The slots are read under the lock too: workers clear them under it.
    std::printf("\n*** Executing timers:\n\r");
    for (const WorkerSlot &slot : svc->slots) {
        if (slot.job.name[0] != '\0')
            std::printf("  Timer %s is running at thread %s\n\r", slot.job.name, slot.name);
    }
}
