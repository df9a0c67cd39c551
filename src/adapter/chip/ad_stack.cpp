// Chip adapter hooks for stacking. A stand-alone unit programs nothing for
// stacking: the hooks answer success, the settings are refused, and the
// RPC option table is only kept for whoever reads it.
#include <array>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"

namespace {

struct RpcOption {
    adStackRpcFunc_t function = nullptr;
    void *argument = nullptr;
};

// Slot type-1 for each option type; written by adStackRpcRegister, read by
// nobody inside this library. Guarded by g_rpc_lock.
std::array<RpcOption, AD_STACK_RPC_TYPE_MAX> g_rpc_options{};
pal_mutex_t g_rpc_lock = nullptr;

int refuse() {
    PFM_ERR(MID_STACK, "Not support stacking");
    return -1;
}

}  // namespace

extern "C" {

PC_API int adStackInit(void) { return 0; }
PC_API int adStackStart(void) { return 0; }
PC_API int adStackL2LearnEnable(void) { return 0; }
PC_API int adStackRpcInit(void) { return 0; }
PC_API int adSrTypeValSet(uint32_t, uint32_t) { return 0; }
PC_API int adSrTypeValGet(uint32_t, uint32_t *) { return 0; }
PC_API int adSrTypeValSetByChipunit(uint32_t, uint32_t, uint32_t) { return 0; }
PC_API int adSrTypeValGetByChipunit(uint32_t, uint32_t, uint32_t *) { return 0; }
PC_API int adRpcXferDataReg(uint32_t, void *) { return 0; }
PC_API int adRpcDataSnd(uint32_t, void *, uint32_t) { return 0; }
PC_API int adRpcDataRcv(uint32_t, void *, uint32_t) { return 0; }
PC_API int adRpcDataSndByChipunit(uint32_t, void *, uint32_t) { return 0; }
PC_API int adRpcDataRcvByChipunit(uint32_t, void *, uint32_t) { return 0; }

PC_API int adStackPrioritySet(uint32_t, uint32_t) { return refuse(); }
PC_API int adStackUnitIdSet(uint32_t, uint32_t) { return refuse(); }
PC_API int adStackPortStkModeSet(UP, uint32_t) { return refuse(); }

PC_API int adStackPortEnableSet(UP up, int enable) {
    adPortStateSet(up, enable);
    return 0;
}

PC_API int adStackRpcRegister(uint32_t type, adStackRpcFunc_t function, void *argument) {
    if (type < AD_STACK_RPC_TYPE_MIN || type > AD_STACK_RPC_TYPE_MAX) {
        PFM_ERR(MID_STACK, "Invalid SDK RPC option type, type %d", static_cast<int>(type));
        return -1;
    }
    static pal_mutex_t lock = pal_mutex_create("adStackRpc");
    g_rpc_lock = lock;
    pc::pal::MutexGuard guard(g_rpc_lock);
    g_rpc_options[type - AD_STACK_RPC_TYPE_MIN] = {function, argument};
    return 0;
}

}  // extern "C"
