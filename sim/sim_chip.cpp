// The simulated switch chip: ports, VLANs, trunks, counters, address
// learning and forwarding (sim_chip.h describes the behaviour).
#include "platform_sim/sim_chip.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform_core/up.h"
#include "platform_core/up_platform.h"
#include "sim_chip_internal.h"

namespace {

using Frame = std::vector<uint8_t>;

constexpr uint32_t kPortNum = SDK_PORT_MAX;
constexpr uint32_t kRowNone = 0;
constexpr uint32_t kRowCpu = 1;
constexpr size_t kEthHeader = 14;
constexpr size_t kTagLen = 4;
constexpr size_t kMinFrame = 60;  // without the frame check sequence
constexpr uint16_t kTpid = 0x8100;
constexpr uint16_t kTpidOuter = 0x9100;
constexpr size_t kCaptureMax = 4096;
constexpr uint8_t kDefaultMac[6] = {0x00, 0xE0, 0x4C, 0x00, 0x00, 0x01};

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

struct Capture {
    std::mutex lock;  // guards frames
    std::deque<std::pair<int, Frame>> frames;
};

// Never freed: the NIC's and the bound ports' threads may run until exit.
Chip &chip() {
    static Chip *c = new Chip;
    return *c;
}
Capture &capture() {
    static Capture *c = new Capture;
    return *c;
}

uint64_t mac_key(const uint8_t *m) {
    uint64_t k = 0;
    for (int i = 0; i < 6; ++i) k = (k << 8) | m[i];
    return k;
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Chip unit 0 ports of the device: the front panel and the CPU position.
void reset_locked(Chip &c) {
    c.ports = {};
    c.vlans.clear();
    c.trunks = {};
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
    c.vlans[1] = v1;
    c.ready = true;
}

Chip &ready_chip(std::unique_lock<std::mutex> &guard) {
    Chip &c = chip();
    guard = std::unique_lock<std::mutex>(c.lock);
    if (!c.ready) reset_locked(c);
    return c;
}

bool valid_port(int port) { return port >= 0 && static_cast<uint32_t>(port) < kPortNum; }

int trunk_of(const Chip &c, int port) {
    for (uint32_t t = 0; t < SDK_TRUNK_MAX; ++t)
        if (SDK_PORTMASK_IS_SET(c.trunks[t], port)) return static_cast<int>(t);
    return -1;
}

// A frame as the chip holds it inside: untagged bytes and its VLAN.
struct Classified {
    Frame untagged;
    uint16_t vid = 0;
    uint8_t pri = 0;
    uint8_t cfi = 0;  // the CFI/DEI bit of the tag
    bool tagged = false;
};

bool classify(std::span<const uint8_t> f, uint16_t pvid, Classified &out) {
    if (f.size() < kEthHeader) return false;
    uint16_t tpid = be16(&f[12]);
    if ((tpid == kTpid || tpid == kTpidOuter) && f.size() >= kEthHeader + kTagLen) {
        uint16_t tci = be16(&f[14]);
        out.tagged = true;
        out.vid = tci & 0x0FFF;
        out.pri = static_cast<uint8_t>(tci >> 13);
        out.cfi = static_cast<uint8_t>((tci >> 12) & 1);
        out.untagged.assign(f.begin(), f.begin() + 12);
        out.untagged.insert(out.untagged.end(), f.begin() + 16, f.end());
        if (out.vid == 0) out.vid = pvid;  // priority tag
    } else {
        out.untagged.assign(f.begin(), f.end());
        out.vid = pvid;
    }
    return true;
}

Frame with_tag(const Frame &untagged, uint16_t vid, uint8_t pri, uint8_t cfi) {
    Frame f(untagged.begin(), untagged.begin() + 12);
    uint16_t tci = static_cast<uint16_t>((pri << 13) | ((cfi & 1) << 12) | (vid & 0x0FFF));
    f.insert(f.end(), {0x81, 0x00, static_cast<uint8_t>(tci >> 8), static_cast<uint8_t>(tci)});
    f.insert(f.end(), untagged.begin() + 12, untagged.end());
    return f;
}

struct Egress {
    int port;
    Frame bytes;
};

void count_out(Chip &c, int port, const Frame &bytes) {
    Port &p = c.ports[port];
    bool bcast = bytes[0] & 1;
    ++p.counters[bcast ? SDK_STAT_IF_OUT_BCAST_PKTS : SDK_STAT_IF_OUT_UCAST_PKTS];
    p.counters[SDK_STAT_IF_OUT_OCTETS] += bytes.size();
}

// The frame leaves `port` tagged or not per the VLAN's untagged mask.
void add_egress(Chip &c, std::vector<Egress> &out, int port, const Classified &cf) {
    if (!c.ports[port].link) return;
    auto it = c.vlans.find(cf.vid);
    bool untag = it != c.vlans.end() && SDK_PORTMASK_IS_SET(it->second.untag, port);
    Frame bytes = untag ? cf.untagged : with_tag(cf.untagged, cf.vid, cf.pri, cf.cfi);
    count_out(c, port, bytes);
    out.push_back({port, std::move(bytes)});
}

// Flood to the VLAN's members: one linked member per trunk, never back.
void flood(Chip &c, std::vector<Egress> &out, int in_port, const Classified &cf) {
    auto it = c.vlans.find(cf.vid);
    if (it == c.vlans.end()) return;
    int in_trunk = valid_port(in_port) ? trunk_of(c, in_port) : -1;
    std::array<bool, SDK_TRUNK_MAX> trunk_done{};
    for (uint32_t p = 0; p < kPortNum; ++p) {
        int port = static_cast<int>(p);
        if (!SDK_PORTMASK_IS_SET(it->second.member, p) || port == in_port || port == c.cpu_port) continue;
        if (!c.ports[p].link) continue;
        int t = trunk_of(c, port);
        if (t >= 0) {
            if (t == in_trunk || trunk_done[t]) continue;
            trunk_done[t] = true;
        }
        add_egress(c, out, port, cf);
    }
}

void emit(std::vector<Egress> &out) {
    for (Egress &e : out) {
        // The port's MAC pads a short frame (one untagged on the way out).
        if (e.bytes.size() < kMinFrame) e.bytes.resize(kMinFrame, 0);
        pc::sim::port_link_write(e.port, e.bytes);
        Capture &cap = capture();
        std::lock_guard<std::mutex> g(cap.lock);
        if (cap.frames.size() >= kCaptureMax) cap.frames.pop_front();
        cap.frames.emplace_back(e.port, std::move(e.bytes));
    }
}

// Forwarding of one frame entering `in_port` (the CPU port for frames the
// CPU hands to the chip's forwarding).
void forward(int in_port, std::span<const uint8_t> frame) {
    std::vector<Egress> out;
    bool to_cpu = false;
    pc::sim::CpuRxInfo info;
    Frame original(frame.begin(), frame.end());
    // The ACL lookup of a frame entering a front-panel port, before the
    // chip's own lock is taken (the parts never nest their locks).
    pc::sim::AclVerdict acl;
    bool rma_learn = true;
    bool ingress = false;
    {
        std::unique_lock<std::mutex> guard;
        Chip &c = ready_chip(guard);
        ingress = in_port != c.cpu_port && c.ports[in_port].front && c.ports[in_port].link;
    }
    if (ingress) {
        acl = pc::sim::acl_classify(static_cast<uint32_t>(in_port), frame);
        rma_learn = pc::sim::rma_learning_enabled();
    }
    {
        std::unique_lock<std::mutex> guard;
        Chip &c = ready_chip(guard);
        bool from_cpu = in_port == c.cpu_port;
        Port &in = c.ports[in_port];
        if (!from_cpu && (!in.front || !in.link)) return;
        Classified cf;
        if (!classify(frame, in.pvid, cf)) return;
        bool bcast = frame[0] & 1;
        ++in.counters[bcast ? SDK_STAT_IF_IN_BCAST_PKTS : SDK_STAT_IF_IN_UCAST_PKTS];
        in.counters[SDK_STAT_IF_IN_OCTETS] += frame.size();
        auto vit = c.vlans.find(cf.vid);
        if (vit == c.vlans.end()) return;
        if (!from_cpu && !SDK_PORTMASK_IS_SET(vit->second.member, in_port)) return;

        // Learning.
        const uint8_t *smac = &frame[6];
        bool new_sa = false, moved = false;
        bool rma = frame[0] == 0x01 && frame[1] == 0x80 && frame[2] == 0xC2 && frame[3] == 0 && frame[4] == 0;
        if (!from_cpu && !(smac[0] & 1) && (rma_learn || !rma)) {
            auto key = std::make_pair(cf.vid, mac_key(smac));
            auto lit = c.l2.find(key);
            if (lit == c.l2.end()) {
                new_sa = true;
                c.l2[key] = in_port;
            } else if (lit->second != in_port) {
                moved = true;
                lit->second = in_port;
            }
        }

        const uint8_t *dmac = &frame[0];
        info.source_port = static_cast<uint32_t>(in_port);
        info.tagged = cf.tagged;
        info.vid = cf.tagged ? static_cast<uint16_t>(be16(&frame[14]) & 0x0FFF) : 0;
        info.new_sa = new_sa;
        info.port_move = moved;
        if (!from_cpu && acl.hit) {
            info.acl_hit = true;
            info.acl_index = acl.index;
        }
        if (!from_cpu && acl.hit && (acl.drop || (acl.trap && acl.out_of_profile))) {
            return;
        } else if (!from_cpu && acl.hit && acl.trap) {
            to_cpu = true;
            info.reason = SIM_TRAP_ACL;
            info.cpu_queue = acl.pri_set ? acl.pri : 0;
        } else if (!from_cpu && acl.hit && acl.copy) {
            // Forwarded as usual (a frame to the switch goes nowhere else), and copied.
            bool to_switch = std::memcmp(dmac, c.mac, 6) == 0;
            if (to_switch) {
                // the CPU copy below is its only delivery
            } else if (dmac[0] & 1) {
                flood(c, out, in_port, cf);
            } else {
                auto lit = c.l2.find(std::make_pair(cf.vid, mac_key(dmac)));
                if (lit == c.l2.end())
                    flood(c, out, in_port, cf);
                else if (lit->second != in_port && lit->second != c.cpu_port)
                    add_egress(c, out, lit->second, cf);
            }
            to_cpu = !acl.out_of_profile;
            info.reason = SIM_TRAP_ACL;
            info.cpu_queue = acl.pri_set ? acl.pri : 0;
        } else if (!from_cpu && std::memcmp(dmac, c.mac, 6) == 0) {
            to_cpu = true;
            info.reason = SIM_TRAP_SWITCH_MAC;
            info.cpu_queue = SIM_QUEUE_SWITCH_MAC;
        } else if (dmac[0] & 1) {
            flood(c, out, in_port, cf);
            if (!from_cpu) {
                to_cpu = true;
                info.reason = SIM_TRAP_BCAST;
                info.cpu_queue = SIM_QUEUE_BCAST;
            }
        } else {
            auto lit = c.l2.find(std::make_pair(cf.vid, mac_key(dmac)));
            if (lit == c.l2.end()) {
                flood(c, out, in_port, cf);
            } else if (lit->second != in_port && lit->second != c.cpu_port) {
                add_egress(c, out, lit->second, cf);
            }
            if (!from_cpu && (new_sa || moved) && c.new_sa_trap) {
                to_cpu = true;
                info.reason = SIM_TRAP_BCAST;
                info.cpu_queue = SIM_QUEUE_BCAST;
            }
        }
    }
    emit(out);
    if (to_cpu) {
        if (acl.hit && acl.pri_set) info.cpu_queue = acl.pri;
        pc::sim::nic_to_cpu(original, info);
    }
}

}  // namespace

namespace pc::sim {

void chip_cpu_tx(std::span<const uint8_t> frame, const drv_nic_pkt_t &desc) {
    if (frame.size() < kEthHeader) return;
    int cpu = simChipCpuPort();
    if (desc.tx.mode == NIC_TX_FORWARD) {
        if (cpu >= 0) forward(cpu, frame);
        return;
    }
    std::vector<Egress> out;
    {
        std::unique_lock<std::mutex> guard;
        Chip &c = ready_chip(guard);
        Classified cf;
        if (!classify(frame, 1, cf)) return;
        for (uint32_t p = 0; p < kPortNum; ++p) {
            if (!SDK_PORTMASK_IS_SET(desc.tx.port_mask, p) || !c.ports[p].front) continue;
            if (!c.ports[p].link) continue;
            if (!cf.tagged) {
                Frame bytes(frame.begin(), frame.end());
                count_out(c, static_cast<int>(p), bytes);
                out.push_back({static_cast<int>(p), std::move(bytes)});
            } else {
                add_egress(c, out, static_cast<int>(p), cf);
            }
        }
    }
    emit(out);
}

}  // namespace pc::sim

extern "C" {

void simChipReset(void) {
    {
        std::unique_lock<std::mutex> guard;
        Chip &c = ready_chip(guard);
        reset_locked(c);
    }
    simChipTxClear();
}

int simChipCpuPort(void) {
    std::unique_lock<std::mutex> guard;
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

void simChipLinkSet(int port, int up) {
    if (!valid_port(port)) return;
    std::unique_lock<std::mutex> guard;
    ready_chip(guard).ports[port].link = up != 0;
}

void simChipPvidSet(int port, uint16_t pvid) {
    if (!valid_port(port)) return;
    std::unique_lock<std::mutex> guard;
    ready_chip(guard).ports[port].pvid = pvid;
}

void simChipVlanSet(uint16_t vid, sdk_portmask_t member, sdk_portmask_t untag) {
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    if (member.bits[0] == 0 && member.bits[1] == 0)
        c.vlans.erase(vid);
    else
        c.vlans[vid] = Vlan{member, untag};
}

void simChipTrunkSet(uint32_t trunk, sdk_portmask_t members) {
    if (trunk >= SDK_TRUNK_MAX) return;
    std::unique_lock<std::mutex> guard;
    ready_chip(guard).trunks[trunk] = members;
}

void simChipSwitchMacSet(const uint8_t *mac) {
    std::unique_lock<std::mutex> guard;
    std::memcpy(ready_chip(guard).mac, mac, 6);
}

void simChipSwitchMacGet(uint8_t *mac) {
    std::unique_lock<std::mutex> guard;
    std::memcpy(mac, ready_chip(guard).mac, 6);
}

void simChipNewSaTrapSet(int on) {
    std::unique_lock<std::mutex> guard;
    ready_chip(guard).new_sa_trap = on != 0;
}

int simChipInject(int port, const uint8_t *frame, uint32_t len) {
    if (!valid_port(port) || frame == nullptr || len < kEthHeader) return -1;
    forward(port, std::span<const uint8_t>(frame, len));
    return 0;
}

int simChipTxCount(void) {
    Capture &cap = capture();
    std::lock_guard<std::mutex> g(cap.lock);
    return static_cast<int>(cap.frames.size());
}

int simChipTxPop(int *port, uint8_t *buf, uint32_t cap_len, uint32_t *len) {
    Capture &cap = capture();
    std::lock_guard<std::mutex> g(cap.lock);
    if (cap.frames.empty()) return -1;
    auto &[p, bytes] = cap.frames.front();
    if (port) *port = p;
    if (len) *len = static_cast<uint32_t>(bytes.size());
    if (buf) std::memcpy(buf, bytes.data(), std::min<size_t>(cap_len, bytes.size()));
    cap.frames.pop_front();
    return 0;
}

void simChipTxClear(void) {
    Capture &cap = capture();
    std::lock_guard<std::mutex> g(cap.lock);
    cap.frames.clear();
}

void simMacVlanSet(const uint8_t *mac, uint16_t vid) {
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    if (vid == 0)
        c.mac_vlan.erase(mac_key(mac));
    else
        c.mac_vlan[mac_key(mac)] = vid;
}

void simChannelGroupSet(uint32_t lagId, const up_list *members) {
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    if (members == nullptr)
        c.channel_groups.erase(lagId);
    else
        c.channel_groups[lagId] = *members;
}

void simIntfIpSet(uint32_t ip, int present) {
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    std::erase(c.intf_ips, ip);
    if (present) c.intf_ips.push_back(ip);
}

// ---- Chip SDK ---------------------------------------------------------------

int sdk_vlan_port_get(uint32_t unit, uint32_t vid, sdk_portmask_t *member, sdk_portmask_t *untag) {
    if (unit != 0 || vid > SDK_VID_MAX || member == nullptr || untag == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    auto it = c.vlans.find(static_cast<uint16_t>(vid));
    *member = it == c.vlans.end() ? sdk_portmask_t{} : it->second.member;
    *untag = it == c.vlans.end() ? sdk_portmask_t{} : it->second.untag;
    return 0;
}

int sdk_vlan_portPvid_get(uint32_t unit, uint32_t port, uint32_t *pvid) {
    if (unit != 0 || port >= kPortNum || pvid == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
    *pvid = ready_chip(guard).ports[port].pvid;
    return 0;
}

int sdk_port_link_get(uint32_t unit, uint32_t port, uint32_t *linkUp) {
    if (unit != 0 || port >= kPortNum || linkUp == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
    *linkUp = ready_chip(guard).ports[port].link ? 1 : 0;
    return 0;
}

int sdk_trunk_port_get(uint32_t unit, uint32_t trunk, sdk_portmask_t *members) {
    if (unit != 0 || trunk >= SDK_TRUNK_MAX || members == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
    *members = ready_chip(guard).trunks[trunk];
    return 0;
}

int sdk_stat_port_get(uint32_t unit, uint32_t port, uint32_t counter, uint64_t *value) {
    if (unit != 0 || port >= kPortNum || counter >= SDK_STAT_NUM || value == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
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
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    auto it = c.mac_vlan.find(mac_key(mac));
    if (it == c.mac_vlan.end()) return -1;
    *vid = it->second;
    return 0;
}

int swChannelGroupGetMember(uint32_t lagId, up_list *members) {
    if (members == nullptr) return -1;
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    auto it = c.channel_groups.find(lagId);
    if (it == c.channel_groups.end()) return -1;
    *members = it->second;
    return 0;
}

int swNetIfConfigGetByIntfIp(uint32_t ip) {
    std::unique_lock<std::mutex> guard;
    Chip &c = ready_chip(guard);
    return std::find(c.intf_ips.begin(), c.intf_ips.end(), ip) != c.intf_ips.end() ? 0 : -1;
}

}  // extern "C"
