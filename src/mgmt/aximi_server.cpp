// The server role of the management interface: start-up, the function
// registry calls and the serving of "aximiServerManageFunc".
#include <cstdio>
#include <cstring>

#include "ipc/hub/hub.h"
#include "mgmt/aximi_cli_table.h"
#include "mgmt/aximi_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/axshm.h"
#include "platform_core/sibling.h"

namespace pc::mgmt::imi {

std::atomic<int> procType{0};
std::atomic<AXIMI_PRINT_HOOK> printHook{nullptr};
std::atomic<AXIMI_USER_INFO_HOOK> userInfoHook{nullptr};

namespace {

// The hook a server starts with; a UI installs its own.
int builtin_print_hook(int, void *, const char *, AXRPC_PARA_T *) {
    std::printf("Not register print hook\n");
    return 0;
}

int add_result(AXRPC_PARA_T *out, int result) { return axrpcAddInt(out, AXIMI_SERVER_RET, result); }

// Per worker thread: the environment the running function reads.
thread_local AXIMI_ENV_T tThreadEnv{};

AXIMI_ENV_T *thread_env() {
    auto *env = imiEnvTls != nullptr ? static_cast<AXIMI_ENV_T *>(pal_tls_key_get(imiEnvTls)) : nullptr;
    if (env != nullptr) return env;
    if (imiEnvTls == nullptr || pal_tls_key_set(imiEnvTls, &tThreadEnv) != 0)
        PFM_DBG(kMid, "Thread env null\n");
    return &tThreadEnv;
}

void set_print_flag(uintptr_t flag) {
    if (imiPrintTls != nullptr) pal_tls_key_set(imiPrintTls, reinterpret_cast<void *>(flag));
}

}  // namespace

}  // namespace pc::mgmt::imi

using namespace pc::mgmt::imi;

extern "C" {

PC_API int axImiInit(void) {
    // A second start keeps the running server (and its functions) as it is.
    if (IMI_PROC_SERVER & procType) return 0;
    procType |= IMI_PROC_SERVER;
    int rc = table_init();
    const char *failed = "aximiHashInit()";
    if (rc == 0) {
        AXIMI_PRINT_HOOK none = nullptr;  // a UI's own hook stays
        printHook.compare_exchange_strong(none, builtin_print_hook);
        rc = axrpcRegisterFunc(AXIMI_SERVER_FUNC, aximiServerManageFunc);
        failed = "axrpcRegisterFunc(\"aximiServerManageFunc\", aximiServerManageFunc)";
    }
    if (rc == 0) {
        rc = axrpcRegisterFunc(AXIMI_CLI_REG_FUNC, cli::serve_register);
        failed = "axrpcRegisterFunc(\"aximiCliCmdReg\", aximiCliCmdReg)";
    }
    if (rc == 0) {
        rc = axrpcRegisterFunc(AXIMI_CLI_LIST_FUNC, cli::serve_list);
        failed = "axrpcRegisterFunc(\"aximiCliCmdList\", aximiCliCmdList)";
    }
    if (rc == 0 && pidGetCurrent() == PID_CORE) {
        // The core keeps the CLI table: a process's commands go with it.
        rc = pc::ipc::add_process_gone_hook(cli::drop_process);
        failed = "add_process_gone_hook(cli::drop_process)";
    }
    if (rc == 0) {
        rc = direction_init();
        failed = "axshm_get_data_addr(AXIMI_OUTPUT_SHARE, (void**)&lIsLocalPrint, &len)";
    }
    if (rc == 0) {
        rc = tls_init();
        failed = "pal_tls_key_create()";
    }
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, failed);
        PFM_DBG(kMid, "AXIMI init done\n");
        axImiDeInit();
        return rc;
    }
    return 0;
}

PC_API int axImiDeInit(void) {
    procType = 0;
    printHook.store(nullptr);
    table_destroy();
    axrpcUnRegisterFunc(AXIMI_SERVER_FUNC);
    axrpcUnRegisterFunc(AXIMI_CLI_REG_FUNC);
    axrpcUnRegisterFunc(AXIMI_CLI_LIST_FUNC);
    axrpcUnRegisterFunc(AXIMI_CLIENT_PRINT_FUNC);
    axrpcUnRegisterFunc(AXIMI_CLIENT_MANAGE_FUNC);
    // Also the user information service, so that the UI role can start again.
    axrpcUnRegisterFunc(AXIMI_CLIENT_USERINFO_FUNC);
    return 0;
}

PC_API int axImiRegisterFunc(const char *funcName, AXIMI_FUNC hook, int execFlag) {
    PFM_ENSURE_RET(kMid, IMI_PROC_SERVER & procType, -1);
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, NULL != hook, -1);
    PFM_ENSURE_RET(kMid, IMI_FUNC_NAME_MAX >= strlen(funcName), -1);
    return table_insert(funcName, hook, execFlag);
}

PC_API int axImiUnregisterFunc(const char *funcName) {
    PFM_ENSURE_RET(kMid, IMI_PROC_SERVER & procType, -1);
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, IMI_FUNC_NAME_MAX >= strlen(funcName), -1);
    return table_delete(funcName);
}

PC_API int axImiGetEnv(AXIMI_ENV_T *env) {
    PFM_ENSURE_RET(kMid, NULL != env, -1);
    auto *cur = imiEnvTls != nullptr ? static_cast<AXIMI_ENV_T *>(pal_tls_key_get(imiEnvTls)) : nullptr;
    if (cur == nullptr || cur->clientPid == 0) return -1;
    env->clientPid = cur->clientPid;
    env->session = cur->session;
    return 0;
}

PC_API int aximiServerManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    using pc::mgmt::para_text;
    PFM_DBG(kMid, "Server: Manage func\n");
    const char *name = para_text(inPara, AXIMI_CLIENT_SERV_NAME);
    if (name == nullptr || strlen(name) > IMI_FUNC_NAME_MAX) {
        PFM_ERR(kMid, "Server: Get client server name error\n");
        return add_result(outPara, -1), 0;
    }
    int fromMaster = 0;
    if (axrpcGetInt(inPara, AXIMI_CLIENT_IS_MASTER, &fromMaster) != 0) {
        PFM_ERR(kMid, "Server: Get client is master error\n");
        return add_result(outPara, -1), 0;
    }
    AXIMI_FUNC hook = nullptr;
    int execFlag = 0;
    if (!table_find(name, &hook, &execFlag)) {
        PFM_ERR(kMid, "Function \"%s\" is not registered.", name);
        return add_result(outPara, -1), 0;
    }
    if (!pc::mgmt::current_is_master() && execFlag != 0 && fromMaster != 0) {
        PFM_DBG(kMid, "Server: Slave & not execute function, slave return\n");
        return add_result(outPara, 0), 0;
    }
    int clientPid = 0;
    if (axrpcGetInt(inPara, AXIMI_CLIENT_PID, &clientPid) != 0) {
        PFM_ERR(kMid, "Server: Get pid error\n");
        return add_result(outPara, -1), 0;
    }
    AXIMI_CTX_T ctx{clientPid, nullptr, 0};
    int privateLen = 0;
    if (axrpcGetPtr(inPara, AXIMI_CLIENT_ENV, &ctx.privateData, &privateLen) != 0 || privateLen <= 0) {
        PFM_DBG(kMid, "No private data\n");
        ctx.privateData = nullptr;
        privateLen = 0;
    }
    ctx.privateLen = privateLen;

    AXIMI_ENV_T *env = thread_env();
    int32_t session = 0;
    if (ctx.privateData != nullptr && privateLen >= static_cast<int>(sizeof session))
        std::memcpy(&session, ctx.privateData, sizeof session);
    env->clientPid = clientPid;
    env->session = session;
    set_print_flag(1);
    ui_reachable_again();
    int result = hook(&ctx, inPara, outPara);
    PFM_DBG(kMid, "Server: Function return: %d\n", result);
    env->clientPid = 0;
    env->session = 0;
    add_result(outPara, result);
    return 0;
}

}  // extern "C"
