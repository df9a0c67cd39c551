// Synchronous RPC from an application process to a function in the core
// process, against a raw loopback TCP ping-pong of the same message size
// between two processes. Anchor and subject run in alternating short
// batches (bench/support/paired_batches.h); each line gives both medians
// and the median of the per-pair ratios with their spread.
//
//   tcp anchor   : two processes, write N bytes / read N bytes, N = the
//                  size of one RPC request on the wire (hub header + RPC
//                  message with one int parameter)
//   rpc sync     : client process -> hub -> core worker -> function -> reply
//                  -> waiting caller (it reads its reply itself while it is
//                  the only one waiting; else the client's reader thread)
//   calls/s      : 1, 8 and 32 caller threads calling at once; the ratio is
//                  the team's time per call against one TCP round trip (with
//                  one caller: the round trip itself)
//
// Every process is a real one, forked before this process starts a thread.
// The program enters its own network and IPC namespaces when it may (port
// 3600 and the queue names are then private to it). Run it under
// `taskset -c 0` (all processes on one CPU: our software) and unpinned (the
// machine's cross-CPU wake-ups). Usage: axrpc_bench [pairs]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/paired_batches.h"
#include "support/tcp_anchor.h"
#include "support/thread_team.h"

namespace {

constexpr int kClientPid = 10;
constexpr uint32_t kUnit1 = 1u << 1;
constexpr int kDefaultPairs = 101;
constexpr int kWarmupPairs = 10;
constexpr int kTripsPerBatch = 200;  // a batch lasts a few milliseconds
constexpr int kCallsPerTeamBatch = 1600;
constexpr unsigned kConnectMs = 10000;
// Hub header + RPC header + environment + set words + one section + an int.
constexpr size_t kMessageBytes = AXMSG_HEADER_LEN + AXRPC_MSG_MIN_LEN + 48 + 4;

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

std::atomic<long> g_failures{0};

// `calls` calls in a row on this thread.
void call_run(int first, int calls) {
    for (int i = 0; i < calls; ++i)
        if (!call_once(first + i)) g_failures.fetch_add(1, std::memory_order_relaxed);
}

// Microseconds per call of a batch of `calls` calls shared by the team's
// members; -1 when a call failed.
double team_batch(pc::bench::ThreadTeam &team, int calls) {
    const int each = calls / team.members();
    const double ns = team.run([each](int member) { call_run(member * 1000000, each); });
    if (g_failures.load() != 0) return -1;
    return ns / 1000.0 / (each * team.members());
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    if (pairs <= 0) {
        std::fprintf(stderr, "usage: axrpc_bench [pairs]\n");
        return 2;
    }
    pc::bench::enter_private_namespaces();
    int port = 0;
    pid_t echo = pc::bench::start_tcp_echo(port, kMessageBytes);
    pid_t core = start_core();
    sleep(2);  // the hub listens one second after its start

    simProcessSetPid(kClientPid);
    pc::bench::TcpPingPong tcp(port, kMessageBytes);
    if (!tcp.connected() || axmsg_client_init(kClientPid, kConnectMs) != 0 || axrpcInit() != 0) {
        std::printf("client start failed\n");
        kill(core, SIGKILL);
        kill(echo, SIGKILL);
        return 1;
    }
    std::printf("message bytes %zu; one batch: %d TCP round trips or RPC calls, %d calls for a team\n",
                kMessageBytes, kTripsPerBatch, kCallsPerTeamBatch);
    pc::bench::print_paired_header(stdout, "us/call");
    auto anchor = [&] { return tcp.batch(kTripsPerBatch); };
    const pc::bench::PairPlan plan{std::min(kWarmupPairs, pairs / 10), pairs};
    for (int threads : {1, 8, 32}) {
        pc::bench::ThreadTeam team(threads);
        const int calls = threads == 1 ? kTripsPerBatch : kCallsPerTeamBatch;
        auto r = pc::bench::run_paired(
            anchor, [&] { return team_batch(team, calls); }, plan);
        const std::string label = threads == 1 ? std::string("RPC sync round trip / TCP")
                                               : "calls, " + std::to_string(threads) + " callers / TCP";
        pc::bench::print_paired(stdout, label.c_str(), r);
        if (r.pairs > 0)
            std::printf("%-34s %10.0f calls/s with %d caller%s (median batch)\n", "", 1e6 / r.subject_median,
                        threads, threads == 1 ? "" : "s");
    }
    if (g_failures.load() != 0) std::printf("(%ld failed calls)\n", g_failures.load());
    std::fflush(stdout);
    axrpcDestroy();
    pc::bench::stop_child(core);
    pc::bench::stop_child(echo);
    return 0;
}
