#include "mgmt/mgmt_stack_view.h"

#include "platform_core/stack.h"
#include "platform_core/up.h"

// The stack state functions are called through the dynamic linker
// (cmake/preemptible.list): a program that plays another role in a stack,
// such as a test acting as a slave, supplies its own.

namespace pc::mgmt {

namespace {

uint32_t legal_or_first(uint32_t unit) { return INNER_UP_UNIT_IS_LEGAL(unit) ? unit : UNIT_1; }

}  // namespace

uint32_t current_unit() { return legal_or_first(stkGetCurrentUnit()); }

uint32_t master_unit() { return legal_or_first(stkGetMasterUnit()); }

bool current_is_master() { return stkCurrentIsMaster() != 0; }

unit_list other_attached_units() {
    unit_list units = 0;
    uint32_t count = 0;
    if (inner_up_unit_attach_list_get(&units, &count) != 0) return 0;
    return units & ~(1u << current_unit());
}

}  // namespace pc::mgmt
