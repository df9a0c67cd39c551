// Start and stop of the packet service, the packet record's wire form and
// the built-in ICMP receiver.
#include <unistd.h>

#include <cstring>

#include "packet/packet_kernel.h"
#include "packet/packet_registry.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr unsigned kRcvThreadStack = 16384;
constexpr unsigned kRcvThreadPriority = 200;

bool g_rcv_thread_started = false;  // the "AXPacketRcv" thread runs

int icmpPktRevCall(AX_PACKET_T *) { return 0; }
int icmpIsEnable(void) { return 1; }

void rcv_thread_entry(void *arg) { axpacketReceive(arg); }

}  // namespace

using namespace pc::packet;

extern "C" {

PC_API void axpacketRecordToWire(const AX_PACKET_T *pkt, uint32_t dataWord, AX_PACKET_WIRE_T *wire) {
    if (pkt == nullptr || wire == nullptr) return;
    *wire = AX_PACKET_WIRE_T{};
    std::memcpy(wire->port_list, pkt->port_list.bits, sizeof wire->port_list);
    wire->rx_port = pkt->rx_port;
    wire->data = dataWord;
    wire->flags = pkt->flags;
    wire->len = pkt->len;
    wire->vid = pkt->vid;
    wire->rx_unit = pkt->rx_unit;
    wire->rx_untag = pkt->rx_untag;
    wire->raw_buf = 0;
    wire->pri = pkt->pri;
    wire->cfi = pkt->cfi;
    wire->new_sa = pkt->new_sa;
    wire->l2_pmv = pkt->l2_pmv;
}

PC_API void axpacketRecordFromWire(const AX_PACKET_WIRE_T *wire, AX_PACKET_T *pkt) {
    if (pkt == nullptr || wire == nullptr) return;
    *pkt = AX_PACKET_T{};
    std::memcpy(pkt->port_list.bits, wire->port_list, sizeof pkt->port_list.bits);
    pkt->rx_port = wire->rx_port;
    pkt->flags = wire->flags;
    pkt->len = wire->len;
    pkt->vid = wire->vid;
    pkt->rx_unit = wire->rx_unit;
    pkt->rx_untag = wire->rx_untag;
    pkt->pri = wire->pri;
    pkt->cfi = wire->cfi;
    pkt->new_sa = wire->new_sa;
    pkt->l2_pmv = wire->l2_pmv;
}

PC_API int icmpAxpacketReg(void) {
    PFM_CALL_RET(kMid, axPacketRegisterModule(MID_AXPACKET, 0, ICMP_TASK_STACK_SIZE, ICMP_QUE_SIZE));
    PFM_CALL_RET(kMid, axPacketRegisterPacket(MID_AXPACKET, AXPACKET_ICMP, AX_RX_NOT_OWNED, 0, icmpPktRevCall,
                                              icmpIsEnable));
    PFM_CALL_RET(kMid, axPacketRegisterField(MID_AXPACKET, AXPACKET_ICMP, LEN_TYPE, 0x0800, 0xFFFF));
    PFM_CALL_RET(kMid, axPacketRegisterField(MID_AXPACKET, AXPACKET_ICMP, PRO_TYPE, 1, 0xFF));
    PFM_CALL_RET(kMid, axPacketRegisterEnable(MID_AXPACKET, AXPACKET_ICMP));
    return 0;
}

PC_API int axPacketInit(void) {
    int rc = 0;
    uint32_t pid = static_cast<uint32_t>(getpid());
    uint8_t mac[MAC_ADDR_SIZE]{};
    if (kernel_link_open() != 0) {
        rc = -1;
    } else if (kernel_link_send(AXPACKET_NL_REGISTER, &pid, sizeof pid) != 0) {
        rc = -1;
    } else if (getMacAddress(mac), kernel_link_send(AXPACKET_NL_MAC, mac, sizeof mac) != 0) {
        rc = -1;
    } else if ((rc = axPacketFilterInit()) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axPacketFilterInit()");
    } else if ((rc = rule_tables_create()) != 0) {
        PFM_CALL_FAILED(kMid, rc, "ruleTableInit()");
    } else if ((rc = axmsg_reg(MID_AXPACKET, axpacketPacketMsgHandle)) != 0) {
        PFM_CALL_FAILED(kMid, rc, "axmsg_reg(MID_AXPACKET, axpacketPacketMsgHandle)");
    } else if ((rc = adAxPacketInit()) != 0) {
        PFM_CALL_FAILED(kMid, rc, "adAxPacketInit()");
    } else if (!g_rcv_thread_started && pal_thread_create("AXPacketRcv", kRcvThreadStack, kRcvThreadPriority,
                                                          rcv_thread_entry, nullptr) == PAL_THREAD_INVALID) {
        PFM_ERR(kMid, "AXPacket create receive thread error\n");
        rc = -1;
    }
    if (rc != 0) {
        axPacketDeinit();
        return rc;
    }
    g_rcv_thread_started = true;
    PFM_DBG(kMid, "Initialize AXPacket core success!\n");
    axpacketRateEnable(1);
    if ((rc = icmpAxpacketReg()) != 0) return rc;
    return axPacketTcpUdpFloodDefendInit();
}

PC_API void axPacketDeinit(void) {
    kernel_link_close();
    axPacketFilterDeInit();
    rule_tables_destroy();
}

}  // extern "C"
