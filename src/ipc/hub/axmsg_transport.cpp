// axmsg_send and axmsg_mcast_send in every process, and the transport
// hook through which a process other than the core reaches the hub.
//
// In the process that serves the hub the sends take the hub's path. In any
// other process a message for the process itself is delivered on the
// caller's thread and every other message is written through the transport
// the messaging client installed. The transport's words are atomics;
// the client installs it once and its context lives as long as the process.
#include <atomic>

#include "ipc/hub/axmsg_route.h"
#include "ipc/hub/axmsg_server.h"
#include "ipc/hub/hub.h"
#include "platform_core/axmsg.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

std::atomic<AXMSG_TRANSPORT_SEND_T> g_send{nullptr};
std::atomic<AXMSG_TRANSPORT_WAIT_T> g_wait{nullptr};
std::atomic<void *> g_ctx{nullptr};

int transport_write(const AXMSG_T *msg, int multicast) {
    AXMSG_TRANSPORT_SEND_T send = g_send.load(std::memory_order_acquire);
    if (send == nullptr) {
        PFM_ERR(MID_AXMSG, "no connection to the message hub");
        return -1;
    }
    AXMSG_HEADER_T header;
    axmsg_create_header(&header, msg, multicast);
    return send(g_ctx.load(std::memory_order_acquire), &header, msg->iov, msg->iov_num);
}

void stamp_source(AXMSG_T *msg, uint32_t src_proc) {
    msg->src_proc = src_proc;
    msg->src_unit = pc::ipc::current_unit();
    msg->data = nullptr;
    msg->data_len = 0;
}

// A checked unicast from a process that does not serve the hub.
int client_unicast(const AXMSG_T *msg) {
    if (msg->dst_unit == pc::ipc::current_unit() && msg->dst_proc == msg->src_proc) {
        return pc::ipc::deliver_local_copy(msg);
    }
    return transport_write(msg, 0);
}

}  // namespace

extern "C" {

PC_API int axmsg_transport_set(const AXMSG_TRANSPORT_T *transport) {
    if (pc::ipc::hub_serving()) {
        PFM_ERR(MID_AXMSG, "this process serves the hub; no transport is taken");
        return -1;
    }
    if (transport == nullptr || transport->send == nullptr) {
        g_send.store(nullptr, std::memory_order_release);
        g_wait.store(nullptr, std::memory_order_release);
        return 0;
    }
    g_ctx.store(transport->ctx, std::memory_order_release);
    g_wait.store(transport->wait, std::memory_order_release);
    g_send.store(transport->send, std::memory_order_release);
    return 0;
}

PC_API int axmsg_transport_wait(uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg, unsigned timeout_ms) {
    if (pc::ipc::hub_serving()) return 0;
    AXMSG_TRANSPORT_WAIT_T wait = g_wait.load(std::memory_order_acquire);
    if (wait == nullptr || g_send.load(std::memory_order_acquire) == nullptr) return 0;
    return wait(g_ctx.load(std::memory_order_acquire), msg_type, done, arg, timeout_ms);
}

PC_API int axmsg_send(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    if (pc::ipc::hub_serving()) {
        stamp_source(msg, PID_CORE);
        return axmsg_serv_send(msg);
    }
    stamp_source(msg, static_cast<uint32_t>(pidGetCurrent()));
    if (axmsg_check(msg) != 0) return -1;
    return client_unicast(msg);
}

PC_API int axmsg_mcast_send(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    stamp_source(msg, static_cast<uint32_t>(pidGetCurrent()));
    if (pc::ipc::hub_serving()) return axmsg_serv_multicast_send(msg);
    int unit_count = 0;
    int unit = 0;
    if (axmsg_multicast_check(msg, &unit_count, &unit) != 0) return -1;
    if (unit_count == 1) {
        AXMSG_T copy = *msg;
        copy.dst_unit = static_cast<uint32_t>(unit);
        return client_unicast(&copy);
    }
    return transport_write(msg, 1);
}

}  // extern "C"
