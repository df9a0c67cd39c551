// The client (UI) role of the management interface: executing management
// functions in a server process and serving the server's prints and
// questions through the UI's hooks.
#include <cstdio>
#include <cstring>

#include "mgmt/aximi_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/sibling.h"

namespace pc::mgmt::imi {

namespace {

int default_print_hook(int, void *, const char *text, AXRPC_PARA_T *) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    return 0;
}

int default_user_info_hook(int, AXIMI_USER_INFO_T *info) {
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->userName, sizeof info->userName, "%s", "No register");
    std::snprintf(info->userIp, sizeof info->userIp, "%s", "192.168.0.1");
    info->level = 2;
    return 0;
}

// A group and its release on every path.
struct ReplyGroup {
    AXRPC_PARA_GROUP_T group{};
    ReplyGroup() { axrpcParaGroupInit(&group); }
    ~ReplyGroup() { axrpcParaGroupFree(&group); }
    ReplyGroup(const ReplyGroup &) = delete;
    ReplyGroup &operator=(const ReplyGroup &) = delete;
};

int add_request(AXRPC_PARA_T *args, const char *funcName, void *session, int sessionSize) {
    if (int rc =
            axrpcAddString(args, AXIMI_CLIENT_SERV_NAME, funcName, static_cast<int>(strlen(funcName)) + 1);
        rc != 0) {
        PFM_CALL_FAILED(kMid, rc,
                        "axrpcAddString((AXRPC_PARA*)args, AXIMI_CLIENT_SERV_NAME, (char*)funcName, "
                        "strlen(funcName)+1)");
        return rc;
    }
    if (session != nullptr) {
        if (int rc = axrpcAddDataPtr(args, AXIMI_CLIENT_ENV, session, sessionSize, nullptr); rc != 0) {
            PFM_CALL_FAILED(
                kMid, rc,
                "axrpcAddDataPtr((AXRPC_PARA*)args, AXIMI_CLIENT_ENV, (void*)session, sessionSize, NULL)");
            return rc;
        }
    }
    if (int rc = axrpcAddInt(args, AXIMI_CLIENT_PID, pidGetCurrent()); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcAddInt((AXRPC_PARA*)args, AXIMI_CLIENT_PID, pidGetCurrent())");
        return rc;
    }
    if (int rc = axrpcAddInt(args, AXIMI_CLIENT_IS_MASTER, current_is_master() ? 1 : 0); rc != 0) {
        PFM_CALL_FAILED(kMid, rc,
                        "axrpcAddInt((AXRPC_PARA*)args, AXIMI_CLIENT_IS_MASTER, stkCurrentIsMaster())");
        return rc;
    }
    return 0;
}

int execute(int dstPid, const char *funcName, void *session, int sessionSize, AXRPC_PARA_T *args,
            bool async) {
    PFM_ENSURE_RET(kMid, IMI_PROC_CLIENT & procType, -1);
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, NULL != args, -1);
    PFM_ENSURE_RET(kMid, IMI_FUNC_NAME_MAX >= strlen(funcName), -1);
    PFM_ENSURE_RET(kMid, (NULL == session) || (0 < sessionSize), -1);
    if (int rc = add_request(args, funcName, session, sessionSize); rc != 0) return rc;

    PFM_DBG(kMid, "Execute local function\n");
    const bool master = current_is_master();
    if (!master) axImiSetPrintDirection(1);
    ReplyGroup reply;
    int rc = axrpcCallFunctionSync(current_unit_bits(), dstPid, AXIMI_SERVER_FUNC, args, AXRPC_WAIT_FOREVER,
                                   0, &reply.group);
    if (!master) axImiSetPrintDirection(0);
    if (rc != 0) {
        PFM_ERR(kMid, "IMI execute error\n");
        return -1;
    }
    int paraRet = -1;
    int result = -1;
    if (reply.group.isUsed) {
        paraRet = axrpcGetInt(&reply.group.paraSet, AXIMI_SERVER_RET, &result);
        PFM_DBG(kMid, "check para unit %d paraRet %d ret %d\n", static_cast<int>(current_unit()), paraRet,
                result);
        unit_list others = master ? other_attached_units() : 0;
        if (paraRet == 0 && result == 0 && master) {
            PFM_DBG(kMid, "Broadcast %x!\n", others);
            if (others != 0) {
                if (async) {
                    axrpcCallFunctionAsync(others, dstPid, AXIMI_SERVER_FUNC, args, 0);
                } else {
                    ReplyGroup ignored;
                    axrpcCallFunctionSync(others, dstPid, AXIMI_SERVER_FUNC, args, AXRPC_WAIT_FOREVER, 0,
                                          &ignored.group);
                }
            }
        } else {
            PFM_DBG(kMid, "Execute error or not master! paraRet: %d ret: %d ismaster %d\n", paraRet, result,
                    master ? 1 : 0);
        }
        axrpcParaCopy(&reply.group.paraSet, args);
    }
    return paraRet == 0 ? result : -1;
}

}  // namespace

}  // namespace pc::mgmt::imi

using namespace pc::mgmt::imi;

extern "C" {

PC_API int axImiInitForUI(AXIMI_PRINT_HOOK hook, AXIMI_USER_INFO_HOOK userHook) {
    const bool again = (IMI_PROC_CLIENT & procType) != 0;
    procType |= IMI_PROC_CLIENT;
    printHook.store(hook != nullptr ? hook : default_print_hook);
    PFM_DBG(kMid, hook != nullptr ? "Register user print hook\n" : "Register default print hook\n");
    userInfoHook.store(userHook != nullptr ? userHook : default_user_info_hook);
    PFM_DBG(kMid, userHook != nullptr ? "Register user get user hook\n" : "Register default get user hook\n");
    struct {
        const char *name;
        AXRPC_FUNC func;
        const char *text;
    } const kServed[] = {
        {AXIMI_CLIENT_PRINT_FUNC, aximiClientPrintFunc,
         "axrpcRegisterFunc(\"aximiClientPrintFunc\", aximiClientPrintFunc)"},
        {AXIMI_CLIENT_MANAGE_FUNC, aximiClientManageFunc,
         "axrpcRegisterFunc(\"aximiClientManageFunc\", aximiClientManageFunc)"},
        {AXIMI_CLIENT_USERINFO_FUNC, aximiGetUserInfoFunc,
         "axrpcRegisterFunc(\"aximiGetUserInfoFunc\", aximiGetUserInfoFunc)"},
    };
    if (again) return 0;  // a second start only changes the hooks
    for (const auto &served : kServed) {
        if (int rc = axrpcRegisterFunc(served.name, served.func); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, served.text);
            PFM_DBG(kMid, "AXIMI UI init done\n");
            axImiDeInit();
            return rc;
        }
    }
    return 0;
}

PC_API int axImiExecute(int dstPid, const char *funcName, void *session, int sessionSize,
                        AXRPC_PARA_T *args) {
    return execute(dstPid, funcName, session, sessionSize, args, false);
}

PC_API int axImiExecuteAsyn(int dstPid, const char *funcName, void *session, int sessionSize,
                            AXRPC_PARA_T *args) {
    return execute(dstPid, funcName, session, sessionSize, args, true);
}

PC_API int aximiClientPrintFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    void *privateData = nullptr;
    int privateLen = 0;
    if (axrpcGetPtr(inPara, AXIMI_SERVER_ENV, &privateData, &privateLen) != 0) privateData = nullptr;
    const char *text = pc::mgmt::para_ptr_text(inPara, AXIMI_SERVER_PRINT_STRING);
    if (text == nullptr) {
        PFM_ERR(kMid, "Get print buffer error\n");
        axrpcAddInt(outPara, AXIMI_CLIENT_RET, -1);
        return -1;
    }
    uint32_t flag = 0;
    if (axrpcGetFlagData(inPara, AXIMI_SERVER_PRINT_FLAG, &flag) != 0) flag = 0;
    int ret = -1;
    if (AXIMI_PRINT_HOOK hook = printHook.load()) {
        ret = hook(static_cast<int>(flag), privateData, text, outPara);
    } else {
        PFM_ERR(kMid, "Not register output function!\n");
    }
    PFM_DBG(kMid, "Client print ret: %d\n", ret);
    axrpcAddInt(outPara, AXIMI_CLIENT_RET, ret);
    return 0;
}

PC_API int aximiClientManageFunc(AXRPC_PARA_T *, AXRPC_PARA_T *) { return 0; }

PC_API int aximiGetUserInfoFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    int session = 0;
    if (int rc = axrpcGetInt(inPara, AXIMI_USER_SESSION, &session); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcGetInt(inPara, \"session\", &session)");
        return rc;
    }
    AXIMI_USER_INFO_HOOK hook = userInfoHook.load();
    PFM_ENSURE_RET(kMid, NULL != hook, -1);
    AXIMI_USER_INFO_T info{};
    int rc = hook(session, &info);
    axrpcAddData(outPara, AXIMI_USER_INFO, AXRPC_PARA_TYPE_DATA, &info, static_cast<int>(sizeof info));
    return rc;
}

PC_API int axImiPutChar(AXRPC_PARA_T *arg, char c) {
    PFM_ENSURE_RET(kMid, NULL != arg, -1);
    PFM_ENSURE_RET(kMid, IMI_PROC_CLIENT & procType, -1);
    PFM_CALL_RET(kMid, axImiArgAddChar(arg, AXIMI_PRINT_CHAR, c));
    return 0;
}

PC_API int axImiPutInt(AXRPC_PARA_T *arg, int value) {
    PFM_ENSURE_RET(kMid, NULL != arg, -1);
    PFM_ENSURE_RET(kMid, IMI_PROC_CLIENT & procType, -1);
    PFM_CALL_RET(kMid, axImiArgAddFlag(arg, AXIMI_PRINT_YESNO, value));
    return 0;
}

PC_API int axImiPutString(AXRPC_PARA_T *arg, const char *strBuf) {
    PFM_ENSURE_RET(kMid, NULL != arg, -1);
    PFM_ENSURE_RET(kMid, NULL != strBuf, -1);
    PFM_ENSURE_RET(kMid, IMI_PROC_CLIENT & procType, -1);
    PFM_CALL_RET(kMid, axImiArgAddString(arg, AXIMI_PRINT_STRING, strBuf));
    return 0;
}

}  // extern "C"
