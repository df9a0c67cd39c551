// Start-up of the configuration registry in the core process.
#include "mgmt/axconfig_state.h"
#include "platform_core/aximi.h"

using pc::mgmt::cfg::kMid;

extern "C" PC_API int axConfigInit(void) {
    struct Step {
        const char *text;
        int (*run)();
    };
    static constexpr Step kSteps[] = {
        {"axConfigLibInit()", [] { return axConfigLibInit(); }},
        {"axrpcRegisterFunc(\"axconfigManageGetCfgReg\", axconfigManageGetCfgReg)",
         [] { return axrpcRegisterFunc(AXCFG_RPC_REG, axconfigManageGetCfgReg); }},
        {"axrpcRegisterFunc(\"axconfigManageGetCfgUnReg\", axconfigManageGetCfgUnReg)",
         [] { return axrpcRegisterFunc(AXCFG_RPC_UNREG, axconfigManageGetCfgUnReg); }},
        {"axImiRegisterFunc(\"imi_cli_axConfigShowRunCfg\", imi_cli_axConfigShowRunCfg, 2)",
         [] {
             return axImiRegisterFunc("imi_cli_axConfigShowRunCfg", imi_cli_axConfigShowRunCfg,
                                      IMI_EXEC_MASTER_ONLY);
         }},
        {"axrpcRegisterFunc(\"getRunningCfg\", getRunningCfg)",
         [] { return axrpcRegisterFunc(AXCFG_RPC_RUNNING, getRunningCfg); }},
    };
    for (const Step &step : kSteps) {
        if (int rc = step.run(); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, step.text);
            axConfigLibDeInit();
            return rc;
        }
    }
    PFM_DBG(kMid, "AX Config init ok\n");
    return 0;
}
