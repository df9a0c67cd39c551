// Synchronous and asynchronous calls.
//
// A call collects its destination units, encodes the input set and sends
// one multicast message of module MID_AXRPC. A synchronous call first takes
// a wait-queue slot, then waits on the slot's condition for one reply per
// unit (axrpc_wait_queue.h for the locks; in a process other than the core
// a call that waits alone reads its replies itself, see wait_replies), and
// finally copies each reply's parameters into the caller's group: data and
// flags by value, pointer parameters into new blocks that the group
// releases with axrpcFreeBuf.
#include <atomic>
#include <cstring>

#include "ipc/hub/hub.h"
#include "ipc/rpc/axrpc_msg.h"
#include "ipc/rpc/axrpc_service.h"
#include "ipc/rpc/axrpc_wait_queue.h"
#include "ipc/rpc/axrpc_workers.h"
#include "ipc/rpc/rpc.h"
#include "pal/mutex_guard.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc::rpc {

namespace {

constexpr unsigned kMsPerSecond = 1000;

// Synchronous calls of this process that hold a slot.
std::atomic<int> g_calls_waiting{0};

// Counts a call from the moment it holds its slot until it returns.
class CountedCall {
public:
    CountedCall() { g_calls_waiting.fetch_add(1, std::memory_order_relaxed); }
    ~CountedCall() { g_calls_waiting.fetch_sub(1, std::memory_order_relaxed); }
    CountedCall(const CountedCall &) = delete;
    CountedCall &operator=(const CountedCall &) = delete;
};

// A worker of this process's synchronous queue waiting on a call it made
// (axrpc_workers.h): counted from before the request is sent until the call
// returns, so the service starts a spare worker when needed.
class CountedWorkerWait {
public:
    CountedWorkerWait() : allowed_(worker_wait_begin()) {}
    ~CountedWorkerWait() {
        if (allowed_) worker_wait_end();
    }
    CountedWorkerWait(const CountedWorkerWait &) = delete;
    CountedWorkerWait &operator=(const CountedWorkerWait &) = delete;
    bool allowed() const { return allowed_; }

private:
    bool allowed_;
};

// The units of `dstUnits` that can be reached, as a bit set; `count` of them.
uint32_t collect_units(uint32_t dstUnits, int *count) {
    uint32_t bits = 0;
    *count = 0;
    for (uint32_t u = kFirstUnit; u <= kLastUnit; ++u) {
        if (unit_usable(u) && (dstUnits & unit_bit(u)) != 0) {
            bits |= unit_bit(u);
            ++*count;
        }
    }
    return bits;
}

// The environment of a new call. A call made from inside a served function
// carries that function's depth on, so a chain of calls that loops back on
// itself ends at the depth limit instead of occupying every worker.
AXRPC_ENV_T new_call_env(int userArg) {
    AXRPC_ENV_T env = make_env(userArg);
    if (envTls != nullptr) {
        const auto *serving = static_cast<const AXRPC_ENV_T *>(pal_tls_key_get(envTls));
        if (serving != nullptr) env.depth = serving->depth;
    }
    return env;
}

int send_request(uint32_t units, int dstPid, MessageWriter &writer) {
    AXMSG_T msg{};
    msg.dst_unit = units;
    msg.dst_proc = static_cast<uint32_t>(dstPid);
    msg.msg_type = MID_AXRPC;
    msg.iov = writer.pieces();
    msg.iov_num = writer.piece_count();
    return axmsg_mcast_send(&msg);
}

// Copies one reply's parameters into the caller's group entry; 0 or -1.
int copy_reply(const AXRPC_PARA_T *reply, AXRPC_PARA_T *dst) {
    for (int32_t i = 0; i < reply->paraNum; ++i) {
        const AXRPC_PARA_SEC_T &sec = reply->paraSection[i];
        switch (sec.type) {
            case AXRPC_PARA_TYPE_DATA:
                if (axrpcAddData(dst, sec.name, AXRPC_PARA_TYPE_DATA, reply->paraBuf + sec.value,
                                 sec.length) != 0) {
                    PFM_ERR(kMid, "Add data error name: %s\n", sec.name);
                    return -1;
                }
                break;
            case AXRPC_PARA_TYPE_FLAG: {
                const auto flag = static_cast<uint32_t>(sec.value);
                if (axrpcAddData(dst, sec.name, AXRPC_PARA_TYPE_FLAG, &flag, sizeof flag) != 0) {
                    PFM_ERR(kMid, "Add flag error name: %s\n", sec.name);
                    return -1;
                }
                break;
            }
            case AXRPC_PARA_TYPE_PTR: {
                // A zero-length block still gets a block of its own, so the
                // parameter keeps a non-null address.
                const unsigned bytes = sec.length > 0 ? static_cast<unsigned>(sec.length) : 1u;
                void *copy = pal_alloc(bytes, kTag);
                if (copy == nullptr) {
                    PFM_ERR(kMid, "malloc error\n");
                    return -1;
                }
                std::memcpy(copy, reinterpret_cast<const void *>(sec.value), static_cast<size_t>(sec.length));
                if (axrpcAddPtr(dst, sec.name, copy, sec.length, axrpcFreeBuf) != 0) {
                    pal_free(copy);
                    PFM_ERR(kMid, "Add ptr error name: %s\n", sec.name);
                    return -1;
                }
                break;
            }
            default:
                PFM_ERR(kMid, "Wrong para\n");
                return -1;
        }
    }
    return 0;
}

// True once every awaited reply of the slot `arg` is in.
int replies_in(void *arg) {
    auto *node = static_cast<AXRPC_WAIT_QUE_NODE_T *>(arg);
    pc::pal::MutexGuard guard(node->condLock);
    return node->waitNum < 1 ? 1 : 0;
}

enum class WaitEnd { kReplied, kTimedOut, kStopped, kPeerGone };

// Waits for `count` replies; ends early when the service goes down or the
// process called went away meanwhile. In a process other
// than the core a call that is the process's only one waiting first tries
// to read its replies from the hub connection itself (they are stored by
// the same handler either way). Otherwise it sleeps on the slot's
// condition: with several calls waiting the client's reader thread takes
// the replies off the connection in batches, where a caller reading for
// all of them would only add wake-ups of that thread (the transport is told,
// so that its reader thread watches the connection).
WaitEnd wait_replies(AXRPC_WAIT_QUE_NODE_T *node, int count, unsigned waitMs) {
    const long long deadline = waitMs == PAL_WAIT_FOREVER ? 0 : pal_time_msecs() + waitMs;
    {
        pc::pal::MutexGuard guard(node->condLock);
        node->waitNum += count;
        if (node->waitNum < 1) return WaitEnd::kReplied;
    }
    const bool alone = g_calls_waiting.load(std::memory_order_relaxed) == 1;
    const int read_self = axmsg_transport_wait(MID_AXRPC, alone ? replies_in : nullptr, node, waitMs);
    pc::pal::MutexGuard guard(node->condLock);
    while (node->waitNum >= 1) {
        if (!service_ready()) {
            node->waitNum = 0;
            return WaitEnd::kStopped;
        }
        if (node->peerGone) {
            node->waitNum = 0;
            return WaitEnd::kPeerGone;
        }
        unsigned left = PAL_WAIT_FOREVER;
        if (waitMs != PAL_WAIT_FOREVER) {
            const long long now = pal_time_msecs();
            if (read_self < 0 || now >= deadline) {
                node->waitNum = 0;
                return WaitEnd::kTimedOut;
            }
            left = static_cast<unsigned>(deadline - now);
        }
        pal_cond_wait(node->cond, node->condLock, left);
    }
    return WaitEnd::kReplied;
}

unsigned wait_ms(unsigned short waitTime) {
    if (waitTime == 0) return static_cast<unsigned>(axrpcGetDefaultTime()) * kMsPerSecond;
    if (waitTime == AXRPC_WAIT_FOREVER) return PAL_WAIT_FOREVER;
    return static_cast<unsigned>(waitTime) * kMsPerSecond;
}

}  // namespace

}  // namespace pc::ipc::rpc

using namespace pc::ipc::rpc;

extern "C" {

PC_API int axrpcCallFunctionSync(uint32_t dstUnits, int dstPid, const char *funcName, AXRPC_PARA_T *inPara,
                                 unsigned short waitTime, int userArg, AXRPC_PARA_GROUP_T *outParaGroup) {
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, AXRPC_FUNC_NAME_MAX >= strlen(funcName), -1);
    PFM_ENSURE_RET(kMid, NULL != inPara, -1);
    PFM_ENSURE_RET(kMid, NULL != outParaGroup, -1);
    PFM_DBG(kMid, "RPC sync funcname:%s\n", funcName);
    const ServicePass pass;  // the wait queue lives while the call holds it
    if (!pass.open()) {
        PFM_ERR(kMid, "RPC service not running\n");
        return -1;
    }

    const AXRPC_ENV_T env = new_call_env(userArg);
    int count = 0;
    const uint32_t units = collect_units(dstUnits, &count);
    if (count == 0) {
        PFM_DBG(kMid, "Empty dst units\n");
        return 0;
    }
    int seq = 0, id = 0;
    if (axrpcGetSequence(&seq, &id) != 0) {
        PFM_ERR(kMid, "Get sequence error\n");
        return -1;
    }
    const CountedCall counted;
    AXRPC_WAIT_QUE_NODE_T *node = axrpcGetWaitQue(seq);
    if (node == nullptr) {
        PFM_ERR(kMid, "Get wait queue error, seq: %d\n", seq);
        axrpcReleaseSequence(seq);
        return -1;
    }
    const unsigned ms = wait_ms(waitTime);
    PFM_DBG(kMid, "Wait time: %d\n", static_cast<int>(ms));
    PFM_DBG(kMid, "Seq: %d, Id: %d\n", seq, id);

    // A process of this unit that goes away lets the call go at once.
    if ((units & pc::ipc::unit_bit(pc::ipc::current_unit())) != 0) wait_queue_watch_peer(seq, dstPid);

    const AXRPC_MSG_HEADER_T header = make_header(funcName, AXRPC_CALL_SYNC, AXRPC_MSG_REQUEST, seq, id);
    MessageWriter writer;
    if (writer.build(&header, &env, inPara) != 0) {
        PFM_ERR(kMid, "Malloc error buflen %d\n", static_cast<int>(writer.block_bytes()));
        axrpcReleaseSequence(seq);
        return -1;
    }
    const CountedWorkerWait worker_wait;
    if (!worker_wait.allowed()) {
        axrpcReleaseSequence(seq);
        return -1;
    }
    if (send_request(units, dstPid, writer) != 0) {
        PFM_ERR(kMid, "Send to unit error!! %d dstUnits: %x dstPid: %d\n", -1, dstUnits, dstPid);
        axrpcReleaseSequence(seq);
        return -1;
    }

    int result = AXRPC_RET_OK;
    switch (wait_replies(node, count, ms)) {
        case WaitEnd::kReplied:
            break;
        case WaitEnd::kStopped:
            PFM_ERR(kMid, "RPC service stopped while calling %s\n", funcName);
            axrpcReleaseSequence(seq);
            return -1;
        case WaitEnd::kPeerGone:
            PFM_ERR(kMid, "Proc %d (%s) went away while calling %s\n", dstPid, pidNameGet(dstPid), funcName);
            axrpcReleaseSequence(seq);
            return -1;
        case WaitEnd::kTimedOut:
            PFM_ERR(kMid, "Time out in rpcing to %s, %d/(%d,%s)!!!!\n", funcName, static_cast<int>(dstUnits),
                    dstPid, pidNameGet(dstPid));
            result = AXRPC_RET_TIMEOUT;
            break;
    }
    {
        pc::pal::MutexGuard guard(node->nodeLock);
        for (int u = 0; result != AXRPC_RET_TIMEOUT && u < AXRPC_UNIT_NUM; ++u) {
            AXRPC_WAIT_QUE_UNIT_S &reply = node->unit[u];
            if (!reply.received) continue;
            if (reply.ret != 0) {
                PFM_ERR(kMid, "%s in process %s(%d) of unit %d failed with %d\n", funcName,
                        pidNameGet(dstPid), dstPid, u, static_cast<int>(reply.ret));
                result = AXRPC_RET_FUNC_ERR;
            }
            if (reply.outBuf == nullptr) continue;  // unreadable reply, counted as a failure
            outParaGroup[u].isUsed = 1;
            if (copy_reply(reply.outPara.para(), &outParaGroup[u].paraSet) != 0) {
                PFM_ERR(kMid, "Return get para error!!! %d\n", -1);
                result = AXRPC_RET_FUNC_ERR;
            }
        }
    }
    axrpcReleaseSequence(seq);
    return result;
}

PC_API int axrpcCallFunctionAsync(uint32_t dstUnits, int dstPid, const char *funcName, AXRPC_PARA_T *inPara,
                                  int userArg) {
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, NULL != inPara, -1);
    PFM_ENSURE_RET(kMid, AXRPC_FUNC_NAME_MAX >= strlen(funcName), -1);
    PFM_DBG(kMid, "RPC async funcname:%s\n", funcName);

    const AXRPC_ENV_T env = new_call_env(userArg);
    int count = 0;
    const uint32_t units = collect_units(dstUnits, &count);
    if (count == 0) {
        PFM_DBG(kMid, "Empty dst units\n");
        return 0;
    }
    const AXRPC_MSG_HEADER_T header = make_header(funcName, AXRPC_CALL_ASYNC, AXRPC_MSG_REQUEST, 0, 0);
    MessageWriter writer;
    if (writer.build(&header, &env, inPara) != 0) {
        PFM_ERR(kMid, "Malloc error!\n");
        return -1;
    }
    if (send_request(units, dstPid, writer) != 0) {
        PFM_ERR(kMid, "Send to unit error!! %d dst unit %x dst pid %d\n", -1, dstUnits, dstPid);
        return -1;
    }
    return 0;
}

}  // extern "C"
