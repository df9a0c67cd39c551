/*
 * Controls of the simulated switch chip, its NIC, the network lookups of the
 * sibling libraries and the kernel side of the packet netlink protocol.
 *
 * The chip is a small learning switch on chip unit 0 with 64 chip ports.
 * A frame entering a port (simChipInject, or a Linux interface bound with
 * simPortLinkBind) is dropped when the port's link is down or the port is
 * not a member of its VLAN (the tag's VLAN, else the port's PVID); its
 * source address is learned per VLAN; a frame to the switch's MAC is
 * trapped to the CPU; a broadcast or multicast frame is flooded to the
 * VLAN's members and copied to the CPU; an unknown unicast frame is flooded;
 * a known one goes to its port. Flooding sends one member of each trunk and
 * nothing back to the receiving port or its trunk; every port tags or
 * untags per the VLAN's untagged mask. Frames the CPU sends go out directly
 * to a port mask or through the same forwarding.
 *
 * The chip is one per switch: its tables (ports and their links, VLANs,
 * trunks, learned addresses, lookups, the ACL table) live in a System V
 * shared segment that every process of the switch (of one IPC namespace)
 * attaches, so what one process programs or reads is the switch's. The
 * forwarding of a frame runs in the process that hands it to the chip (the
 * core for frames from bound interfaces and the CPU), as do the NIC and the
 * capture below.
 *
 * Every frame that leaves a front-panel port is kept in a capture ring for
 * tests (at most 4096 frames and 512 KiB, the oldest go first; off with
 * simChipTxCapture(0), as in a long-running core) and written to the
 * port's bound Linux interface when it has one;
 * a frame shorter than 60 bytes (one untagged on the way out) is padded
 * to 60 first, as a port's MAC does. A tag keeps its priority and CFI/DEI
 * bits. Frames for the CPU go through the NIC's receive queue to the
 * callback registered with nic_rx_thread_cb_register, on the thread
 * "sim_nic_rx", with their 4-byte frame check sequence behind them: the
 * receive length counts it, as the switch's driver does (and as the send
 * length rules expect when a module echoes a frame).
 *
 * The ACL table (sim_acl.cpp) is looked up for every frame entering a
 * front-panel port before forwarding; the first valid rule whose fields all
 * match wins (a rule aggregated with the next entry matches both entries'
 * fields). Its action: drop; trap (to the CPU only, reason SIM_TRAP_ACL);
 * copy (forwarded as usual and copied to the CPU with reason SIM_TRAP_ACL,
 * instead of any other CPU copy); the CPU queue is the rule's priority, or
 * 0. A rule with a meter takes one frame per match from a bucket that fills
 * at the meter's rate (frames per second) up to its burst (frames); a frame
 * out of profile is dropped when the rule traps, and is forwarded without
 * any CPU copy otherwise. With learning from reserved-MAC group 1 off, no
 * address is learned from frames to 01:80:C2:00:00:xx.
 *
 * The classifier (also sim_acl.cpp): positions 0..SIM_ACL_FRONT_POSITIONS-1
 * are double rules on physical entries 2p and 2p+1, handed out lowest first
 * by simAclPosFront (the appintf slot for positions from the front);
 * positions SIM_ACL_BACK_FIRST.. are single rules on the entries after them,
 * handed out highest first (slot for positions from the back, and
 * adPktCtlEntryGetAppBackward). Template block 3, selector 0, holds the
 * port mask, MACs, EtherType, IP protocol and L4 ports; selector 1 the
 * port mask, EtherType, IPv4 addresses, IP protocol and L4 ports. Every
 * position has its own meter, indexed by its first physical entry.
 * Positions, entries and meters survive simChipReset; simAclReset clears
 * them.
 *
 * At start (and after simChipReset) every front-panel port of the device
 * table has its link up (a bound port then follows its carrier) and PVID 1, VLAN 1 holds them all untagged,
 * and no trunk, address or lookup entry exists.
 */
#ifndef PLATFORM_SIM_SIM_CHIP_H
#define PLATFORM_SIM_SIM_CHIP_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* Trap reasons and CPU queues the chip reports. */
#define SIM_TRAP_SWITCH_MAC 1 /* addressed to the switch */
#define SIM_TRAP_BCAST 2      /* broadcast or multicast copy */
#define SIM_QUEUE_SWITCH_MAC 5
#define SIM_QUEUE_BCAST 2
#define SIM_TRAP_ACL 3 /* by an ACL rule's trap or copy */

#define SIM_ACL_FRONT_POSITIONS 256
#define SIM_ACL_BACK_FIRST 1024
#define SIM_ACL_BACK_POSITIONS 256
#define SIM_ACL_ENTRY_NUM (2 * SIM_ACL_FRONT_POSITIONS + SIM_ACL_BACK_POSITIONS)
/* What qosGetCpuRateLimit answers. */
#define SIM_CPU_RATE_LIMIT 1000

/* Back to the start state (ports, VLANs, trunks, addresses, lookups,
 * capture, counters); the NIC keeps its driver set-up. */
PC_API void simChipReset(void);
PC_API int simChipCpuPort(void);
/* Chip port of the front-panel port `up`, -1 when it has none. */
PC_API int simChipPortOf(UP up);

/* The link of a port: the same in every process of the switch. A port
 * bound to a Linux interface (simPortLinkBind) follows its carrier. */
PC_API void simChipLinkSet(int port, int up);
/* `watch` is called with the chip port and its new link (1 up, 0 down)
 * after every change this process makes: simChipLinkSet, or the carrier of
 * a port it bound. One watcher per process; null removes it. */
typedef void (*sim_link_watch_f)(int port, int up, void *ctx);
PC_API void simChipLinkWatch(sim_link_watch_f watch, void *ctx);
PC_API void simChipPvidSet(int port, uint16_t pvid);
PC_API void simChipVlanSet(uint16_t vid, sdk_portmask_t member, sdk_portmask_t untag);
PC_API void simChipTrunkSet(uint32_t trunk, sdk_portmask_t members);
PC_API void simChipSwitchMacSet(const uint8_t *mac);
PC_API void simChipSwitchMacGet(uint8_t *mac);
/* Makes a CPU copy of every frame flagged as a new source address. */
PC_API void simChipNewSaTrapSet(int on);

/* A frame enters chip port `port`. */
PC_API int simChipInject(int port, const uint8_t *frame, uint32_t len);
/* Waits until every frame handed to the NIC has been through the receive
 * callback; 0, or -1 after `timeoutMs`. */
PC_API int simChipWaitIdle(unsigned timeoutMs);

/* Capture of frames that left front-panel ports, oldest first. */
PC_API int simChipTxCount(void);
/* Takes the oldest; 0 with its port and bytes (at most `cap`), -1 if none. */
PC_API int simChipTxPop(int *port, uint8_t *buf, uint32_t cap, uint32_t *len);
PC_API void simChipTxClear(void);
/* Capture on (1, at start) or off (0, emptied). */
PC_API void simChipTxCapture(int on);
/* Frames the NIC handed to the receive callback, and dropped because no
 * buffer was free or the queue was full. */
PC_API uint32_t simNicRxDelivered(void);
PC_API uint32_t simNicRxDropped(void);

/* Sibling lookups. */
PC_API void simMacVlanSet(const uint8_t *mac, uint16_t vid); /* vid 0 removes */
PC_API void simChannelGroupSet(uint32_t lagId, const up_list *members);
PC_API void simIntfIpSet(uint32_t ip, int present); /* host byte order */

/* Binds chip port `port` to the Linux interface `ifname` (raw socket); 0 or -1. */
PC_API int simPortLinkBind(int port, const char *ifname);
PC_API void simPortLinkUnbindAll(void);

/* The kernel side of the packet netlink protocol. With `tapName` it
 * creates that TAP interface and carries frames between it and the core;
 * with null it only counts. 0 or -1. */
PC_API int simKernelPacketStart(const char *tapName);
PC_API void simKernelPacketStop(void);
/* Creates the TAP interface `name` as the switch's interface of VLAN `vid`
 * (1..4094): frames of that VLAN for the kernel arrive on it untagged, and
 * what the Linux stack sends on it goes out on that VLAN. 0 or -1. */
PC_API int simKernelPacketVlanIf(uint16_t vid, const char *name);
/* Frames the kernel side received (type 3), and the last one (0 or -1). */
PC_API uint32_t simKernelPacketRxCount(void);
PC_API int simKernelPacketLast(uint8_t *buf, uint32_t cap, uint32_t *len);
/* The registered process and the MAC of type 1 and 2; 0 before. */
PC_API uint32_t simKernelPacketRegisteredPid(void);
PC_API int simKernelPacketMac(uint8_t *mac);
/* The kernel wants `frame` sent (a type-4 message); 0 or -1. */
PC_API int simKernelPacketSend(const uint8_t *frame, uint32_t len);

/* ACL table and classifier. */
PC_API int simAclPosFront(int *pos, ...);
PC_API int simAclPosBack(int *pos, uint32_t app, uint32_t b, uint32_t c);
/* Fills the appintf position slots with the two above. */
PC_API void simAppintfAclHooksSet(void);
PC_API void simAclReset(void);
/* The ACL or classifier call after the next `calls` ones answers `error`. */
PC_API void simAclFailAfter(int calls, int error);
typedef struct simAclEntryInfo {
    int bound;
    uint32_t selector;
    int valid;
    uint32_t aggr;
    uint32_t hits; /* frames that matched the rule */
} simAclEntryInfo;
PC_API int simAclEntryGet(uint32_t phyIdx, simAclEntryInfo *info);
/* 0 and the field's bytes when it was written, -1 otherwise. */
PC_API int simAclFieldGet(uint32_t phyIdx, uint32_t field, uint8_t *value, uint8_t *mask);
/* 1 when the meter is enabled, 0 when not, -1 for a bad index. */
PC_API int simAclMeterGet(uint32_t index, uint32_t *rate, uint32_t *burst);
PC_API uint32_t simCpuEgressRateGet(void);
PC_API int simTrapLearningGet(uint32_t rmaGroup, uint32_t mgmtType, int *rmaLearn, int *mgmtLearn);

PC_END_DECLS

#endif
