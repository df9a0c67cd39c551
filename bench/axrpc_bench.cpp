// Synchronous RPC from an application process to a function in the core
// process, against a raw loopback TCP ping-pong of the same message size
// between two processes, measured side by side in one run.
//
//   tcp anchor   : two processes, write N bytes / read N bytes, N = the
//                  size of one RPC request on the wire (hub header + RPC
//                  message with one int parameter)
//   rpc sync     : client process -> hub -> core worker -> function -> reply
//                  -> client reader thread -> waiting caller
//   calls/s      : 1, 8 and 32 caller threads calling at once
//
// Every process is a real one, forked before this process starts a thread.
// The program enters its own network and IPC namespaces when it may (port
// 3600 and the queue names are then private to it). Run it under
// `taskset -c 0` (all processes on one CPU: our software) and unpinned (the
// machine's cross-CPU wake-ups). Usage: axrpc_bench [seconds per figure]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/tcp_anchor.h"

namespace {

using pc::bench::median;

constexpr int kClientPid = 10;
constexpr uint32_t kUnit1 = 1u << 1;
constexpr int kBatches = 11;
constexpr int kTripsPerBatch = 2000;
constexpr int kWarmupTrips = 500;
constexpr unsigned kConnectMs = 10000;
// Hub header + RPC header + environment + set words + one section + an int.
constexpr size_t kMessageBytes = AXMSG_HEADER_LEN + AXRPC_MSG_MIN_LEN + 48 + 4;
constexpr pc::bench::TripPlan kTripPlan{kWarmupTrips, kBatches, kTripsPerBatch};

using Clock = std::chrono::steady_clock;

// ---- The core process ------------------------------------------------------

int bench_echo(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int n = 0;
    axrpcGetInt(in, "n", &n);
    axrpcAddInt(out, "n", n + 1);
    return 0;
}

pid_t start_core() {
    pid_t pid = fork();
    if (pid == 0) {
        simProcessSetPid(PID_CORE);
        if (axmsg_init(PID_CORE) != 0 || axrpcInit() != 0 || axrpcRegisterFunc("bench_echo", bench_echo) != 0)
            _exit(1);
        for (;;) pause();
    }
    return pid;
}

// ---- RPC figures -------------------------------------------------------------

bool call_once(int n) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    axrpcAddInt(&in, "n", n);
    int rc = axrpcCallFunctionSync(kUnit1, PID_CORE, "bench_echo", &in, 5, 0, &out);
    int got = 0;
    bool ok = rc == 0 && axrpcGetInt(&out.paraSet, "n", &got) == 0 && got == n + 1;
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return ok;
}

double rpc_round_trip_us() {
    for (int i = 0; i < kWarmupTrips; ++i) call_once(i);
    std::vector<double> batches;
    for (int b = 0; b < kBatches; ++b) {
        auto t0 = Clock::now();
        for (int i = 0; i < kTripsPerBatch; ++i)
            if (!call_once(i)) return -1;
        batches.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() /
                          kTripsPerBatch);
    }
    return median(batches);
}

// Calls per second with `threads` callers, the median of three runs.
double calls_per_second(int threads, double seconds) {
    std::vector<double> runs;
    for (int r = 0; r < 3; ++r) {
        std::atomic<bool> stop{false};
        std::atomic<long> calls{0}, failures{0};
        std::vector<std::thread> pool;
        auto t0 = Clock::now();
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                    if (call_once(t * 1000000 + i))
                        calls.fetch_add(1, std::memory_order_relaxed);
                    else
                        failures.fetch_add(1, std::memory_order_relaxed);
                }
            });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stop = true;
        for (auto &th : pool) th.join();
        double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        if (failures.load() != 0) std::printf("  (%ld failed calls)\n", failures.load());
        runs.push_back(static_cast<double>(calls.load()) / elapsed);
    }
    return median(runs);
}

}  // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    pc::bench::enter_private_namespaces();
    int port = 0;
    pid_t echo = pc::bench::start_tcp_echo(port, kMessageBytes);
    pid_t core = start_core();
    sleep(2);  // the hub listens one second after its start

    simProcessSetPid(kClientPid);
    if (axmsg_client_init(kClientPid, kConnectMs) != 0 || axrpcInit() != 0) {
        std::printf("client start failed\n");
        kill(core, SIGKILL);
        kill(echo, SIGKILL);
        return 1;
    }
    const double tcp = median(pc::bench::tcp_round_trips(port, kMessageBytes, kTripPlan));
    const double rpc = rpc_round_trip_us();
    std::printf("message bytes                 %zu\n", kMessageBytes);
    std::printf("raw TCP round trip (anchor)   %8.1f us   (median of %d batches of %d)\n", tcp, kBatches,
                kTripsPerBatch);
    std::printf("RPC sync round trip           %8.1f us   ratio %.2fx the TCP round trip\n", rpc, rpc / tcp);
    std::printf("TCP round trips/s (anchor)    %8.0f\n", 1e6 / tcp);
    for (int threads : {1, 8, 32}) {
        double cps = calls_per_second(threads, seconds);
        std::printf("RPC sync calls/s, %2d callers  %8.0f   (%.2fx the anchor's round trips/s)\n", threads,
                    cps, cps * tcp / 1e6);
    }
    std::fflush(stdout);
    axrpcDestroy();
    kill(core, SIGKILL);
    kill(echo, SIGKILL);
    waitpid(core, nullptr, 0);
    waitpid(echo, nullptr, 0);
    return 0;
}
