// A core process for messaging tests: serves the hub until SIGTERM.
// Usage: axmsg_core_helper
#include <signal.h>

#include <cstdio>

#include "platform_core/axmsg.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

int main() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    simProcessSetPid(PID_CORE);
    simSwitchSetInited(1);
    if (axmsg_init(PID_CORE) != 0) {
        std::fprintf(stderr, "axmsg_core_helper: axmsg_init failed\n");
        return 1;
    }
    int sig = 0;
    sigwait(&stop, &sig);
    return 0;
}
