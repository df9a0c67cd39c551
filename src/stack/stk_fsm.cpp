// The stack start-up task "tStackFsm": runs once per boot in the core
// process. It reads the saved configuration at once, waits until the switch
// has started, then loads the configuration, reloads the CPU traffic-control
// entries, applies every port's administrative state and runs the first
// update callbacks with all three flags set. Every step logs its failure and
// the task goes on with the next.
#include "platform_core/appintf.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/stack_cb.h"
#include "platform_core/up.h"
#include "stack/stk_peers.h"

namespace {

constexpr const char *kTaskName = "tStackFsm";
constexpr unsigned kTaskStack = 20480;
constexpr unsigned kTaskPriority = 55;

int load_config(char *data, uint32_t len) {
    if (axConfigLoadConfig != nullptr) return axConfigLoadConfig(data, len);
    auto load = APPINTF_GET(APPINTF_SLOT_CONFIG_LOAD);
    return load != nullptr ? load(data, len) : 0;
}

void ready_action() {
    int first = inner_up_unitbase_get(UNIT_1);
    int end = inner_up_unitbase_get(UNIT_NUM);
    if (first < 0 || end < first) return;
    for (int idx = first; idx < end; ++idx) {
        UP up = inner_up_from_index(nullptr, static_cast<uint32_t>(idx), 1, __func__, __LINE__);
        if (!UP_IS_VALID(up)) continue;
        auto up_is_disable = APPINTF_GET(APPINTF_SLOT_UP_IS_DISABLE);
        if (up_is_disable == nullptr) {
            PFM_ERR(MID_STACK, "FATAL ERROR: appintf.upIsDisable IS NULL");
            return;
        }
        int disabled = 0;
        if (int rc = up_is_disable(up, &disabled); rc != 0) {
            PFM_CALL_FAILED(MID_STACK, rc, "appintf.upIsDisable(_up, &_isDisable)");
            continue;
        }
        PFM_DBG(MID_STACK, "SF: Set port, %d/%d/%d, disable=%d", static_cast<int>(UP_UNIT(up)),
                static_cast<int>(UP_SLOT(up)), static_cast<int>(UP_PORT(up)), disabled);
        if (int rc = adStackPortEnableSet(up, !disabled); rc != 0)
            PFM_CALL_FAILED(MID_STACK, rc, "adStackPortEnableSet(_up, !_isDisable)");
    }
}

void stack_fsm_task(void *) {
    long long start = pal_time_msecs();
    char *data = nullptr;
    uint32_t len = 0;
    int rv = swStkGetConfigFromFile(&data, &len);
    if (data == nullptr) PFM_WARN(MID_STACK, "Fatal Error: Alloc memory failed in stack-syncing.\r\n");
    PFM_WARN(MID_STACK, "Get config cost %lldms", pal_time_msecs() - start);
    if (rv != 0) {
        PFM_ERR(MID_STACK, "SF: Master gets running-config failed, rv =%d.", rv);
        pal_free(data);
        data = nullptr;
        len = 0;
    }
    PFM_DBG(MID_STACK, "SF: Sync running-config to slave, config-len %d", static_cast<int>(len));

    while (!isSwitchInited()) pal_sleep(1);

    if (data != nullptr) {
        start = pal_time_msecs();
        rv = load_config(data, len);
        PFM_WARN(MID_STACK, "Set config cost %lldms", pal_time_msecs() - start);
        if (rv != 0) PFM_ERR(MID_STACK, "SF SYNCCFG: Sync Cfg ret %d", rv);
        pal_free(data);
    }
    setPfmAxConfigLoadFinished();

    if (axPktCtlEntryReload != nullptr) {
        if (int rc = axPktCtlEntryReload(1); rc != 0)
            PFM_CALL_FAILED(MID_STACK, rc, "axPktCtlEntryReload(TRUE)");
    }

    ready_action();

    PFM_WARN(MID_STACK, "SF: TOPO update, roleChg 1, mastChg 1, isFstRd 1");
    if (int rc = stkUsoUpdateAction(1, 1, 1); rc != 0)
        PFM_CALL_FAILED(MID_STACK, rc, "stkUsoUpdateAction(TRUE, TRUE, TRUE)");

    adStackL2LearnEnable();
}

}  // namespace

extern "C" PC_API int stkfsmInit(void) {
    pal_thread_t tid = pal_thread_create(kTaskName, kTaskStack, kTaskPriority, stack_fsm_task, nullptr);
    if (tid == PAL_THREAD_INVALID) {
        PFM_ENSURE_FAILED(MID_STACK, "tid != PAL_THREAD_ERROR");
        return -1;
    }
    return 0;
}
