// The stack state as CPU traffic control sees it (pktctl_stack.h).
#include "pktctl/pktctl_stack.h"

#include "platform_core/stack.h"

namespace pc::pktctl {

uint32_t current_unit() { return stkGetCurrentUnit(); }

uint32_t master_unit() { return stkGetMasterUnit(); }

bool current_is_master() { return stkCurrentIsMaster() != 0; }

int unit_mac(uint32_t unit, uint8_t mac[6]) { return stkGetMac(unit, mac); }

}  // namespace pc::pktctl
