#include "diag/monitor_runner.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform_core/diag.h"

namespace pc::diag {

namespace {

constexpr unsigned kSliceUs = 50000;        // how often a waiting thread looks for stop
constexpr unsigned kStopWaitUs = 30000000;  // stop() waits at most this long for a check
std::mutex g_create_mutex;                  // serialises the first creation of mutexes

}  // namespace

pal_mutex_t MonitorRunner::mutex() {
    pal_mutex_t m = mutex_.load(std::memory_order_acquire);
    if (m != nullptr) return m;
    std::lock_guard guard(g_create_mutex);
    m = mutex_.load(std::memory_order_relaxed);
    if (m == nullptr) {
        m = pal_mutex_create(mutex_name_);
        mutex_.store(m, std::memory_order_release);
    }
    return m;
}

void MonitorRunner::lock() { pal_mutex_take(mutex(), PAL_WAIT_FOREVER); }
void MonitorRunner::unlock() { pal_mutex_give(mutex()); }

void MonitorRunner::thread_main(void *arg) {
    auto *self = static_cast<MonitorRunner *>(arg);
    while (!self->stop_requested_.load(std::memory_order_acquire)) {
        self->check_();
        unsigned waited = 0;
        unsigned interval_us =
            static_cast<unsigned>(self->interval_s_.load(std::memory_order_relaxed)) * 1000000u;
        while (waited < interval_us && !self->stop_requested_.load(std::memory_order_acquire)) {
            pal_usleep(kSliceUs);
            waited += kSliceUs;
        }
    }
    self->thread_done_.store(true, std::memory_order_release);
}

int MonitorRunner::start() {
    MonitorLock guard(*this);
    if (on_.load(std::memory_order_relaxed)) return -1;
    // A thread that a previous stop() gave up waiting for must end first.
    for (unsigned waited = 0; !thread_done_.load(std::memory_order_acquire) && waited < kStopWaitUs;
         waited += kSliceUs) {
        pal_usleep(kSliceUs);
    }
    if (!thread_done_.load(std::memory_order_acquire)) return -1;
    stop_requested_.store(false, std::memory_order_release);
    thread_done_.store(false, std::memory_order_release);
    if (pal_thread_create(thread_name_, DK_MON_STACK_SIZE, DK_MON_PRIORITY, thread_main, this) ==
        PAL_THREAD_INVALID) {
        thread_done_.store(true, std::memory_order_release);
        printf("Fail to create %s!\n", thread_name_);
        return -1;
    }
    on_.store(true, std::memory_order_release);
    return 0;
}

int MonitorRunner::stop() {
    {
        MonitorLock guard(*this);
        if (!on_.load(std::memory_order_relaxed)) return -1;
        on_.store(false, std::memory_order_release);
        stop_requested_.store(true, std::memory_order_release);
    }
    // Waited for without the mutex: the check may need it to finish.
    for (unsigned waited = 0; !thread_done_.load(std::memory_order_acquire) && waited < kStopWaitUs;
         waited += kSliceUs) {
        pal_usleep(kSliceUs);
    }
    return 0;
}

DiagTime diag_now() {
    DiagTime t{};
    time_t now = time(nullptr);
    struct tm tm_now {};
    localtime_r(&now, &tm_now);
    snprintf(t.text, sizeof t.text, "%d.%02d.%02d %02d:%02d:%02d", tm_now.tm_year + 1900, tm_now.tm_mon + 1,
             tm_now.tm_mday, tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec);
    return t;
}

}  // namespace pc::diag
