// Re-registration after a reconnection to the hub (see axmsg_reconnect.h).
#include "axmsg_reconnect.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::client {
namespace {

constexpr unsigned kStack = 32768;
constexpr unsigned kPriority = 0;
constexpr auto kRetry = std::chrono::milliseconds(200);
constexpr auto kRetryFor = std::chrono::seconds(30);

struct Callback {
    AXMSG_CLIENT_RECONNECT_CB cb;
    void *arg;
};

// Lives as long as the process (never destroyed: the thread may still wait
// on it while static objects go away).
struct State {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<Callback> callbacks;  // guarded by mu; in the order added
    unsigned round = 0;               // guarded by mu; moves on with each reconnection
    bool stop = false;                // guarded by mu
    bool started = false;             // guarded by mu: the thread runs
};

State &state() {
    static State *s = new State;
    return *s;
}

// Runs one callback until it succeeds; false when a newer round or a stop
// came first.
bool run_one(State &s, const Callback &c, unsigned round) {
    auto deadline = std::chrono::steady_clock::now() + kRetryFor;
    for (;;) {
        if (axmsg_client_connected() && c.cb(c.arg) == 0) return true;
        std::unique_lock<std::mutex> lock(s.mu);
        if (s.stop || s.round != round) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            PFM_ERR(MID_AXMSG, "registering again after the reconnection failed for %lld s; giving up",
                    static_cast<long long>(kRetryFor.count()));
            return true;
        }
        s.cv.wait_for(lock, kRetry, [&] { return s.stop || s.round != round; });
    }
}

void thread_main(void *) {
    State &s = state();
    unsigned done = 0;
    for (;;) {
        std::vector<Callback> list;
        unsigned round;
        {
            std::unique_lock<std::mutex> lock(s.mu);
            s.cv.wait(lock, [&] { return s.stop || s.round != done; });
            if (s.stop) {
                s.started = false;
                return;
            }
            round = s.round;
            list = s.callbacks;
        }
        bool complete = true;
        for (const Callback &c : list)
            if (!run_one(s, c, round)) {
                complete = false;
                break;
            }
        if (complete) {
            PFM_DBG(MID_AXMSG, "registered again after reconnection %u", round);
            done = round;
        }
    }
}

// Starts the thread once (s.mu held).
void start_locked(State &s) {
    if (s.started) return;
    s.stop = false;
    if (pal_thread_create("axmsg_rereg", kStack, kPriority, thread_main, nullptr) == PAL_THREAD_INVALID) {
        PFM_ERR(MID_AXMSG, "create thread axmsg_rereg failed");
        return;
    }
    s.started = true;
}

}  // namespace

void reconnect_announce(unsigned connects) {
    if (connects < 2) return;  // the first connection: nothing was dropped yet
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.callbacks.empty()) return;
    start_locked(s);
    ++s.round;
    s.cv.notify_all();
}

void reconnect_stop() {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    s.stop = true;
    s.cv.notify_all();
}

}  // namespace pc::client

extern "C" {

PC_API int axmsg_client_reconnect_cb_add(AXMSG_CLIENT_RECONNECT_CB cb, void *arg) {
    if (cb == nullptr) return -1;
    pc::client::State &s = pc::client::state();
    std::lock_guard<std::mutex> lock(s.mu);
    for (const auto &c : s.callbacks)
        if (c.cb == cb && c.arg == arg) return 0;
    s.callbacks.push_back({cb, arg});
    return 0;
}

}  // extern "C"
