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
 * Every frame that leaves a front-panel port is kept in a capture list for
 * tests and written to the port's bound Linux interface when it has one.
 * Frames for the CPU go through the NIC's receive queue to the callback
 * registered with nic_rx_thread_cb_register, on the thread "sim_nic_rx".
 *
 * At start (and after simChipReset) every front-panel port of the device
 * table has its link up and PVID 1, VLAN 1 holds them all untagged, and no
 * trunk, address or lookup entry exists.
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

/* Back to the start state (ports, VLANs, trunks, addresses, lookups,
 * capture, counters); the NIC keeps its driver set-up. */
PC_API void simChipReset(void);
PC_API int simChipCpuPort(void);
/* Chip port of the front-panel port `up`, -1 when it has none. */
PC_API int simChipPortOf(UP up);

PC_API void simChipLinkSet(int port, int up);
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
/* Frames the kernel side received (type 3), and the last one (0 or -1). */
PC_API uint32_t simKernelPacketRxCount(void);
PC_API int simKernelPacketLast(uint8_t *buf, uint32_t cap, uint32_t *len);
/* The registered process and the MAC of type 1 and 2; 0 before. */
PC_API uint32_t simKernelPacketRegisteredPid(void);
PC_API int simKernelPacketMac(uint8_t *mac);
/* The kernel wants `frame` sent (a type-4 message); 0 or -1. */
PC_API int simKernelPacketSend(const uint8_t *frame, uint32_t len);

PC_END_DECLS

#endif
