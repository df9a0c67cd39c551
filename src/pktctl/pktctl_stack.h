// What CPU traffic control asks the stack state: this unit, the master,
// whether this unit is master, and a unit's MAC. The stack state service
// answers when it is linked into the library; without it the library runs
// as the stand-alone master, unit 1, with the switch's MAC.
#pragma once

#include <cstdint>

namespace pc::pktctl {

uint32_t current_unit();
uint32_t master_unit();
bool current_is_master();
// 0 and the unit's MAC, or the failing status.
int unit_mac(uint32_t unit, uint8_t mac[6]);

}  // namespace pc::pktctl
