// The web server process (5) for the relay tests: connects to the hub,
// serves "axhttpClientManageFunc" (through httpParseInit) and the page
// output function "page_out", which prints the request's "text" to
// standard output, and serves until killed.
#include <unistd.h>

#include <cstdio>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axhttp.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"

namespace {

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
    if (axshm_init() != 0) return pc::test::peer::kNoSharedBlocks;
    if (int rc = pc::test::peer::connect(PID_HTTPD); rc != 0) return rc;
    if (httpParseInit() != 0 || axrpcRegisterFunc("page_out", page_out) != 0) return 5;
    pc::test::peer::ready_line("web server ready");
    for (;;) pause();
}
