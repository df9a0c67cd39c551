// CPU traffic control: which frames reach the CPU, at which CPU queue
// priority and at what rate (platform_core/pktctl.h describes the C API).
//
// What it does. Each named entry becomes one ACL rule of the switch chip,
// programmed through the chip adapter (adPktCtl*). The core process keeps
// the table of named entries (pktctl_table.h, pktctl_entry.cpp); in any
// other process the operations reach that table through RPC
// (pktctl_rpc.cpp). Start-up (pktctl_init.cpp) registers the RPC functions,
// sets the CPU port and programs the reserved, route and stacking entries;
// axPktCtlEntryReload programs every entry again after a change of stack
// master (the stack state as this folder sees it: pktctl_stack.h).
//
// Threads: none of its own. Operations run on their caller's thread, in the
// core also on the RPC workers that serve other processes' calls.
//
// Locks:
//   "pktCtl"      the table of entries (a recursive PAL mutex): held from a
//                 name's look-up to the append, programming included
// The chip adapter takes no lock of its own: the chip SDK serialises access
// to the chip.
//
// Other components of the library call the C API; the table of entries is
// public (axPktCtlEntry, axPktCtlEntryCount), and this header gives its
// lock to a reader such as the packet service's CPU-traffic page. Traffic
// control sits above RPC (its C API and rpc.h) and the chip adapter.
#pragma once

#include "platform_core/pal.h"
#include "platform_core/types.h"

namespace pc::pktctl {

// Module the service logs under.
constexpr unsigned kMid = MID_PKTCTL;

// The mutex "pktCtl" that guards the table of entries; hold it to read
// axPktCtlEntry. Null before axPktCtlInit (or table_lock_create).
pal_mutex_t table_lock();

}  // namespace pc::pktctl
