/*
 * CPU-bound traffic control: which frames reach the CPU, at which CPU
 * queue priority and at what rate.
 *
 * Feature processes describe that traffic by name (an entry); each entry
 * becomes one ACL rule of the switch chip, programmed through the chip
 * adapter (adPktCtl*). The core process keeps the table of named entries
 * (insertion order, at most PKT_CTL_ENTRY_MAX, never removed) so that a name
 * can be re-programmed, disabled or re-rated later, and re-programs every
 * entry when the stack master changes. In any other process the operations
 * that have an RPC reach the core's table through it.
 *
 * Results: 0, or a negative error / the failing callee's status. The chip
 * adapter answers vendor and classifier errors with PKT_CTL_HW_ERROR after
 * printing "HW error in ..." and keeps the error in errorNo.
 */
#ifndef PLATFORM_CORE_PKTCTL_H
#define PLATFORM_CORE_PKTCTL_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axrpc.h"
#include "platform_core/chip_acl.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define PKT_CTL_NAME_LEN 32
#define PKT_CTL_ENTRY_MAX 128

/* Entry types; their print names come from axPktCtlTypeName. */
enum {
    PKT_CTL_TYPE_STK = 0,
    PKT_CTL_TYPE_L2 = 1,
    PKT_CTL_TYPE_L2UC = 2,
    PKT_CTL_TYPE_IEEE = 3,
    PKT_CTL_TYPE_L3 = 4,
    PKT_CTL_TYPE_L3UC = 5,
    PKT_CTL_TYPE_L3MC = 6,
    PKT_CTL_TYPE_ARPDEFEND = 7,
    PKT_CTL_TYPE_L3V6 = 8,
    PKT_CTL_TYPE_ELSE = 9,
};

#define PKT_CTL_ACTION_FWD 0
#define PKT_CTL_ACTION_TRAP 1
#define PKT_CTL_ACTION_COPY 2

/* One named entry. Owned by the core's table, guarded by the mutex
 * "pktCtl". */
typedef struct PKT_CTL_ENTRY_S {
    char name[PKT_CTL_NAME_LEN];
    uint8_t dstMac[6];
    uint16_t etherType;
    uint16_t ipProtocol;
    uint32_t dstIp; /* host byte order */
    uint32_t srcIp;
    uint32_t l4DstPort;
    uint32_t l4SrcPort;
    uint32_t speed; /* meter rate; 0 = unmetered */
    uint32_t pos;   /* ACL rule position */
    uint32_t isEnable;
    up_list uportList;
    uint32_t l2CacheId;
    uint32_t type;
    uint32_t action;
} PKT_CTL_ENTRY_T;

PC_API extern PKT_CTL_ENTRY_T axPktCtlEntry[PKT_CTL_ENTRY_MAX];
PC_API extern uint32_t axPktCtlEntryCount;
/* Print name of an entry type ("STK" .. "L3v6", "else" past the end). */
PC_API const char *axPktCtlTypeName(uint32_t type);

/* ---- Entries ---------------------------------------------------------------- */

PC_API int axPktCtlInit(void);
PC_API int axPktCtlIEEECtl(const char *name, const uint8_t *dstMac, uint32_t speed, uint32_t isEnable);
PC_API int axPktCtlIEEECtlByPort(const char *name, const uint8_t *dstMac, uint32_t speed, up_list portList,
                                 uint32_t isEnable);
PC_API int axPktCtlL2Ctl(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed,
                         uint32_t action, uint32_t isEnable);
PC_API int axPktCtlL2UcCtl(const char *name, uint16_t etherType, uint32_t speed, uint32_t isEnable);
PC_API int axPktCtlL3Ctl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
                         uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action,
                         uint32_t isEnable);
PC_API int axPktCtlL3UcCtl(const char *name, uint16_t ipProtocol, uint32_t l4DstPort, uint32_t speed,
                           uint32_t isEnable);
PC_API int axPktCtlL3McCtl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t l4DstPort,
                           uint32_t speed, uint32_t isEnable);
PC_API int axPktCtlL3V6Ctl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
                           uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action,
                           uint32_t isEnable);
PC_API int axPktCtlArpDefendCtlByPort(const char *name, up_list portList, uint32_t speed, uint32_t isEnable);
PC_API int axPktCtlStkCtl(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed,
                          uint32_t isEnable);
PC_API int axPktCtlCpuMacSet(uint32_t vid, uint32_t isEnable);
PC_API int axPktCtlCpuPortSpeedSet(uint32_t speed);
PC_API int axPktCtlSpeedSet(const char *name, uint32_t speed);
PC_API int axPktCtlSpeedGet(const char *name, uint32_t *speed);
PC_API int axPktCtlEntryPrint(void);
PC_API int axPktCtlEntryReload(int flag);
PC_API int axPktCtlResvEntryInit(void);
PC_API int axPktCtlAddpInit(void);
PC_API int axPktCtlRouteInit(void);
PC_API int axPktCtlStkEntryInit(void);

/* RPC functions served in the core (registered by axPktCtlInit). */
PC_API int axPktCtlIEEECtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlIEEECtlByPort_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlL2Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlL2UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlL3Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlL3UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlL3McCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlCpuMacSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlCpuPortSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axPktCtlSpeedGet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

/* ---- Chip adapter ------------------------------------------------------------ */

#define PKT_CTL_HW_ERROR 703
#define PKT_CTL_CPU_CHIP_PORT 28

PC_API extern uint32_t errorNo;

PC_API int adPktCtlEntryGet(uint32_t *pos);
PC_API int adPktCtlEntryGetBackward(uint32_t *pos, uint32_t a, uint32_t b, uint32_t c);
PC_API int adPktCtlEntryCreate(uint32_t pos);
PC_API int adPktCtlEntryDestroy(uint32_t pos);
PC_API int adPktCtlEntryEnable(uint32_t pos, int enable);
PC_API int adPktCtlQual(uint32_t pos, uint32_t fieldType, const uint8_t *value, const uint8_t *mask);
PC_API int adPktCtlSetAction(uint32_t pos, const sdk_acl_action_t *action);
PC_API int adPktCtlRuleDstMac(uint32_t pos, const uint8_t *mac, const uint8_t *mask);
PC_API int adPktCtlRuleSrcMac(uint32_t pos, const uint8_t *mac, const uint8_t *mask);
PC_API int adPktCtlRuleEtherType(uint32_t pos, uint16_t value, uint16_t mask);
PC_API int adPktCtlRuleIpProtocol(uint32_t pos, uint8_t value, uint8_t mask);
PC_API int adPktCtlRuleSrcIp(uint32_t pos, uint32_t ip, uint32_t mask);
PC_API int adPktCtlRuleDstIp(uint32_t pos, uint32_t ip, uint32_t mask);
PC_API int adPktCtlRuleL4SrcPort(uint32_t pos, uint16_t port, uint16_t mask);
PC_API int adPktCtlRuleL4DstPort(uint32_t pos, uint16_t port, uint16_t mask);
PC_API int adPktCtlRulePbmp(uint32_t pos, up_list ports);
PC_API int adPktCtlRuleStkLink(uint32_t pos, int flag);
PC_API int adPktCtlActionCopy(uint32_t pos);
PC_API int adPktCtlActionFwd(uint32_t pos);
PC_API int adPktCtlActionTrap(uint32_t pos);
PC_API int adPktCtlActionDrop(uint32_t pos);
PC_API int adPktCtlActionPri(uint32_t pos, uint32_t priority);
PC_API int adPktCtlActionSpeed(uint32_t pos, uint32_t rate, uint32_t burst);
PC_API int adPktCtlSpeedSet(uint32_t pos, uint32_t rate);
/* CPU priority of a rule; dstMac may be null. */
PC_API int adPktCtlActionPriCal(const uint8_t *dstMac, uint32_t ipProtocol, uint32_t etherType,
                                uint32_t l4SrcPort, uint32_t l4DstPort, int arpDefend);
PC_API int adPktCtlIEEEInit(void);
PC_API int adPktCtlIEEEDisableLearn(const uint8_t *mac, uint32_t l2CacheId);
PC_API int adPktCtlIEEEEnableLearn(const uint8_t *mac, uint32_t l2CacheId);
PC_API int adPktCtlIEEEDelete(uint32_t l2CacheId);
PC_API int adPktCtlCpuMacAdd(const uint8_t *mac, uint32_t vid);
PC_API int adPktCtlCpuMacDel(const uint8_t *mac, uint32_t vid);
PC_API int adPktCtlMacUlfMlfBcToImpDis(void);
PC_API int adPktCtlCpuPortSpeedSet(uint32_t rate);

PC_END_DECLS

#endif
