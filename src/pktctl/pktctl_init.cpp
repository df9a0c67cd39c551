// Start-up of CPU traffic control, the CPU port settings, the reserved,
// route and stacking entries and the reload after a change of master.
#include <array>
#include <cstring>

#include "pal/mutex_guard.h"
#include "pktctl/pktctl.h"
#include "pktctl/pktctl_stack.h"
#include "pktctl/pktctl_table.h"
#include "platform_core/appintf.h"
#include "platform_core/classifier.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"

using namespace pc::pktctl;

namespace {

constexpr uint32_t kSlowCpuRate = 320;  // applied once in a row, then given a second to settle
constexpr uint32_t kVidMax = 4096;
constexpr uint8_t kMacMaskAll[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kLldpMac[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};

struct RpcEntry {
    const char *name;
    AXRPC_FUNC func;
    const char *text;
};

const std::array kRpcs{
    RpcEntry{"axPktCtlIEEECtl", axPktCtlIEEECtl_srv,
             "axrpcRegisterFunc(\"axPktCtlIEEECtl\", axPktCtlIEEECtl_srv)"},
    RpcEntry{"axPktCtlIEEECtlByPort", axPktCtlIEEECtlByPort_srv,
             "axrpcRegisterFunc(\"axPktCtlIEEECtlByPort\", axPktCtlIEEECtlByPort_srv)"},
    RpcEntry{"axPktCtlL2Ctl", axPktCtlL2Ctl_srv, "axrpcRegisterFunc(\"axPktCtlL2Ctl\", axPktCtlL2Ctl_srv)"},
    RpcEntry{"axPktCtlL2UcCtl", axPktCtlL2UcCtl_srv,
             "axrpcRegisterFunc(\"axPktCtlL2UcCtl\", axPktCtlL2UcCtl_srv)"},
    RpcEntry{"axPktCtlL3Ctl", axPktCtlL3Ctl_srv, "axrpcRegisterFunc(\"axPktCtlL3Ctl\", axPktCtlL3Ctl_srv)"},
    RpcEntry{"axPktCtlL3UcCtl", axPktCtlL3UcCtl_srv,
             "axrpcRegisterFunc(\"axPktCtlL3UcCtl\", axPktCtlL3UcCtl_srv)"},
    RpcEntry{"axPktCtlL3McCtl", axPktCtlL3McCtl_srv,
             "axrpcRegisterFunc(\"axPktCtlL3McCtl\", axPktCtlL3McCtl_srv)"},
    RpcEntry{"axPktCtlCpuMacSet", axPktCtlCpuMacSet_srv,
             "axrpcRegisterFunc(\"axPktCtlCpuMacSet\", axPktCtlCpuMacSet_srv)"},
    RpcEntry{"axPktCtlCpuPortSpeedSet", axPktCtlCpuPortSpeedSet_srv,
             "axrpcRegisterFunc(\"axPktCtlCpuPortSpeedSet\", axPktCtlCpuPortSpeedSet_srv)"},
    RpcEntry{"axPktCtlSpeedSet", axPktCtlSpeedSet_srv,
             "axrpcRegisterFunc(\"axPktCtlSpeedSet\", axPktCtlSpeedSet_srv)"},
    RpcEntry{"axPktCtlSpeedGet", axPktCtlSpeedGet_srv,
             "axrpcRegisterFunc(\"axPktCtlSpeedGet\", axPktCtlSpeedGet_srv)"},
};

// The CPU port's last rate; guarded by the table lock.
uint32_t g_cpu_rate = 0;
bool g_cpu_rate_set = false;

// The route rules, outside the entry table; guarded by the table lock.
constexpr size_t kRouteRules = 3;
std::array<uint32_t, kRouteRules> g_route_pos{};
bool g_route_done = false;

int route_enable_all(int enable) {
    for (uint32_t pos : g_route_pos) PFM_CALL_RET(kMid, adPktCtlEntryEnable(pos, enable));
    return 0;
}

// One route rule: a position from the area, then its match and actions.
int route_rule(uint32_t app, uint16_t etherType, const uint8_t *mac, uint8_t ipProtocol, uint32_t pri,
               bool trap, uint32_t &pos) {
    PFM_CALL_RET(kMid, adPktCtlEntryGetAppBackward(app, &pos));
    PFM_CALL_RET(kMid, adPktCtlEntryCreate(pos));
    PFM_CALL_RET(kMid, adPktCtlRuleEtherType(pos, etherType, 0xffff));
    if (mac != nullptr) PFM_CALL_RET(kMid, adPktCtlRuleDstMac(pos, mac, kMacMaskAll));
    if (ipProtocol != 0) PFM_CALL_RET(kMid, adPktCtlRuleIpProtocol(pos, ipProtocol, 0xff));
    PFM_CALL_RET(kMid, adPktCtlActionPri(pos, pri));
    if (trap)
        PFM_CALL_RET(kMid, adPktCtlActionTrap(pos));
    else
        PFM_CALL_RET(kMid, adPktCtlActionCopy(pos));
    return 0;
}

void run_reload_hooks() {
    if (auto h = APPINTF_GET(APPINTF_SLOT_PKTCTL_RELOAD_1)) (void)h();
    if (auto h = APPINTF_GET(APPINTF_SLOT_PKTCTL_RELOAD_2)) (void)h();
    if (auto h = APPINTF_GET(APPINTF_SLOT_PKTCTL_RELOAD_3)) (void)h();
    if (auto h = APPINTF_GET(APPINTF_SLOT_PKTCTL_RELOAD_4)) (void)h();
}

#define RESV_CALL(call, text)                      \
    do {                                           \
        int resv_rc_ = (call);                     \
        if (resv_rc_ != 0) {                       \
            PFM_CALL_FAILED(kMid, resv_rc_, text); \
            return resv_rc_;                       \
        }                                          \
    } while (0)

}  // namespace

extern "C" {

PC_API int axPktCtlInit(void) {
    if (table_lock_create() != 0) return -1;
    for (const RpcEntry &r : kRpcs) {
        if (int rc = axrpcRegisterFunc(r.name, r.func); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, r.text);
            return rc;
        }
    }
    const uint32_t CPU_PORT_SPEED_LIMIT = qosGetCpuRateLimit();
    PFM_CALL_RET(kMid, axPktCtlCpuPortSpeedSet(CPU_PORT_SPEED_LIMIT));
    PFM_CALL_RET(kMid, adPktCtlMacUlfMlfBcToImpDis());
    PFM_CALL_RET(kMid, adPktCtlIEEEInit());
    return 0;
}

PC_API int axPktCtlCpuMacSet(uint32_t vid, uint32_t isEnable) {
    if (!in_core()) return cpu_mac_set_remote(vid, isEnable);
    if (vid < 1 || vid > kVidMax) return -1;
    uint32_t master = master_unit();
    if (inner_up_unit_is_provision(master)) return 0;  // the master is not here yet
    uint8_t mac[6]{};
    if (int rc = unit_mac(master, mac); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "stkGetMac(stkGetMasterUnit(), &mac)");
        return rc;
    }
    // Turning the CPU MAC off removes it rather than adding it again.
    if (isEnable == 0) {
        PFM_CALL_RET(kMid, adPktCtlCpuMacDel(mac, vid));
        return 0;
    }
    PFM_CALL_RET(kMid, adPktCtlCpuMacAdd(mac, vid));
    return 0;
}

PC_API int axPktCtlCpuPortSpeedSet(uint32_t speed) {
    if (!in_core()) return cpu_port_speed_set_remote(speed);
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return -1;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return -1;
    if (speed == kSlowCpuRate && g_cpu_rate_set && g_cpu_rate == kSlowCpuRate) return 0;
    PFM_CALL_RET(kMid, adPktCtlCpuPortSpeedSet(speed));
    g_cpu_rate = speed;
    g_cpu_rate_set = true;
    guard.release();
    if (speed == kSlowCpuRate) pal_sleep(1);
    return 0;
}

PC_API int axPktCtlAddpInit(void) {
    RESV_CALL(axPktCtlL3Ctl("ADDP_BC", 0x11, 0, 0, 0x0410, 0xee48, 0, PKT_CTL_ACTION_COPY, 1),
              "axPktCtlL3Ctl(\"ADDP_BC\", 0x11, 0, 0, 0x0410, 0xee48, 0, PKT_CTL_ACTION_COPY, 1)");
    return 0;
}

PC_API int axPktCtlResvEntryInit(void) {
    RESV_CALL(axPktCtlIEEECtl("LLDP", kLldpMac, 128, 1), "axPktCtlIEEECtl(\"LLDP\", ieeeMac, 128, 1)");
    RESV_CALL(axPktCtlL2UcCtl("arp_UC", 0x0806, 0, 1), "axPktCtlL2UcCtl(\"arp_UC\", 0x0806, 0, 1)");
    RESV_CALL(axPktCtlAddpInit(), "axPktCtlAddpInit()");
    RESV_CALL(axPktCtlL3UcCtl("web", 6, 80, 0, 1), "axPktCtlL3UcCtl(\"web\", 6, 80, 0, 1)");
    RESV_CALL(axPktCtlL3UcCtl("ICMP", 1, 0, 0, 1), "axPktCtlL3UcCtl(\"ICMP\", 1, 0, 0, 1)");
    RESV_CALL(axPktCtlL3UcCtl("TELNET", 6, 23, 0, 1), "axPktCtlL3UcCtl(\"TELNET\", 6, 23, 0, 1)");
    RESV_CALL(axPktCtlL3UcCtl("SSH", 6, 22, 0, 1), "axPktCtlL3UcCtl(\"SSH\", 6, 22, 0, 1)");
    RESV_CALL(axPktCtlL3UcCtl("SNMP", 0x11, 161, 0, 1), "axPktCtlL3UcCtl(\"SNMP\", 0x11, 161, 0, 1)");
    RESV_CALL(axPktCtlL3UcCtl("TFTP", 0x11, 69, 0, 1), "axPktCtlL3UcCtl(\"TFTP\", 0x11, 69, 0, 1)");
    RESV_CALL(axPktCtlL3Ctl("RADIUS_1", 0x11, 0, 0, 0, 1812, 0, PKT_CTL_ACTION_FWD, 1),
              "axPktCtlL3Ctl(\"RADIUS_1\", 0x11, 0, 0, 0, 1812, 0, PKT_CTL_ACTION_FWD, 1)");
    RESV_CALL(axPktCtlL3Ctl("RADIUS_2", 0x11, 0, 0, 0, 1813, 0, PKT_CTL_ACTION_FWD, 1),
              "axPktCtlL3Ctl(\"RADIUS_2\", 0x11, 0, 0, 0, 1813, 0, PKT_CTL_ACTION_FWD, 1)");
    RESV_CALL(axPktCtlRouteInit(), "axPktCtlRouteInit()");
    return 0;
}

PC_API int axPktCtlRouteInit(void) {
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return -1;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return -1;
    if (g_route_done) return 0;
    uint8_t mac[6]{};
    if (int rc = unit_mac(current_unit(), mac); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "stkGetMac(stkGetCurrentUnit(), &mac)");
        return rc;
    }
    std::array<uint32_t, kRouteRules> pos{};
    PFM_CALL_RET(kMid, route_rule(AXCL_APP_ROUTE, 0x0800, mac, 0, 1, true, pos[0]));
    PFM_CALL_RET(kMid, route_rule(AXCL_APP_ROUTE, 0x86DD, mac, 0, 1, true, pos[1]));
    PFM_CALL_RET(kMid, route_rule(AXCL_APP_NET6, 0x86DD, nullptr, 0x3A, 3, false, pos[2]));
    g_route_pos = pos;
    g_route_done = true;
    return route_enable_all(current_is_master() ? 1 : 0);
}

PC_API int axPktCtlStkEntryInit(void) {
    union {
        uint8_t c[6];
    } mac{};
    if (int rc = unit_mac(current_unit(), mac.c); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "stkGetMac(stkGetCurrentUnit(), &mac)");
        return rc;
    }
    RESV_CALL(axPktCtlStkCtl("atp", nullptr, 0x0601, 0, 1), "axPktCtlStkCtl(\"atp\", NULL, 0x0601, 0, 1)");
    RESV_CALL(axPktCtlStkCtl("utp", mac.c, 0xaaaf, 0, 1), "axPktCtlStkCtl(\"utp\", mac.c, 0xaaaf, 0, 1)");
    RESV_CALL(axPktCtlStkCtl("nextHop", mac.c, 0, 0, 1), "axPktCtlStkCtl(\"nextHop\", mac.c, 0, 0, 1)");
    return 0;
}

PC_API int axPktCtlEntryReload(int flag) {
    if (flag == 0) return 0;
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return -1;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return -1;
    int rc = reprogram_all();
    if (g_route_done) {
        int route_rc = route_enable_all(current_is_master() ? 1 : 0);
        if (rc == 0) rc = route_rc;
    }
    guard.release();
    run_reload_hooks();
    return rc;
}

}  // extern "C"
