// The wait queue (see axrpc_wait_queue.h).
#include "ipc/rpc/axrpc_wait_queue.h"

#include <cstdio>

#include "ipc/rpc/axrpc_msg.h"
#include "ipc/rpc/rpc.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"

namespace pc::ipc::rpc {

namespace {

struct WaitQueue {
    pal_mutex_t lock = nullptr;  // "AXRPCWQ_Lock"
    int32_t nextIndex = 0;       // next slot to try (guarded by lock)
    int32_t defaultTime = AXRPC_DEFAULT_WAIT_TIME;
    uint32_t callId = 0;  // last call id handed out (guarded by lock)
    AXRPC_WAIT_QUE_NODE_T nodes[AXRPC_WAIT_QUE_NUM];
};

// Never destroyed: worker and messaging threads may still store replies
// while the process exits.
WaitQueue &g_wq = *new WaitQueue;

// Clears a slot's call and reply fields. Under the slot's nodeLock.
void clear_node_locked(AXRPC_WAIT_QUE_NODE_T *node) {
    for (AXRPC_WAIT_QUE_UNIT_S &u : node->unit) {
        u.outPara.reset();
        pal_free(u.outBuf);
        u.outBuf = nullptr;
        u.ret = 0;
        u.received = 0;
    }
    node->seq = 0;
    node->id = 0;
    node->isUsed = 0;
    node->peerPid = 0;
    pc::pal::MutexGuard cond_guard(node->condLock);
    node->waitNum = 0;
    node->peerGone = 0;
}

uint32_t next_call_id_locked() {
    if (++g_wq.callId > INT32_MAX) g_wq.callId = 1;  // ids stay positive; 0 marks no call
    return g_wq.callId;
}

}  // namespace

int wait_queue_init() {
    PFM_DBG(kMid, "Wait queue init\n");
    pal_mutex_t lock = pal_mutex_create("AXRPCWQ_Lock");
    PFM_ENSURE_RET(kMid, NULL != lock, -1);
    g_wq.lock = lock;
    g_wq.nextIndex = 0;
    g_wq.callId = 0;
    g_wq.defaultTime = AXRPC_DEFAULT_WAIT_TIME;
    char name[32];
    for (int i = 0; i < AXRPC_WAIT_QUE_NUM; ++i) {
        AXRPC_WAIT_QUE_NODE_T *waitQueNode = &g_wq.nodes[i];
        std::snprintf(name, sizeof name, "AXRPCCL%d", i);
        waitQueNode->condLock = pal_mutex_create(name);
        PFM_ENSURE_RET(kMid, NULL != waitQueNode->condLock, -1);
        std::snprintf(name, sizeof name, "AXRPCNL%d", i);
        waitQueNode->nodeLock = pal_mutex_create(name);
        PFM_ENSURE_RET(kMid, NULL != waitQueNode->nodeLock, -1);
        std::snprintf(name, sizeof name, "AXRPCCD%d", i);
        waitQueNode->cond = pal_cond_create(name);
        PFM_ENSURE_RET(kMid, NULL != waitQueNode->cond, -1);
        waitQueNode->seq = 0;
        waitQueNode->id = 0;
        waitQueNode->isUsed = 0;
        waitQueNode->waitNum = 0;
    }
    return 0;
}

void wait_queue_destroy() {
    for (AXRPC_WAIT_QUE_NODE_T &node : g_wq.nodes) {
        for (AXRPC_WAIT_QUE_UNIT_S &u : node.unit) {
            u.outPara.reset();
            pal_free(u.outBuf);
            u.outBuf = nullptr;
            u.received = 0;
        }
        node.isUsed = 0;
        node.waitNum = 0;
        if (node.cond != nullptr) pal_cond_destroy(node.cond);
        if (node.condLock != nullptr) pal_mutex_destroy(node.condLock);
        if (node.nodeLock != nullptr) pal_mutex_destroy(node.nodeLock);
        node.cond = nullptr;
        node.condLock = nullptr;
        node.nodeLock = nullptr;
    }
    if (g_wq.lock != nullptr) pal_mutex_destroy(g_wq.lock);
    g_wq.lock = nullptr;
}

void wait_queue_wake_all() {
    for (AXRPC_WAIT_QUE_NODE_T &node : g_wq.nodes) {
        if (node.condLock == nullptr) continue;
        pc::pal::MutexGuard guard(node.condLock);
        if (node.waitNum >= 1) pal_cond_signal(node.cond);
    }
}

void wait_queue_watch_peer(int seq, int pid) {
    AXRPC_WAIT_QUE_NODE_T *node = axrpcGetWaitQue(seq);
    if (node == nullptr) return;
    pc::pal::MutexGuard guard(node->nodeLock);
    node->peerPid = pid;
}

void wait_queue_peer_gone(uint32_t pid) {
    for (AXRPC_WAIT_QUE_NODE_T &node : g_wq.nodes) {
        if (node.nodeLock == nullptr) continue;
        pc::pal::MutexGuard guard(node.nodeLock);
        if (!node.isUsed || node.peerPid != static_cast<int32_t>(pid)) continue;
        pc::pal::MutexGuard cond_guard(node.condLock);
        node.peerGone = 1;
        pal_cond_signal(node.cond);
    }
}

void wait_queue_store_reply(uint8_t *block, size_t length, uint32_t src_unit) {
    AXRPC_MSG_HEADER_T header{};
    AXRPC_ENV_T env{};
    if (!peek_header({block, length}, &header)) {
        pal_free(block);
        return;
    }
    AXRPC_WAIT_QUE_NODE_T *node = axrpcGetWaitQue(header.seq);
    if (node == nullptr) {
        PFM_ERR(kMid, "Get wait queue error, seq: %d\n", header.seq);
        pal_free(block);
        return;
    }
    const uint32_t unit_index = src_unit - 1;  // units are numbered from 1
    pc::pal::MutexGuard node_guard(node->nodeLock);
    if (!node->isUsed || node->id != header.id || unit_index >= AXRPC_UNIT_NUM ||
        node->unit[unit_index].received) {
        PFM_ERR(kMid, "Wait queue expire, seq: %d, id: %d waitque id: %d  isused: %d\n", header.seq,
                header.id, node->id, node->isUsed);
        node_guard.release();
        pal_free(block);
        return;
    }
    AXRPC_WAIT_QUE_UNIT_S &slot = node->unit[unit_index];
    if (!parse_message({block, length}, &header, &env, &slot.outPara)) {
        // A reply that cannot be read counts as a reply with a failure.
        slot.outPara.reset();
        pal_free(block);
        slot.ret = -1;
    } else {
        slot.outBuf = block;
        slot.ret = env.ret;
    }
    slot.received = 1;
    bool wake;
    {
        pc::pal::MutexGuard cond_guard(node->condLock);
        node->waitNum--;
        wake = node->waitNum < 1;
    }
    // The caller is woken once both locks are free: woken earlier, it would
    // only block again on the lock this thread still holds. It checks
    // waitNum under condLock, so no wake-up is lost; the condition outlives
    // the slot's calls, so a late signal at most wakes a newer caller of
    // the slot, which finds its own count and sleeps on.
    node_guard.release();
    if (wake) pal_cond_signal(node->cond);
}

}  // namespace pc::ipc::rpc

using pc::ipc::rpc::g_wq;
using pc::ipc::rpc::kMid;

extern "C" {

PC_API AXRPC_WAIT_QUE_NODE_T *axrpcGetWaitQue(int seq) {
    PFM_ENSURE_RET(kMid, AXRPC_WAIT_QUE_NUM > seq, nullptr);
    if (seq < 0) return nullptr;
    return &g_wq.nodes[seq];
}

PC_API int axrpcGetDefaultTime(void) { return g_wq.defaultTime; }

PC_API int axrpcGetSequence(int *seq, int *id) {
    if (seq == nullptr || id == nullptr || g_wq.lock == nullptr) return -1;
    pc::pal::MutexGuard guard(g_wq.lock);
    if (!guard.held()) return -1;
    const int32_t start = g_wq.nextIndex;
    for (int32_t n = 0; n < AXRPC_WAIT_QUE_NUM; ++n) {
        const int32_t i = (start + n) % AXRPC_WAIT_QUE_NUM;
        AXRPC_WAIT_QUE_NODE_T *node = &g_wq.nodes[i];
        pc::pal::MutexGuard node_guard(node->nodeLock);
        if (node->isUsed) continue;
        node->isUsed = 1;
        node->seq = i;
        node->id = static_cast<int32_t>(pc::ipc::rpc::next_call_id_locked());
        *seq = i;
        *id = node->id;
        g_wq.nextIndex = (i + 1) % AXRPC_WAIT_QUE_NUM;
        return 0;
    }
    return -1;
}

PC_API int axrpcReleaseSequence(int sequence) {
    PFM_ENSURE_RET(kMid, AXRPC_WAIT_QUE_NUM > sequence, -1);
    if (sequence < 0 || g_wq.lock == nullptr) return -1;
    AXRPC_WAIT_QUE_NODE_T *node = &g_wq.nodes[sequence];
    pc::pal::MutexGuard guard(g_wq.lock);
    pc::pal::MutexGuard node_guard(node->nodeLock);
    pc::ipc::rpc::clear_node_locked(node);
    return 0;
}

}  // extern "C"
