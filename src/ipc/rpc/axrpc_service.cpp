// Start-up and tear-down of the RPC service, and its messaging handler.
//
// Start-up order: registry, spin-lock set-up, the thread-local key envTls,
// the wait queue, the work queues with their workers and the scheduler,
// and last the MID_AXRPC handler. A failing step undoes everything.
//
// Tear-down marks the service down, wakes the waiting callers and waits up
// to kPassGraceMs for every ServicePass to be given back before it destroys
// anything (axrpc_service.h). A caller that stays longer (one that reads its
// own replies and is still inside its time-out) keeps every object alive:
// they are left as they are, and a later axrpcInit takes them up again.
#include <atomic>
#include <cstring>

#include "ipc/hub/hub.h"
#include "ipc/rpc/axrpc_msg.h"
#include "ipc/rpc/axrpc_registry.h"
#include "ipc/rpc/axrpc_service.h"
#include "ipc/rpc/axrpc_wait_queue.h"
#include "ipc/rpc/axrpc_workers.h"
#include "ipc/rpc/rpc.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"

extern "C" {
PC_API pal_tls_key_t envTls = nullptr;
}

namespace pc::ipc::rpc {

namespace {

constexpr unsigned kPassGraceMs = 3000;
constexpr unsigned kPassPollUs = 1000;

// Both sides of the pass use sequentially consistent order: a pass counted
// before the service went down is seen by the tear-down, and a pass taken
// after it sees the service down.
std::atomic<bool> g_ready{false};
std::atomic<int> g_passes{0};
std::atomic<bool> g_lib_up{false};

// Marks the service down and lets the callers waiting for replies go. True
// once no pass is held; false if some are still held after the grace time.
bool close_service() {
    g_ready.store(false);
    wait_queue_wake_all();
    for (unsigned waited = 0; g_passes.load() > 0; waited += kPassPollUs) {
        if (waited >= kPassGraceMs * 1000) {
            PFM_ERR(kMid, "RPC still in use by %d threads, service objects kept\n", g_passes.load());
            return false;
        }
        pal_usleep(kPassPollUs);
    }
    return true;
}

// The hub's hook: calls waiting on a process that went away end at once.
void on_process_gone(uint32_t pid) {
    const ServicePass pass;
    if (pass.open()) wait_queue_peer_gone(pid);
}

// The wait queue and the work queues with their threads; after close_service.
void destroy_queues() {
    manage_queue_destroy();
    wait_queue_destroy();
    g_lib_up.store(false);
}

}  // namespace

bool service_ready() { return g_ready.load(std::memory_order_acquire); }

ServicePass::ServicePass() {
    g_passes.fetch_add(1);
    open_ = g_ready.load();
}

ServicePass::~ServicePass() { g_passes.fetch_sub(1); }

}  // namespace pc::ipc::rpc

using namespace pc::ipc::rpc;

extern "C" {

PC_API int axrpcLibInit(void) {
    if (g_lib_up.load()) return 0;
    int rc = wait_queue_init();
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcWaitQueInit()");
        axrpcLibDestroy();
        return rc;
    }
    rc = manage_queue_init();
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcManageQueInit()");
        axrpcLibDestroy();
        return rc;
    }
    g_lib_up.store(true);
    PFM_DBG(kMid, "AXRPC lib init done\n");
    return 0;
}

PC_API int axrpcLibDestroy(void) {
    if (close_service()) destroy_queues();
    return 0;
}

PC_API int axrpcInit(void) {
    if (service_ready()) return 0;
    PFM_DBG(kMid, "AXRPC init start\n");
    int rc = axrpcHashInit();
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcHashInit()");
        axrpcDestroy();
        return rc;
    }
    pal_spl_init();
    if (envTls == nullptr) {
        envTls = pal_tls_key_create(nullptr);
        if (envTls == nullptr) {
            PFM_ERR(kMid, "Init tls error\n");
            axrpcDestroy();
            return -1;
        }
    }
    PFM_DBG(kMid, "AXRPC thread argument init done\n");
    rc = axrpcLibInit();
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcLibInit()");
        axrpcDestroy();
        return rc;
    }
    rc = axmsg_reg(MID_AXRPC, axrpcMsg_cb);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axmsg_reg(MID_AXRPC, axrpcMsg_cb)");
        axrpcDestroy();
        return rc;
    }
    // Only the process that serves the hub ever calls it.
    pc::ipc::add_process_gone_hook(on_process_gone);
    g_ready.store(true, std::memory_order_release);
    PFM_DBG(kMid, "AXRPC init done\n");
    return 0;
}

PC_API int axrpcDestroy(void) {
    if (!close_service()) return 0;
    destroy_queues();
    registry_destroy();
    if (envTls != nullptr) {
        pal_tls_key_delete(envTls);
        envTls = nullptr;
    }
    return 0;
}

PC_API int axrpcMsg_cb(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    PFM_ENSURE_RET(kMid, MID_AXRPC == msg->msg_type, -1);
    const ServicePass pass;
    if (!pass.open()) {
        PFM_ERR(kMid, "RPC service not running, message dropped\n");
        return -1;
    }
    if (msg->data == nullptr || msg->data_len < kMsgHeaderBytes) {
        PFM_ERR(kMid, "Size error: %d %d\n", static_cast<int>(msg->data_len), static_cast<int>(kMsgMinBytes));
        return -1;
    }
    WorkItem item{};
    item.dstUnit = static_cast<uint8_t>(msg->dst_unit);
    item.dstProc = static_cast<uint8_t>(msg->dst_proc);
    item.srcUnit = static_cast<uint8_t>(msg->src_unit);
    item.srcProc = static_cast<uint8_t>(msg->src_proc);
    item.reserved = 0;
    item.length = msg->data_len;
    item.block = static_cast<uint8_t *>(pal_alloc(msg->data_len, kTag));
    PFM_ENSURE_RET(kMid, NULL != item.block, -1);
    std::memcpy(item.block, msg->data, msg->data_len);

    AXRPC_MSG_HEADER_T header{};
    peek_header({item.block, item.length}, &header);
    PFM_DBG(kMid, "Get rpc axmsg: type: %d id: %d seq: %d", header.type, header.id, header.seq);
    // A reply to a synchronous call is stored at once: the waiting caller is
    // woken from here without a detour through a worker.
    if (header.type == AXRPC_MSG_RESPONSE && header.callKind == AXRPC_CALL_SYNC) {
        if (item.length < kMsgMinBytes) {
            PFM_ERR(kMid, "Size error: %d %d\n", static_cast<int>(item.length),
                    static_cast<int>(kMsgMinBytes));
            pal_free(item.block);
            return -1;
        }
        wait_queue_store_reply(item.block, item.length, item.srcUnit);
        return 0;
    }
    int rc = -1;
    if (header.callKind == AXRPC_CALL_SYNC) {
        rc = queue_sync_work(item);
        if (rc != 0) PFM_ERR(kMid, "Send sync work queue error");
    } else if (header.callKind == AXRPC_CALL_ASYNC) {
        rc = queue_async_work(item);
        if (rc != 0) PFM_ERR(kMid, "Send async work queue error");
    } else {
        PFM_ERR(kMid, "RPC msg error %d\n", header.callKind);
    }
    if (rc != 0) pal_free(item.block);
    return rc;
}

}  // extern "C"
