// The kernel's link messages (rtnetlink RTM_NEWLINK / RTM_DELLINK) as the
// carrier watcher of the bound ports reads them: each message of a datagram
// gives an interface index and whether its link is up (administratively up,
// with carrier: IFF_LOWER_UP). Bounds-checked: a message that does
// not fit ends the walk.
#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace pc::sim {

// IFF_LOWER_UP of <linux/if.h>, which cannot be included beside <net/if.h>.
inline constexpr unsigned kLowerUp = 1u << 16;

struct CarrierChange {
    int ifindex = 0;
    bool up = false;
};

// Calls `fn(CarrierChange)` for every link message in `datagram`.
template <typename Fn>
void for_each_carrier_change(std::span<const uint8_t> datagram, Fn &&fn) {
    size_t at = 0;
    while (datagram.size() - at >= sizeof(nlmsghdr)) {
        nlmsghdr h;
        std::memcpy(&h, datagram.data() + at, sizeof h);
        if (h.nlmsg_len < sizeof h || h.nlmsg_len > datagram.size() - at) return;
        if ((h.nlmsg_type == RTM_NEWLINK || h.nlmsg_type == RTM_DELLINK) &&
            h.nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) {
            ifinfomsg info;
            std::memcpy(&info, datagram.data() + at + NLMSG_HDRLEN, sizeof info);
            const unsigned wanted = IFF_UP | kLowerUp;
            fn(CarrierChange{info.ifi_index,
                             h.nlmsg_type == RTM_NEWLINK && (info.ifi_flags & wanted) == wanted});
        }
        const size_t step = NLMSG_ALIGN(h.nlmsg_len);
        if (step > datagram.size() - at) return;
        at += step;
    }
}

}  // namespace pc::sim
