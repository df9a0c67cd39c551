// The stack state of a stand-alone unit: fixed answers and refused settings.
#include "platform_core/chip_sdk.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"

namespace {

constexpr uint32_t kOnlyUnit = UNIT_1;

int refuse() {
    PFM_ERR(MID_STACK, "Not support stacking");
    return -1;
}

}  // namespace

extern "C" {

PC_API const char *stkTopoDes[3] = {"Solo", "Line", "Ring"};

PC_API uint32_t stkGetCurrentUnit(void) { return kOnlyUnit; }
PC_API uint32_t stkGetMasterUnit(void) { return kOnlyUnit; }
PC_API uint32_t stackNvcfgUnitIDGet(void) { return kOnlyUnit; }
PC_API int stkCurrentIsMaster(void) { return 1; }
PC_API int stkSupport(void) { return 0; }

PC_API int stackNvcfgSPmodeGet(uint32_t, uint32_t *enable) {
    if (enable != nullptr) *enable = 0;
    return 0;
}

PC_API int stkIsReady(void) { return isSwitchInited(); }

PC_API int stkGetMac(uint32_t, uint8_t *mac) {
    PFM_ENSURE_RET(MID_STACK, NULL != mac, -1);
    getMacAddress(mac);
    return 0;
}

PC_API int stkStackMacGet(uint8_t *mac) { return stkGetMac(kOnlyUnit, mac); }

PC_API int stkGetSocDevNum(void) { return static_cast<int>(sdk_ndev); }

PC_API int stkCfgUnidSet(uint32_t, uint32_t) { return refuse(); }
PC_API int stkCfgUnidGet(uint32_t, uint32_t *) { return refuse(); }
PC_API int stkStkPortModeSet(UP, uint32_t) { return refuse(); }
PC_API int stkStkPortModeGet(UP, uint32_t *) { return refuse(); }
PC_API int stkPortAciveGroupIdGet(UP, uint32_t *) { return refuse(); }
PC_API int stkPortAciveGroupIdTest(UP, uint32_t) { return refuse(); }
PC_API int stkVersionGet(uint32_t, char *, uint32_t) { return refuse(); }
PC_API int stkPrioritySet(uint32_t, uint32_t) { return refuse(); }
PC_API int stkPriorityGet(uint32_t, uint32_t *) { return refuse(); }
PC_API int stkStkPortInfoGet(UP, void *) { return refuse(); }

PC_API int stkTopoDesGet(uint32_t *) {
    refuse();
    return 0;
}

PC_API int stkdbLoad(void) { return 0; }
PC_API int sfSyncInit(void) { return 0; }

}  // extern "C"
