// Round trips through the message hub against a raw loopback TCP
// ping-pong of the same bytes. Anchor and subject run in alternating short
// batches (bench/support/paired_batches.h); each line gives both medians
// and the median of the per-pair ratios with their spread.
//
//   tcp anchor    : two processes, write N bytes / read N bytes
//   hub echo      : client process -> core's echo handler -> client
//   proc to proc  : client process -> hub -> other process -> hub -> client
//   tcp relay     : client -> relay -> echo -> relay -> client, raw TCP
//
// The TCP anchor is a two-process ping-pong: a round trip crosses two
// processes' wake-ups. Process to process through the hub crosses four
// (client, hub, peer, hub), so its ratio to that anchor cannot fall below
// what a bare relay in the hub's place costs. Two more lines show that
// floor: the relay against the anchor, and process to process against the
// relay (what the hub costs above a bare relay).
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
// process starts any thread. The program enters its own network and IPC
// namespaces when it may (port 3600 and the queue names are then private to
// it); without them, run it where the hub's port is free.
// Run it once under `taskset -c 0` (all processes on one CPU: our software)
// and once unpinned (the machine's cross-CPU wake-ups).
//
// Usage: axmsg_bench [pairs [payload bytes ...]]   (default: 101 pairs, 64 4096)
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
#include "support/paired_batches.h"
#include "support/tcp_anchor.h"

namespace {

constexpr int kClientPid = 10;
constexpr int kPeerPid = 11;
constexpr uint32_t kRequestMid = 120;
constexpr int kDefaultPairs = 101;
constexpr int kWarmupPairs = 10;
constexpr int kTripsPerBatch = 200;  // a batch lasts a few milliseconds
constexpr unsigned kConnectMs = 10000;

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

// Points the round trips at `dst_proc` with `size` payload bytes.
void aim(uint32_t dst_proc, size_t size) {
    g_trips.dst_proc = dst_proc;
    g_trips.mid = dst_proc == PID_CORE ? uint32_t{MID_AXMSG} : kRequestMid;
    g_trips.payload.assign(size, 0);
    g_trips.payload[0] = AXMSG_DBG_ECHO;
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
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    std::vector<size_t> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = {64, 4096};
    for (size_t s : sizes) {
        if (pairs <= 0 || s < 1 || s > AXMSG_MAX_DATA_LEN) {
            std::fprintf(stderr, "usage: %s [pairs [payload bytes 1..%u ...]]\n", argv[0],
                         AXMSG_MAX_DATA_LEN);
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    size_t max_size = *std::max_element(sizes.begin(), sizes.end()) + AXMSG_HEADER_LEN;

    // Every child is forked before this process starts a thread.
    int tcp_port = 0;
    int relay_echo_port = 0;
    int relay_port = 0;
    pc::bench::enter_private_namespaces();
    pid_t tcp_echo = pc::bench::start_tcp_echo(tcp_port, max_size);
    pid_t relay_echo = pc::bench::start_tcp_echo(relay_echo_port, max_size);
    pid_t relay = pc::bench::start_tcp_relay(relay_port, relay_echo_port);
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
        aim(kPeerPid, 1);
        if (run_trips(1, false) > 0) break;
    }
    g_reply_timeout = std::chrono::milliseconds(30000);

    if (rc == 0) {
        std::printf("one batch: %d round trips\n", kTripsPerBatch);
        pc::bench::print_paired_header(stdout, "us/trip");
        const pc::bench::PairPlan plan{std::min(kWarmupPairs, pairs / 10), pairs};
        for (size_t size : sizes) {
            // The anchors carry the same bytes as a hub message: header and payload.
            pc::bench::TcpPingPong tcp(tcp_port, size + AXMSG_HEADER_LEN);
            pc::bench::TcpPingPong bare_relay(relay_port, size + AXMSG_HEADER_LEN);
            const pc::bench::Batch tcp_batch = [&] { return tcp.batch(kTripsPerBatch); };
            const pc::bench::Batch relay_batch = [&] { return bare_relay.batch(kTripsPerBatch); };
            struct Row {
                const char *name;
                const pc::bench::Batch *anchor;
                uint32_t dst;  // 0: the subject is the relay itself
                bool chained;
            };
            const Row rows[] = {
                {"hub echo (chained)", &tcp_batch, PID_CORE, true},
                {"hub echo (caller waits)", &tcp_batch, PID_CORE, false},
                {"proc to proc (chained)", &tcp_batch, kPeerPid, true},
                {"proc to proc (caller waits)", &tcp_batch, kPeerPid, false},
                {"tcp relay / tcp", &tcp_batch, 0, false},
                {"p2p chained / tcp relay", &relay_batch, kPeerPid, true},
            };
            for (const Row &r : rows) {
                pc::bench::Batch subject = relay_batch;
                if (r.dst != 0) {
                    aim(r.dst, size);
                    subject = [&] { return run_trips(kTripsPerBatch, r.chained); };
                }
                auto result = pc::bench::run_paired(*r.anchor, subject, plan);
                const std::string label = std::string(r.name) + ", " + std::to_string(size) + " B";
                pc::bench::print_paired(stdout, label.c_str(), result);
            }
        }
    }
    axmsg_client_close();
    for (pid_t child : {peer, core, relay, relay_echo, tcp_echo}) pc::bench::stop_child(child);
    return rc;
}
