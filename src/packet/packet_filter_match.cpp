// Classification of a received frame: the three parsers fill a match
// context from the frame and walk one rule table. Every read is bounded by
// the frame's length; a frame too short for what a parser needs matches no
// registration.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"

namespace pc::packet {

namespace {

constexpr size_t kIpv4MinHeader = 20;
constexpr size_t kIpv6Header = 40;
constexpr size_t kPortBytes = 4;
constexpr size_t kNonIpUdfBase = 12;
constexpr uint8_t kProtoTcp = 6;
constexpr uint8_t kProtoUdp = 17;
constexpr uint8_t kNextHopByHop = 0;
constexpr uint8_t kNextRouting = 43;
constexpr uint8_t kNextFragment = 44;
constexpr uint8_t kNextDestOpts = 60;
constexpr uint8_t kNextNone = 59;
constexpr size_t kFragmentHeader = 8;

std::array<RuleTable, AXPKT_TBL_NUM> g_tables;  // ruleTable

// PACKET_MATCH_CTX_T: frame values as big-endian bytes of each slot's width.
struct MatchCtx {
    uint8_t dip6[16]{};
    uint8_t sip6[16]{};
    uint8_t dmac[8]{};
    uint8_t smac[8]{};
    uint8_t dip[4]{};
    uint8_t sip[4]{};
    uint8_t dport[4]{};
    uint8_t sport[4]{};
    std::span<const uint8_t> udf;  // from the UDF base to the end of the frame
};

std::span<const uint8_t> slot_bytes(const MatchCtx &c, uint32_t slot) {
    switch (slot) {
        case kSlotDstMac:
            return c.dmac;
        case kSlotSrcMac:
            return c.smac;
        case kSlotDstIp:
            return c.dip;
        case kSlotSrcIp:
            return c.sip;
        case kSlotDstPort:
            return c.dport;
        case kSlotSrcPort:
            return c.sport;
        case kSlotDstIp6:
            return c.dip6;
        case kSlotSrcIp6:
            return c.sip6;
        default:
            return {};
    }
}

bool fields_match(const PACKET_REGIST_T &copy, const MatchCtx &c) {
    for (const FieldNode &f : copy.fields) {
        std::span<const uint8_t> v = slot_bytes(c, f.slot);
        if (v.empty()) return false;
        for (size_t i = 0; i < v.size(); ++i)
            if ((v[i] & f.mask[i]) != f.value[i]) return false;
    }
    return true;
}

bool udfs_match(const PACKET_REGIST_T &copy, const MatchCtx &c) {
    bool differed = false;
    bool no_must_differ = true;
    for (const UdfNode &u : copy.udfs) {
        if (u.offset > c.udf.size() || c.udf.size() - u.offset < 4) return false;  // beyond the frame
        const uint8_t *p = c.udf.data() + u.offset;
        uint32_t word = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        bool equal = (word & u.mask) == u.value;
        if (u.mode == UDF_NOT_EQUAL) {
            no_must_differ = false;
            if (!equal) differed = true;
        } else if (!equal) {
            return false;
        }
    }
    return differed || no_must_differ;
}

enum class Header { kIpv4, kIpv6, kNonIp };

struct FrameFacts {
    Header kind;
    uint8_t protocol = 0;     // IPv4 protocol
    uint8_t icmpv6_type = 0;  // IPv6 without TCP/UDP
    uint16_t ether_type = 0;  // non-IP
};

bool header_match(const PACKET_REGIST_T &copy, const FrameFacts &f) {
    switch (f.kind) {
        case Header::kIpv4:
            return copy.ipProtocol == 0 || f.protocol == kProtoTcp || f.protocol == kProtoUdp ||
                   copy.ipProtocol == f.protocol;
        case Header::kIpv6:
            return copy.icmpv6Type == 0 || copy.icmpv6Type == f.icmpv6_type;
        case Header::kNonIp:
            return copy.etherType == 0 || copy.etherType == f.ether_type;
    }
    return false;
}

void log_record(const AX_PACKET_T &p) {
    PFM_DBG(
        kMid,
        "AXPacket structure info: ax_pkt.vid: %d ax_pkt.len: %d ax_pkt.rx_unit: %d ax_pkt.rx_port: %d/%d/%d "
        "ax_pkt.rx_untag: %d",
        p.vid, static_cast<int>(p.len), p.rx_unit, static_cast<int>(UP_UNIT(p.rx_port)),
        static_cast<int>(UP_SLOT(p.rx_port)), static_cast<int>(UP_PORT(p.rx_port)), p.rx_untag);
}

// One matching copy: count, deliver, and answer whether it owns the frame.
bool take_match(PACKET_REGIST_T &copy, const AX_PACKET_T &pkt) {
    ++copy.hitCount;
    log_record(pkt);
    if (!deliver(copy, pkt)) return false;
    if (copy.enableCallback != nullptr && copy.enableCallback() == 0) {
        PFM_DBG(kMid, "Module %d %s own packet. Not OWN\n", static_cast<int>(copy.mid), copy.name);
        return false;
    }
    if (copy.own == AX_RX_OWNED) {
        PFM_DBG(kMid, "Module %d %s own packet. OWN\n", static_cast<int>(copy.mid), copy.name);
        return true;
    }
    return false;
}

int walk(AX_PACKET_T &pkt, uint32_t table, const MatchCtx &ctx, const FrameFacts &facts) {
    if (regist_lock() == nullptr) return 0;
    pal::MutexGuard reg(regist_lock());
    RuleTable &t = g_tables[table];
    pal::MutexGuard tg(t.mutex);
    if (!reg.held() || !tg.held()) return 0;
    for (PACKET_REGIST_T *copy = t.head; copy != nullptr; copy = copy->next) {
        if (copy->qosRate != 0 && axpacketHandleQoS(copy->mid, pkt.len) != 0) return 1;
        if (!header_match(*copy, facts) || !fields_match(*copy, ctx) || !udfs_match(*copy, ctx)) continue;
        if (take_match(*copy, pkt)) return 1;
    }
    return 0;
}

// Bytes of the frame from `at` to its end; empty when `at` lies outside.
std::span<const uint8_t> rest_of_frame(const AX_PACKET_T &pkt, const uint8_t *at) {
    if (pkt.data == nullptr || at == nullptr || at < pkt.data || at > pkt.data + pkt.len) return {};
    return {at, static_cast<size_t>(pkt.data + pkt.len - at)};
}

void set_macs(MatchCtx &c, const uint8_t *dmac, const uint8_t *smac) {
    if (dmac != nullptr) std::memcpy(c.dmac, dmac, MAC_ADDR_SIZE);
    if (smac != nullptr) std::memcpy(c.smac, smac, MAC_ADDR_SIZE);
}

// Ports of a TCP or UDP header, 2 bytes each into the low half of 4.
bool read_ports(MatchCtx &c, std::span<const uint8_t> l4) {
    if (l4.size() < kPortBytes) return false;
    c.sport[2] = l4[0];
    c.sport[3] = l4[1];
    c.dport[2] = l4[2];
    c.dport[3] = l4[3];
    return true;
}

}  // namespace

RuleTable &rule_table(uint32_t index) { return g_tables[index]; }

int rule_tables_create() {
    for (uint32_t i = 0; i < AXPKT_TBL_NUM; ++i) {
        if (g_tables[i].mutex != nullptr) continue;
        char name[32];
        std::snprintf(name, sizeof name, "AXPktEn_%u", i);
        g_tables[i] = RuleTable{};
        g_tables[i].mutex = pal_mutex_create(name);
        if (g_tables[i].mutex == nullptr) return -1;
    }
    return 0;
}

void rule_tables_destroy() {
    for (RuleTable &t : g_tables) {
        for (PACKET_REGIST_T *c = t.head; c != nullptr;) {
            PACKET_REGIST_T *next = c->next;
            delete c;
            c = next;
        }
        if (t.mutex != nullptr) pal_mutex_destroy(t.mutex);
        t = RuleTable{};
    }
}

void walk_new_sa(AX_PACKET_T &pkt) {
    RuleTable &t = g_tables[AXPKT_TBL_NEW_SA];
    if (t.mutex == nullptr) return;
    pal::MutexGuard g(t.mutex);
    for (PACKET_REGIST_T *copy = t.head; copy != nullptr; copy = copy->next) {
        if (copy->newSa != 1) continue;
        if (take_match(*copy, pkt)) break;
    }
}

}  // namespace pc::packet

using namespace pc::packet;

extern "C" {

PC_API int axpacketFilterParseIpv4(AX_PACKET_T *pkt, const uint8_t *l3, const uint8_t *dmac,
                                   const uint8_t *smac) {
    if (pkt == nullptr) return 0;
    std::span<const uint8_t> ip = rest_of_frame(*pkt, l3);
    if (ip.size() < kIpv4MinHeader) return 0;
    size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
    if (ihl < kIpv4MinHeader || ihl > ip.size()) return 0;
    if (ip[7] != 0) {
        PFM_DBG(kMid, "IP fragment 0x%x\r\n", ip[7]);
        return 0;
    }
    MatchCtx ctx;
    FrameFacts facts{Header::kIpv4};
    facts.protocol = ip[9];
    std::memcpy(ctx.sip, &ip[12], 4);
    std::memcpy(ctx.dip, &ip[16], 4);
    uint32_t table = AXPKT_TBL_NO_TCP_UDP_V4;
    if (facts.protocol == kProtoTcp || facts.protocol == kProtoUdp) {
        if (!read_ports(ctx, ip.subspan(ihl))) return 0;
        table = facts.protocol == kProtoTcp ? AXPKT_TBL_TCP_V4 : AXPKT_TBL_UDP_V4;
    }
    set_macs(ctx, dmac, smac);
    ctx.udf = ip;
    return walk(*pkt, table, ctx, facts);
}

PC_API int axpacketFilterParseIpv6(AX_PACKET_T *pkt, const uint8_t *l3, const uint8_t *dmac,
                                   const uint8_t *smac) {
    if (pkt == nullptr) return 0;
    std::span<const uint8_t> ip = rest_of_frame(*pkt, l3);
    if (ip.size() < kIpv6Header) return 0;
    MatchCtx ctx;
    std::memcpy(ctx.sip6, &ip[8], 16);
    std::memcpy(ctx.dip6, &ip[24], 16);
    uint8_t next = ip[6];
    size_t at = kIpv6Header;
    // Each extension header moves on by at least 8 bytes, so the walk ends.
    for (;;) {
        if (next == kNextHopByHop || next == kNextRouting || next == kNextDestOpts) {
            if (ip.size() < at + 2) return 0;
            size_t skip = (static_cast<size_t>(ip[at + 1]) + 1) * 8;
            next = ip[at];
            at += skip;
        } else if (next == kNextFragment) {
            if (ip.size() < at + 2) return 0;
            next = ip[at];
            at += kFragmentHeader;
        } else {
            break;
        }
        if (at > ip.size()) return 0;
    }
    if (next == kNextNone) {
        PFM_DBG(kMid, "No transmition protocol\n");
        return 0;
    }
    FrameFacts facts{Header::kIpv6};
    uint32_t table = AXPKT_TBL_NO_TCP_UDP_V6;
    if (next == kProtoTcp || next == kProtoUdp) {
        if (!read_ports(ctx, ip.subspan(at))) return 0;
        table = next == kProtoTcp ? AXPKT_TBL_TCP_V6 : AXPKT_TBL_UDP_V6;
    } else {
        if (at >= ip.size()) return 0;
        facts.icmpv6_type = ip[at];
    }
    set_macs(ctx, dmac, smac);
    ctx.udf = ip;
    return walk(*pkt, table, ctx, facts);
}

PC_API int axpacketFilterParseNonIp(AX_PACKET_T *pkt, uint16_t etherType, const uint8_t *dmac,
                                    const uint8_t *smac) {
    if (pkt == nullptr || pkt->data == nullptr || pkt->len < kNonIpUdfBase) return 0;
    MatchCtx ctx;
    FrameFacts facts{Header::kNonIp};
    facts.ether_type = etherType;
    set_macs(ctx, dmac, smac);
    ctx.udf = std::span<const uint8_t>(pkt->data + kNonIpUdfBase, pkt->len - kNonIpUdfBase);
    return walk(*pkt, AXPKT_TBL_NO_IP, ctx, facts);
}

}  // extern "C"
