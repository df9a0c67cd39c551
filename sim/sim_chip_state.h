// The simulated chip's state, shared by its tables (sim_chip_tables.cpp: the
// settings, the chip SDK's reads and the sibling lookups) and its
// forwarding (sim_chip.cpp: classification, learning, flooding,
// egress and the capture of the frames that leave).
//
// One Chip, created on first use and never freed (the NIC's and the bound
// ports' threads may run until exit). Its mutex guards every field; a part
// takes it through ready_chip, which first fills in the device's ports when
// the chip has not been reset yet. Nothing here is exported from the
// library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform_core/chip_sdk.h"
#include "platform_core/up.h"

#pragma GCC visibility push(hidden)

namespace pc::sim {

using Frame = std::vector<uint8_t>;

inline constexpr uint32_t kPortNum = SDK_PORT_MAX;
inline constexpr size_t kEthHeader = 14;

struct Port {
    bool front = false;  // a front-panel port of the device
    bool link = false;
    uint16_t pvid = 1;
    std::array<uint64_t, SDK_STAT_NUM> counters{};
};

struct Vlan {
    sdk_portmask_t member{};
    sdk_portmask_t untag{};
};

struct Chip {
    std::mutex lock;  // guards every field below
    std::array<Port, kPortNum> ports{};
    int cpu_port = -1;
    std::map<uint16_t, Vlan> vlans;
    std::array<sdk_portmask_t, SDK_TRUNK_MAX> trunks{};
    std::map<std::pair<uint16_t, uint64_t>, int> l2;  // (vid, mac) -> port
    uint8_t mac[6]{};
    bool new_sa_trap = false;
    std::map<uint64_t, uint16_t> mac_vlan;  // sibling MAC-based VLAN table
    std::map<uint32_t, up_list> channel_groups;
    std::vector<uint32_t> intf_ips;
    bool ready = false;
};

// Takes the chip's lock into `guard` and returns the chip, reset first if
// it never was (sim_chip_tables.cpp).
Chip &ready_chip(std::unique_lock<std::mutex> &guard);

inline uint64_t mac_key(const uint8_t *m) {
    uint64_t k = 0;
    for (int i = 0; i < 6; ++i) k = (k << 8) | m[i];
    return k;
}

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline bool valid_port(int port) { return port >= 0 && static_cast<uint32_t>(port) < kPortNum; }

inline int trunk_of(const Chip &c, int port) {
    for (uint32_t t = 0; t < SDK_TRUNK_MAX; ++t)
        if (SDK_PORTMASK_IS_SET(c.trunks[t], port)) return static_cast<int>(t);
    return -1;
}

}  // namespace pc::sim

#pragma GCC visibility pop
