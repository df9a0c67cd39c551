#include "show_commands.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform_core/aximi.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/gev.h"
#include "platform_core/pmp.h"
#include "platform_core/profile.h"
#include "platform_core/up.h"
#include "platform_core/up_platform.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"

namespace axcored {

namespace {

constexpr const char *kPortsArg = "ports";  // optional port text of "show interfaces"
constexpr size_t kPortsTextMax = 512;

struct Port {
    UP up;
    char name[UP_STR_LEN];   // Gi1/0/1
    char lname[UP_STR_LEN];  // gigabitEthernet 1/0/1
    uint32_t chip_unit, chip_port;
};

// The front-panel ports in index order, restricted to `only` when given.
template <typename Visit>
void for_each_port(const up_list *only, Visit visit) {
    for (uint32_t idx = 0; idx < UP_UNIT_PORT_MAX; ++idx) {
        UP up = UP_INVALID_VALUE;
        if (inner_up_from_index(&up, idx, 1, __func__, __LINE__) == UP_INVALID_VALUE || !UP_IS_SWP(up) ||
            !UP_IS_VALID(up) || UP_PORT(up) == 0)
            continue;
        if (only != nullptr && ((only->bits[idx / 32] >> (idx % 32)) & 1u) == 0) continue;
        Port p{};
        p.up = up;
        int chip_unit = 0, chip_port = 0;
        if (usUp2Str(up, p.name, UP_STR_TYPE_SHORT) != 0 || usUp2Str(up, p.lname, UP_STR_TYPE_LONG) != 0 ||
            adPmpUp2Bp(up, &chip_unit, &chip_port) != 0)
            continue;
        p.chip_unit = static_cast<uint32_t>(chip_unit);
        p.chip_port = static_cast<uint32_t>(chip_port);
        visit(p);
    }
}

const char *speed_of(UP up) {
    uint32_t it = INTF_TYPE_MAX;
    upProptIntfTypeGet(up, &it);
    switch (it) {
        case INTF_TYPE_FE:
            return "100M";
        case INTF_TYPE_GE:
            return "1000M";
        case INTF_TYPE_TE:
            return "10G";
        default:
            return "-";
    }
}

const char *link_of(const Port &p) {
    uint32_t link = 0;
    if (sdk_port_link_get(p.chip_unit, p.chip_port, &link) != 0) return "?";
    return link != 0 ? "up" : "down";
}

uint32_t pvid_of(const Port &p) {
    uint32_t pvid = 0;
    sdk_vlan_portPvid_get(p.chip_unit, p.chip_port, &pvid);
    return pvid;
}

unsigned long long counter(const Port &p, uint32_t which) {
    uint64_t v = 0;
    sdk_stat_port_get(p.chip_unit, p.chip_port, which, &v);
    return static_cast<unsigned long long>(v);
}

// The port text the client sent, checked; false when it was malformed.
bool requested_ports(AXRPC_PARA_T *args, up_list *ports, bool *given) {
    char text[kPortsTextMax + 1] = {};
    int len = 0;
    *given = false;
    if (axrpcGetData(args, kPortsArg, static_cast<int>(kPortsTextMax + 1), text, &len) != 0) return true;
    *given = true;
    // The text and its NUL must lie inside what was sent, and fit.
    if (len <= 0 || std::memchr(text, '\0', static_cast<size_t>(len)) == nullptr) return false;
    return usStr2UpList(-1, text, ports, nullptr) == 0;
}

int show_interfaces(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *) {
    up_list ports{};
    bool given = false;
    if (!requested_ports(args, &ports, &given)) {
        axImiPrintf(ctx, "%% Invalid port list\r\n");
        return -1;
    }
    int rc = 0;
    for_each_port(given ? &ports : nullptr, [&](const Port &p) {
        if (rc != 0) return;
        rc = axImiPrintf(ctx,
                         "%s\r\n  link %s, speed %s, VLAN %u\r\n"
                         "  input:  %llu octets, %llu unicast, %llu broadcast packets\r\n"
                         "  output: %llu octets, %llu unicast, %llu broadcast packets\r\n",
                         p.lname, link_of(p), speed_of(p.up), pvid_of(p), counter(p, SDK_STAT_IF_IN_OCTETS),
                         counter(p, SDK_STAT_IF_IN_UCAST_PKTS), counter(p, SDK_STAT_IF_IN_BCAST_PKTS),
                         counter(p, SDK_STAT_IF_OUT_OCTETS), counter(p, SDK_STAT_IF_OUT_UCAST_PKTS),
                         counter(p, SDK_STAT_IF_OUT_BCAST_PKTS));
    });
    return 0;
}

int show_status(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    int rc = axImiPrintf(ctx, "%-10s %-5s %-6s %s\r\n", "Port", "Link", "Speed", "VLAN");
    for_each_port(nullptr, [&](const Port &p) {
        if (rc == 0)
            rc = axImiPrintf(ctx, "%-10s %-5s %-6s %u\r\n", p.name, link_of(p), speed_of(p.up), pvid_of(p));
    });
    return 0;
}

// A 16-byte identity field as text: its printable characters up to the
// first NUL, "(not set)" for a blank field, else hexadecimal.
std::string id_text(const unsigned char *field, size_t len) {
    bool blank = true, text = true;
    size_t n = 0;
    for (; n < len && field[n] != 0; ++n) {
        blank = blank && field[n] == 0xFF;
        text = text && std::isprint(field[n]) != 0;
    }
    for (size_t i = n; i < len; ++i) blank = blank && (field[i] == 0xFF || field[i] == 0);
    if (blank || n == 0) return "(not set)";
    if (text) return std::string(reinterpret_cast<const char *>(field), n);
    std::string hex;
    char b[3];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(b, sizeof b, "%02x", field[i]);
        hex += b;
    }
    return hex;
}

int show_version(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    const dev_def_t *dev = upProptDevTypeDesGetByUnit(UNIT_1);
    unsigned char mac[PROFILE_MAC_LEN] = {};
    unsigned char id[PROFILE_ID_LEN];
    axImiPrintf(ctx, "Device:           %s\r\n", dev != nullptr ? dev->name : "(unknown)");
    if (sysGetMacFromFlash(mac) == 0)
        axImiPrintf(ctx, "MAC address:      %02x:%02x:%02x:%02x:%02x:%02x\r\n", mac[0], mac[1], mac[2],
                    mac[3], mac[4], mac[5]);
    std::memset(id, 0xFF, sizeof id);
    sysGetProductId(id);
    axImiPrintf(ctx, "Product id:       %s\r\n", id_text(id, sizeof id).c_str());
    std::memset(id, 0xFF, sizeof id);
    sysGetHwIdFromFlash(id);
    axImiPrintf(ctx, "Hardware id:      %s\r\n", id_text(id, sizeof id).c_str());
    std::memset(id, 0xFF, sizeof id);
    sysGetFirmwareVer(id);
    axImiPrintf(ctx, "Firmware version: %s\r\n", id_text(id, sizeof id).c_str());
    char image[GEV_VALUE_LEN] = {};
    if (getEnvItem("START_IMAGE", image) != 0 || image[0] == '\0')
        std::snprintf(image, sizeof image, "(not set)");
    axImiPrintf(ctx, "Start-up image:   %s\r\n", image);
    return 0;
}

}  // namespace

int register_show_commands() {
    struct Entry {
        const char *name;
        AXIMI_FUNC hook;
    };
    static const Entry kEntries[] = {
        {"coreShowInterfaces", show_interfaces},
        {"coreShowInterfacesStatus", show_status},
        {"coreShowVersion", show_version},
    };
    for (const Entry &e : kEntries)
        if (int rc = axImiRegisterFunc(e.name, e.hook, IMI_EXEC_MASTER_ONLY); rc != 0) return rc;
    return 0;
}

}  // namespace axcored
