// The receive half of the packet service: from the driver's descriptor to
// the packet record, the registry walk and the kernel.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "packet/packet_kernel.h"
#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/appintf.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace pc::packet {

namespace {

constexpr size_t kEthHeader = 14;
constexpr size_t kTagLen = 4;
constexpr size_t kAddrBytes = 12;
constexpr uint16_t kTpid = 0x8100;
constexpr uint16_t kTpidOuter = 0x9100;
constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherArp = 0x0806;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kMaxLength = 0x05D4;  // larger values are EtherTypes
constexpr size_t kSnapTypeAt = 20;
constexpr size_t kSnapL3At = 22;
constexpr size_t kLlcTypeAt = 17;
constexpr unsigned kReceiveRetryUs = 10000;

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// The delivery message of a core module's queue (100 bytes).
struct DeliveryMsg {
    char name[PACKET_REG_NAME_SIZE];
    AX_PACKET_WIRE_T pkt;
    uint32_t pid;
    uint32_t mid;
};
static_assert(sizeof(DeliveryMsg) == kDeliveryMsgSize);

// Private frame copies travelling through module queues, by handle. A
// handle is a slot's index plus one in its low 20 bits and the slot's
// generation in the high 12: freed slots are used again, so a steady
// stream allocates nothing here, and an item that comes back after its
// frame was taken names nothing, not the frame that reuses the slot.
constexpr unsigned kHandleIndexBits = 20;
constexpr uint32_t kHandleIndexMask = (1u << kHandleIndexBits) - 1;
constexpr uint32_t kMaxSlots = kHandleIndexMask;  // copies waiting in queues at once
struct HandleSlot {
    FrameCopy copy;           // null data: free
    uint32_t generation = 0;  // moves on each time the slot is freed
};
struct FrameHandles {
    std::mutex lock;                   // guards the fields below
    std::vector<HandleSlot> slots;     // by index
    std::vector<uint32_t> free_slots;  // indexes of the free slots
};
FrameHandles &handles() {
    static auto *h = new FrameHandles;
    return *h;
}

// What a work thread found for (mid, name): kept while the registrations'
// generation stands. Only registrations that exist are kept, so hostile
// names in a queue cannot make it grow.
struct Lookup {
    uint32_t mid;
    char name[PACKET_REG_NAME_SIZE];
    AXPACKET_RX_CB cb;
    AXPACKET_ENABLE_CB en;
};

class LookupCache {
public:
    // The registration's callbacks, or false when it is not registered.
    bool find(uint32_t mid, const char *name, AXPACKET_RX_CB &cb, AXPACKET_ENABLE_CB &en) {
        uint64_t now = registrations_generation();
        if (!valid_ || now != generation_) {
            entries_.clear();
            generation_ = now;
            valid_ = true;
        }
        for (const Lookup &e : entries_) {
            if (e.mid == mid && std::strcmp(e.name, name) == 0) {
                cb = e.cb;
                en = e.en;
                return true;
            }
        }
        Lookup e{mid, {}, nullptr, nullptr};
        if (regist_lock() == nullptr) return false;
        {
            pc::pal::MutexGuard g(regist_lock());
            PACKET_REGIST_T *r = g.held() ? find_registration(mid, name) : nullptr;
            if (r == nullptr) return false;
            e.cb = r->pktCallback;
            e.en = r->enableCallback;
        }
        std::memcpy(e.name, name, strnlen(name, sizeof e.name - 1));
        try {
            entries_.push_back(e);
        } catch (const std::bad_alloc &) {
            // not kept: the next frame looks it up again
        }
        cb = e.cb;
        en = e.en;
        return true;
    }

private:
    bool valid_ = false;
    uint64_t generation_ = 0;  // of the registrations when entries_ was started
    std::vector<Lookup> entries_;
};

bool to_classifier(AX_PACKET_T &pkt, const uint8_t *dmac, const uint8_t *smac) {
    const uint8_t *f = pkt.data;
    uint16_t type = be16(f + 12);
    if (type == kEtherIpv4) return axpacketFilterParseIpv4(&pkt, f + kEthHeader, dmac, smac) == 1;
    if (type == kEtherIpv6) return axpacketFilterParseIpv6(&pkt, f + kEthHeader, dmac, smac) == 1;
    if (type > kMaxLength) return axpacketFilterParseNonIp(&pkt, type, dmac, smac) == 1;
    PFM_DBG(kMid, "802.3 Packet\n");
    if (pkt.len >= kSnapL3At && f[14] == 0xAA && f[15] == 0xAA) {
        uint16_t snap = be16(f + kSnapTypeAt);
        PFM_DBG(kMid, "802.3 SNAP etherType: %x\n", snap);
        if (snap == kEtherIpv4) return axpacketFilterParseIpv4(&pkt, f + kSnapL3At, dmac, smac) == 1;
        if (snap == kEtherIpv6) return axpacketFilterParseIpv6(&pkt, f + kSnapL3At, dmac, smac) == 1;
        if (snap > kMaxLength) return axpacketFilterParseNonIp(&pkt, snap, dmac, smac) == 1;
        return false;
    }
    if (pkt.len < kLlcTypeAt + 2) return false;  // too short for its LLC header
    uint16_t llc = be16(f + kLlcTypeAt);
    PFM_DBG(kMid, "802.3 LLC ethertype: %x\n", llc);
    return axpacketFilterParseNonIp(&pkt, llc, dmac, smac) == 1;
}

// Hands an unowned frame to the kernel, always with an 802.1Q tag.
void to_kernel(drv_nic_pkt_t *desc, AX_PACKET_T &pkt, bool tagged) {
    kernelRcvStat();
    uint8_t tag[kTagLen] = {0x81, 0x00, static_cast<uint8_t>((pkt.vid >> 8) & 0x0F),
                            static_cast<uint8_t>(pkt.vid)};
    if (tagged) {
        PFM_DBG(kMid, "Not owned, send to kernel\n");
        uint8_t *start = pkt.data - kTagLen;
        std::memmove(start, pkt.data, kAddrBytes);
        std::memcpy(start + kAddrBytes, tag, kTagLen);
        axPacketSendToKernel(start, desc->length);
        return;
    }
    PFM_DBG(kMid, "Not owned and not tag, pvid is %d, send to kernel\n", pkt.vid);
    // The tag goes in behind the source MAC: the message is gathered from
    // the addresses, the tag and the rest of the frame, without a copy.
    const iovec pieces[3] = {
        {pkt.data, kAddrBytes}, {tag, kTagLen}, {pkt.data + kAddrBytes, pkt.len - kAddrBytes}};
    (void)kernel_link_sendv(AXPACKET_NL_TO_KERNEL, pieces);
}

int release(drv_nic_pkt_t *desc) {
    adAxpacketFreeBuf(desc);
    return 1;
}

}  // namespace

uint32_t frame_handle_put(FrameCopy copy) {
    FrameHandles &h = handles();
    std::lock_guard<std::mutex> g(h.lock);
    uint32_t index;
    if (!h.free_slots.empty()) {
        index = h.free_slots.back();
        h.free_slots.pop_back();
    } else {
        if (h.slots.size() >= kMaxSlots) return 0;
        index = static_cast<uint32_t>(h.slots.size());
        try {
            // Room for every slot to come back, so that a take never allocates.
            if (h.free_slots.capacity() < h.slots.size() + 1) h.free_slots.reserve(2 * (h.slots.size() + 1));
            h.slots.emplace_back();
        } catch (const std::bad_alloc &) {
            return 0;
        }
    }
    HandleSlot &slot = h.slots[index];
    slot.copy = copy;
    return ((slot.generation << kHandleIndexBits) | (index + 1));
}

FrameCopy frame_handle_take(uint32_t handle) {
    FrameHandles &h = handles();
    std::lock_guard<std::mutex> g(h.lock);
    uint32_t index = (handle & kHandleIndexMask) - 1;  // wraps for 0: out of range
    if (index >= h.slots.size()) return {};
    HandleSlot &slot = h.slots[index];
    if (slot.copy.data == nullptr || (handle >> kHandleIndexBits) != slot.generation) return {};
    FrameCopy c = std::exchange(slot.copy, FrameCopy{});
    slot.generation = (slot.generation + 1) & (UINT32_MAX >> kHandleIndexBits);
    h.free_slots.push_back(index);
    return c;
}

void stat_add(uint32_t word) {
    std::atomic_ref<uint32_t> lo(axpkt_stat[word + 1]);
    if (lo.fetch_add(1, std::memory_order_relaxed) == UINT32_MAX)
        std::atomic_ref<uint32_t>(axpkt_stat[word]).fetch_add(1, std::memory_order_relaxed);
}

bool deliver(const PACKET_REGIST_T &copy, const AX_PACKET_T &pkt) {
    if (copy.pid == PID_CORE) {
        auto *frame = static_cast<uint8_t *>(pal_alloc(pkt.len ? pkt.len : 1, kAllocTag));
        if (frame == nullptr) {
            PFM_ERR(kMid, "Malloc error\n");
            return false;
        }
        std::memcpy(frame, pkt.data, pkt.len);
        DeliveryMsg msg{};
        std::memcpy(msg.name, copy.name, sizeof msg.name);
        uint32_t handle = frame_handle_put({frame, pkt.len});
        if (handle == 0) {
            pal_free(frame);
            PFM_ERR(kMid, "Malloc error\n");
            return false;
        }
        axpacketRecordToWire(&pkt, handle, &msg.pkt);
        msg.pid = copy.pid;
        msg.mid = copy.mid;
        PFM_DBG(kMid, "Reg name %s msgQ id: %d\n", copy.name, static_cast<int>(copy.msgQ));
        if (pal_msgQ_send(static_cast<int>(copy.msgQ), &msg, sizeof msg, 0, PAL_NO_WAIT) != 0) {
            pal_free(frame_handle_take(handle).data);
            PFM_ERR(kMid, "Send to msgq error\n");
            return false;
        }
        return true;
    }
    AX_PACKET_WIRE_T wire;
    axpacketRecordToWire(&pkt, 0, &wire);
    uint32_t mid = copy.mid;
    char name[PACKET_REG_NAME_SIZE];
    std::memcpy(name, copy.name, sizeof name);
    iovec iov[4] = {{&wire, sizeof wire}, {&mid, sizeof mid}, {name, sizeof name}, {pkt.data, pkt.len}};
    AXMSG_T msg{};
    msg.dst_unit = UNIT_1;
    msg.dst_proc = copy.pid;
    msg.src_unit = UNIT_1;
    msg.src_proc = PID_CORE;
    msg.msg_type = MID_AXPACKET;
    msg.iov = iov;
    msg.iov_num = pkt.len ? 4 : 3;
    PFM_DBG(kMid, "Send to pid %d module %d %s\n", static_cast<int>(copy.pid), static_cast<int>(copy.mid),
            copy.name);
    (void)axmsg_send(&msg);
    return true;
}

}  // namespace pc::packet

using namespace pc::packet;

extern "C" {

PC_API uint32_t axpkt_stat[AXPKT_STAT_WORDS] = {};
PC_API uint32_t axpkt_reason_enable = 0;
PC_API uint32_t gAxPacketDbgChannelGruopEnable = 1;
PC_API uint32_t gAxPacketDbgMstpEnable = 1;
PC_API uint32_t gL3ToMaster = 1;

PC_API uint64_t axpacketStatGet(uint32_t word) {
    if (word + 1 >= AXPKT_STAT_WORDS) return 0;
    uint32_t hi = std::atomic_ref<uint32_t>(axpkt_stat[word]).load(std::memory_order_relaxed);
    uint32_t lo = std::atomic_ref<uint32_t>(axpkt_stat[word + 1]).load(std::memory_order_relaxed);
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

PC_API void axpacketRcvReason(const drv_nic_pkt_t *pkt) {
    if (pkt == nullptr || axpkt_reason_enable == 0) return;
    UP up = 0;
    if (adPmpBp2Up_intern(0, static_cast<int>(pkt->rx.source_port), &up, __func__, __LINE__) != 0) {
        std::printf("chip port trans to userport error srcport %d", static_cast<int>(pkt->rx.source_port));
        return;
    }
    std::printf("rx %d/%d/%d acl_hit=%d acl_index=%d cpu queue=%d new_sa=%d l2_pmv=%d\r\n",
                static_cast<int>(UP_UNIT(up)), static_cast<int>(UP_SLOT(up)), static_cast<int>(UP_PORT(up)),
                pkt->rx.acl_hit, pkt->rx.acl_index, pkt->rx.cpu_queue, pkt->rx.new_sa, pkt->rx.l2_pmv);
}

PC_API int axpacket_receive(uint32_t unit, drv_nic_pkt_t *pkt, void *cookie) {
    (void)cookie;
    if (__atomic_load_n(&gCpuMirrorRx, __ATOMIC_RELAXED) == 1) adAxpacketCpuMirrorRx(unit, pkt);
    return axpacketDistribute(pkt) == 1 ? NIC_RX_HANDLED : NIC_RX_NOT_HANDLED;
}

PC_API int axpacketDistribute(drv_nic_pkt_t *pkt) {
    PFM_ENSURE_RET(kMid, (NULL != pkt), 0);
    axpacketRcvStat(pkt->rx.cpu_queue);
    axpacketRcvReason(pkt);
    PFM_DBG(kMid, "Receive packet, packet len %d, inner vid: %d, outer vid: %d, src port: %d\n",
            static_cast<int>(pkt->length), pkt->rx.inner_vid, 0, static_cast<int>(pkt->rx.source_port));
    // The driver's frame must lie inside its buffer; anything shorter than
    // an Ethernet header cannot be classified or handed on.
    if (pkt->data == nullptr || pkt->length < kEthHeader ||
        (pkt->end != nullptr &&
         (pkt->data > pkt->end || pkt->length > static_cast<size_t>(pkt->end - pkt->data))))
        return release(pkt);

    // 3. Tag.
    uint8_t *frame = pkt->data;
    uint32_t len = pkt->length;
    uint16_t tpid = be16(frame + 12);
    bool tagged = (tpid == kTpid || tpid == kTpidOuter) && len >= kEthHeader + kTagLen;
    uint8_t tag[kTagLen]{};
    if (tagged) {
        std::memcpy(tag, frame + 12, kTagLen);
        std::memmove(frame + kTagLen, frame, kAddrBytes);
        frame += kTagLen;
        len -= kTagLen;
        PFM_DBG(kMid, "packet is tagged vlanid %d cfi %d pri %d\r\n", be16(tag + 2) & 0x0FFF,
                (tag[2] >> 4) & 1, tag[2] >> 5);
    } else {
        PFM_DBG(kMid, "packet is not tagged\r\n");
    }

    // 4-6. The record.
    AX_PACKET_T rec{};
    rec.rx_untag = static_cast<uint8_t>((pkt->rx.inner_tag_present ? 0 : AX_PKT_RX_NO_INNER_TAG) |
                                        (pkt->rx.outer_tag_present ? 0 : AX_PKT_RX_NO_OUTER_TAG));
    rec.data = frame;
    rec.len = len;
    rec.raw_buf = pkt->data;
    UP up = 0;
    if (adPmpBp2Up_intern(0, static_cast<int>(pkt->rx.source_port), &up, __func__, __LINE__) != 0) {
        PFM_DBG(kMid, "chip port trans to userport error srcport %d", static_cast<int>(pkt->rx.source_port));
        return release(pkt);
    }
    rec.rx_unit = static_cast<uint8_t>(UP_UNIT(up));
    rec.vid = pkt->rx.inner_vid;
    rec.rx_port = up;

    // 7-8. VLAN of an untagged frame.
    if (!pkt->rx.inner_tag_present) {
        uint16_t vid = 0;
        if (swVlanMacGetVid(up, frame + 6, &vid) == 0) {
            rec.vid = vid;
            PFM_DBG(kMid, "mac-vlan at axpacket : assign vid %d to untag packet", vid);
        }
    }
    if (rec.vid == 0) {
        uint32_t pvid = 0;
        if (sdk_vlan_portPvid_get(0, pkt->rx.source_port, &pvid) == 0) rec.vid = static_cast<uint16_t>(pvid);
    }
    // 9. Priority and CFI of the tag.
    rec.pri = tagged ? static_cast<uint8_t>(tag[2] >> 5) : 0;
    rec.cfi = tagged ? static_cast<uint8_t>((tag[2] >> 4) & 1) : 0;

    // 10. The port, or its LAG.
    UP member = up;
    auto to_lag = APPINTF_GET(APPINTF_SLOT_UP_TO_LAG);
    uint32_t lag = 0;
    if (to_lag != nullptr && gAxPacketDbgChannelGruopEnable != 0 && to_lag(up, &lag) == 0 && lag != 0)
        member = UP_MAKE(UP_TYPE_LAG, 0, 0, lag);
    uint32_t index = inner_up_to_idx(member);
    if (INNER_UP_IDX_IS_LEGAL(index)) rec.port_list.bits[index / 32] |= 1u << (index % 32);

    // 11. New source address.
    if (pkt->rx.new_sa || pkt->rx.l2_pmv) {
        rec.new_sa = pkt->rx.new_sa;
        rec.l2_pmv = pkt->rx.l2_pmv;
        walk_new_sa(rec);
    }

    // 12. Spanning tree.
    auto stp = APPINTF_GET(APPINTF_SLOT_STP_RX_CHECK);
    int blocked = 0;
    if (stp != nullptr && gAxPacketDbgMstpEnable != 0 && stp(frame, rec.vid, up, &blocked) == 0 && blocked) {
        PFM_DBG(kMid, "MSTP blocked\n");
        return release(pkt);
    }

    // 13-14. Classification.
    uint8_t dmac[8]{}, smac[8]{};
    std::memcpy(dmac, frame, MAC_ADDR_SIZE);
    std::memcpy(smac, frame + 6, MAC_ADDR_SIZE);
    if (to_classifier(rec, dmac, smac)) return release(pkt);

    // 15. Not consumed.
    uint16_t type = be16(frame + 12);
    if ((type == kEtherIpv4 || type == kEtherArp) && gL3ToMaster == 0) return release(pkt);
    if (type == kEtherIpv4 && axPacketTcpUdpFloodDefend(frame, len) == 1) return release(pkt);

    // 16. To the kernel.
    to_kernel(pkt, rec, tagged);
    return release(pkt);
}

PC_API void *axpacketWorkThread(void *arg) {
    uint32_t mid = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
    PACKET_MID_NODE_T *node = axPacketMidGet(mid);
    if (node == nullptr) {
        PFM_ERR(kMid, "Mid node get error %d\n", static_cast<int>(mid));
        return nullptr;
    }
    int q = static_cast<int>(node->msgQ);
    LookupCache lookups;
    for (;;) {
        DeliveryMsg msg{};
        unsigned prio = 0;
        if (pal_msgQ_receive(q, &msg, sizeof msg, PAL_WAIT_FOREVER, &prio) < static_cast<int>(sizeof msg)) {
            pal_usleep(kReceiveRetryUs);  // a failing queue must not spin
            continue;
        }
        FrameCopy copy = frame_handle_take(msg.pkt.data);
        uint8_t *frame = copy.data;
        if (frame == nullptr) {
            PFM_ERR(kMid, "Packet null\n");
            continue;
        }
        msg.name[PACKET_REG_NAME_SIZE - 1] = '\0';
        AXPACKET_RX_CB cb = nullptr;
        AXPACKET_ENABLE_CB en = nullptr;
        bool found = lookups.find(msg.mid, msg.name, cb, en);
        if (!found) {
            PFM_ERR(kMid, "Get register node error\n");
        } else if (cb != nullptr && (en == nullptr || en() != 0)) {
            AX_PACKET_T rec;
            axpacketRecordFromWire(&msg.pkt, &rec);
            rec.data = frame;
            rec.len = copy.len;  // the copy's own length, whatever the item says
            cb(&rec);
        }
        pal_free(frame);
    }
    return nullptr;
}

PC_API void axpacketRcvStat(uint32_t queue) {
    stat_add(AXPKT_STAT_RX);
    if (queue < AXPKT_STAT_QUEUE_NUM) stat_add(AXPKT_STAT_QUEUE + 2 * queue);
    rate_count(0);
}
PC_API void axpacketSendStat(void) {
    stat_add(AXPKT_STAT_TX);
    rate_count(1);
}
PC_API void kernelRcvStat(void) {
    stat_add(AXPKT_STAT_TO_KERNEL);
    rate_count(2);
}
PC_API void kernelSendStat(void) {
    stat_add(AXPKT_STAT_FROM_KERNEL);
    rate_count(3);
}

}  // extern "C"
