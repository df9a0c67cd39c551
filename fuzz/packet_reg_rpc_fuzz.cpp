// Fuzzes the packet registration RPC ("axpacketRegManage") with parameter
// sets built from the input: any keys, types and lengths (names without
// their end, MACs and addresses of the wrong size, missing keys). Whatever
// the set, the function must refuse or apply it without reading outside it.
//
// Input: the module byte, the request type byte, then parameters of
// [key index, kind, length, bytes...] (fuzz_para_set.h).
#include <array>
#include <cstddef>
#include <cstdint>

#include "fuzz_para_set.h"
#include "packet/packet_registry.h"
#include "platform_core/axpacket.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"

namespace {

constexpr std::array kKeys{AXPACKET_REG_STACK,    AXPACKET_REG_MSGLEN,     AXPACKET_REG_PRI,
                           AXPACKET_REG_PID,      AXPACKET_REG_NAME,       AXPACKET_REG_OWN,
                           AXPACKET_REG_MACADDR,  AXPACKET_REG_MACMASK,    AXPACKET_REG_VALUE,
                           AXPACKET_REG_MASK,     AXPACKET_REG_VALUE_IPV6, AXPACKET_REG_MASK_IPV6,
                           AXPACKET_REG_OFFSET,   AXPACKET_REG_ENABLE,     AXPACKET_REG_SPEED,
                           AXPACKET_REG_QOS_MODE, AXPACKET_REG_MID,        AXPACKET_REG_TYPE};

constexpr uint32_t kFirstModule = 40;  // modules 40..43 exist, of process 9
constexpr uint32_t kModules = 4;
constexpr uint32_t kRemotePid = 9;

void register_modules() {
    for (uint32_t m = kFirstModule; m < kFirstModule + kModules; ++m) {
        AXRPC_PARA_T in, out;
        axrpcParaInit(&in);
        axrpcParaInit(&out);
        axrpcAddInt(&in, AXPACKET_REG_MID, static_cast<int>(m));
        axrpcAddInt(&in, AXPACKET_REG_TYPE, AXPACKET_SET_MODULE);
        axrpcAddInt(&in, AXPACKET_REG_STACK, 0);
        axrpcAddInt(&in, AXPACKET_REG_MSGLEN, 0);
        axrpcAddInt(&in, AXPACKET_REG_PRI, 1);
        axrpcAddData(&in, AXPACKET_REG_PID, AXRPC_PARA_TYPE_DATA, &kRemotePid, sizeof kRemotePid);
        axpacketRegManage(&in, &out);
        axrpcParaFree(&in);
        axrpcParaFree(&out);
    }
}

}  // namespace

// Requests come from process 9, as the RPC service's environment says.
static AXRPC_ENV_T g_env{};

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);  // keeps the refusals' error lines quiet
    simProcessSetPid(PID_CORE);
    if (envTls == nullptr) envTls = pal_tls_key_create(nullptr);
    g_env.pid = static_cast<int32_t>(kRemotePid);
    pal_tls_key_set(envTls, &g_env);
    axPacketFilterInit();
    pc::packet::rule_tables_create();
    register_modules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    // A module of the core would get a queue and a thread per input: the
    // module request is left to the set-up above.
    const int type = data[1] % 22 == AXPACKET_SET_MODULE ? AXPACKET_SET_NOTHING : data[1] % 22;
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddInt(&in, AXPACKET_REG_MID, static_cast<int>(kFirstModule + data[0] % (kModules + 1)));
    axrpcAddInt(&in, AXPACKET_REG_TYPE, type);
    pc::fuzz::add_paras(&in, {data + 2, size - 2}, kKeys);
    axpacketRegManage(&in, &out);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
    return 0;
}
