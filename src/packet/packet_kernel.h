// The service's link to the Linux network stack: the packet netlink
// socket (protocol 22), or on a host without the kernel module an AF_UNIX
// sequenced-packet connection to the simulated kernel side carrying the
// same messages (AXPACKET_NL_HOST_KERNEL_NAME). The socket is opened by
// axPacketInit and read by the thread "AXPacketRcv"; every message is one
// sendmsg, its header naming the port bound at open (the process id).
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <span>

namespace pc::packet {

int kernel_link_open();
void kernel_link_close();
// Sends one message of `type` with the payload; 0 or -1.
int kernel_link_send(uint16_t type, const void *payload, uint32_t len);
// The same with the payload in pieces (at most four), sent as one message.
int kernel_link_sendv(uint16_t type, std::span<const iovec> pieces);

// Counts one frame toward a rate (0 received, 1 sent, 2 to the kernel,
// 3 from the kernel) while rate statistics are on.
void rate_count(int which);

}  // namespace pc::packet
