// A feature process for the command-line client's tests: connects to the
// hub as process argv[1], registers its CLI commands with the core through
// the public C API and serves them until killed:
//   show lldp neighbors [PORTS]  prints a small neighbour table and the
//                                words typed after the command
//   show lldp stuck              never returns (a process that hangs)
// It prints "peer ready" once the commands are registered.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/aximi.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"

namespace {

int show_neighbors(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *) {
    char *typed = nullptr;
    if (axrpcGetStringPtr(args, AXIMI_CLI_ARGS, &typed) != 0) typed = nullptr;
    axImiPrintf(ctx, "Port     Neighbor      Port ID\r\n");
    axImiPrintf(ctx, "1/0/1    peer-switch   1/0/24\r\n");
    axImiPrintf(ctx, "arguments: '%s'\r\n", typed != nullptr ? typed : "(none)");
    return 0;
}

int stuck(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    for (;;) pause();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const int pid = std::atoi(argv[1]);
    simProcessSetPid(pid);
    if (axshm_init() != 0 || debugFlagInit() != 0) return pc::test::peer::kNoSharedBlocks;
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (axImiInit() != 0) return 5;
    const AXIMI_CLI_CMD_T neighbors = {"show lldp neighbors", "[PORTS]", "LLDP neighbours seen on each port",
                                       "lldpCliShowNeighbors"};
    const AXIMI_CLI_CMD_T hang = {"show lldp stuck", nullptr, "a command whose process never answers",
                                  "lldpCliStuck"};
    if (axImiCliRegister(&neighbors, show_neighbors) != 0) return 6;
    if (axImiCliRegister(&hang, stuck) != 0) return 7;
    pc::test::peer::ready_line("peer ready");
    for (;;) pause();
}
