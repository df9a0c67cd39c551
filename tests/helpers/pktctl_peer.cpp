// An application process that sets CPU traffic-control entries in the core
// through the exported calls (which reach the core by RPC from here) and
// checks the answers; the test then reads the core's table.
// Usage: pktctl_peer PID. Exits 0 when every answer was as expected, else
// the number of the first failed check.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axrpc.h"
#include "platform_core/pktctl.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint8_t kLldp[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0B};

// A request with the name only: every other key is missing.
int call_with_name_only(const char *func) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out[AXRPC_UNIT_NUM];
    axrpcParaInit(&in);
    for (auto &g : out) axrpcParaGroupInit(&g);
    axrpcAddString(&in, "name", "p_l2", 5);
    int rc = axrpcCallFunctionSync(1u << 1, PID_CORE, func, &in, 0, 0, out);
    axrpcParaFree(&in);
    for (auto &g : out) axrpcParaGroupFree(&g);
    return rc;
}

int run() {
    up_list ports{};
    ports.bits[0] = 1u << 2;
    if (axPktCtlIEEECtl("p_lldp", kLldp, 128, 1) != 0) return 10;
    if (axPktCtlIEEECtlByPort("p_ieee_port", kLldp, 0, ports, 1) != 0) return 11;
    if (axPktCtlL2Ctl("p_l2", kMac, 0x88B5, 5, PKT_CTL_ACTION_TRAP, 1) != 0) return 12;
    if (axPktCtlL2UcCtl("p_l2uc", 0x0806, 0, 1) != 0) return 13;
    if (axPktCtlL3Ctl("p_l3", 17, 0x0A000001, 0x0A000002, 1000, 2000, 0, PKT_CTL_ACTION_COPY, 1) != 0)
        return 14;
    if (axPktCtlL3UcCtl("p_l3uc", 17, 53, 0, 1) != 0) return 15;
    if (axPktCtlL3McCtl("p_l3mc", 17, 0xE0000001, 5000, 0, 1) != 0) return 16;
    if (axPktCtlCpuMacSet(1, 1) != 0) return 17;
    // A refusal answers what the core's operation returns, not the RPC status.
    if (axPktCtlCpuMacSet(0, 1) != -1) return 18;
    if (axPktCtlCpuPortSpeedSet(500) != 0) return 19;
    if (axPktCtlSpeedSet("p_l2", 77) != 0) return 20;
    uint32_t speed = 0;
    if (axPktCtlSpeedGet("p_l2", &speed) != 0 || speed != 77) return 21;
    if (axPktCtlSpeedGet("absent", &speed) != -1) return 22;
    if (axPktCtlSpeedSet("absent", 1) != -1) return 23;
    if (axPktCtlL2UcCtl("a_name_longer_than_thirty_two_bytes", 0x0806, 0, 1) != -1) return 27;
    // The second call with a name disables it.
    if (axPktCtlL2Ctl("p_l2", kMac, 0x88B5, 77, PKT_CTL_ACTION_TRAP, 0) != 0) return 24;
    // Missing keys are refused.
    if (call_with_name_only("axPktCtlL2Ctl") != AXRPC_RET_FUNC_ERR) return 25;
    if (call_with_name_only("axPktCtlSpeedSet") != AXRPC_RET_FUNC_ERR) return 26;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const int pid = std::atoi(argv[1]);
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    _exit(run());
}
