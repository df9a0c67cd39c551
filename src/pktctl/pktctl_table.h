// Inside CPU traffic control: the table of named entries and the step that
// programs an entry's ACL rule from its record.
//
// The table (axPktCtlEntry, axPktCtlEntryCount) lives in the core process
// and is guarded by the recursive mutex "pktCtl" (table_lock). An operation
// holds it from the name look-up to the append, programming included, so
// that two callers of one new name cannot both add it.
#pragma once

#include <cstdint>

#include "pktctl/pktctl.h"
#include "platform_core/pal.h"
#include "platform_core/pktctl.h"

namespace pc::pktctl {

// The mutex "pktCtl" (table_lock, pktctl.h) is created by axPktCtlInit.
int table_lock_create();

// Programs the rule at e.pos from the record (match, CPU priority, meter,
// action, enable); a failing step disables the rule. Logged with the
// family's call text; returns the failing status.
int program_rule(const PKT_CTL_ENTRY_T &e);

// Every entry of type L2 to L3v6 is programmed again; the caller holds the lock.
int reprogram_all();

// True in the core process, which holds the table; elsewhere the
// operations with an RPC call it.
bool in_core();

// The operations on the core's table (the exported calls reach them
// directly in the core, through their RPC elsewhere).
int ieee_local(const char *name, const uint8_t *dstMac, uint32_t speed, const up_list *portList,
               uint32_t isEnable);
int l2_local(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed, uint32_t action,
             uint32_t isEnable);
int l2uc_local(const char *name, uint16_t etherType, uint32_t speed, uint32_t isEnable);
int l3_local(uint32_t type, const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
             uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action, uint32_t isEnable);
int speed_set_local(const char *name, uint32_t speed);
int speed_get_local(const char *name, uint32_t *speed);
// The RPC calls of the two core-only settings, from another process.
int cpu_mac_set_remote(uint32_t vid, uint32_t isEnable);
int cpu_port_speed_set_remote(uint32_t speed);

}  // namespace pc::pktctl
