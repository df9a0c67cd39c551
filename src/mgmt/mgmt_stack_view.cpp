#include "mgmt/mgmt_stack_view.h"

#include "platform_core/up.h"

// The stack state service's answers, when the library has it.
extern "C" int stkCurrentIsMaster(void) __attribute__((weak));
extern "C" int stkGetCurrentUnit(void) __attribute__((weak));
extern "C" int stkGetMasterUnit(void) __attribute__((weak));

namespace pc::mgmt {

namespace {

uint32_t legal_or_first(int unit) {
    return INNER_UP_UNIT_IS_LEGAL(unit) ? static_cast<uint32_t>(unit) : static_cast<uint32_t>(UNIT_1);
}

}  // namespace

uint32_t current_unit() { return legal_or_first(stkGetCurrentUnit ? stkGetCurrentUnit() : UNIT_1); }

uint32_t master_unit() { return legal_or_first(stkGetMasterUnit ? stkGetMasterUnit() : UNIT_1); }

bool current_is_master() { return stkCurrentIsMaster ? stkCurrentIsMaster() != 0 : true; }

unit_list other_attached_units() {
    unit_list units = 0;
    uint32_t count = 0;
    if (inner_up_unit_attach_list_get(&units, &count) != 0) return 0;
    return units & ~(1u << current_unit());
}

}  // namespace pc::mgmt
