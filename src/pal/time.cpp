// Clocks and the conversion of relative time-outs into absolute deadlines.
#include <sys/time.h>

#include <ctime>

#include "platform_core/pal.h"

namespace {

constexpr long kNsPerSec = 1000000000L;
constexpr long kNsPerMs = 1000000L;
constexpr long kNsPerUs = 1000L;

timespec realtime_now() {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
        timeval tv{};
        gettimeofday(&tv, nullptr);
        ts.tv_sec = tv.tv_sec;
        ts.tv_nsec = tv.tv_usec * kNsPerUs;
    }
    return ts;
}

bool monotonic_now(timespec *ts) { return clock_gettime(CLOCK_MONOTONIC, ts) == 0; }

// Now plus `whole_sec` seconds and `rem_ns` nanoseconds, normalised.
int deadline_from_now(timespec *ts, unsigned whole_sec, long rem_ns) {
    if (ts == nullptr) return -1;
    timespec now = realtime_now();
    now.tv_sec += static_cast<time_t>(whole_sec);
    now.tv_nsec += rem_ns;
    now.tv_sec += now.tv_nsec / kNsPerSec;
    now.tv_nsec %= kNsPerSec;
    *ts = now;
    return 0;
}

}  // namespace

extern "C" {

PC_API long long pal_time_msecs(void) {
    timespec ts{};
    if (monotonic_now(&ts)) return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / kNsPerMs;
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

PC_API unsigned long long pal_time_usecs(void) {
    timespec ts{};
    if (monotonic_now(&ts))
        return static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL +
               static_cast<unsigned long long>(ts.tv_nsec / kNsPerUs);
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<unsigned long long>(tv.tv_sec) * 1000000ULL +
           static_cast<unsigned long long>(tv.tv_usec);
}

PC_API long long pal_time(void) {
    timespec ts{};
    if (monotonic_now(&ts)) return ts.tv_sec;
    return static_cast<long long>(time(nullptr));
}

PC_API double pal_time_double(void) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 0.000001;
}

PC_API int pal_compute_timeout_ms(struct timespec *ts, unsigned ms) {
    return deadline_from_now(ts, ms / 1000, static_cast<long>(ms % 1000) * kNsPerMs);
}

PC_API int pal_compute_timeout(struct timespec *ts, unsigned us) {
    return deadline_from_now(ts, us / 1000000, static_cast<long>(us % 1000000) * kNsPerUs);
}

}  // extern "C"
