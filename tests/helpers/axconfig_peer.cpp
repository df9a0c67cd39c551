// A feature process for the configuration tests: connects to the hub as
// process argv[1], registers the printer "peer_cfg" (priority argv[2]) with
// a port deletion handler, and serves until killed. Its printer writes
//   pre:      "peer pre"
//   global:   "peer global"
//   port 1/0/1 (Ethernet): "peer port <unit/slot/port>"
// and its handler prints "peer delport <word 0 of the port list>" to
// standard output.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "axmsg_client/axconfig_client.h"
#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"

namespace {

int peer_printer(int type, AXCFG_REG_ARG_T *arg, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    char line[64];
    switch (type) {
        case AXCFG_TYPE_PRE:
            return out(env, "peer pre");
        case AXCFG_TYPE_GLOBAL:
            return out(env, "peer global");
        case AXCFG_TYPE_ETHERNET:
            if (UP_PORT(*arg) != 1 || UP_SLOT(*arg) != 0) return 0;
            std::snprintf(line, sizeof line, "peer port %u/%u/%u", UP_UNIT(*arg), UP_SLOT(*arg),
                          UP_PORT(*arg));
            return out(env, line);
        default:
            return 0;
    }
}

int peer_delport(unit_list *, up_list *ports) {
    std::printf("peer delport %x\n", ports->bits[0]);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    simProcessSetPid(pid);
    if (axshm_init() != 0 || debugFlagInit() != 0 || up_mod_init() != 0)
        return pc::test::peer::kNoSharedBlocks;
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (axConfigClientInit() != 0) return 5;
    if (axConfigClientRegister("peer_cfg", peer_printer, peer_delport, std::atoi(argv[2])) != 0) return 6;
    pc::test::peer::ready_line("peer registered");
    for (;;) pause();
}
