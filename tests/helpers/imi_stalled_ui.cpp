// A user-interface process that stops serving its UI: it connects as
// process argv[1], starts argv[2] executions of "show running-config" in the
// core at once, each from its own thread, and its print hook never returns
// (a terminal that takes no output). It prints "stalled" once the first
// print reached it, then holds everything until killed.
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

int stalled_print(int, void *, const char *, AXRPC_PARA_T *) {
    if (!g_said.exchange(true)) {
        std::printf("stalled\n");
        std::fflush(stdout);
    }
    for (;;) pause();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    const int sessions = std::atoi(argv[2]);
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
