// Round trips through the message hub against a raw loopback TCP
// ping-pong of the same bytes, measured side by side in one run.
//
//   tcp anchor    : two processes, write N bytes / read N bytes
//   hub echo      : client process -> core's echo handler -> client
//   proc to proc  : client process -> hub -> other process -> hub -> client
//
// Each hub figure is taken two ways: "chained", where the reply handler
// sends the next request, and "caller waits", where the main thread sends
// each request and waits for its reply. The main thread waits with
// axmsg_transport_wait: it reads the replies itself while no other thread
// reads the connection (the handler then runs on it), and otherwise sleeps
// until the client's reader thread hands the reply over (one more thread
// switch per round trip).
//
// Every process is a real one: the core and the peer are forked before this
// process starts any thread. The hub listens on 127.0.0.1:3600, so run the
// program where that port is free (for instance `unshare -rn`, with lo up).
// Run it once under `taskset -c 0` (all processes on one CPU: our software)
// and once unpinned (the machine's cross-CPU wake-ups).
//
// Usage: axmsg_bench [payload bytes ...]   (default: 64 4096)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/tcp_anchor.h"

namespace {

using pc::bench::median;

constexpr int kClientPid = 10;
constexpr int kPeerPid = 11;
constexpr uint32_t kRequestMid = 120;
constexpr int kBatches = 15;
constexpr int kTripsPerBatch = 2000;
constexpr int kWarmupTrips = 500;
constexpr unsigned kConnectMs = 10000;
constexpr pc::bench::TripPlan kTripPlan{kWarmupTrips, kBatches, kTripsPerBatch};

using Clock = std::chrono::steady_clock;

// ---- Hub round trips -------------------------------------------------------

struct Trips {
    std::mutex lock;
    std::condition_variable cv;
    std::atomic<int> done{0};
    int target = 0;  // chained: stop after this many replies
    bool chained = false;
    uint32_t dst_proc = 0;
    uint32_t mid = 0;
    std::vector<uint8_t> payload;
};
Trips g_trips;

int send_request() {
    iovec piece{g_trips.payload.data(), g_trips.payload.size()};
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = g_trips.dst_proc;
    m.msg_type = g_trips.mid;
    m.iov = &piece;
    m.iov_num = 1;
    return axmsg_send(&m);
}

int on_reply(AXMSG_T *) {
    int n = g_trips.done.fetch_add(1) + 1;
    if (g_trips.chained && n < g_trips.target) return send_request();
    { std::lock_guard<std::mutex> guard(g_trips.lock); }
    g_trips.cv.notify_one();
    return 0;
}

std::chrono::milliseconds g_reply_timeout{30000};

int reached(void *n) { return g_trips.done.load() >= *static_cast<int *>(n) ? 1 : 0; }

bool wait_done(int n) {
    int read_self = axmsg_transport_wait(AXMSG_ECHO_REPLY_MID, reached, &n,
                                         static_cast<unsigned>(g_reply_timeout.count()));
    if (read_self != 0) return read_self > 0;
    std::unique_lock<std::mutex> lock(g_trips.lock);
    return g_trips.cv.wait_for(lock, g_reply_timeout, [&] { return g_trips.done.load() >= n; });
}

// Average microseconds per round trip of `trips` round trips.
double run_trips(int trips, bool chained) {
    g_trips.done.store(0);
    g_trips.chained = chained;
    g_trips.target = trips;
    auto t0 = Clock::now();
    if (chained) {
        if (send_request() != 0 || !wait_done(trips)) return -1;
    } else {
        for (int i = 0; i < trips; ++i) {
            if (send_request() != 0 || !wait_done(i + 1)) return -1;
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / trips;
}

std::vector<double> hub_round_trips(uint32_t dst_proc, size_t size, bool chained) {
    g_trips.dst_proc = dst_proc;
    g_trips.mid = dst_proc == PID_CORE ? uint32_t{MID_AXMSG} : kRequestMid;
    g_trips.payload.assign(size, 0);
    g_trips.payload[0] = AXMSG_DBG_ECHO;
    std::vector<double> batches;
    if (run_trips(kWarmupTrips, chained) < 0) return batches;
    for (int b = 0; b < kBatches; ++b) {
        double us = run_trips(kTripsPerBatch, chained);
        if (us < 0) return {};
        batches.push_back(us);
    }
    return batches;
}

// A forked child ends when this process ends, whatever way it ends.
void die_with_parent() { prctl(PR_SET_PDEATHSIG, SIGKILL); }

void wait_forever() {
    sigset_t none;
    sigemptyset(&none);
    for (;;) sigsuspend(&none);
}

pid_t start_core() {
    pid_t pid = fork();
    if (pid == 0) {
        die_with_parent();
        simProcessSetPid(PID_CORE);
        simSwitchSetInited(1);
        if (axmsg_init(PID_CORE) != 0) {
            std::fprintf(stderr, "axmsg_bench: the hub cannot listen on port %d\n", AXMSG_SERV_PORT);
            _exit(1);
        }
        wait_forever();
    }
    return pid;
}

pid_t start_peer() {
    pid_t pid = fork();
    if (pid == 0) {
        die_with_parent();
        simProcessSetPid(kPeerPid);
        axmsg_reg(kRequestMid, axmsg_client_echo_back);
        if (axmsg_client_init(kPeerPid, kConnectMs) != 0) _exit(1);
        wait_forever();
    }
    return pid;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = {64, 4096};
    for (size_t s : sizes) {
        if (s < 1 || s > AXMSG_MAX_DATA_LEN) {
            std::fprintf(stderr, "usage: %s [payload bytes 1..%u ...]\n", argv[0], AXMSG_MAX_DATA_LEN);
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    size_t max_size = *std::max_element(sizes.begin(), sizes.end()) + AXMSG_HEADER_LEN;

    // Every child is forked before this process starts a thread.
    int tcp_port = 0;
    pid_t tcp_echo = pc::bench::start_tcp_echo(tcp_port, max_size);
    pid_t core = start_core();
    pid_t peer = start_peer();

    simProcessSetPid(kClientPid);
    axmsg_reg(AXMSG_ECHO_REPLY_MID, on_reply);
    int rc = 0;
    if (axmsg_client_init(kClientPid, kConnectMs) != 0) {
        std::fprintf(stderr, "axmsg_bench: no hub\n");
        rc = 1;
    }
    // Wait until the peer is attached too: its first echo comes back.
    g_reply_timeout = std::chrono::milliseconds(100);
    for (int i = 0; rc == 0 && i < 100; ++i) {
        g_trips.dst_proc = kPeerPid;
        g_trips.mid = kRequestMid;
        g_trips.payload.assign(1, 0);
        if (run_trips(1, false) > 0) break;
    }
    g_reply_timeout = std::chrono::milliseconds(30000);

    if (rc == 0) {
        std::printf("%-28s %10s %10s %8s   (median of %d batches x %d round trips)\n", "round trip",
                    "payload", "us", "x tcp", kBatches, kTripsPerBatch);
        for (size_t size : sizes) {
            // The anchor carries the same bytes as a hub message: header and payload.
            double tcp = median(pc::bench::tcp_round_trips(tcp_port, size + AXMSG_HEADER_LEN, kTripPlan));
            struct Row {
                const char *name;
                uint32_t dst;
                bool chained;
            };
            const Row rows[] = {
                {"hub echo (chained)", PID_CORE, true},
                {"hub echo (caller waits)", PID_CORE, false},
                {"proc to proc (chained)", kPeerPid, true},
                {"proc to proc (caller waits)", kPeerPid, false},
            };
            std::printf("%-28s %10zu %10.2f %8s\n", "raw tcp ping-pong (anchor)", size + AXMSG_HEADER_LEN,
                        tcp, "1.00");
            for (const Row &r : rows) {
                double us = median(hub_round_trips(r.dst, size, r.chained));
                std::printf("%-28s %10zu %10.2f %8.2f\n", r.name, size, us, us / tcp);
            }
        }
    }
    axmsg_client_close();
    for (pid_t child : {peer, core, tcp_echo}) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return rc;
}
