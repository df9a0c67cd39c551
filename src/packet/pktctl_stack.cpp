// The stack state as CPU traffic control sees it (pktctl_stack.h). The
// stack state functions are referenced weakly, so that this service also
// builds where the stacking service is not part of the library.
#include "packet/pktctl_stack.h"

#include "platform_core/sibling.h"
#include "platform_core/up.h"

extern "C" {
int stkGetCurrentUnit(void) __attribute__((weak));
int stkGetMasterUnit(void) __attribute__((weak));
int stkCurrentIsMaster(void) __attribute__((weak));
int stkGetMac(int unit, void *mac) __attribute__((weak));
}

namespace pc::pktctl {

uint32_t current_unit() { return stkGetCurrentUnit ? static_cast<uint32_t>(stkGetCurrentUnit()) : UNIT_1; }

uint32_t master_unit() { return stkGetMasterUnit ? static_cast<uint32_t>(stkGetMasterUnit()) : UNIT_1; }

bool current_is_master() { return stkCurrentIsMaster ? stkCurrentIsMaster() != 0 : true; }

int unit_mac(uint32_t unit, uint8_t mac[6]) {
    if (stkGetMac) return stkGetMac(static_cast<int>(unit), mac);
    return getMacAddress(mac);
}

}  // namespace pc::pktctl
