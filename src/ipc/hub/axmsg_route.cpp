// The hub's routing: messages read from a connection, sends of the core
// process and multicasts. A message for another unit leaves through the
// unit transport (multicast dispatch: axmsg_unit_utp.cpp).
#include "ipc/hub/axmsg_route.h"

#include "ipc/hub/axmsg_connection.h"
#include "ipc/hub/axmsg_handlers.h"
#include "ipc/hub/axmsg_stream.h"
#include "ipc/hub/hub.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/utp.h"

namespace pc::ipc {

int deliver_local_copy(const AXMSG_T *msg) {
    AXMSG_T local = *msg;
    if (axmsg_rcv_from_iov(&local, msg->iov, msg->iov_num) != 0) {
        PFM_ERR(MID_AXMSG, "memory is not enough");
        return -1;
    }
    int rc = call_handler(&local) ? 0 : -1;
    pal_free(local.data);
    return rc;
}

// The header and the payload pieces as one message to another unit.
static int send_to_unit(const AXMSG_T *msg, const AXMSG_HEADER_T &header) {
    int count = msg->iov_num + 1;
    auto *vec = static_cast<iovec *>(pal_alloc(static_cast<unsigned>(sizeof(iovec) * count), "axmsg_serv"));
    if (vec == nullptr) return -1;
    vec[0].iov_base = const_cast<AXMSG_HEADER_T *>(&header);
    vec[0].iov_len = sizeof header;
    for (int i = 0; i < msg->iov_num; ++i) vec[i + 1] = msg->iov[i];
    int rc = utp_sendmsg(msg->dst_unit, vec, count);
    pal_free(vec);
    return rc;
}

}  // namespace pc::ipc

namespace {

using pc::ipc::current_unit;

bool is_local(const AXMSG_T *msg) {
    return msg->dst_unit == current_unit() && msg->dst_proc == static_cast<uint32_t>(pidGetCurrent());
}

}  // namespace

extern "C" {

PC_API int axmsg_serv_write(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    AXMSG_HEADER_T header;
    axmsg_create_header(&header, msg, 0);
    PFM_DBG(MID_AXMSG, "[unit = %d proc =%d] send msg to [unit = %d proc %d], data len %d",
            static_cast<int>(msg->src_unit), static_cast<int>(msg->src_proc), static_cast<int>(msg->dst_unit),
            static_cast<int>(msg->dst_proc), static_cast<int>(header.data_len));
    if (msg->dst_unit != current_unit()) {
        PFM_DBG(MID_AXMSG, "serv send msg to unit %d, data len %d", static_cast<int>(msg->dst_unit),
                static_cast<int>(header.data_len));
        return pc::ipc::send_to_unit(msg, header);
    }
    return pc::ipc::connection_write(msg->dst_proc, header, msg->iov, msg->iov_num);
}

PC_API int axmsg_serv_send(AXMSG_T *msg) {
    if (axmsg_check(msg) != 0) return -1;
    if (is_local(msg)) return pc::ipc::deliver_local_copy(msg);
    return axmsg_serv_write(msg);
}

// axmsg_serv_mult_dispatch: axmsg_unit_utp.cpp.

PC_API int axmsg_serv_multicast_send(AXMSG_T *msg) {
    int unit_count = 0;
    int unit = 0;
    if (axmsg_multicast_check(msg, &unit_count, &unit) != 0) return -1;
    if (unit_count == 1) {
        AXMSG_T copy = *msg;
        copy.dst_unit = static_cast<uint32_t>(unit);
        return axmsg_serv_send(&copy);
    }
    return axmsg_serv_mult_dispatch(msg);
}

PC_API int axmsg_serv_cmd_proc(void *buf, uint32_t len) {
    PFM_DBG(MID_AXMSG, "server receive a msg, len %d", static_cast<int>(len));
    if (buf == nullptr || len < AXMSG_HEADER_LEN) {
        PFM_ERR(MID_AXMSG, "incorrect axmsg len %d", static_cast<int>(len));
        return -1;
    }
    std::span<uint8_t> bytes(static_cast<uint8_t *>(buf), len);
    AXMSG_HEADER_T h = pc::ipc::decode_header(bytes);
    if (!pc::ipc::header_ok(h)) {
        PFM_ERR(MID_AXMSG, "read error marker %d, check 0x%x", static_cast<int>(h.marker),
                static_cast<unsigned>(h.check));
        return -1;
    }
    // The payload the header announces must be exactly what the buffer holds.
    if (h.data_len != len - AXMSG_HEADER_LEN) {
        PFM_ERR(MID_AXMSG, "incorrect axmsg len %d", static_cast<int>(len));
        return -1;
    }
    std::span<uint8_t> payload = bytes.subspan(AXMSG_HEADER_LEN);
    iovec piece{payload.data(), payload.size()};
    AXMSG_T msg{};
    msg.dst_unit = h.dst_unit;
    msg.dst_proc = h.dst_proc;
    msg.src_unit = h.src_unit;
    msg.src_proc = h.src_proc;
    msg.msg_type = h.msg_type;
    msg.data = payload.data();
    msg.data_len = h.data_len;
    msg.iov = &piece;
    msg.iov_num = 1;

    switch (h.command) {
        case AXMSG_CMD_UNICAST:
            if (msg.dst_unit == current_unit() && msg.dst_proc == PID_CORE) {
                return pc::ipc::call_handler(&msg) ? 0 : -1;
            }
            if (IS_PID_VALID(msg.dst_proc)) return axmsg_serv_write(&msg);
            return 0;
        case AXMSG_CMD_MULTICAST:
            if (msg.src_unit == current_unit()) return axmsg_serv_mult_dispatch(&msg);
            PFM_ERR(MID_AXMSG, "Invalid multicast message");
            return -1;
        default:
            PFM_ERR(MID_AXMSG, "read error command %d", static_cast<int>(h.command));
            return 0;
    }
}

}  // extern "C"
