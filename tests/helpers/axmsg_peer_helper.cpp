// An application process for messaging tests, using the messaging client.
// Usage:
//   axmsg_peer_helper serve PID           answer requests (module 120) with
//                                         the same payload (module 1), until SIGTERM
//   axmsg_peer_helper ping PID TO COUNT   COUNT round trips to process TO
//                                         (TO 1: the core's echo); exit 0 when
//                                         every reply came back intact
//   axmsg_peer_helper held PID            the id is held by another peer: the
//                                         client must not report itself connected
//                                         within a second (exit 4 if it does),
//                                         prints "not connected while held", then
//                                         connects once the id is free and pings
//                                         the core (exit 0)
#include <signal.h>

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
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint32_t kRequestMid = 120;
constexpr unsigned kConnectTimeoutMs = 10000;
constexpr unsigned kHeldCheckMs = 1000;
constexpr auto kReplyTimeout = std::chrono::seconds(10);

std::mutex g_lock;
std::condition_variable g_cv;
std::vector<uint8_t> g_reply;  // guarded by g_lock
bool g_has_reply = false;      // guarded by g_lock

int on_reply(AXMSG_T *msg) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto *p = static_cast<uint8_t *>(msg->data);
    g_reply.assign(p, p + msg->data_len);
    g_has_reply = true;
    g_cv.notify_one();
    return 0;
}

int serve() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    int sig = 0;
    sigwait(&stop, &sig);
    axmsg_client_close();
    return 0;
}

int ping(uint32_t to, int count) {
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> payload(1 + static_cast<size_t>(i % 300), static_cast<uint8_t>(i));
        if (to == PID_CORE) payload[0] = AXMSG_DBG_ECHO;
        iovec piece{payload.data(), payload.size()};
        AXMSG_T msg{};
        msg.dst_unit = 1;
        msg.dst_proc = to;
        msg.msg_type = to == PID_CORE ? static_cast<uint32_t>(MID_AXMSG) : kRequestMid;
        msg.iov = &piece;
        msg.iov_num = 1;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_has_reply = false;
        }
        if (axmsg_send(&msg) != 0) {
            std::fprintf(stderr, "ping: send %d failed\n", i);
            return 1;
        }
        std::unique_lock<std::mutex> lock(g_lock);
        if (!g_cv.wait_for(lock, kReplyTimeout, [] { return g_has_reply; })) {
            std::fprintf(stderr, "ping: no reply to %d\n", i);
            return 1;
        }
        if (g_reply != payload) {
            std::fprintf(stderr, "ping: reply %d differs\n", i);
            return 1;
        }
    }
    axmsg_client_close();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    std::string mode = argv[1];
    int pid = std::atoi(argv[2]);
    simProcessSetPid(pid);
    axmsg_reg(AXMSG_ECHO_REPLY_MID, on_reply);
    axmsg_reg(kRequestMid, axmsg_client_echo_back);
    if (mode == "held") {
        if (axmsg_client_init(pid, kHeldCheckMs) == 0) return 4;
        std::printf("not connected while held\n");
        std::fflush(stdout);
        if (axmsg_client_wait_connected(kConnectTimeoutMs) != 0) return 3;
        return ping(PID_CORE, 3);
    }
    if (axmsg_client_init(pid, kConnectTimeoutMs) != 0) {
        std::fprintf(stderr, "peer %d: no hub\n", pid);
        return 3;
    }
    if (mode == "serve") return serve();
    if (mode == "ping" && argc == 5)
        return ping(static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]));
    return 2;
}
