// The thread and on/off state shared by the four resource monitors.
//
// A MonitorRunner owns one monitor's PAL mutex (created on first use, kept
// for the life of the process) and its thread. start() creates the thread,
// which runs the check once at once and then once every interval until
// stop() asks it to end; stop() waits for the thread to finish its current
// check, so after it returns no check runs. The interval is read before
// each wait, so a new value takes effect at the next round.
//
// The check function runs on the monitor's thread without the runner's
// mutex held; the monitor guards its own data with lock()/unlock().
#pragma once

#include <atomic>

#include "platform_core/pal.h"

namespace pc::diag {

class MonitorRunner {
public:
    using Check = void (*)();

    MonitorRunner(const char *thread_name, const char *mutex_name, Check check)
        : thread_name_(thread_name), mutex_name_(mutex_name), check_(check) {}

    // 0; -1 when the monitor is on already or its thread cannot start
    // (printing "Fail to create %s!\n").
    int start();
    // 0; -1 when the monitor is off.
    int stop();
    bool on() const { return on_.load(std::memory_order_acquire); }

    void set_interval(int seconds) { interval_s_.store(seconds, std::memory_order_relaxed); }

    // The monitor's PAL mutex around its own data.
    void lock();
    void unlock();

private:
    static void thread_main(void *self);
    pal_mutex_t mutex();

    const char *thread_name_;
    const char *mutex_name_;
    Check check_;
    std::atomic<pal_mutex_t> mutex_{nullptr};  // made once, never destroyed
    std::atomic<bool> on_{false};              // changed under mutex_
    std::atomic<bool> stop_requested_{false};  // set by stop(), read by the thread
    std::atomic<bool> thread_done_{true};      // set by the thread as it ends
    std::atomic<int> interval_s_{5};
};

// RAII guard for a runner's mutex.
class MonitorLock {
public:
    explicit MonitorLock(MonitorRunner &r) : r_(r) { r_.lock(); }
    ~MonitorLock() { r_.unlock(); }
    MonitorLock(const MonitorLock &) = delete;
    MonitorLock &operator=(const MonitorLock &) = delete;

private:
    MonitorRunner &r_;
};

// "yyyy.mm.dd hh:mm:ss" of now, for the "<diagKit: %s>" prefix.
struct DiagTime {
    char text[80];
};
DiagTime diag_now();

}  // namespace pc::diag
