// The ports page: every front-panel port of this unit with its link, speed,
// VLAN and traffic counters, read from the chip as the packet service reads
// them.
#ifdef PC_HAVE_JSONC

#include "mgmt/web/web_json.h"
#include "mgmt/web/web_pages_internal.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"

namespace pc::mgmt::web {

namespace {

constexpr int kSpeedMbps[] = {100, 1000, 10000};  // by interface type FE, GE, TE

struct Counter {
    const char *key;
    uint32_t counter;
};
constexpr Counter kCounters[] = {
    {"inUcast", SDK_STAT_IF_IN_UCAST_PKTS},   {"inBcast", SDK_STAT_IF_IN_BCAST_PKTS},
    {"outUcast", SDK_STAT_IF_OUT_UCAST_PKTS}, {"outBcast", SDK_STAT_IF_OUT_BCAST_PKTS},
    {"inBytes", SDK_STAT_IF_IN_OCTETS},       {"outBytes", SDK_STAT_IF_OUT_OCTETS},
};

Json port_entry(UP up, uint32_t intfType) {
    int chipUnit = 0, chipPort = 0;
    if (adPmpUp2Bp(up, &chipUnit, &chipPort) != 0 || chipUnit != 0) return nullptr;
    const auto unit = static_cast<uint32_t>(chipUnit);
    const auto port = static_cast<uint32_t>(chipPort);
    Json entry(jsonObjectNewObject());
    char name[UP_STR_LEN] = "";
    usUp2Str(up, name, UP_STR_TYPE_SHORT);
    uint32_t link = 0, pvid = 0;
    sdk_port_link_get(unit, port, &link);
    sdk_vlan_portPvid_get(unit, port, &pvid);
    jsonObjectAddString(entry.get(), "name", name);
    jsonObjectAddString(entry.get(), "link", link != 0 ? "up" : "down");
    jsonObjectAddInt(entry.get(), "speedMbps", kSpeedMbps[intfType]);
    jsonObjectAddInt(entry.get(), "pvid", static_cast<int>(pvid));
    uint64_t values[SDK_STAT_NUM] = {};
    for (const Counter &c : kCounters) {
        sdk_stat_port_get(unit, port, c.counter, &values[c.counter]);
        add_u64(entry.get(), c.key, values[c.counter]);
    }
    add_u64(entry.get(), "inFrames", values[SDK_STAT_IF_IN_UCAST_PKTS] + values[SDK_STAT_IF_IN_BCAST_PKTS]);
    add_u64(entry.get(), "outFrames",
            values[SDK_STAT_IF_OUT_UCAST_PKTS] + values[SDK_STAT_IF_OUT_BCAST_PKTS]);
    return entry;
}

}  // namespace

int ports_page(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    Json root(jsonObjectNewObject());
    Json ports(jsonObjectNewArray());
    if (root == nullptr || ports == nullptr) return -1;
    for (uint32_t it = INTF_TYPE_FE; it <= INTF_TYPE_TE; ++it) {
        uint32_t from = 0, to = 0;
        if (upProptPortRangeGet(UNIT_1, it, 0, &from, &to) != 0 || from == 0) continue;
        for (uint32_t n = from; n <= to; ++n) {
            const UP up = UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, n);
            if (!UP_IS_VALID(up)) continue;
            if (Json entry = port_entry(up, it)) add_child(ports.get(), nullptr, std::move(entry));
        }
    }
    add_child(root.get(), "ports", std::move(ports));
    return send_json(root.get());
}

}  // namespace pc::mgmt::web

#endif
