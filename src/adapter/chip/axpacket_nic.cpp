// The packet service's chip adapter: NIC driver start-up, the chip-level
// send with its port selection, and the CPU mirror.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform_core/appintf.h"
#include "platform_core/axpacket.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace pc::packet {
int pool_init();
}

namespace {

constexpr uint32_t kMid = MID_AXPACKET;
constexpr uint32_t kDriverPktSize = 1632;
constexpr uint32_t kExcludedChipPort = 52;
constexpr uint32_t kAddrBytes = 12;
constexpr uint32_t kTagBytes = 4;
constexpr uint32_t kFcsBytes = 4;  // frame check sequence, counted in receive lengths
constexpr uint32_t kMin60 = 60;
constexpr uint32_t kMin64 = 64;
constexpr uint32_t kNoVlan = 1;  // a vid of 0 is sent in VLAN 1

bool g_driver_up = false;  // pool, driver and user-mode core are set up
bool g_rx_active = false;  // the receive callback is registered and running

sdk_portmask_t mask_of(const lport_list_t &l) { return sdk_portmask_t{{l.bits[0], l.bits[1]}}; }
lport_list_t lport_of(const sdk_portmask_t &m) { return lport_list_t{{m.bits[0], m.bits[1]}}; }
bool mask_empty(const sdk_portmask_t &m) { return m.bits[0] == 0 && m.bits[1] == 0; }
void mask_and(sdk_portmask_t &m, const sdk_portmask_t &o) {
    m.bits[0] &= o.bits[0];
    m.bits[1] &= o.bits[1];
}
void mask_clear(sdk_portmask_t &m, const sdk_portmask_t &o) {
    m.bits[0] &= ~o.bits[0];
    m.bits[1] &= ~o.bits[1];
}

sdk_portmask_t chip_mask(const up_list &l) {
    lport_list_t lp{};
    adPmpUportListToLportList(&l, &lp);
    return mask_of(lp);
}

void tx_done(uint32_t unit, drv_nic_pkt_t *pkt, void *) {
    if (axnic_pkt_free(unit, pkt) != 0) PFM_ERR(kMid, "axnic_pkt_free failed %d\n", -1);
}

// The frame with its tag in a new driver buffer of `bufLen` bytes; the
// driver length is set. Null when no buffer is left.
drv_nic_pkt_t *build_frame(const AX_PACKET_T &pkt, uint32_t bufLen, uint32_t sendLen, uint16_t *vidOut) {
    drv_nic_pkt_t *d = nullptr;
    if (axnic_pkt_alloc(0, static_cast<int32_t>(bufLen), 0, &d) != 0 || d == nullptr) return nullptr;
    std::memset(d->data, 0, bufLen);
    if (pkt.flags & AX_PKT_FLAG_TAGGED) {
        std::memcpy(d->data, pkt.data, std::min(pkt.len, bufLen));
        d->length = sendLen;
        *vidOut = static_cast<uint16_t>(((pkt.data[14] & 0x0F) << 8) | pkt.data[15]);
    } else {
        uint16_t vid = pkt.vid == 0 ? kNoVlan : pkt.vid & 0x0FFF;
        uint16_t tci = static_cast<uint16_t>(((pkt.pri & 7) << 13) | ((pkt.cfi & 1) << 12) | vid);
        std::memcpy(d->data, pkt.data, kAddrBytes);
        uint8_t tag[kTagBytes] = {0x81, 0x00, static_cast<uint8_t>(tci >> 8), static_cast<uint8_t>(tci)};
        std::memcpy(d->data + kAddrBytes, tag, kTagBytes);
        uint32_t rest = std::min(pkt.len - kAddrBytes, bufLen - kAddrBytes - kTagBytes);
        std::memcpy(d->data + kAddrBytes + kTagBytes, pkt.data + kAddrBytes, rest);
        d->length = sendLen + kTagBytes;
        *vidOut = vid;
    }
    d->tail = d->data + d->length;
    return d;
}

// Port isolation: the ports and LAGs `rx` may not reach (step 3).
bool isolation_set(const AX_PACKET_T &pkt, up_list &excluded) {
    auto hook = APPINTF_GET(APPINTF_SLOT_PORT_ISOLATION);
    if (hook == nullptr || !UP_IS_VALID(pkt.rx_port) || gAxPacketDbgPortIsoEnable == 0 ||
        (pkt.flags & AX_PKT_FLAG_CHIP_FWD))
        return false;
    up_list reach{};
    if (hook(pkt.rx_port, &reach) != 0) return false;
    up_list valid{};
    inner_up_valid_list_get(&valid);
    for (uint32_t w = 0; w < UP_LIST_WORDS; ++w) excluded.bits[w] = valid.bits[w] & ~reach.bits[w];
    for (uint32_t lag = 1; lag <= UP_LAG_MAX; ++lag) {
        uint32_t idx = INNER_UP_LAG_BASE + lag;
        bool in_reach = (reach.bits[idx / 32] >> (idx % 32)) & 1u;
        bool in_valid = (valid.bits[idx / 32] >> (idx % 32)) & 1u;
        up_list members{};
        if (in_reach && in_valid && swChannelGroupGetMember(lag, &members) == 0)
            for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) excluded.bits[w] &= ~members.bits[w];
    }
    return true;
}

// Specific-port mode: every LAG named in `wanted` is served by one member
// port, the first that may send (a linked-up member of the VLAN in
// `usable`, not excluded by isolation) on this unit. The members come from
// the LAG-members hook, as for the stack-aware send. Their chip ports.
sdk_portmask_t lag_picks(const up_list &wanted, const sdk_portmask_t &usable, const up_list &excluded) {
    sdk_portmask_t picks{};
    auto members_of = APPINTF_GET(APPINTF_SLOT_LAG_MEMBERS);
    for (uint32_t lag = 1; members_of != nullptr && lag <= UP_LAG_MAX; ++lag) {
        uint32_t idx = INNER_UP_LAG_BASE + lag;
        up_list members{};
        if (!((wanted.bits[idx / 32] >> (idx % 32)) & 1u) || members_of(lag, &members) != 0) continue;
        for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) members.bits[w] &= ~excluded.bits[w];
        sdk_portmask_t m = chip_mask(members);
        mask_and(m, usable);
        for (uint32_t p = 0; p < SDK_PORT_MAX; ++p) {
            if (!SDK_PORTMASK_IS_SET(m, p)) continue;
            SDK_PORTMASK_SET(picks, p);
            break;
        }
    }
    return picks;
}

int transmit(drv_nic_pkt_t *d) {
    int rc = drv_nic_pkt_tx(0, d, tx_done, nullptr);
    if (rc != 0) {
        PFM_ERR(kMid, "send error %d: %d\n", rc, 0);
        if (axnic_pkt_free(0, d) != 0) PFM_ERR(kMid, "axnic_pkt_free failed %d\n", rc);
        return -1;
    }
    return 0;
}

void mirror_tx(const AX_PACKET_T &pkt, uint32_t bufLen, uint32_t sendLen) {
    int cu = 0, cp = 0;
    if (adPmpUp2Bp(__atomic_load_n(&gCpuMirrorPort, __ATOMIC_RELAXED), &cu, &cp) != 0) return;
    uint16_t vid = 0;
    drv_nic_pkt_t *d = build_frame(pkt, bufLen, sendLen, &vid);
    if (d == nullptr) {
        pfmLogEmit(PFM_LOG_ERR, kMid, "adAxpacketCpuMirrorTx", __LINE__, "allocate tx packet buffer error\n");
        return;
    }
    d->tx.mode = NIC_TX_DIRECT;
    d->tx.port_mask = sdk_portmask_t{};
    SDK_PORTMASK_SET(d->tx.port_mask, static_cast<uint32_t>(cp));
    transmit(d);
}

}  // namespace

extern "C" {

PC_API UP gCpuMirrorPort = 0;
PC_API uint8_t gCpuMirrorRx = 0;
PC_API uint8_t gCpuMirrorTx = 0;
// The three words are set by a management call while the receive and send
// paths read them; the library's own accesses are atomic word accesses.
PC_API uint32_t gAxPacketDbgPortIsoEnable = 1;

PC_API int adAxPacketInit(void) {
    static const char *kName = "adAxPacketRxRegister";
    int rc = 0;
    if (!g_driver_up) {
        drv_nic_initCfg_t cfg{kDriverPktSize, axnic_pkt_alloc, axnic_pkt_free};
        if (pc::packet::pool_init() != 0 || drv_nic_init(0, &cfg) != 0) {
            std::printf("%s: drv_nic_init() failed!!\r\n", kName);
            rc = -1;
        } else if (sdk_core_usr_init() != 0) {
            std::printf("%s: sdk_core_usr_init() failed!!\r\n", kName);
            rc = -1;
        } else {
            g_driver_up = true;
        }
    }
    if (rc == 0 && !g_rx_active) {
        if (nic_rx_thread_cb_register(0, axpacket_receive, nullptr) != 0) {
            std::printf("%s: nic_rx_thread_cb_register() failed()!\r\n", kName);
            rc = -1;
        } else if (drv_nic_rx_start(0) != 0) {
            std::printf("%s: drv_nic_rx_start() failed!\r\n", kName);
            rc = -1;
        } else {
            g_rx_active = true;
        }
    }
    if (rc != 0) PFM_CALL_FAILED(kMid, rc, "adAxPacketRxRegister()");
    return rc;
}

PC_API int adAxPacketDeInit(void) { return 0; }

PC_API void adAxpacketFreeBuf(drv_nic_pkt_t *pkt) {
    if (pkt != nullptr) axnic_pkt_free(0, pkt);
}

PC_API int adAxpacketCpuMirrorPortSet(UP port, uint8_t rx, uint8_t tx) {
    __atomic_store_n(&gCpuMirrorPort, port, __ATOMIC_RELAXED);
    __atomic_store_n(&gCpuMirrorRx, rx, __ATOMIC_RELAXED);
    __atomic_store_n(&gCpuMirrorTx, tx, __ATOMIC_RELAXED);
    return 0;
}

PC_API int adAxpacketCpuMirrorRx(uint32_t unit, const drv_nic_pkt_t *pkt) {
    (void)unit;
    int cu = 0, cp = 0;
    if (pkt == nullptr || pkt->data == nullptr ||
        adPmpUp2Bp(__atomic_load_n(&gCpuMirrorPort, __ATOMIC_RELAXED), &cu, &cp) != 0)
        return -1;
    if (pkt->length < kAddrBytes + kFcsBytes) return -1;
    // The received length counts the frame check sequence; the port adds
    // its own to the copy.
    const uint32_t frameLen = pkt->length - kFcsBytes;
    drv_nic_pkt_t *d = nullptr;
    if (axnic_pkt_alloc(0, static_cast<int32_t>(pkt->length + kTagBytes), 0, &d) != 0 || d == nullptr) {
        PFM_DBG(kMid, "AXPacket: allocate tx packet buffer error\n");
        return -1;
    }
    if (pkt->rx.inner_tag_present) {
        std::memcpy(d->data, pkt->data, frameLen);
        d->length = frameLen;
    } else {
        uint16_t vid = 0;
        UP up = 0;
        bool have_up = adPmpBp2Up(0, static_cast<int>(pkt->rx.source_port), &up) == 0;
        if (have_up && swVlanMacGetVid(up, pkt->data + 6, &vid) == 0) {
            PFM_DBG(kMid, "mac-vlan at axpacket : assign vid %d to untag packet", vid);
        } else if ((vid = pkt->rx.inner_vid) == 0) {
            uint32_t pvid = 0;
            if (sdk_vlan_portPvid_get(0, pkt->rx.source_port, &pvid) == 0) vid = static_cast<uint16_t>(pvid);
        }
        uint8_t tag[kTagBytes] = {0x81, 0x00, static_cast<uint8_t>((vid >> 8) & 0x0F),
                                  static_cast<uint8_t>(vid)};
        std::memcpy(d->data, pkt->data, kAddrBytes);
        std::memcpy(d->data + kAddrBytes, tag, kTagBytes);
        std::memcpy(d->data + kAddrBytes + kTagBytes, pkt->data + kAddrBytes, frameLen - kAddrBytes);
        d->length = frameLen + kTagBytes;
    }
    d->tail = d->data + d->length;
    d->tx.mode = NIC_TX_DIRECT;
    d->tx.port_mask = sdk_portmask_t{};
    SDK_PORTMASK_SET(d->tx.port_mask, static_cast<uint32_t>(cp));
    return transmit(d);
}

PC_API int adAxpacketSend(AX_PACKET_T *ax_pkt) {
    PFM_ENSURE_RET(kMid, NULL != ax_pkt, -1);
    AX_PACKET_T &pkt = *ax_pkt;
    uint32_t flags = pkt.flags;
    bool tagged = flags & AX_PKT_FLAG_TAGGED;
    // The frame must hold what is copied from it: the addresses, and the
    // tag of a frame that carries its own.
    if (pkt.data == nullptr || pkt.len < (tagged ? kAddrBytes + kTagBytes : kAddrBytes)) return -1;

    // 1. Size.
    uint32_t sendLen = ((flags & AX_PKT_FLAG_PAD60) && !(flags & AX_PKT_FLAG_PAD64))
                           ? std::max(pkt.len, kMin60)
                           : std::max(pkt.len, kMin64) - kTagBytes;
    uint32_t bufLen = sendLen + kTagBytes;
    uint16_t vid = 0;
    drv_nic_pkt_t *d = build_frame(pkt, bufLen, sendLen, &vid);
    if (d == nullptr) {
        PFM_ERR(kMid, "allocate tx packet buffer error\n");
        return -1;
    }

    // 5. The chip forwards.
    if (flags & AX_PKT_FLAG_CHIP_FWD) {
        d->tx.mode = NIC_TX_FORWARD;
        int rc = transmit(d);
        if (rc == 0 && __atomic_load_n(&gCpuMirrorTx, __ATOMIC_RELAXED)) mirror_tx(pkt, bufLen, sendLen);
        return rc;
    }

    // 2-3. The listed ports of this unit, with isolation applied.
    up_list list{};
    for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) list.bits[w] = pkt.port_list.bits[w];
    bool bcast = flags & (AX_PKT_FLAG_BCAST | AX_PKT_FLAG_LOCAL_BCAST);
    up_list excluded{};
    bool isolated = isolation_set(pkt, excluded);
    if (isolated) {
        for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w)
            list.bits[w] = bcast ? (list.bits[w] | excluded.bits[w]) : (list.bits[w] & ~excluded.bits[w]);
    }

    // 6. VLAN members with their link up.
    sdk_portmask_t member{}, untag{};
    sdk_vlan_port_get(0, vid, &member, &untag);
    SDK_PORTMASK_CLEAR(member, kExcludedChipPort);
    SDK_PORTMASK_CLEAR(untag, kExcludedChipPort);
    up_list valid{};
    inner_up_valid_list_get(&valid);
    for (uint32_t idx = 1; idx < UP_UNIT_PORT_MAX; ++idx) {
        if (!((valid.bits[idx / 32] >> (idx % 32)) & 1u)) continue;
        UP up = 0;
        int cu = 0, cp = 0;
        uint32_t link = 1;
        up = inner_up_from_index(&up, idx, 1, __func__, __LINE__);
        if (!UP_IS_SWP(up) || adPmpUp2Bp(up, &cu, &cp) != 0 || cu != 0) continue;
        if (sdk_port_link_get(0, static_cast<uint32_t>(cp), &link) == 0 && link == 0) {
            SDK_PORTMASK_CLEAR(member, static_cast<uint32_t>(cp));
            SDK_PORTMASK_CLEAR(untag, static_cast<uint32_t>(cp));
        }
    }

    // 7. Narrow to the list.
    d->tx.mode = NIC_TX_DIRECT;
    sdk_portmask_t listed = chip_mask(list);
    if (!bcast) {
        // A LAG named in the list goes out of one of its members.
        sdk_portmask_t picks = lag_picks(pkt.port_list, member, isolated ? excluded : up_list{});
        listed.bits[0] |= picks.bits[0];
        listed.bits[1] |= picks.bits[1];
        for (uint32_t t = 0; t < SDK_TRUNK_MAX; ++t) {
            sdk_portmask_t tm{};
            if (sdk_trunk_port_get(0, t, &tm) != 0 || mask_empty(tm)) continue;
            bool kept = false;
            for (uint32_t p = 0; p < SDK_PORT_MAX; ++p) {
                if (!SDK_PORTMASK_IS_SET(tm, p) || !SDK_PORTMASK_IS_SET(listed, p)) continue;
                if (kept) SDK_PORTMASK_CLEAR(listed, p);
                kept = true;
            }
        }
        mask_and(member, listed);
        mask_and(untag, listed);
    } else {
        mask_clear(member, listed);
        mask_clear(untag, listed);
        if (!(flags & AX_PKT_FLAG_KEEP_LAG) && gAxPacketDbgChannelGruopEnable != 0) {
            for (uint32_t t = 0; t < SDK_TRUNK_MAX; ++t) {
                sdk_portmask_t tm{};
                if (sdk_trunk_port_get(0, t, &tm) != 0 || mask_empty(tm)) continue;
                sdk_portmask_t hit = tm;
                mask_and(hit, listed);
                if (!mask_empty(hit)) {
                    mask_clear(member, tm);
                    mask_clear(untag, tm);
                    continue;
                }
                bool kept = false;
                for (uint32_t p = 0; p < SDK_PORT_MAX; ++p) {
                    if (!SDK_PORTMASK_IS_SET(tm, p) || !SDK_PORTMASK_IS_SET(member, p)) continue;
                    if (kept) {
                        SDK_PORTMASK_CLEAR(member, p);
                        SDK_PORTMASK_CLEAR(untag, p);
                    }
                    kept = true;
                }
            }
        }
    }

    // 8. Nothing left.
    if (mask_empty(member)) {
        PFM_DBG(kMid, "send list is empty\n");
        axnic_pkt_free(0, d);
        return 0;
    }

    // 9. Spanning tree.
    auto stp = APPINTF_GET(APPINTF_SLOT_STP_TX_FILTER);
    if (stp != nullptr && gAxPacketDbgMstpEnable != 0) {
        up_list candidates{}, allowed{};
        lport_list_t lp = lport_of(member);
        adPmpLportListToUportList(&lp, &candidates);
        if (stp(d->data, vid, flags, &candidates, &allowed) == 0) member = chip_mask(allowed);
        if (mask_empty(member)) {
            PFM_DBG(kMid, "send list is empty\n");
            axnic_pkt_free(0, d);
            return 0;
        }
    }

    // 10-12. Transmit, and mirror.
    d->tx.port_mask = member;
    PFM_DBG(kMid, "send pkt dev0 pbmp=0x%x\r\n", member.bits[0]);
    int rc = transmit(d);
    if (rc == 0 && __atomic_load_n(&gCpuMirrorTx, __ATOMIC_RELAXED)) mirror_tx(pkt, bufLen, sendLen);
    return rc;
}

PC_API int adAxpacketPrintCpuStats(void) {
    static const struct {
        uint32_t counter;
        const char *fmt;
    } kLines[] = {{SDK_STAT_IF_IN_UCAST_PKTS, "ifInUcastPkts = %lld\r\n"},
                  {SDK_STAT_IF_IN_BCAST_PKTS, "ifInBroadcastPkts = %lld\r\n"},
                  {SDK_STAT_IF_OUT_UCAST_PKTS, "ifOutUcastPkts = %lld\r\n"},
                  {SDK_STAT_IF_OUT_BCAST_PKTS, "ifOutBrocastPkts = %lld\r\n"},
                  {SDK_STAT_IF_IN_OCTETS, "ifInBytes = %lld\r\n"},
                  {SDK_STAT_IF_OUT_OCTETS, "ifOutBytes = %lld\r\n"}};
    uint64_t values[6]{};
    for (size_t i = 0; i < 6; ++i) {
        int rc = sdk_stat_port_get(0, SDK_CPU_STAT_PORT, kLines[i].counter, &values[i]);
        if (rc != 0) {
            std::printf("axpacket sdk_stat_port_getAll failed %d\r\n", rc);
            return -1;
        }
    }
    std::printf("cpu port couters:\r\n");
    for (size_t i = 0; i < 6; ++i) std::printf(kLines[i].fmt, static_cast<long long>(values[i]));
    return 0;
}

PC_API int adAxpacketSendToCpuForUtp(AX_PACKET_T *) { return 0; }
PC_API int adAxpacketSendToMaster(AX_PACKET_T *) { return 0; }

}  // extern "C"
