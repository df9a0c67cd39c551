// Event notification: subscriptions, raising events, the core's traversal
// and the RPC functions through which processes reach each other.
#include <cstring>

#include "ipc/hub/hub.h"
#include "ipc/notify/notify.h"
#include "ipc/notify/notify_asyn.h"
#include "ipc/notify/notify_table.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

// The sibling library's table of event types, where the firmware has one.
extern "C" int notify_type_init(void) __attribute__((weak));

namespace pc::ipc::notify {

namespace {

constexpr const char *kCallSrv = "_notify_call_srv";
constexpr const char *kTravSrv = "_noitfy_table_cb_trv_srv";
constexpr const char *kCallRemote = "notify_call_remote";

bool is_core() { return pidGetCurrent() == PID_CORE; }

uint32_t current_unit_bit() { return unit_bit(current_unit()); }

int get_arg(AXRPC_PARA_T *in, void **arg, int *len) {
    if (axrpcGetDataPtr(in, "arg", arg, len) != 0) {
        PFM_ERR(kMid, "get arg error");
        return -1;
    }
    return 0;
}

// Walks the type's list in the core (the traversal of an event).
int table_cb_trav(int type, void *arg, int len) {
    if (type < 0 || type >= NOTIFY_TYPE_NUM) {
        PFM_ERR(kMid, "error type %d", type);
        return -1;
    }
    const int self = pidGetCurrent();
    for (NotifyNode *n = table_head(type); n != nullptr; n = n->next.load(std::memory_order_acquire)) {
        if (!n->active.load(std::memory_order_acquire)) continue;
        if (n->proc != self) {
            AXRPC_PARA_T in{};
            AXRPC_PARA_GROUP_T out{};
            if (axrpcParaInit(&in) != 0 || axrpcParaGroupInit(&out) != 0) {
                axrpcParaFree(&in);
                continue;
            }
            axrpcAddInt(&in, "type", type);
            axrpcAddInt(&in, "pri", n->pri);
            if (len > 0 && arg != nullptr) axrpcAddDataPtr(&in, "arg", arg, len, nullptr);
            axrpcCallFunctionSync(current_unit_bit(), n->proc, kCallSrv, &in, 0, 0, &out);
            axrpcParaFree(&in);
            axrpcParaGroupFree(&out);
        } else if (n->is_asyn) {
            if (n->asynCb != nullptr) n->asynCb(n->mid, type, arg, len);
        } else if (n->cb != nullptr) {
            PFM_DBG(kMid, "mid %d proc type %d", n->mid, type);
            n->cb(arg, len);
        }
    }
    return 0;
}

int call_srv(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    if (in == nullptr) {
        PFM_ERR(kMid, "inPara == NULL");
        return -1;
    }
    int type = 0, pri = 0, len = 0;
    void *arg = nullptr;
    if (axrpcGetInt(in, "type", &type) != 0) {
        PFM_ERR(kMid, "get type error");
        return -1;
    }
    if (axrpcGetInt(in, "pri", &pri) != 0) {
        PFM_ERR(kMid, "get pri error");
        return -1;
    }
    if (axrpcGetDataPtr(in, "arg", &arg, &len) != 0) arg = nullptr, len = 0;  // an event without argument
    PFM_DBG(kMid, "rpc get type %d, pri %d, len %d", type, pri, len);
    for (NotifyNode *n = table_head(type); n != nullptr; n = n->next.load(std::memory_order_acquire)) {
        if (n->pri != pri || n->proc != pidGetCurrent()) continue;
        if (n->is_asyn) {
            if (n->asynCb != nullptr) n->asynCb(n->mid, type, arg, len);
        } else if (n->cb != nullptr)
            n->cb(arg, len);
    }
    return 0;
}

int trav_srv(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    int type = 0, len = 0;
    void *arg = nullptr;
    if (in == nullptr || axrpcGetInt(in, "type", &type) != 0) {
        PFM_ERR(kMid, "get type error");
        return -1;
    }
    if (axrpcGetDataPtr(in, "arg", &arg, &len) != 0) arg = nullptr, len = 0;
    return table_cb_trav(type, arg, len);
}

int call_remote_srv(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    int type = 0, len = 0, arg_len = 0;
    void *arg = nullptr;
    if (in == nullptr || axrpcGetInt(in, "type", &type) != 0 || axrpcGetInt(in, "len", &len) != 0) {
        PFM_ERR(kMid, "get type error");
        return -1;
    }
    if (get_arg(in, &arg, &arg_len) != 0) arg = nullptr, arg_len = 0;
    PFM_DBG(kMid, "rpc get type %d, len %d, len %d", type, len, arg_len);
    return notify_call(type, arg, arg_len < len ? arg_len : len);
}

// Tells the core of a subscription of this process. A failure is the
// caller's to report; the subscription stays in this process's table, and
// the messaging client sends it again when its connection to a core comes
// back (notify_reg_resend).
int send_registration(int type, int pri, int sync) {
    NOTIFY_REG_MSG_T reg{NOTIFY_CMD_REG, type, pri, sync};
    iovec piece{&reg, sizeof reg};
    AXMSG_T msg{};
    msg.dst_unit = current_unit();
    msg.dst_proc = PID_CORE;
    msg.msg_type = MID_NOTIFY;
    msg.iov = &piece;
    msg.iov_num = 1;
    if (axmsg_send(&msg) != 0) {
        PFM_ERR(kMid, "send reg error");
        return -1;
    }
    return 0;
}

}  // namespace

}  // namespace pc::ipc::notify

using namespace pc::ipc::notify;

extern "C" {

PC_API int notify_lib_init(void) {
    axrpcRegisterFunc(kCallSrv, call_srv);
    axrpcRegisterFunc(kTravSrv, trav_srv);
    if (table_init() != 0) return -1;
    return axmsg_reg(MID_NOTIFY, notify_axmsg_callback);
}

PC_API int notify_asyn_init(void) { return asyn_init(); }

PC_API int notify_init(void) {
    if (notify_type_init != nullptr) notify_type_init();
    PFM_CALL_RET(kMid, pc::ipc::add_process_gone_hook(
                           [](uint32_t pid) { table_drop_process(static_cast<int>(pid)); }));
    PFM_CALL_RET(kMid, notify_asyn_init());
    PFM_CALL_RET(kMid, notify_lib_init());
    axrpcRegisterFunc(kCallRemote, call_remote_srv);
    return 0;
}

PC_API int notify_reg(int mid, int type, NOTIFY_CB cb, int pri) {
    if (type < 0 || type >= NOTIFY_TYPE_NUM) {
        PFM_ERR(kMid, "invalid notify type");
        return -1;
    }
    if (cb == nullptr) {
        PFM_ERR(kMid, "cb is NULL");
        return -1;
    }
    if (pri < 0 || pri >= NOTIFY_PRI_NUM) {
        PFM_ERR(kMid, "priority is out of range");
        return -1;
    }
    if (table_add(type, pidGetCurrent(), mid, 0, pri, cb, nullptr) != 0) return -1;
    return is_core() ? 0 : send_registration(type, pri, 1);
}

PC_API int notify_asyn_reg(int mid, int type, int queueLen, NOTIFY_CB cb) {
    if (!IS_MID_VALID(mid)) {
        PFM_ERR(kMid, "mid is out of range");
        return -1;
    }
    if (type < 0 || type >= NOTIFY_TYPE_NUM) {
        PFM_ERR(kMid, "invalid notify type");
        return -1;
    }
    if (cb == nullptr) {
        PFM_ERR(kMid, "cb is NULL");
        return -1;
    }
    if (asyn_register(mid, type, queueLen, cb) != 0) return -1;
    if (table_add(type, pidGetCurrent(), mid, 1, NOTIFY_ASYN_PRI, nullptr, asyn_dispatch) != 0) return -1;
    return is_core() ? 0 : send_registration(type, NOTIFY_ASYN_PRI, 0);
}

PC_API int notify_reg_resend(void) {
    if (is_core()) return 0;
    const int self = pidGetCurrent();
    for (int type = 0; type < NOTIFY_TYPE_NUM; ++type)
        for (NotifyNode *n = table_head(type); n != nullptr; n = n->next.load(std::memory_order_acquire))
            if (n->proc == self && send_registration(type, n->pri, n->is_asyn ? 0 : 1) != 0) return -1;
    return 0;
}

PC_API int notify_call(int type, void *arg, int len) {
    // An unknown type is logged; the core's traversal refuses it, and a
    // process other than the core still hands it on.
    if (type < 0 || type >= NOTIFY_TYPE_NUM) PFM_ERR(kMid, "invalid notify type");
    if (is_core()) {
        PFM_DBG(kMid, "core proc notify call %d", type);
        table_cb_trav(type, arg, len);
        return 0;
    }
    PFM_DBG(kMid, "client proc notify call %d", type);
    AXRPC_PARA_T in{};
    if (axrpcParaInit(&in) != 0) return -1;
    // An event that does not reach the core is reported, never dropped
    // quietly: the caller may raise it again.
    int rc = axrpcAddInt(&in, "type", type);
    if (rc == 0 && len > 0 && arg != nullptr) rc = axrpcAddDataPtr(&in, "arg", arg, len, nullptr);
    if (rc == 0) rc = axrpcCallFunctionAsync(current_unit_bit(), PID_CORE, kTravSrv, &in, 0);
    axrpcParaFree(&in);
    if (rc != 0) {
        PFM_ERR(kMid, "notify call %d not sent to the core", type);
        return -1;
    }
    return 0;
}

PC_API int notify_call_remote(int unit, int type, void *arg, int len) {
    AXRPC_PARA_T in{};
    if (axrpcParaInit(&in) != 0) return -1;
    int rc = axrpcAddInt(&in, "type", type);
    if (rc == 0) rc = axrpcAddInt(&in, "len", len);
    if (rc == 0 && len > 0 && arg != nullptr) rc = axrpcAddDataPtr(&in, "arg", arg, len, nullptr);
    // A unit that is not legal names no destination: nothing is sent.
    const uint32_t units = unit >= 0 && pc::ipc::unit_usable(static_cast<uint32_t>(unit))
                               ? pc::ipc::unit_bit(static_cast<uint32_t>(unit))
                               : 0;
    if (rc == 0) rc = axrpcCallFunctionAsync(units, PID_CORE, kCallRemote, &in, 0);
    axrpcParaFree(&in);
    if (rc != 0) {
        PFM_ERR(kMid, "notify call %d not sent to unit %d", type, unit);
        return -1;
    }
    return 0;
}

PC_API int notify_axmsg_callback(AXMSG_T *msg) {
    if (msg == nullptr || msg->data == nullptr || msg->data_len < sizeof(NOTIFY_REG_MSG_T)) return -1;
    NOTIFY_REG_MSG_T reg{};
    std::memcpy(&reg, msg->data, sizeof reg);
    PFM_DBG(kMid, "Proc %d get notify msg command %d", static_cast<int>(msg->src_proc), reg.command);
    if (reg.command == NOTIFY_CMD_REG) {
        // A node recorded for another process is never this process's own:
        // this process's callbacks are registered locally, with a function.
        if (reg.type < 0 || reg.type >= NOTIFY_TYPE_NUM || reg.pri < 0 || reg.pri >= NOTIFY_PRI_NUM ||
            !IS_PID_VALID(msg->src_proc) || msg->src_proc == static_cast<uint32_t>(pidGetCurrent()))
            return -1;
        const int pri = reg.sync == 1 ? reg.pri : NOTIFY_ASYN_PRI;
        return table_add(reg.type, static_cast<int>(msg->src_proc), 0, reg.sync == 1 ? 0 : 1, pri, nullptr,
                         nullptr);
    }
    if (reg.command == NOTIFY_CMD_PRINT) table_print();
    return 0;
}

}  // extern "C"
