// Serving RPC requests (see axrpc_serve.h).
#include "ipc/rpc/axrpc_serve.h"

#include "ipc/rpc/axrpc_msg.h"
#include "ipc/rpc/axrpc_wait_queue.h"
#include "ipc/rpc/rpc.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"

namespace pc::ipc::rpc {

namespace {

// Sends the answer of a synchronous request to its caller.
int send_response(const WorkItem &item, const AXRPC_MSG_HEADER_T &request, const AXRPC_ENV_T &env,
                  const AXRPC_PARA_T *outPara) {
    AXRPC_MSG_HEADER_T header = request;
    header.type = AXRPC_MSG_RESPONSE;
    MessageWriter writer;
    if (writer.build(&header, &env, outPara) != 0) {
        PFM_ERR(kMid, "Malloc error\n");
        return -1;
    }
    AXMSG_T msg{};
    msg.dst_unit = item.srcUnit;
    msg.dst_proc = item.srcProc;
    msg.msg_type = MID_AXRPC;
    msg.iov = writer.pieces();
    msg.iov_num = writer.piece_count();
    return axmsg_send(&msg);
}

// Runs the function of a validated request (axrpcProcessCallFunc).
int process_call(const WorkItem &item, const AXRPC_MSG_HEADER_T &header, AXRPC_ENV_T &env,
                 FlatParaView &inPara) {
    AXRPC_FUNC func = axrpcHashGetFunc(header.funcName);
    if (func == nullptr) {
        PFM_ERR(kMid, "Get function error: %s\n", header.funcName);
        return -1;
    }
    AXRPC_PARA_T outPara{};
    int rc = AXRPC_PARA_INIT(&outPara);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "AXRPC_PARA_INIT(outPara)");
        return rc;
    }
    PFM_DBG(kMid, "Call depth: %d\n", env.depth);
    env.depth++;
    if (env.depth > AXRPC_DEFAULT_DEPTH) {
        PFM_DBG(kMid, "Call exceed default depth, current depth: %d, default: %d\n", env.depth,
                AXRPC_DEFAULT_DEPTH);
        env.ret = -1;
    } else if (pal_tls_key_set(envTls, &env) == 0) {
        PFM_ERR(kMid, "Set tls error\n");
        env.ret = -1;
    } else {
        func(inPara.para(), &outPara);
        auto *after = static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls));
        if (after == nullptr) PFM_ERR(kMid, "get tls error\n");
        pal_tls_key_set(envTls, nullptr);
        PFM_DBG(kMid, "Call func ret %d\n", env.ret);
    }
    if (header.callKind == AXRPC_CALL_ASYNC) {
        PFM_DBG(kMid, "Async call, return\n");
        axrpcParaFree(&outPara);
        return 0;
    }
    rc = send_response(item, header, env, &outPara);
    axrpcParaFree(&outPara);
    return rc;
}

}  // namespace

void handle_work_item(const WorkItem &item) {
    if (item.block == nullptr) {
        PFM_ERR(kMid, "msg null\n");
        return;
    }
    if (item.length < kMsgMinBytes) {
        PFM_ERR(kMid, "Size error: %d %d\n", static_cast<int>(item.length), static_cast<int>(kMsgMinBytes));
        pal_free(item.block);
        return;
    }
    AXRPC_MSG_HEADER_T header{};
    peek_header({item.block, item.length}, &header);
    if (header.type == AXRPC_MSG_RESPONSE) {
        wait_queue_store_reply(item.block, item.length, item.srcUnit);  // takes the block
        return;
    }
    if (header.type == AXRPC_MSG_REQUEST) {
        AXRPC_ENV_T env{};
        FlatParaView inPara;
        if (parse_message({item.block, item.length}, &header, &env, &inPara)) {
            // The caller is who the hub says sent the message, not what it wrote.
            env.unit = static_cast<int32_t>(item.srcUnit);
            env.pid = static_cast<int32_t>(item.srcProc);
            PFM_DBG(kMid, "Call function\n");
            process_call(item, header, env, inPara);
        }
    }
    pal_free(item.block);
}

}  // namespace pc::ipc::rpc
