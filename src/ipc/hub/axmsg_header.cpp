// The message header: building, parsing and the contiguous payload copy.
#include <cstring>

#include "platform_core/axmsg.h"
#include "platform_core/pal.h"

extern "C" {

PC_API uint32_t axmsg_get_iov_total_len(const struct iovec *iov, int count) {
    if (iov == nullptr || count < 1) return 0;
    uint32_t total = 0;
    for (int i = 0; i < count; ++i) total += static_cast<uint32_t>(iov[i].iov_len);
    return total;
}

PC_API int axmsg_create_header(AXMSG_HEADER_T *header, const AXMSG_T *msg, int multicast) {
    if (header == nullptr || msg == nullptr) return -1;
    header->marker = AXMSG_MARKER;
    header->command = multicast ? AXMSG_CMD_MULTICAST : AXMSG_CMD_UNICAST;
    header->dst_unit = msg->dst_unit;
    header->dst_proc = msg->dst_proc;
    header->src_unit = msg->src_unit;
    header->src_proc = msg->src_proc;
    header->msg_type = msg->msg_type;
    header->check = AXMSG_CHECK;
    header->data_len = axmsg_get_iov_total_len(msg->iov, msg->iov_num);
    return 0;
}

PC_API int axmsg_parse_header(AXMSG_T *msg, AXMSG_HEADER_T *header) {
    if (msg == nullptr || header == nullptr) return -1;
    msg->dst_unit = header->dst_unit;
    msg->dst_proc = header->dst_proc;
    msg->src_unit = header->src_unit;
    msg->src_proc = header->src_proc;
    msg->msg_type = header->msg_type;
    msg->data = header + 1;
    msg->data_len = header->data_len;
    return 0;
}

PC_API int axmsg_header_valid(const AXMSG_HEADER_T *header) {
    return header != nullptr && header->marker == AXMSG_MARKER && header->check == AXMSG_CHECK;
}

PC_API int axmsg_rcv_from_iov(AXMSG_T *msg, const struct iovec *iov, int count) {
    if (msg == nullptr || iov == nullptr || count < 1) return -1;
    uint32_t total = axmsg_get_iov_total_len(iov, count);
    // A zero-length payload still gets a block so that data is never null.
    auto *copy = static_cast<uint8_t *>(pal_alloc(total > 0 ? total : 1, "axmsg"));
    if (copy == nullptr) return -1;
    uint32_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (iov[i].iov_len == 0) continue;
        std::memcpy(copy + at, iov[i].iov_base, iov[i].iov_len);
        at += static_cast<uint32_t>(iov[i].iov_len);
    }
    msg->data = copy;
    msg->data_len = total;
    return 0;
}

}  // extern "C"
