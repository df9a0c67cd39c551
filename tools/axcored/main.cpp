// axcored: the core process of the switch (platform process 1) on the
// simulated switch. It brings the platform up with platformInit, reports
// the result, serves until SIGINT or SIGTERM and then exits cleanly.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

void usage(const char *prog) {
    std::printf(
        "usage: %s [--debug LEVEL]\n"
        "  Runs the core process of the simulated switch until SIGINT or SIGTERM.\n",
        prog);
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--debug") == 0 && i + 1 < argc) {
            simSetDefaultDbgSwitch(static_cast<signed char>(argv[++i][0] - '0'));
        } else {
            usage(argv[0]);
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // The signals that stop the daemon are taken by sigwait below; every
    // thread inherits the mask, so none of them is interrupted by them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    simProcessSetPid(PID_CORE);
    pal_thread_main_set(pal_thread_self());

    std::printf("axcored: starting the platform (pid %d)\n", static_cast<int>(getpid()));
    int rc = platformInit();
    if (rc != 0) {
        std::printf("axcored: platformInit failed with %d\n", rc);
        return 1;
    }
    simSwitchSetInited(1);
    std::printf("axcored: platform is up\n");

    int sig = 0;
    sigwait(&stop_signals, &sig);
    std::printf("axcored: %s received, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}
