// Fuzzes the core halves of the traffic-control RPCs with parameter sets
// built from the input: any keys, types and lengths (names without their
// end, MACs and port lists of the wrong size, missing keys). Whatever the
// set, a function must refuse or apply it without reading outside it.
//
// Input: one byte choosing the function, then parameters of
// [key index, kind, length, bytes...].
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

void add(AXRPC_PARA_T *in, const char *key, uint8_t kind, const uint8_t *bytes, size_t len) {
    int32_t word = 0;
    std::memcpy(&word, bytes, len < sizeof word ? len : sizeof word);
    switch (kind % 4) {
        case 0:
            axrpcAddData(in, key, AXRPC_PARA_TYPE_DATA, bytes, static_cast<int>(len));
            break;
        case 1:
            axrpcAddInt(in, key, word);
            break;
        case 2:
            axrpcAddShort(in, key, static_cast<short>(word));
            break;
        default:
            axrpcAddChar(in, key, static_cast<char>(word));
            break;
    }
}

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
    size_t at = 1;
    while (at + 3 <= size) {
        const char *key = kKeys[data[at] % kKeys.size()];
        uint8_t kind = data[at + 1];
        size_t len = data[at + 2];
        at += 3;
        if (len > size - at) len = size - at;
        // An exact-size heap copy, so any read past the value is caught.
        uint8_t *value = new uint8_t[len + 1];
        std::memcpy(value, data + at, len);
        add(&in, key, kind, value, len);
        delete[] value;
        at += len;
    }
    func(&in, &out);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
    return 0;
}
