// A user-interface process that stops serving its UI: it connects as
// process argv[1], starts argv[2] executions of "show running-config" in the
// core at once, each from its own thread, and its print hook never returns
// (a terminal that takes no output). It prints "stalled" once the first
// print reached it, "held <n>" for each print it holds, and "all stalled"
// once it holds as many as it can (one per execution, at most one per RPC
// worker of its own), then holds everything until killed.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/aximi.h"
#include "platform_core/axrpc.h"
#include "platform_sim/sim.h"

namespace {

std::atomic<bool> g_said{false};
std::atomic<int> g_stalled{0};  // prints that reached the hook
int g_most = 0;                 // prints it can hold; set before the first execution

int stalled_print(int, void *, const char *, AXRPC_PARA_T *) {
    if (!g_said.exchange(true)) {
        std::printf("stalled\n");
        std::fflush(stdout);
    }
    const int n = g_stalled.fetch_add(1) + 1;
    std::printf("held %d\n", n);
    if (n == g_most) std::printf("all stalled\n");
    std::fflush(stdout);
    for (;;) pause();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    const int sessions = std::atoi(argv[2]);
    g_most = sessions < AXRPC_SYNC_THREAD_NUM ? sessions : AXRPC_SYNC_THREAD_NUM;
    simProcessSetPid(pid);
    if (axmsg_client_init(pid, 10000) != 0) return 3;
    if (axrpcInit() != 0 || axImiInitForUI(stalled_print, nullptr) != 0) return 4;
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i) {
        threads.emplace_back([i] {
            AXRPC_PARA_T args;
            axrpcParaInit(&args);
            int32_t session = i;
            axImiExecute(PID_CORE, "imi_cli_axConfigShowRunCfg", &session, sizeof session, &args);
            axrpcParaFree(&args);
        });
    }
    for (auto &t : threads) t.join();
    for (;;) pause();
}
