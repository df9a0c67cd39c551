// The simulated switch chip's forwarding: a frame entering a port is
// classified into its VLAN, its source address learned, and it is trapped
// to the CPU, flooded or sent to its port, tagged or untagged per VLAN
// (sim_chip.h describes the behaviour); frames the CPU sends leave directly
// or through the same forwarding. Every frame that leaves a front-panel port
// is written to the port's bound interface and, while capture is on, kept
// in the bounded capture ring of the process that forwarded it.
#include "platform_sim/sim_chip.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "sim_chip_internal.h"
#include "sim_chip_state.h"

using namespace pc::sim;

namespace {

constexpr size_t kTagLen = 4;
constexpr size_t kMinFrame = 60;  // without the frame check sequence
constexpr uint16_t kTpid = 0x8100;
constexpr uint16_t kTpidOuter = 0x9100;
// The capture is a ring: beyond either bound the oldest frames go.
constexpr size_t kCaptureMax = 4096;
constexpr size_t kCaptureBytesMax = 512 * 1024;

// Frames that left front-panel ports through this process's forwarding.
struct Capture {
    std::mutex lock;  // guards every field below
    bool on = true;
    std::deque<std::pair<int, Frame>> frames;
    size_t bytes = 0;  // of the frames held
};

// Never freed: the NIC's and the bound ports' threads may run until exit.
Capture &capture() {
    static Capture *c = new Capture;
    return *c;
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
    const Vlan *v = c.vlan(cf.vid);
    bool untag = v != nullptr && SDK_PORTMASK_IS_SET(v->untag, port);
    Frame bytes = untag ? cf.untagged : with_tag(cf.untagged, cf.vid, cf.pri, cf.cfi);
    count_out(c, port, bytes);
    out.push_back({port, std::move(bytes)});
}

// Flood to the VLAN's members: one linked member per trunk, never back.
void flood(Chip &c, std::vector<Egress> &out, int in_port, const Classified &cf) {
    const Vlan *v = c.vlan(cf.vid);
    if (v == nullptr) return;
    int in_trunk = valid_port(in_port) ? trunk_of(c, in_port) : -1;
    std::array<bool, SDK_TRUNK_MAX> trunk_done{};
    for (uint32_t p = 0; p < kPortNum; ++p) {
        int port = static_cast<int>(p);
        if (!SDK_PORTMASK_IS_SET(v->member, p) || port == in_port || port == c.cpu_port) continue;
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
        if (!cap.on) continue;
        while (!cap.frames.empty() &&
               (cap.frames.size() >= kCaptureMax || cap.bytes + e.bytes.size() > kCaptureBytesMax)) {
            cap.bytes -= cap.frames.front().second.size();
            cap.frames.pop_front();
        }
        cap.bytes += e.bytes.size();
        cap.frames.emplace_back(e.port, std::move(e.bytes));
    }
}

// Learns source address `smac` of VLAN `vid` on `in_port`: `new_sa` when
// it was not known, `moved` when it was known on another port. The chip's
// lock is held.
void learn(Chip &c, uint16_t vid, const uint8_t *smac, int in_port, bool &new_sa, bool &moved) {
    const uint64_t key = l2_key(vid, smac);
    int32_t *known = c.l2.find(key);
    if (known == nullptr) {
        new_sa = true;
        c.l2.set(key, in_port);  // a full table learns no more
    } else if (*known != in_port) {
        moved = true;
        *known = in_port;
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
        SharedLock guard;
        Chip &c = ready_chip(guard);
        ingress = in_port != c.cpu_port && c.ports[in_port].front && c.ports[in_port].link;
    }
    if (ingress) {
        acl = pc::sim::acl_classify(static_cast<uint32_t>(in_port), frame);
        rma_learn = pc::sim::rma_learning_enabled();
    }
    {
        SharedLock guard;
        Chip &c = ready_chip(guard);
        bool from_cpu = in_port == c.cpu_port;
        Port &in = c.ports[in_port];
        if (!from_cpu && (!in.front || !in.link)) return;
        Classified cf;
        if (!classify(frame, in.pvid, cf)) return;
        bool bcast = frame[0] & 1;
        ++in.counters[bcast ? SDK_STAT_IF_IN_BCAST_PKTS : SDK_STAT_IF_IN_UCAST_PKTS];
        in.counters[SDK_STAT_IF_IN_OCTETS] += frame.size();
        const Vlan *vlan = c.vlan(cf.vid);
        if (vlan == nullptr) return;
        if (!from_cpu && !SDK_PORTMASK_IS_SET(vlan->member, in_port)) return;

        // Learning.
        const uint8_t *smac = &frame[6];
        bool new_sa = false, moved = false;
        bool rma = frame[0] == 0x01 && frame[1] == 0x80 && frame[2] == 0xC2 && frame[3] == 0 && frame[4] == 0;
        if (!from_cpu && !(smac[0] & 1) && (rma_learn || !rma))
            learn(c, cf.vid, smac, in_port, new_sa, moved);

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
                const int32_t *to = c.l2.find(l2_key(cf.vid, dmac));
                if (to == nullptr)
                    flood(c, out, in_port, cf);
                else if (*to != in_port && *to != c.cpu_port)
                    add_egress(c, out, *to, cf);
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
            const int32_t *to = c.l2.find(l2_key(cf.vid, dmac));
            if (to == nullptr) {
                flood(c, out, in_port, cf);
            } else if (*to != in_port && *to != c.cpu_port) {
                add_egress(c, out, *to, cf);
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
        SharedLock guard;
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
    cap.bytes -= bytes.size();
    cap.frames.pop_front();
    return 0;
}

void simChipTxClear(void) {
    Capture &cap = capture();
    std::lock_guard<std::mutex> g(cap.lock);
    cap.frames.clear();
    cap.bytes = 0;
}

void simChipTxCapture(int on) {
    Capture &cap = capture();
    std::lock_guard<std::mutex> g(cap.lock);
    cap.on = on != 0;
    if (!cap.on) {
        cap.frames.clear();
        cap.bytes = 0;
    }
}

}  // extern "C"
