// What the management services need to know about the stack: the current
// unit, the master unit, whether this unit is the master, and the units
// attached. The stack state service answers when it is present in the
// library; until then this build is a stand-alone unit, which is its own
// master.
#pragma once

#include <cstdint>

#include "platform_core/types.h"

namespace pc::mgmt {

uint32_t current_unit();
uint32_t master_unit();
bool current_is_master();
// Unit bit set of the current unit, as RPC calls take it.
inline uint32_t current_unit_bits() { return 1u << current_unit(); }
// Attached units other than the current one, as a unit bit set.
unit_list other_attached_units();

}  // namespace pc::mgmt
