// The simulated switch chip's tables: ports, VLANs, trunks, the switch's
// MAC, the sibling libraries' MAC-VLAN, channel-group and interface tables,
// their settings, the chip SDK's reads and the sibling lookups (sim_chip.h
// describes the behaviour; the state is in sim_chip_state.h, the
// forwarding in sim_chip.cpp).
#include "platform_sim/sim_chip.h"

#include <cstring>
#include <mutex>

#include "platform_core/up.h"
#include "platform_core/up_platform.h"
#include "sim_chip_internal.h"
#include "sim_chip_state.h"

using namespace pc::sim;

namespace {

constexpr uint32_t kRowNone = 0;
constexpr uint32_t kRowCpu = 1;
constexpr uint8_t kDefaultMac[6] = {0x00, 0xE0, 0x4C, 0x00, 0x00, 0x01};
constexpr key_t kChipKey = 0x53494D43;       // "SIMC"
constexpr uint32_t kChipMagic = 0x43484950;  // "CHIP"

// This process's watcher of link changes (simChipLinkWatch).
struct LinkWatch {
    std::mutex lock;  // guards both fields
    sim_link_watch_f fn = nullptr;
    void *ctx = nullptr;
};

LinkWatch &link_watch() {
    static auto *w = new LinkWatch;  // never freed: the carrier watcher may run until exit
    return *w;
}

// The switch's one chip, attached on first use.
Chip &chip() { return *segment<Chip>(kChipKey, kChipMagic); }

// Chip unit 0 ports of the device: the front panel and the CPU position.
void reset_locked(Chip &c) {
    // Filled in place: the tables are too big for a small thread's stack.
    c.ports.fill(Port{});
    c.vlan_present.fill(false);
    c.vlans.fill(Vlan{});
    c.trunks.fill(sdk_portmask_t{});
    c.l2.clear();
    std::memcpy(c.mac, kDefaultMac, sizeof c.mac);
    c.new_sa_trap = false;
    c.mac_vlan.clear();
    c.channel_groups.clear();
    c.intf_ips.clear();
    c.cpu_port = -1;
    int type = getDevType();
    Vlan v1;
    if (DEV_TYPE_IS_VALID(type)) {
        for (const dev_port_desc_t &d : platformSupportDev[type].ports) {
            if (d.propt_row == kRowNone || d.chip_unit != 0 || d.chip_port >= kPortNum) continue;
            if (d.propt_row == kRowCpu) {
                if (c.cpu_port < 0) c.cpu_port = static_cast<int>(d.chip_port);
                continue;
            }
            Port &p = c.ports[d.chip_port];
            p.front = true;
            p.link = true;
            SDK_PORTMASK_SET(v1.member, d.chip_port);
            SDK_PORTMASK_SET(v1.untag, d.chip_port);
        }
    }
    c.vlan_present[1] = true;
    c.vlans[1] = v1;
    c.ready = true;
}

}  // namespace

namespace pc::sim {

void Chip::init(Chip &c) {
    c.lock.init();
    c.ready = false;  // reset by its first user, with that process's device type
}

bool link_set(int port, bool up) {
    if (!valid_port(port)) return false;
    bool changed = false;
    {
        SharedLock guard;
        Port &p = ready_chip(guard).ports[port];
        changed = p.link != up;
        p.link = up;
    }
    if (!changed) return true;
    sim_link_watch_f fn = nullptr;
    void *ctx = nullptr;
    {
        LinkWatch &w = link_watch();
        std::lock_guard<std::mutex> g(w.lock);
        fn = w.fn;
        ctx = w.ctx;
    }
    if (fn != nullptr) fn(port, up ? 1 : 0, ctx);
    return true;
}

Chip &ready_chip(SharedLock &guard) {
    Chip &c = chip();
    guard.take(c.lock);
    if (!c.ready) reset_locked(c);
    return c;
}

}  // namespace pc::sim

extern "C" {

void simChipReset(void) {
    {
        SharedLock guard;
        Chip &c = ready_chip(guard);
        reset_locked(c);
    }
    simChipTxClear();
}

int simChipCpuPort(void) {
    SharedLock guard;
    return ready_chip(guard).cpu_port;
}

int simChipPortOf(UP up) {
    if (UP_TYPE(up) != UP_TYPE_SWP) return -1;
    int type = getDevType();
    if (!DEV_TYPE_IS_VALID(type)) return -1;
    // Port n of a slot is the n-th descriptor of its slot kind; slot 0
    // counts the CPU position as port 0, other slots start at 1.
    uint32_t want_kind = UP_SLOT(up);
    uint32_t n = want_kind == 0 ? 0 : 1;
    for (const dev_port_desc_t &d : platformSupportDev[type].ports) {
        if (d.propt_row == kRowNone || d.slot_kind != want_kind) continue;
        if (n == UP_PORT(up)) return d.chip_unit == 0 ? static_cast<int>(d.chip_port) : -1;
        ++n;
    }
    return -1;
}

void simChipLinkSet(int port, int up) { pc::sim::link_set(port, up != 0); }

void simChipLinkWatch(sim_link_watch_f watch, void *ctx) {
    LinkWatch &w = link_watch();
    std::lock_guard<std::mutex> g(w.lock);
    w.fn = watch;
    w.ctx = ctx;
}

void simChipPvidSet(int port, uint16_t pvid) {
    if (!valid_port(port)) return;
    SharedLock guard;
    ready_chip(guard).ports[port].pvid = pvid;
}

void simChipVlanSet(uint16_t vid, sdk_portmask_t member, sdk_portmask_t untag) {
    SharedLock guard;
    Chip &c = ready_chip(guard);
    if (vid >= kVidNum) return;
    c.vlan_present[vid] = member.bits[0] != 0 || member.bits[1] != 0;
    c.vlans[vid] = c.vlan_present[vid] ? Vlan{member, untag} : Vlan{};
}

void simChipTrunkSet(uint32_t trunk, sdk_portmask_t members) {
    if (trunk >= SDK_TRUNK_MAX) return;
    SharedLock guard;
    ready_chip(guard).trunks[trunk] = members;
}

void simChipSwitchMacSet(const uint8_t *mac) {
    SharedLock guard;
    std::memcpy(ready_chip(guard).mac, mac, 6);
}

void simChipSwitchMacGet(uint8_t *mac) {
    SharedLock guard;
    std::memcpy(mac, ready_chip(guard).mac, 6);
}

void simChipNewSaTrapSet(int on) {
    SharedLock guard;
    ready_chip(guard).new_sa_trap = on != 0;
}

void simMacVlanSet(const uint8_t *mac, uint16_t vid) {
    SharedLock guard;
    Chip &c = ready_chip(guard);
    if (vid == 0)
        c.mac_vlan.erase(mac_key(mac));
    else
        c.mac_vlan.set(mac_key(mac), vid);  // a full table keeps what it has
}

void simChannelGroupSet(uint32_t lagId, const up_list *members) {
    SharedLock guard;
    Chip &c = ready_chip(guard);
    if (members == nullptr)
        c.channel_groups.erase(lagId);
    else
        c.channel_groups.set(lagId, *members);
}

void simIntfIpSet(uint32_t ip, int present) {
    SharedLock guard;
    Chip &c = ready_chip(guard);
    if (present)
        c.intf_ips.set(ip, 1);
    else
        c.intf_ips.erase(ip);
}

// ---- Chip SDK ---------------------------------------------------------------

int sdk_vlan_port_get(uint32_t unit, uint32_t vid, sdk_portmask_t *member, sdk_portmask_t *untag) {
    if (unit != 0 || vid > SDK_VID_MAX || member == nullptr || untag == nullptr) return -1;
    SharedLock guard;
    Chip &c = ready_chip(guard);
    const Vlan *v = c.vlan(static_cast<uint16_t>(vid));
    *member = v == nullptr ? sdk_portmask_t{} : v->member;
    *untag = v == nullptr ? sdk_portmask_t{} : v->untag;
    return 0;
}

int sdk_vlan_portPvid_get(uint32_t unit, uint32_t port, uint32_t *pvid) {
    if (unit != 0 || port >= kPortNum || pvid == nullptr) return -1;
    SharedLock guard;
    *pvid = ready_chip(guard).ports[port].pvid;
    return 0;
}

int sdk_port_link_get(uint32_t unit, uint32_t port, uint32_t *linkUp) {
    if (unit != 0 || port >= kPortNum || linkUp == nullptr) return -1;
    SharedLock guard;
    *linkUp = ready_chip(guard).ports[port].link ? 1 : 0;
    return 0;
}

int sdk_trunk_port_get(uint32_t unit, uint32_t trunk, sdk_portmask_t *members) {
    if (unit != 0 || trunk >= SDK_TRUNK_MAX || members == nullptr) return -1;
    SharedLock guard;
    *members = ready_chip(guard).trunks[trunk];
    return 0;
}

int sdk_stat_port_get(uint32_t unit, uint32_t port, uint32_t counter, uint64_t *value) {
    if (unit != 0 || port >= kPortNum || counter >= SDK_STAT_NUM || value == nullptr) return -1;
    SharedLock guard;
    *value = ready_chip(guard).ports[port].counters[counter];
    return 0;
}

int sdk_core_usr_init(void) { return 0; }

// ---- Sibling lookups --------------------------------------------------------

int getMacAddress(uint8_t *mac) {
    if (mac == nullptr) return -1;
    simChipSwitchMacGet(mac);
    return 0;
}

int swVlanMacGetVid(UP port, const uint8_t *mac, uint16_t *vid) {
    (void)port;
    if (mac == nullptr || vid == nullptr) return -1;
    SharedLock guard;
    Chip &c = ready_chip(guard);
    const uint16_t *v = c.mac_vlan.find(mac_key(mac));
    if (v == nullptr) return -1;
    *vid = *v;
    return 0;
}

int swChannelGroupGetMember(uint32_t lagId, up_list *members) {
    if (members == nullptr) return -1;
    SharedLock guard;
    Chip &c = ready_chip(guard);
    const up_list *m = c.channel_groups.find(lagId);
    if (m == nullptr) return -1;
    *members = *m;
    return 0;
}

int swNetIfConfigGetByIntfIp(uint32_t ip) {
    SharedLock guard;
    Chip &c = ready_chip(guard);
    return c.intf_ips.find(ip) != nullptr ? 0 : -1;
}

}  // extern "C"
