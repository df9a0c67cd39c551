// The monotonic clock of the timer service.
#include <cerrno>
#include <ctime>

#include "timer/timer_record.h"

namespace pc::timer {

int64_t monotonic_now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNsPerSec + ts.tv_nsec;
}

void sleep_until_ns(int64_t deadline_ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline_ns / kNsPerSec);
    ts.tv_nsec = static_cast<long>(deadline_ns % kNsPerSec);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace pc::timer
