// axmsg_ping: a process of the simulated switch that connects to the core's
// message hub and measures it, or sends it debug commands.
//
//   axmsg_ping --pid N                      echo through the core's handler
//   axmsg_ping --pid N --to P               round trip to process P (which
//                                           runs axmsg_ping --pid P --serve)
//   axmsg_ping --pid N --serve              answer round trips until killed
//   axmsg_ping --pid N --cmd C [--arg A]    send debug command C to the core
// Options: --count K (round trips, default 1000), --size S (payload bytes,
// default 64).
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint32_t kPeerRequestMid = 120;  // a round trip to another process
constexpr unsigned kConnectTimeoutMs = 5000;
constexpr auto kReplyTimeout = std::chrono::seconds(5);

struct Options {
    int pid = 0;
    int to = 0;
    bool serve = false;
    int cmd = 0;
    int arg = 0;
    int count = 1000;
    int size = 64;
};

std::mutex g_lock;
std::condition_variable g_cv;
unsigned g_replies = 0;  // guarded by g_lock

int on_reply(AXMSG_T *) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        ++g_replies;
    }
    g_cv.notify_one();
    return 0;
}

int send_to(uint32_t proc, uint32_t mid, std::vector<uint8_t> &payload) {
    iovec piece{payload.data(), payload.size()};
    AXMSG_T msg{};
    msg.dst_unit = 1;
    msg.dst_proc = proc;
    msg.msg_type = mid;
    msg.iov = &piece;
    msg.iov_num = 1;
    return axmsg_send(&msg);
}

int round_trips(const Options &o) {
    std::vector<uint8_t> payload(static_cast<size_t>(std::max(o.size, 1)), 0);
    payload[0] = AXMSG_DBG_ECHO;
    uint32_t proc = o.to != 0 ? static_cast<uint32_t>(o.to) : uint32_t{PID_CORE};
    uint32_t mid = o.to != 0 ? kPeerRequestMid : uint32_t{MID_AXMSG};
    std::vector<double> rtt_us;
    rtt_us.reserve(static_cast<size_t>(o.count));
    for (int i = 0; i < o.count; ++i) {
        unsigned want;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            want = g_replies + 1;
        }
        auto t0 = std::chrono::steady_clock::now();
        if (send_to(proc, mid, payload) != 0) {
            std::printf("axmsg_ping: send %d failed\n", i);
            return 1;
        }
        std::unique_lock<std::mutex> lock(g_lock);
        if (!g_cv.wait_for(lock, kReplyTimeout, [&] { return g_replies >= want; })) {
            std::printf("axmsg_ping: no reply to message %d\n", i);
            return 1;
        }
        auto t1 = std::chrono::steady_clock::now();
        rtt_us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(rtt_us.begin(), rtt_us.end());
    std::printf(
        "axmsg_ping: %d round trips of %d bytes to proc %u: min %.1f us, median %.1f us, max %.1f us\n",
        o.count, o.size, static_cast<unsigned>(proc), rtt_us.front(), rtt_us[rtt_us.size() / 2],
        rtt_us.back());
    return 0;
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--serve") {
            o.serve = true;
        } else if (has_value && a == "--pid") {
            o.pid = std::atoi(argv[++i]);
        } else if (has_value && a == "--to") {
            o.to = std::atoi(argv[++i]);
        } else if (has_value && a == "--cmd") {
            o.cmd = std::atoi(argv[++i]);
        } else if (has_value && a == "--arg") {
            o.arg = std::atoi(argv[++i]);
        } else if (has_value && a == "--count") {
            o.count = std::atoi(argv[++i]);
        } else if (has_value && a == "--size") {
            o.size = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return IS_PID_VALID(o.pid) && o.pid != PID_CORE && o.count > 0 && o.size > 0 &&
           o.size <= static_cast<int>(AXMSG_MAX_DATA_LEN);
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::printf(
            "usage: %s --pid N [--to P | --serve | --cmd C [--arg A]] [--count K] [--size S]\n"
            "  N, P: process ids 2..63; the core process (1) must be running.\n",
            argv[0]);
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    simProcessSetPid(o.pid);
    axmsg_reg(AXMSG_ECHO_REPLY_MID, on_reply);
    axmsg_reg(kPeerRequestMid, axmsg_client_echo_back);
    if (axmsg_client_init(o.pid, kConnectTimeoutMs) != 0) {
        std::printf("axmsg_ping: cannot reach the message hub\n");
        return 1;
    }
    if (o.serve) {
        std::printf("axmsg_ping: proc %d serving\n", o.pid);
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        int sig = 0;
        sigwait(&stop, &sig);
        axmsg_client_close();
        return 0;
    }
    if (o.cmd != 0) {
        std::vector<uint8_t> payload{static_cast<uint8_t>(o.cmd), static_cast<uint8_t>(o.arg)};
        int rc = send_to(PID_CORE, MID_AXMSG, payload);
        std::printf("axmsg_ping: debug command %d sent: %s\n", o.cmd, rc == 0 ? "ok" : "failed");
        axmsg_client_close();
        return rc == 0 ? 0 : 1;
    }
    int rc = round_trips(o);
    axmsg_client_close();
    return rc;
}
