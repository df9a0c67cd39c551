// Fuzzes the stack callback functions that other processes and units call
// through RPC: a parameter set built from the bytes (names from the
// functions' own, data or pointer parameters of any length) goes to every
// one of them. Whatever the set holds, none may read outside it, call a
// handler through the wrong slot or crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform_core/axrpc.h"
#include "platform_core/stack_cb.h"
#include "platform_sim/sim.h"

namespace {

constexpr int kSelfPid = 5;
constexpr const char *kNames[] = {
    "suCbRegType",       "suCbRegKey",
    "suCbRegIdx",        "suCbUnregType",
    "suCbUnregParam",    "suCbModExeKey",
    "suCbModExeIdx",     "suCbModExeParam",
    "suDataSyncSetKey",  "suDataSyncSetIdx",
    "suDataSyncSetData", "stkUsoRTKey",
    "stkUsoRTData",      "ret",
};

int noop_update(su_cb_update_t *) { return 0; }
int noop_unit(unit_list) { return 0; }
int noop_data(usodata_t *d) { return d == nullptr ? -1 : 0; }
int noop_rt(void *, uint32_t) { return 0; }

using Srv = int (*)(AXRPC_PARA_T *, AXRPC_PARA_T *);
constexpr Srv kServers[] = {_suCbModRegReportSrv, _suCbModUnregReportSrv, _suCbModExeProxySrv,
                            _suDataSyncSetHndSrv, _stkUsoRuntimeSrv};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);  // refusals stay quiet
    simProcessSetPid(kSelfPid);
    if (suCbMngtInit() != 0) std::abort();
    stkUsoRuntimeInit();  // the table; registering the RPC function may fail here
    stkUsoUpdateCbReg(20, 1, noop_update);
    stkUsoAttachCbReg(20, 1, noop_unit);
    stkUsoDataSyncCbReg(20, 1, noop_data, noop_data, noop_data);
    stkUsoRuntimeDataHndReg(20, noop_rt);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::span<const uint8_t> in(data, size);
    if (in.empty()) return 0;
    Srv srv = kServers[in[0] % std::size(kServers)];
    in = in.subspan(1);
    AXRPC_PARA_T para;
    axrpcParaInit(&para);
    std::vector<std::vector<uint8_t>> blocks;  // pointer parameters' bytes, exact size
    while (in.size() >= 3) {
        const char *name = kNames[in[0] % std::size(kNames)];
        bool ptr = in[1] & 0x80;
        size_t len = in[2] % 64;
        in = in.subspan(3);
        len = len < in.size() ? len : in.size();
        blocks.emplace_back(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(len));
        in = in.subspan(len);
        if (ptr)
            axrpcAddPtr(&para, name, blocks.back().data(), static_cast<int>(len), nullptr);
        else if (len > 0)
            axrpcAddData(&para, name, AXRPC_PARA_TYPE_DATA, blocks.back().data(), static_cast<int>(len));
    }
    AXRPC_PARA_T out;
    axrpcParaInit(&out);
    srv(&para, &out);
    int ret = -1;
    if (srv == _suCbModRegReportSrv && axrpcGetInt(&out, "ret", &ret) == 0 && ret == 0) {
        // Take the registration away again so the lists stay small.
        su_cb_reg_param_t reg{};
        int type = 0, got = 0;
        if (axrpcGetInt(&para, "suCbRegType", &type) == 0 &&
            axrpcGetData(&para, "suCbRegKey", sizeof reg.key, &reg.key, &got) == 0)
            _suCbMngtDelete(&reg, static_cast<uint32_t>(type));
    }
    axrpcParaFree(&out);
    for (int32_t i = 0; i < para.paraNum; ++i) para.paraSection[i].freeFunc = nullptr;
    axrpcParaFree(&para);
    return 0;
}
