// Links between the parts of the simulated chip: forwarding (sim_chip.cpp),
// the NIC (sim_nic.cpp) and the ports bound to Linux interfaces
// (sim_port_link.cpp). Each part has its own lock; none calls another part
// while holding it.
#pragma once

#include <cstdint>
#include <span>

#include "platform_core/chip_sdk.h"

namespace pc::sim {

// Receive information the chip gives the NIC with a frame for the CPU.
struct CpuRxInfo {
    uint32_t source_port = 0;
    bool tagged = false;
    uint16_t vid = 0;  // VLAN of the tag, 0 for an untagged frame
    uint8_t cpu_queue = 0;
    uint16_t reason = 0;
    bool new_sa = false;
    bool port_move = false;
    bool acl_hit = false;
    uint16_t acl_index = 0;
};

// What the ACL table decides for a frame entering a front-panel port.
struct AclVerdict {
    bool hit = false;
    uint16_t index = 0;           // physical entry of the rule
    bool out_of_profile = false;  // its meter refused the frame
    bool drop = false;
    bool trap = false;
    bool copy = false;
    bool pri_set = false;
    uint8_t pri = 0;
};

// The ACL lookup (sim_acl.cpp); counts the hit and takes from the meter.
AclVerdict acl_classify(uint32_t in_port, std::span<const uint8_t> frame);
// False once learning from reserved-MAC group 1 was turned off.
bool rma_learning_enabled();

// The NIC takes a frame for the CPU (copied); false when it was dropped.
bool nic_to_cpu(std::span<const uint8_t> frame, const CpuRxInfo &info);

// The chip sends a frame the CPU gave it (direct to a mask or forwarded).
void chip_cpu_tx(std::span<const uint8_t> frame, const drv_nic_pkt_t &desc);

// Sets the link of chip port `port` in the switch's chip; when it changed,
// tells this process's link watcher (simChipLinkWatch). False for a bad port.
bool link_set(int port, bool up);

// A frame leaves chip port `port`: written to its bound interface, if any.
void port_link_write(int port, std::span<const uint8_t> frame);

}  // namespace pc::sim
