// Stack unit callbacks in an application process (see su_cb_client.h).
#include "su_cb_client/su_cb_client.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/types.h"

namespace {

constexpr uint32_t kMid = MID_SUCB;

// Parameters of the report functions served in the core.
constexpr const char *kRegType = "suCbRegType";
constexpr const char *kRegKey = "suCbRegKey";
constexpr const char *kRegIdx = "suCbRegIdx";
constexpr const char *kUnregType = "suCbUnregType";
constexpr const char *kUnregParam = "suCbUnregParam";
constexpr unsigned short kReportWaitSeconds = 10;

// Calls `func` in the core of this unit; 0 when it ran and answered ret 0.
int call_core(const char *func, AXRPC_PARA_T *in) {
    AXRPC_PARA_GROUP_T out[AXRPC_UNIT_NUM];
    for (auto &g : out) axrpcParaGroupInit(&g);
    int rc = axrpcCallFunctionSync(1u << stkGetCurrentUnit(), PID_CORE, func, in, kReportWaitSeconds, 0, out);
    int ret = -1;
    if (rc == 0 && axrpcGetInt(&out[stkGetCurrentUnit() - 1].paraSet, "ret", &ret) != 0) ret = -1;
    for (auto &g : out) axrpcParaGroupFree(&g);
    if (rc != 0 || ret != 0) {
        PFM_ERR(kMid, "SU: report %s to the core failed, rpcret %d, ret %d.", func, rc, ret);
        return -1;
    }
    return 0;
}

int report_reg(uint32_t hndType, const su_cb_reg_param_t &param) {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    int rc = -1;
    if (axrpcAddInt(&in, kRegType, static_cast<int>(hndType)) == 0 &&
        axrpcAddData(&in, kRegKey, AXRPC_PARA_TYPE_DATA, &param.key, sizeof param.key) == 0 &&
        axrpcAddInt(&in, kRegIdx, param.index) == 0)
        rc = call_core(SU_CB_MOD_REG_REPORT, &in);
    axrpcParaFree(&in);
    return rc;
}

int report_unreg(uint32_t hndType, const su_cb_reg_param_t &param) {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    int rc = -1;
    if (axrpcAddInt(&in, kUnregType, static_cast<int>(hndType)) == 0 &&
        axrpcAddData(&in, kUnregParam, AXRPC_PARA_TYPE_DATA, &param, sizeof param) == 0)
        rc = call_core(SU_CB_MOD_UNREG_REPORT, &in);
    axrpcParaFree(&in);
    return rc;
}

// What this process reported, to report again after a reconnection (the
// core forgets a process whose connection ends). Guarded by gReportedLock.
struct Reported {
    uint32_t hndType;
    su_cb_reg_param_t param;
};
std::mutex gReportedLock;
std::vector<Reported> gReported;

bool same_key(const su_cb_key_t &a, const su_cb_key_t &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int report_all(void *) {
    std::vector<Reported> all;
    {
        std::lock_guard<std::mutex> guard(gReportedLock);
        all = gReported;
    }
    for (const Reported &r : all)
        if (report_reg(r.hndType, r.param) != 0) return -1;
    return 0;
}

int reg(uint32_t hndType, uint32_t mid, uint32_t pri, void *h0, void *h1, void *h2) {
    su_cb_reg_param_t param{};
    param.hnd[0] = h0;
    param.hnd[1] = h1;
    param.hnd[2] = h2;
    param.rpcIndex = -1;
    PFM_CALL_RET(kMid, suCbMngKeyCreate(&param.key, static_cast<uint32_t>(pidGetCurrent()), mid, pri));
    PFM_CALL_RET(kMid, _suCbMngtAdd(&param, hndType));
    if (report_reg(hndType, param) != 0) {
        _suCbMngtDelete(&param, hndType);
        return -1;
    }
    std::lock_guard<std::mutex> guard(gReportedLock);
    std::erase_if(gReported, [&](const Reported &r) {
        return r.hndType == hndType && same_key(r.param.key, param.key);
    });
    gReported.push_back({hndType, param});
    return 0;
}

template <typename Fn>
void *slot(Fn fn) {
    return reinterpret_cast<void *>(fn);
}

}  // namespace

extern "C" {

PC_API int suCbClientInit(void) {
    PFM_CALL_RET(kMid, suCbMngtInit());
    PFM_CALL_RET(kMid, axmsg_client_reconnect_cb_add(report_all, nullptr));
    PFM_CALL_RET(kMid, axrpcRegisterFunc(SU_CB_MOD_EXE_PROXY, _suCbModExeProxySrv));
    PFM_CALL_RET(kMid, axrpcRegisterFunc(SU_DATA_SYNC_SET_HND, _suDataSyncSetHndSrv));
    return 0;
}

PC_API int suCbClientUpdateCbReg(uint32_t mid, uint32_t pri, su_cb_update_hnd_t hnd) {
    return reg(SU_CBHND_UPDATE, mid, pri, slot(hnd), nullptr, nullptr);
}
PC_API int suCbClientAttachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd) {
    return reg(SU_CBHND_ATTACH, mid, pri, slot(hnd), nullptr, nullptr);
}
PC_API int suCbClientDetachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd) {
    return reg(SU_CBHND_DETACH, mid, pri, slot(hnd), nullptr, nullptr);
}
PC_API int suCbClientDataSyncCbReg(uint32_t mid, uint32_t pri, su_cb_data_hnd_t set, su_cb_data_hnd_t get,
                                   su_cb_data_hnd_t freeHnd) {
    return reg(SU_CBHND_DATASET, mid, pri, slot(set), slot(get), slot(freeHnd));
}

PC_API int suCbClientCbUnreg(uint32_t hndType, uint32_t mid, uint32_t pri) {
    su_cb_reg_param_t param{};
    PFM_CALL_RET(kMid, suCbMngKeyCreate(&param.key, static_cast<uint32_t>(pidGetCurrent()), mid, pri));
    int rc = report_unreg(hndType, param);
    int local = _suCbMngtDelete(&param, hndType);
    {
        std::lock_guard<std::mutex> guard(gReportedLock);
        std::erase_if(gReported, [&](const Reported &r) {
            return r.hndType == hndType && same_key(r.param.key, param.key);
        });
    }
    return rc != 0 ? rc : local;
}

}  // extern "C"
