// The stack-aware send, the handler of MID_AXPACKET messages and the unit
// transport's receiver.
#include <cstring>

#include "packet/packet_registry.h"
#include "platform_core/appintf.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace {

using namespace pc::packet;

constexpr uint32_t kCurrentUnit = UNIT_1;
constexpr int kUtpPriority = 100;
constexpr uint32_t kUtpStack = 0x10000;
constexpr uint32_t kUtpRegPriority = 200;
constexpr const char *kUtpName = "UTP";

bool g_utp_registered = false;  // "UTP" is registered (registration calls' caller)

// This build is one stand-alone unit, always the stack master.
bool current_is_master() { return true; }

void clear_unit_ports(up_list &l) {
    for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) l.bits[w] = 0;
}

}  // namespace

extern "C" {

PC_API int axPacketSend(AX_PACKET_T *ax_pkt) {
    PFM_ENSURE_RET(kMid, NULL != ax_pkt, -1);
    if (!current_is_master()) return 0;
    PFM_DBG(kMid, "Send packet\n");
    axpacketSendStat();
    if (ax_pkt->flags & (AX_PKT_FLAG_CHIP_FWD | AX_PKT_FLAG_LOCAL_BCAST)) return adAxpacketSend(ax_pkt);

    unit_list units = 0;
    int local_rc = 0;
    if ((ax_pkt->flags & AX_PKT_FLAG_PORT_LIST) && !inner_up_list_is_empty(ax_pkt->port_list)) {
        up_list all = ax_pkt->port_list;
        auto members_of = APPINTF_GET(APPINTF_SLOT_LAG_MEMBERS);
        for (uint32_t lag = 1; lag <= UP_LAG_MAX; ++lag) {
            uint32_t idx = INNER_UP_LAG_BASE + lag;
            if (!((ax_pkt->port_list.bits[idx / 32] >> (idx % 32)) & 1u) || members_of == nullptr) continue;
            up_list members{};
            if (members_of(lag, &members) != 0) {
                PFM_ERR(kMid, "Get lag%d member failed.", static_cast<int>(lag));
                continue;
            }
            for (uint32_t w = 0; w < UP_LIST_WORDS; ++w) all.bits[w] |= members.bits[w];
        }
        inner_up_list_to_up_unit_list(all, &units);
        if (units & (1u << kCurrentUnit)) local_rc = adAxpacketSend(ax_pkt);
        units &= ~(1u << kCurrentUnit);
        inner_up_unit_remove_provision(&units);
    } else {
        local_rc = adAxpacketSend(ax_pkt);
        uint32_t n = 0;
        inner_up_unit_attach_list_get(&units, &n);
        units &= ~(1u << kCurrentUnit);
    }
    clear_unit_ports(ax_pkt->port_list);
    if (units != 0) {
        AX_PACKET_WIRE_T wire;
        axpacketRecordToWire(ax_pkt, 0, &wire);
        iovec iov[2] = {{&wire, sizeof wire}, {ax_pkt->data, ax_pkt->len}};
        AXMSG_T msg{};
        msg.dst_unit = units;
        msg.dst_proc = PID_CORE;
        msg.msg_type = MID_AXPACKET;
        msg.iov = iov;
        msg.iov_num = ax_pkt->len ? 2 : 1;
        int rc = axmsg_mcast_send(&msg);
        if (rc != 0) {
            PFM_ERR(kMid, "Send to unit error!! %d dst units: %d\n", rc, static_cast<int>(units));
            return rc;
        }
    }
    return local_rc;
}

PC_API int axpacketPacketMsgHandle(AXMSG_T *regMsg) {
    PFM_ENSURE_RET(kMid, NULL != regMsg, -1);
    PFM_ENSURE_RET(kMid, MID_AXPACKET == regMsg->msg_type, -1);
    uint32_t len = regMsg->data_len;
    if (len < sizeof(AX_PACKET_WIRE_T)) {
        PFM_ENSURE_FAILED(kMid, "len >= sizeof(AX_PACKET_T)");
        return -1;
    }
    if (regMsg->data == nullptr) return -1;
    AX_PACKET_WIRE_T wire;
    std::memcpy(&wire, regMsg->data, sizeof wire);
    AX_PACKET_T ax_pkt;
    axpacketRecordFromWire(&wire, &ax_pkt);
    if (uint64_t{len} != uint64_t{sizeof wire} + ax_pkt.len) {
        PFM_ENSURE_FAILED(kMid, "len == (sizeof(AX_PACKET_T) + ax_pkt.len)");
        return -1;
    }
    ax_pkt.data = static_cast<uint8_t *>(regMsg->data) + sizeof wire;
    PFM_DBG(kMid, "Receive protocol process packet to send: vid: %d, len: %d\n", ax_pkt.vid,
            static_cast<int>(ax_pkt.len));
    return current_is_master() ? axPacketSend(&ax_pkt) : adAxpacketSend(&ax_pkt);
}

PC_API int axpacketReceiveRegisterForUtp(AXPACKET_RX_CB rxCallback, AXPACKET_ENABLE_CB enableCallback,
                                         uint16_t etherType, uint32_t queueLen) {
    if (g_utp_registered) return 0;
    uint8_t mac[MAC_ADDR_SIZE]{};
    static constexpr uint8_t kAllOnes[MAC_ADDR_SIZE] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    int rc = 0;
    if (axPacketMidGet(MID_UTP) == nullptr &&
        (rc = axPacketRegisterModule(MID_UTP, kUtpPriority, kUtpStack, queueLen)) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axPacketRegisterModule(MID_UTP, 100, 0x10000, queLen)");
    } else if ((rc = axPacketRegisterPacket(MID_UTP, kUtpName, AX_RX_OWNED, kUtpRegPriority, rxCallback,
                                            enableCallback)) != 0) {
        PFM_CALL_FAILED(kMid, rc,
                        "axPacketRegisterPacket(MID_UTP, \"UTP\", AX_RX_OWNED, 200, rcvFunc, enFunc)");
    } else if ((rc = getMacAddress(mac)) != 0 ||
               (rc = axPacketRegisterMacaddr(MID_UTP, kUtpName, DES_MAC, mac, kAllOnes)) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axPacketRegisterMacaddr(MID_UTP, \"UTP\", DES_MAC, mac, mask)");
    } else if ((rc = axPacketRegisterField(MID_UTP, kUtpName, LEN_TYPE, etherType, 0xFFFF)) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axPacketRegisterField(MID_UTP, \"UTP\", LEN_TYPE, etherType, 0xffff)");
    } else if ((rc = axPacketRegisterEnable(MID_UTP, kUtpName)) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axPacketRegisterEnable(MID_UTP, \"UTP\")");
    }
    if (rc != 0) {
        axPacketUnregisterPacket(MID_UTP, kUtpName);
        return -1;
    }
    g_utp_registered = true;
    return 0;
}

PC_API int axpacketReceiveUnRegisterForUtp(void) {
    g_utp_registered = false;
    return axPacketUnregisterPacket(MID_UTP, kUtpName);
}

PC_API int axpacketSendForUtp(AX_PACKET_T *) { return 0; }

}  // extern "C"
