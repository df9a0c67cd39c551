// The web server process (5) for the relay tests: connects to the hub,
// serves "axhttpClientManageFunc" (through httpParseInit) and the page
// output function "page_out", which prints the request's "text" to
// standard output, and serves until killed.
#include <unistd.h>

#include <cstdio>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axhttp.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"

namespace {

// RPC's message queues come out of a per-user kernel budget that other
// programs on the machine share: when it is short the helper ends with
// kTryAgain and the test starts it again.
constexpr int kTryAgain = 75;

int page_out(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    char *text = nullptr;
    if (axrpcGetStringPtr(in, "text", &text) != 0) return -1;
    std::printf("page: %s\n", text);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main() {
    simProcessSetPid(PID_HTTPD);
    if (axshm_init() != 0) return 3;
    if (axmsg_client_init(PID_HTTPD, 10000) != 0) return 4;
    if (axrpcInit() != 0) return kTryAgain;
    if (httpParseInit() != 0 || axrpcRegisterFunc("page_out", page_out) != 0) return 5;
    std::printf("web server ready\n");
    std::fflush(stdout);
    for (;;) pause();
}
