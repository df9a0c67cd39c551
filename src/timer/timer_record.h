// One timer as the service keeps it, and the clock it runs on.
//
// Times are nanoseconds on the monotonic clock held in 64 bits, so an
// expiry can be compared and advanced without normalising a second and
// nanosecond pair. A record is allocated with the accounted allocator (tag
// "pal_timer") by add_timer and freed by the manager or by timer_clear.
#pragma once

#include <cstdint>

#include "platform_core/timer.h"

namespace pc::timer {

constexpr const char *kRecordTag = "pal_timer";

constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kNsPerMs = 1000000;

struct TimerRecord {
    int64_t expire_ns;          // next expiry (monotonic); guarded by the timer lock
    int64_t interval_ns;        // the interval given at creation; fixed
    char name[TIMER_NAME_LEN];  // all zeros once deleted; guarded by the timer lock
    timer_handler_t handler;    // fixed
    uintptr_t arg;              // the handler's argument; fixed
    int mode;                   // TIMER_MODE_ONESHOT or TIMER_MODE_PERIODIC; fixed
    bool running;               // a worker runs this periodic timer; guarded by the timer lock
    // Creation number, unique in the process: tells a record from a later
    // one of the same name, and keeps timers of equal expiry in the order
    // they were added. Fixed.
    uint64_t serial;
};

// Now on the monotonic clock.
int64_t monotonic_now_ns();

// Sleeps until `deadline_ns` on the monotonic clock.
void sleep_until_ns(int64_t deadline_ns);

}  // namespace pc::timer
