// The port deletion walk: every handler, in priority order, is told which
// ports and units went away; handlers of other processes through RPC.
#include "mgmt/axconfig_state.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/pal.h"

using namespace pc::mgmt::cfg;

namespace {

void call_remote(const RegNode &node, unit_list *delUnits, up_list *delList) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T reply;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&reply);
    int rc = axrpcAddStringPtr(&in, AXCFG_PARA_REG_NAME, node.regFuncName);
    rc |= axrpcAddData(&in, AXCFG_PARA_DELPORT, AXRPC_PARA_TYPE_DATA, delList,
                       static_cast<int>(sizeof *delList));
    rc |= axrpcAddData(&in, AXCFG_PARA_DELUNIT, AXRPC_PARA_TYPE_DATA, delUnits,
                       static_cast<int>(sizeof *delUnits));
    if (rc != 0 || axrpcCallFunctionSync(pc::mgmt::current_unit_bits(), node.pid, AXCFG_RPC_DEL_PORT, &in,
                                         kDelPortWaitS, 0, &reply) != 0)
        PFM_ERR(kMid, "rcp call error\n");
    axrpcParaFree(&in);
    axrpcParaGroupFree(&reply);
}

}  // namespace

extern "C" PC_API int axConfigDelPort(unit_list *delUnits, up_list *delList) {
    PFM_ENSURE_RET(kMid, NULL != delUnits && delList != NULL, -1);
    for (const RegNode &node : registry_snapshot(Registry::DelPort)) {
        const bool local = node.pid == PID_CORE;
        if (local && node.function == nullptr) continue;
        if (debugFlagGet(kMid) == 1 || debugFlagGet(kMid) == 2)
            PFM_WARN(kMid, local ? "Call local register pid %d, %s\n" : "Call remote register pid %d, %s\n",
                     node.pid, node.regFuncName);
        long long start = pal_time_msecs();
        if (local)
            reinterpret_cast<AXCFG_DEL_PORT_FUNC>(node.function)(delUnits, delList);
        else
            call_remote(node, delUnits, delList);
        if (debugFlagGet(kMid) == 1 || debugFlagGet(kMid) == 2)
            PFM_WARN(kMid, "Cost %lldms\n", pal_time_msecs() - start);
    }
    return 0;
}
