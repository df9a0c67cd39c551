// The answer of the packet peers: a received frame goes back out of the
// ports it came in on, on its VLAN, with another EtherType.
#pragma once

#include <cstdint>
#include <vector>

#include "axpacket_client/axpacket_client.h"

namespace pc::test {

// axpacketClientSend's result; -1 for a frame shorter than its Ethernet header.
inline int send_back_as(const AX_PACKET_T *pkt, uint16_t etherType) {
    constexpr uint32_t kTypeAt = 12;
    if (pkt->len < kTypeAt + 2) return -1;
    std::vector<uint8_t> reply(pkt->data, pkt->data + pkt->len);
    reply[kTypeAt] = static_cast<uint8_t>(etherType >> 8);
    reply[kTypeAt + 1] = static_cast<uint8_t>(etherType & 0xFF);
    AX_PACKET_T out{};
    out.data = reply.data();
    out.len = static_cast<uint32_t>(reply.size());
    out.vid = pkt->vid;
    out.flags = AX_PKT_FLAG_PORT_LIST;
    out.port_list = pkt->port_list;
    return axpacketClientSend(&out);
}

}  // namespace pc::test
