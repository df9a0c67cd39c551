// Registration and lookup of module handlers (see axmsg_handlers.h).
#include "ipc/hub/axmsg_handlers.h"

#include <array>
#include <atomic>

#include "platform_core/platform.h"

namespace {

std::array<std::atomic<AXMSG_HANDLER_T>, MID_MAX> g_handlers{};

}  // namespace

namespace pc::ipc {

bool call_handler(AXMSG_T *msg, int *result) {
    if (!IS_MID_VALID(msg->msg_type)) return false;
    AXMSG_HANDLER_T handler = g_handlers[msg->msg_type].load(std::memory_order_acquire);
    if (handler == nullptr) {
        PFM_DBG(MID_AXMSG, "no handler for msg type %u", static_cast<unsigned>(msg->msg_type));
        return false;
    }
    int rc = handler(msg);
    if (result != nullptr) *result = rc;
    return true;
}

}  // namespace pc::ipc

extern "C" {

PC_API int axmsg_serv_cmd_reg(uint32_t msg_type, AXMSG_HANDLER_T handler) {
    if (!IS_MID_VALID(msg_type)) return -1;
    g_handlers[msg_type].store(handler, std::memory_order_release);
    return 0;
}

PC_API int axmsg_reg(uint32_t msg_type, AXMSG_HANDLER_T handler) {
    if (!IS_MID_VALID(msg_type)) {
        PFM_ERR(MID_AXMSG, "msg_type error");
        return -1;
    }
    if (handler == nullptr) {
        PFM_ERR(MID_AXMSG, "callback func is NULL");
        return -1;
    }
    return axmsg_serv_cmd_reg(msg_type, handler);
}

PC_API int axmsg_deliver(AXMSG_T *msg) {
    if (msg == nullptr || (msg->data == nullptr && msg->data_len > 0)) return -1;
    int rc = -1;
    return pc::ipc::call_handler(msg, &rc) ? rc : -1;
}

}  // extern "C"
