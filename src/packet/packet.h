// The packet service: the control-plane packet path of the core process
// (platform_core/axpacket.h describes the C API and the packet record).
//
// What it does. Receive (packet_receive.cpp): every frame the chip traps or
// copies to the CPU becomes a packet record, is classified into one of
// eight rule tables (packet_filter_match.cpp) and walked past the enabled
// registrations of the registry (packet_registry.h): each matching one gets
// a copy through its module's queue (in the core) or as a MID_AXPACKET
// message (elsewhere), an owning one ends the walk, and what nobody owns
// goes to the Linux network stack over the kernel link (packet_kernel.h),
// past the flood defence (packet_flood.cpp). Send (packet_send.cpp): a
// record from this or another process goes to the chip-level send. Beside
// the path: software QoS buckets per module (packet_qos.h), rate statistics
// (packet_rate.cpp), the registry for other processes over RPC
// (packet_rpc.cpp), and the management listings, command and web page
// (packet_cli.cpp, packet_show.cpp, packet_web.cpp).
//
// Threads (in the core):
//   the NIC driver's thread   runs the receive path for every frame
//   "AXPacketRcv"             reads the kernel link: frames the kernel wants
//                             sent
//   "/AXPkt_<module>"         one work thread per module registered in the
//                             core: takes the module's queued copies and
//                             calls its receiver
//   the timer service         refills the QoS buckets and the flood
//                             defence's, and turns counters into rates
//   the delivering thread     runs the MID_AXPACKET handler (sends from
//                             other processes)
//
// Locks, in this order:
//   "AXPktLock_<process>"     registRuleLock: the module list, every
//                             registration and every walk
//   "AXPktEn_<n>"             one rule table's list
//   "AXPktQosLock_<mid>"      one module's QoS bucket
// Beside them: "FLOOD_DEFEND_LOCK" (the flood defence's ranges and buckets),
// the frame-handle table's and the kernel link's own mutexes, each taken
// alone.
//
// No other component of the library uses what this folder holds inside:
// they call the C API. The packet service sits above the hub, RPC and the
// chip adapter; CPU traffic control (src/pktctl/) is its neighbour, and
// neither uses the other.
#pragma once

#include <cstdint>

#include "platform_core/types.h"

namespace pc::packet {

// Module the service logs under and whose messages it handles.
constexpr uint32_t kMid = MID_AXPACKET;
// Accounted-allocator tag of every record the service allocates.
constexpr const char *kAllocTag = "AXPacket_core";

}  // namespace pc::packet
