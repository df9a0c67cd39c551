// Registration calls of the callback manager, keyed with the calling process.
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "stack/su_cb_table.h"

namespace {

constexpr uint32_t kMid = MID_SUCB;

int reg(uint32_t mid, uint32_t pri, uint32_t hndType, void *h0, void *h1, void *h2) {
    su_cb_reg_param_t param{};
    param.hnd[0] = h0;
    param.hnd[1] = h1;
    param.hnd[2] = h2;
    param.rpcIndex = -1;
    PFM_CALL_RET(kMid, suCbMngKeyCreate(&param.key, static_cast<uint32_t>(pidGetCurrent()), mid, pri));
    PFM_CALL_RET(kMid, _suCbMngtAdd(&param, hndType));
    return 0;
}

int unreg(uint32_t mid, uint32_t pri, uint32_t hndType) {
    su_cb_reg_param_t param{};
    PFM_CALL_RET(kMid, suCbMngKeyCreate(&param.key, static_cast<uint32_t>(pidGetCurrent()), mid, pri));
    PFM_CALL_RET(kMid, _suCbMngtDelete(&param, hndType));
    return 0;
}

using pc::stack::fn_to_slot;

}  // namespace

extern "C" {

PC_API int stkUsoAttachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd) {
    return reg(mid, pri, SU_CBHND_ATTACH, fn_to_slot(hnd), nullptr, nullptr);
}
PC_API int stkUsoDetachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd) {
    return reg(mid, pri, SU_CBHND_DETACH, fn_to_slot(hnd), nullptr, nullptr);
}
PC_API int stkUsoUpdateCbReg(uint32_t mid, uint32_t pri, su_cb_update_hnd_t hnd) {
    return reg(mid, pri, SU_CBHND_UPDATE, fn_to_slot(hnd), nullptr, nullptr);
}
PC_API int stkUsoDataSyncCbReg(uint32_t mid, uint32_t pri, su_cb_data_hnd_t set, su_cb_data_hnd_t get,
                               su_cb_data_hnd_t freeHnd) {
    return reg(mid, pri, SU_CBHND_DATASET, fn_to_slot(set), fn_to_slot(get), fn_to_slot(freeHnd));
}
PC_API int stkUsoAttachCbUnreg(uint32_t mid, uint32_t pri) { return unreg(mid, pri, SU_CBHND_ATTACH); }
PC_API int stkUsoDetachCbUnreg(uint32_t mid, uint32_t pri) { return unreg(mid, pri, SU_CBHND_DETACH); }
PC_API int stkUsoUpdateCbUnreg(uint32_t mid, uint32_t pri) { return unreg(mid, pri, SU_CBHND_UPDATE); }
PC_API int stkUsoDataSyncCbUnreg(uint32_t mid, uint32_t pri) { return unreg(mid, pri, SU_CBHND_DATASET); }

}  // extern "C"
