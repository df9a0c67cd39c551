// Relay of web requests and their output between the web server process
// and the processes (and units) that serve the pages.
#include <cstring>

#include "mgmt/http_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/sibling.h"

namespace {

constexpr unsigned short kPageWaitS = 30;  // the web server taking one piece of a page
constexpr const char *kUserUrl = "userUrl";
constexpr const char *kRemoteAddr = "REMOTE_ADDR";
constexpr const char *kQueryString = "QUERY_STRING";
constexpr const char *kReqId = "httpclientReqId";
constexpr const char *kExpand = "httpclientExpand";
constexpr const char *kPid = "httpclientPid";
constexpr const char *kServerRet = "httpserverServRet";
constexpr const char *kProcName = "httpclientpProcName";
constexpr const char *kClientRet = "httpclientServRet";
constexpr int kProcNameMax = 64;

// Rebuilds the request's variables on a unit that is not the master.
int rebuild_request(AXRPC_PARA_T *in) {
    using pc::mgmt::http::kMid;
    int reqId = 0, expand = 0, pid = 0;
    if (axrpcGetInt(in, kReqId, &reqId) != 0) {
        PFM_ERR(kMid, "Server: Get reqId error\n");
        return 1;
    }
    if (axrpcGetInt(in, kExpand, &expand) != 0) {
        PFM_ERR(kMid, "Server: Get expand flag error\n");
        return 1;
    }
    if (axrpcGetInt(in, kPid, &pid) != 0) {
        PFM_ERR(kMid, "Server: Get pid error\n");
        return 1;
    }
    if (httpParsePoolGlobalInit(reqId, 0) != 0) {
        PFM_ERR(kMid, "Client: global parse pool init failed!\n");
        return 1;
    }
    if (expand != 0 && (httpParseMalloc(reqId, pid) != 0 || httpParsePoolGenListCreate(reqId) != 0 ||
                        httpSysEnvConfig() != 0)) {
        PFM_ERR(kMid, "Client: set parse pool error\n");
        return 1;
    }
    int rc = 0;
    if (const char *addr = pc::mgmt::para_text(in, kRemoteAddr))
        rc |= httpSetEnvLib(nullptr, kRemoteAddr, addr);
    if (const char *url = pc::mgmt::para_text(in, kUserUrl)) rc |= httpParseArgsLib(nullptr, url);
    return rc != 0 ? 1 : 0;
}

}  // namespace

using pc::mgmt::http::kMid;

extern "C" {

PC_API int axHttpExecute(int pid, int, int reqId, AXRPC_PARA_T *args) {
    PFM_ENSURE_RET(kMid, NULL != args, -1);
    if (pid == PID_HTTPD) {
        if (const char *query = axHttpGetEnv(nullptr, kQueryString))
            PFM_CALL_RET(kMid, axrpcAddStringPtr(args, kUserUrl, query));
        if (const char *addr = axHttpGetEnv(nullptr, kRemoteAddr))
            PFM_CALL_RET(kMid, axrpcAddStringPtr(args, kRemoteAddr, addr));
    }
    PFM_CALL_RET(kMid, axrpcAddInt(args, kReqId, reqId));
    PFM_CALL_RET(kMid, axrpcAddInt(args, kExpand, httpParsePoolUsed(reqId, 0)));
    PFM_CALL_RET(kMid, axrpcAddInt(args, kPid, pidGetCurrent()));
    if (pc::mgmt::current_is_master()) {
        if (unit_list others = pc::mgmt::other_attached_units(); others != 0)
            PFM_CALL_RET(kMid, axrpcCallFunctionAsync(others, pid, AXHTTP_SERVER_FUNC, args, 0));
    }
    return 0;
}

PC_API int axhttpServerManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    int rc = pc::mgmt::current_is_master() ? 0 : rebuild_request(inPara);
    axrpcAddInt(outPara, kServerRet, rc);
    return 0;
}

PC_API int axHttpPrintf(int, AXRPC_PARA_T *args) {
    PFM_ENSURE_RET(kMid, NULL != args, -1);
    if (!pc::mgmt::current_is_master()) return 0;
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    // Bounded: a web server that stops serving never holds a core worker
    // for good (one that goes lets it go at once).
    int rc = axrpcCallFunctionSync(pc::mgmt::current_unit_bits(), PID_HTTPD, AXHTTP_CLIENT_FUNC, args,
                                   kPageWaitS, 0, &reply);
    axrpcParaGroupFree(&reply);
    return rc == 0 ? 0 : -1;
}

PC_API int axhttpClientManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    const char *name = pc::mgmt::para_text(inPara, kProcName);
    if (name == nullptr || std::strlen(name) >= kProcNameMax) {
        PFM_ERR(kMid, "Server: Get client process name error\n");
        axrpcAddInt(outPara, kClientRet, 1);
        return 0;
    }
    AXRPC_FUNC func = axrpcHashGetFunc(name);
    if (func == nullptr) {
        PFM_ERR(kMid, "Function %s is not registered\n", name);
        axrpcAddInt(outPara, kClientRet, 1);
        return 0;
    }
    axrpcAddInt(outPara, "ret", func(inPara, outPara));
    return 0;
}

}  // extern "C"
