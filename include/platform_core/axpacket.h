/*
 * The packet service: the control-plane packet path of the core process.
 *
 * Receive: the NIC driver hands every frame the chip traps or copies to the
 * CPU to axpacket_receive. The service builds the packet record AX_PACKET_T
 * (tag removed and remembered, VLAN and receiving port or LAG worked out),
 * classifies the frame by EtherType and IP protocol into exactly one of
 * eight rule tables and walks it in priority order: every matching
 * registration gets a copy of the frame (through its module's queue and work
 * thread in the core process, as a MID_AXPACKET message elsewhere) and an
 * owning registration ends the walk. Frames nobody owns go to the Linux
 * network stack over the packet netlink protocol (types 1 to 4).
 *
 * Send: axPacketSend hands a record to the chip-level send adAxpacketSend,
 * which tags the frame, narrows the destination ports by isolation, VLAN
 * membership, link, LAG and spanning tree, and gives it to the NIC driver.
 *
 * Beside the path: per-module software QoS token buckets, rate statistics,
 * and the TCP/UDP flood defence for unowned frames bound for the kernel.
 *
 * The packet record. In memory it holds native pointers (data, raw_buf).
 * Wherever it leaves the process (queue items, hub messages) it travels as
 * the 60-byte AX_PACKET_WIRE_T in the CPU's byte order, the pointers as 32-bit
 * words that the receiver never uses as addresses. On the 32-bit target the
 * two layouts are the same.
 */
#ifndef PLATFORM_CORE_AXPACKET_H
#define PLATFORM_CORE_AXPACKET_H

#include <stddef.h>
#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* ---- Registry limits and codes ------------------------------------------ */

#define PACKET_REG_NAME_LEN_MAX 31
#define PACKET_REG_NAME_SIZE 32
#define MAC_ADDR_SIZE 6

#define AX_RX_NOT_OWNED 0
#define AX_RX_OWNED 1

/* Field types of the registration calls. */
enum axpacket_field_type {
    DES_MAC = 0,
    SRC_MAC = 1,
    LEN_TYPE = 2,
    DES_IP = 3,
    SRC_IP = 4,
    PRO_TYPE = 5,
    DES_PORT = 6,
    SRC_PORT = 7,
    DES_IPV6 = 8,
    SRC_IPV6 = 9,
    ICMPV6_TYPE = 10,
    NEW_SA = 11,
};

#define UDF_EQUAL 0
#define UDF_NOT_EQUAL 1

typedef struct IPV6_ADDR_S {
    uint8_t addr[16];
} IPV6_ADDR_T;

/* The eight rule tables. */
enum axpacket_rule_table {
    AXPKT_TBL_UDP_V4 = 0,
    AXPKT_TBL_TCP_V4 = 1,
    AXPKT_TBL_NO_TCP_UDP_V4 = 2,
    AXPKT_TBL_UDP_V6 = 3,
    AXPKT_TBL_TCP_V6 = 4,
    AXPKT_TBL_NO_TCP_UDP_V6 = 5,
    AXPKT_TBL_NO_IP = 6,
    AXPKT_TBL_NEW_SA = 7,
    AXPKT_TBL_NUM = 8,
};

/* ---- The packet record -------------------------------------------------- */

/* Send flags (AX_PACKET_T.flags). */
#define AX_PKT_FLAG_PAD64 0x0001u       /* pad to 64 bytes with the inserted tag */
#define AX_PKT_FLAG_PAD60 0x0002u       /* without PAD64: pad to 60 bytes */
#define AX_PKT_FLAG_BCAST 0x0010u       /* port_list lists ports to exclude */
#define AX_PKT_FLAG_CHIP_FWD 0x0020u    /* the chip forwards, this unit only */
#define AX_PKT_FLAG_LOCAL_BCAST 0x0040u /* this unit only, broadcast mode */
#define AX_PKT_FLAG_KEEP_LAG 0x0080u    /* send to every member of a LAG */
#define AX_PKT_FLAG_TAGGED 0x0100u      /* the frame carries its 802.1Q tag */
#define AX_PKT_FLAG_PORT_LIST 0x0400u   /* port_list is the destination list */
#define AX_PKT_FLAG_FROM_KERNEL 0x0122u /* what frames from the kernel carry */

/* rx_untag bits. */
#define AX_PKT_RX_NO_INNER_TAG 0x01u
#define AX_PKT_RX_NO_OUTER_TAG 0x02u

/*
 * A frame the CPU originates (a protocol's own frame, not a received one):
 *
 *   AX_PACKET_T pkt;
 *   memset(&pkt, 0, sizeof pkt);        every field not named here stays 0
 *   pkt.data = frame;                   destination MAC first, untagged,
 *   pkt.len = frameLen;                   no FCS; padded to 64 bytes on the wire
 *   pkt.vid = 1;                        the VLAN to send in (0 is sent as 1)
 *   pkt.pri = 7;                        priority and CFI of the inserted tag
 *   pkt.flags = AX_PKT_FLAG_PORT_LIST;  send out of the listed ports only
 *   up_list_set(&pkt.port_list, port);  (types.h) one or more ports
 *   pkt.rx_port = UP_INVALID_VALUE;     no port isolation source
 *   axPacketSend(&pkt);                 in the core; axpacketClientSend elsewhere
 *
 * The chip inserts the 802.1Q tag and leaves it off where the port is an
 * untagged member of the VLAN; ports that are not members of the VLAN or
 * whose link is down are dropped from the list. Variants: AX_PKT_FLAG_BCAST
 * sends to every member of the VLAN except the listed ports;
 * AX_PKT_FLAG_TAGGED (with AX_PKT_FLAG_PAD60) sends a frame that already
 * carries its tag, the VLAN taken from the tag; a valid rx_port applies that
 * port's isolation as if the frame had entered there. axPacketSend takes the
 * ports of this unit out of the caller's port_list. raw_buf, rx_unit,
 * rx_untag, new_sa and l2_pmv are for received frames: leave them 0.
 */
typedef struct AX_PACKET_S {
    up_list port_list; /* receive: the port or its LAG; send: the ports */
    UP rx_port;        /* receive: the switch port; send: isolation source */
    uint8_t *data;     /* first byte of the frame (destination MAC) */
    uint32_t flags;    /* send flags; 0 on receive */
    uint32_t len;      /* frame bytes from the destination MAC */
    uint16_t vid;
    uint8_t rx_unit;
    uint8_t reserved0;
    uint8_t rx_untag;
    uint8_t reserved1[3];
    uint8_t *raw_buf; /* receive only: the driver's buffer; 0 in copies */
    uint32_t reserved2;
    uint8_t pri;
    uint8_t cfi;
    uint8_t new_sa;
    uint8_t l2_pmv;
} AX_PACKET_T;

/* The record as it travels (60 bytes, native byte order). */
typedef struct AX_PACKET_WIRE_S {
    uint32_t port_list[UP_LIST_WORDS];
    uint32_t rx_port;
    uint32_t data;
    uint32_t flags;
    uint32_t len;
    uint16_t vid;
    uint8_t rx_unit;
    uint8_t reserved0;
    uint8_t rx_untag;
    uint8_t reserved1[3];
    uint32_t raw_buf;
    uint32_t reserved2;
    uint8_t pri;
    uint8_t cfi;
    uint8_t new_sa;
    uint8_t l2_pmv;
} AX_PACKET_WIRE_T;

#define AX_PACKET_WIRE_SIZE 60
#ifdef __cplusplus
static_assert(sizeof(AX_PACKET_WIRE_T) == AX_PACKET_WIRE_SIZE, "packet record is 60 bytes");
#else
_Static_assert(sizeof(AX_PACKET_WIRE_T) == AX_PACKET_WIRE_SIZE, "packet record is 60 bytes");
#endif

/* Record <-> wire form. The pointer words are given by the caller. */
PC_API void axpacketRecordToWire(const AX_PACKET_T *pkt, uint32_t dataWord, AX_PACKET_WIRE_T *wire);
/* data and raw_buf of the result are null. */
PC_API void axpacketRecordFromWire(const AX_PACKET_WIRE_T *wire, AX_PACKET_T *pkt);

/* Message to a module of another process: wire record, MID, name, frame. */
#define AXPACKET_MSG_HEAD_SIZE (AX_PACKET_WIRE_SIZE + 4 + PACKET_REG_NAME_SIZE)

/* ---- Receivers: registry and filters ------------------------------------ */

typedef int (*AXPACKET_RX_CB)(AX_PACKET_T *pkt);
typedef int (*AXPACKET_ENABLE_CB)(void);

PC_API int axPacketRegisterModule(uint32_t modId, int priority, uint32_t stackSize, uint32_t queueLen);
PC_API int axPacketRegisterPacket(uint32_t modId, const char *regName, uint32_t own, uint32_t priority,
                                  AXPACKET_RX_CB pktCallback, AXPACKET_ENABLE_CB enableCallback);
PC_API int axPacketUnregisterPacket(uint32_t modId, const char *regName);
PC_API int axPacketRegisterField(uint32_t modId, const char *regName, uint32_t fieldType, uint32_t value,
                                 uint32_t mask);
PC_API int axPacketRegisterFieldIpv6(uint32_t modId, const char *regName, uint32_t fieldType,
                                     const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask);
PC_API int axPacketRegisterMacaddr(uint32_t modId, const char *regName, uint32_t fieldType,
                                   const uint8_t *mac, const uint8_t *mask);
PC_API int axPacketRegisterUdf(uint32_t modId, const char *regName, uint32_t mode, uint32_t offset,
                               uint32_t value, uint32_t mask);
PC_API int axPacketRegisterEnable(uint32_t modId, const char *regName);
PC_API int axPacketRegisterDisable(uint32_t modId, const char *regName);
/* mode 0 counts frames, 1 counts bytes (in units of 1024 per second). */
PC_API int axPacketRegisterQoS(uint32_t modId, const char *regName, uint32_t mode, uint32_t speed);

PC_API int axPacketFilterInit(void);
PC_API void axPacketFilterDeInit(void);

/* Module and registration records of the registry (opaque outside it). */
typedef struct PACKET_MID_NODE_S PACKET_MID_NODE_T;
typedef struct PACKET_REGIST_S PACKET_REGIST_T;
PC_API PACKET_MID_NODE_T *axPacketMidGet(uint32_t mid);
PC_API PACKET_REGIST_T *axPacketGetRegistNode(uint32_t mid, const char *regName);
PC_API int axPacketCheckIsRegister(uint32_t mid, const char *regName);

/* Classification walks; 1 when the frame was consumed (owned or refused by
 * QoS), else 0. A frame too short for what a parser reads matches nothing.
 * dmac and smac point to eight bytes: the address and two zero bytes. */
PC_API int axpacketFilterParseIpv4(AX_PACKET_T *pkt, const uint8_t *l3, const uint8_t *dmac,
                                   const uint8_t *smac);
PC_API int axpacketFilterParseIpv6(AX_PACKET_T *pkt, const uint8_t *l3, const uint8_t *dmac,
                                   const uint8_t *smac);
PC_API int axpacketFilterParseNonIp(AX_PACKET_T *pkt, uint16_t etherType, const uint8_t *dmac,
                                    const uint8_t *smac);

/* The built-in ICMP receiver. */
#define AXPACKET_ICMP "ICMP"
#define ICMP_TASK_STACK_SIZE 32768
#define ICMP_QUE_SIZE 256
PC_API int icmpAxpacketReg(void);

/* RPC "axpacketRegManage" and its parameter keys. */
#define AXPACKET_REG_MANAGE "axpacketRegManage"
#define AXPACKET_REG_MID "axpacket_reg_mid"
#define AXPACKET_REG_TYPE "axpacket_reg_type"
#define AXPACKET_REG_STACK "axpacket_reg_stack"
#define AXPACKET_REG_MSGLEN "axpacket_reg_msglen"
#define AXPACKET_REG_PRI "axpacket_reg_pri"
#define AXPACKET_REG_PID "axpacket_reg_pid"
#define AXPACKET_REG_NAME "axpacket_reg_name"
#define AXPACKET_REG_OWN "axpacket_reg_own"
#define AXPACKET_REG_MACADDR "axpacket_reg_macaddr"
#define AXPACKET_REG_MACMASK "axpacket_reg_macmask"
#define AXPACKET_REG_VALUE "axpacket_reg_value"
#define AXPACKET_REG_MASK "axpacket_reg_mask"
#define AXPACKET_REG_VALUE_IPV6 "axpacket_reg_value_ipv6"
#define AXPACKET_REG_MASK_IPV6 "axpacket_reg_mask_ipv6"
#define AXPACKET_REG_OFFSET "axpacket_reg_offset"
#define AXPACKET_REG_ENABLE "axpacket_reg_enable"
#define AXPACKET_REG_SPEED "axpacket_reg_speed"
/* Optional with type 19: the QoS mode (0 frames, 1 bytes); absent means 0. */
#define AXPACKET_REG_QOS_MODE "axpacket_reg_qos_mode"
/* In the answer of a refused call: why the core refused it (text). */
#define AXPACKET_REG_REASON "axpacket_reg_reason"

/* setType values of the RPC. */
enum axpacket_reg_set_type {
    AXPACKET_SET_MODULE = 0,
    AXPACKET_SET_PACKET = 1,
    AXPACKET_SET_UNREGISTER = 2,
    AXPACKET_SET_NOTHING = 3,
    AXPACKET_SET_SRC_MAC = 4,
    AXPACKET_SET_DES_MAC = 5,
    AXPACKET_SET_LEN_TYPE = 6,
    AXPACKET_SET_SRC_IP = 7,
    AXPACKET_SET_DES_IP = 8,
    AXPACKET_SET_SRC_IPV6 = 9,
    AXPACKET_SET_DES_IPV6 = 10,
    AXPACKET_SET_PRO_TYPE = 11,
    AXPACKET_SET_ICMPV6_TYPE = 12,
    AXPACKET_SET_SRC_PORT = 13,
    AXPACKET_SET_DES_PORT = 14,
    AXPACKET_SET_UDF_EQUAL = 15,
    AXPACKET_SET_UDF_NOT_EQUAL = 16,
    AXPACKET_SET_NEW_SA = 17,
    AXPACKET_SET_ENABLE = 18,
    AXPACKET_SET_QOS = 19,
};

PC_API int axpacketRegManage(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPacketRpcReg(void);

/* ---- Receive and distribution ------------------------------------------- */

/* Netlink protocol with the kernel side. */
#define AXPACKET_NETLINK_PROTO 22
#define AXPACKET_NL_REGISTER 1
#define AXPACKET_NL_MAC 2
#define AXPACKET_NL_TO_KERNEL 3
#define AXPACKET_NL_FROM_KERNEL 4
#define AXPACKET_NL_HDR_LEN 16
#define AXPACKET_NL_FRAME_MAX 2046
/* Hosts without the kernel module: the kernel side listens on this abstract
 * AF_UNIX sequenced-packet address and the service connects to it; the
 * messages, both ways, are the same netlink messages. */
#define AXPACKET_NL_HOST_KERNEL_NAME "axpacket_nl"

/* axpkt_stat words. */
#define AXPKT_STAT_RX 0
#define AXPKT_STAT_TX 2
#define AXPKT_STAT_TO_KERNEL 4
#define AXPKT_STAT_FROM_KERNEL 6
#define AXPKT_STAT_QUEUE 8 /* 8 queues of two words */
#define AXPKT_STAT_QUEUE_NUM 8
#define AXPKT_STAT_RATE_ENABLE 24
#define AXPKT_STAT_RATE 25 /* received, sent, to kernel, from kernel */
#define AXPKT_STAT_WORDS 29

PC_API extern uint32_t axpkt_stat[AXPKT_STAT_WORDS];
PC_API extern uint32_t axpkt_reason_enable;
PC_API extern uint32_t gAxPacketDbgChannelGruopEnable;
PC_API extern uint32_t gAxPacketDbgMstpEnable;
PC_API extern uint32_t gL3ToMaster;

/* A 64-bit counter of axpkt_stat (high word first). */
PC_API uint64_t axpacketStatGet(uint32_t word);

PC_API int axPacketInit(void);
PC_API void axPacketDeinit(void);
/* Driver callback: 2 when the service released the buffer, else 1. */
PC_API int axpacket_receive(uint32_t unit, drv_nic_pkt_t *pkt, void *cookie);
PC_API int axpacketDistribute(drv_nic_pkt_t *pkt);
PC_API void axpacketRcvReason(const drv_nic_pkt_t *pkt);
PC_API void *axpacketWorkThread(void *mid);
PC_API void *axpacketReceive(void *arg);
PC_API int axPacketSendToKernel(const uint8_t *frame, uint32_t length);
PC_API void axpacketRcvStat(uint32_t queue);
PC_API void axpacketSendStat(void);
PC_API void kernelRcvStat(void);
PC_API void kernelSendStat(void);

/* ---- Transmission and the NIC adapter ----------------------------------- */

PC_API extern UP gCpuMirrorPort;
PC_API extern uint8_t gCpuMirrorRx;
PC_API extern uint8_t gCpuMirrorTx;
PC_API extern uint32_t gAxPacketDbgPortIsoEnable;

PC_API int axPacketSend(AX_PACKET_T *ax_pkt);
PC_API int axpacketPacketMsgHandle(AXMSG_T *regMsg);
PC_API int adAxpacketSend(AX_PACKET_T *ax_pkt);
PC_API int adAxPacketInit(void);
PC_API int adAxPacketDeInit(void);
PC_API void adAxpacketFreeBuf(drv_nic_pkt_t *pkt);
PC_API int adAxpacketCpuMirrorPortSet(UP port, uint8_t rx, uint8_t tx);
PC_API int adAxpacketCpuMirrorRx(uint32_t unit, const drv_nic_pkt_t *pkt);
PC_API int adAxpacketPrintCpuStats(void);

/* The driver's buffer pool (buddy system over the DMA region). */
#define AXNIC_POOL_UNIT 128u
#define AXNIC_POOL_UNITS 8192u
PC_API int axnic_pkt_alloc(uint32_t unit, int32_t size, uint32_t flags, drv_nic_pkt_t **ppPacket);
PC_API int axnic_pkt_free(uint32_t unit, drv_nic_pkt_t *pPacket);
/* Units of 128 bytes that a request of `size` bytes takes; 0 when it does
 * not fit the pool. */
PC_API uint32_t axnic_pool_units_for(uint32_t size);
/* Largest free block of the pool, in units. */
PC_API uint32_t axnic_pool_free_units(void);

/* The unit transport's receiver. */
PC_API int axpacketReceiveRegisterForUtp(AXPACKET_RX_CB rxCallback, AXPACKET_ENABLE_CB enableCallback,
                                         uint16_t etherType, uint32_t queueLen);
PC_API int axpacketReceiveUnRegisterForUtp(void);
PC_API int axpacketSendForUtp(AX_PACKET_T *ax_pkt);
PC_API int adAxpacketSendToCpuForUtp(AX_PACKET_T *ax_pkt);
PC_API int adAxpacketSendToMaster(AX_PACKET_T *ax_pkt);

/* ---- Rate statistics, software QoS and listings ------------------------- */

PC_API int axpacketRateEnable(int enable);
PC_API int axpacketRateTimer(void);
PC_API int axpacketHandleQoS(uint32_t modId, uint32_t length);
PC_API void axPacketHandleSoftQoSTimer(uintptr_t arg);

/* Listings: each line goes to `out` (printf-like); the CLI passes its own. */
typedef int (*AXPACKET_PRINT_FN)(void *ctx, const char *fmt, ...);
PC_API int axpacketShowRegisterTo(AXPACKET_PRINT_FN out, void *ctx);
PC_API int cli_axpacketInfoShow(AXPACKET_PRINT_FN out, void *ctx);
PC_API void testAxpacketShowEnableReg(void);

/* ---- TCP/UDP flood defence ---------------------------------------------- */

#define FLOOD_DEFEND_RANGE_MAX 64
#define FLOOD_DEFEND_RANGE_FULL 5801

PC_API int axPacketTcpUdpFloodDefendInit(void);
/* 1 drop, 0 pass; `frame` is an untagged Ethernet frame of `len` bytes. */
PC_API int axPacketTcpUdpFloodDefend(const uint8_t *frame, uint32_t len);
PC_API int tcpUdpFloodDefendDportAdd(uint16_t start, uint16_t end);
PC_API int tcpUdpFloodDefendDportDel(uint16_t start, uint16_t end);
PC_API int tcpUdpFloodDefendDportDelAll(void);
PC_API int tcpUdpFloodDefendDportDelByIndex(uint32_t count, const uint32_t *indexes);
PC_API int srcCountGet(void);
PC_API void tcpUdpFloodTokenTimer(uintptr_t arg);
/* The management command's halves without the management interface: the
 * listing, the range command (op 1 adds, else deletes; `dport` is
 * "start-end"; input refusals are printed, -1; a full table answers
 * FLOOD_DEFEND_RANGE_FULL unprinted) and the running-configuration
 * lines, one call of `out` per line. */
PC_API int tcpUdpFloodDefendShowTo(AXPACKET_PRINT_FN out, void *ctx);
PC_API int tcpUdpFloodDefendDportCommand(int op, const char *dport, AXPACKET_PRINT_FN out, void *ctx);
PC_API int tcpUdpFloodDefendConfigLines(AXPACKET_PRINT_FN out, void *ctx);
/* Ranges in order: fills up to `max` pairs, answers the count. */
PC_API int tcpUdpFloodDefendDportList(uint16_t *starts, uint16_t *ends, int max);

/* ---- Management commands and web handlers -------------------------------- */

/* The packet service's management functions (management interface of the
 * core process, registered by platformInit once everything runs): the
 * registry and statistics listings, the receive-reason print switch
 * (argument "enable"), the flood defence's listing and range command
 * (arguments "op", 1 adds, and "dport", "start-end") and its section of
 * the running configuration, "Flood CPU-Defend". */
struct AXIMI_CTX_S;
struct AXCFG_OUT_ENV_S;
PC_API int axpacketRegisterCli(void);
PC_API int cliAxpacketShowRegister(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
PC_API int cliAxpacketShowStat(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
PC_API int cliAxpacketReasonEnable(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
PC_API int tcpUdpFloodDefendRegisterCli(void);
PC_API int cliTcpUdpFloodDefendShow(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
PC_API int cliTcpUdpFloodDefendDport(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
/* The flood defence's web page "imi_http_FloodEntryPage" (request variable
 * "submit": "AddNew" with "startDport", "endDport"; "Delete" with "delNum"
 * and "n1".."n<delNum>"; "DeleteAll"), registered by httpAxpacketRegister. */
PC_API int httpAxpacketRegister(void);
PC_API int imi_http_FloodEntryPage(struct AXIMI_CTX_S *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *outArgs);
PC_API int ucFloodDefend_config_get(int type, uint32_t *arg, struct AXCFG_OUT_ENV_S *outEnv,
                                    int (*output)(struct AXCFG_OUT_ENV_S *outEnv, const char *text));

PC_END_DECLS

#endif
