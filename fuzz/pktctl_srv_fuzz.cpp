// Fuzzes the core halves of the traffic-control RPCs with parameter sets
// built from the input: any keys, types and lengths (names without their
// end, MACs and port lists of the wrong size, missing keys). Whatever the
// set, a function must refuse or apply it without reading outside it.
//
// Input: one byte choosing the function, then parameters of
// [key index, kind, length, bytes...] (fuzz_para_set.h).
#include <array>
#include <cstddef>
#include <cstdint>

#include "fuzz_para_set.h"
#include "pktctl/pktctl_table.h"
#include "platform_core/axrpc.h"
#include "platform_core/pktctl.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"

namespace {

constexpr std::array kKeys{"name",    "dstMac", "etherType", "protocol", "dstIp", "srcIp",   "dstPort",
                           "srcPort", "speed",  "action",    "isEnable", "vid",   "portList"};

// The CPU port rate is left out: a rate of 320 pauses for a second.
constexpr std::array<AXRPC_FUNC, 10> kFuncs{
    axPktCtlIEEECtl_srv,  axPktCtlIEEECtlByPort_srv, axPktCtlL2Ctl_srv,   axPktCtlL2UcCtl_srv,
    axPktCtlL3Ctl_srv,    axPktCtlL3UcCtl_srv,       axPktCtlL3McCtl_srv, axPktCtlCpuMacSet_srv,
    axPktCtlSpeedSet_srv, axPktCtlSpeedGet_srv};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);
    simProcessSetPid(PID_CORE);
    simAppintfAclHooksSet();
    return pc::pktctl::table_lock_create();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    AXRPC_FUNC func = kFuncs[data[0] % kFuncs.size()];
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    pc::fuzz::add_paras(&in, {data + 1, size - 1}, kKeys);
    func(&in, &out);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
    return 0;
}
