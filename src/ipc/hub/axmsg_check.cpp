// Validity checks a descriptor passes before it is sent.
#include "ipc/hub/hub.h"
#include "platform_core/axmsg.h"
#include "platform_core/platform.h"

namespace {

using pc::ipc::unit_usable;

bool type_ok(const AXMSG_T *msg) {
    if (IS_MID_VALID(msg->msg_type)) return true;
    PFM_ERR(MID_AXMSG, "msg type is out of range\n");
    return false;
}

bool procs_ok(const AXMSG_T *msg) {
    if (IS_PID_VALID(msg->dst_proc) && IS_PID_VALID(msg->src_proc)) return true;
    PFM_ERR(MID_AXMSG, "dst or src proc id is out of range\n");
    return false;
}

bool payload_ok(const AXMSG_T *msg) {
    if (msg->iov_num > 0 && msg->iov != nullptr) return true;
    PFM_ERR(MID_AXMSG, "Invalid data load\n");
    return false;
}

}  // namespace

extern "C" {

PC_API int axmsg_check(const AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    if (!type_ok(msg) || !procs_ok(msg)) return -1;
    if (!unit_usable(msg->dst_unit)) {
        PFM_ERR(MID_AXMSG, "Invalid dest unit\n");
        return -1;
    }
    if (!unit_usable(msg->src_unit)) {
        PFM_ERR(MID_AXMSG, "Invalid src unit\n");
        return -1;
    }
    return payload_ok(msg) ? 0 : -1;
}

PC_API int axmsg_multicast_check(const AXMSG_T *msg, int *unit_count, int *unit) {
    if (msg == nullptr || unit_count == nullptr || unit == nullptr) return -1;
    if (!type_ok(msg) || !procs_ok(msg)) return -1;
    if (!unit_usable(msg->src_unit)) {
        PFM_ERR(MID_AXMSG, "Invalid src unit\n");
        return -1;
    }
    if (!payload_ok(msg)) return -1;
    *unit_count = 0;
    for (uint32_t u = pc::ipc::kFirstUnit; u <= pc::ipc::kLastUnit; ++u) {
        if (unit_usable(u) && (msg->dst_unit & pc::ipc::unit_bit(u)) != 0) {
            ++*unit_count;
            *unit = static_cast<int>(u);
        }
    }
    if (*unit_count == 0) {
        PFM_ERR(MID_AXMSG, "Invalid multicast dst up_unit_list");
        return -1;
    }
    return 0;
}

}  // extern "C"
