// The simulated chip's state, shared by its tables (sim_chip_tables.cpp: the
// settings, the chip SDK's reads and the sibling lookups) and its
// forwarding (sim_chip.cpp: classification, learning, flooding,
// egress and the capture of the frames that leave).
//
// One Chip per switch: it lives in a shared segment (sim_shared_segment.h)
// that every process of the switch attaches, so a port's link, a VLAN or a
// learned address is the same in all of them, as on the one chip of the
// switch. Its tables are therefore of fixed size (FixedMap, arrays). Its
// robust lock guards every field; a part takes it through ready_chip, which
// first fills in the device's ports when the chip has not been reset yet.
// Nothing here is exported from the library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_core/chip_sdk.h"
#include "platform_core/up.h"
#include "sim_fixed_map.h"
#include "sim_shared_segment.h"

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

inline constexpr size_t kVidNum = 4096;
inline constexpr size_t kL2Entries = 8192;  // learned addresses; a full table learns no more
inline constexpr size_t kMacVlanEntries = 256;
inline constexpr size_t kChannelGroups = 64;
inline constexpr size_t kIntfIps = 64;

struct Chip {
    SegmentHeader header;
    SharedMutex lock;  // guards every field below
    std::array<Port, kPortNum> ports;
    int32_t cpu_port;
    std::array<bool, kVidNum> vlan_present;
    std::array<Vlan, kVidNum> vlans;
    std::array<sdk_portmask_t, SDK_TRUNK_MAX> trunks;
    FixedMap<uint64_t, int32_t, kL2Entries> l2;  // l2_key(vid, mac) -> port
    uint8_t mac[6];
    bool new_sa_trap;
    FixedMap<uint64_t, uint16_t, kMacVlanEntries> mac_vlan;  // sibling MAC-based VLAN table
    FixedMap<uint32_t, up_list, kChannelGroups> channel_groups;
    FixedMap<uint32_t, uint8_t, kIntfIps> intf_ips;
    bool ready;

    // The VLAN's row, null when it does not exist.
    Vlan *vlan(uint16_t vid) { return vid < kVidNum && vlan_present[vid] ? &vlans[vid] : nullptr; }

    static void init(Chip &c);  // by the segment's creator (sim_chip_tables.cpp)
};

// Takes the chip's lock into `guard` and returns the chip, reset first if
// it never was (sim_chip_tables.cpp).
Chip &ready_chip(SharedLock &guard);

inline uint64_t mac_key(const uint8_t *m) {
    uint64_t k = 0;
    for (int i = 0; i < 6; ++i) k = (k << 8) | m[i];
    return k;
}

inline uint64_t l2_key(uint16_t vid, const uint8_t *m) { return (uint64_t{vid} << 48) | mac_key(m); }

inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline bool valid_port(int port) { return port >= 0 && static_cast<uint32_t>(port) < kPortNum; }

inline int trunk_of(const Chip &c, int port) {
    for (uint32_t t = 0; t < SDK_TRUNK_MAX; ++t)
        if (SDK_PORTMASK_IS_SET(c.trunks[t], port)) return static_cast<int>(t);
    return -1;
}

}  // namespace pc::sim

#pragma GCC visibility pop
