// Process-local tables derived from the platform's device table: the port
// definition words of every device type and the stack compatibility maps.
// Built once by build_propt_defs() during the core process's start-up and
// only read afterwards.
#pragma once

#include <cstdint>

#include "platform_core/up_propt.h"

namespace pc::up {

inline constexpr uint32_t kStkFamilyMaps = 3;

int build_propt_defs();
// The 65 definition words of device type `type` (zeros before the build).
const uint32_t *unit_propt_defs(uint32_t type);
// Compatibility map of a stacking family (0 for unknown families).
uint32_t stk_compatible_map(uint32_t family);

// The unit the core process runs as (a stand-alone unit in this build), and
// the stored stack-port setting of a port, which is off in this build.
uint32_t local_unit_id();
int stack_port_setting_get(uint32_t base_offset, int *enable);

}  // namespace pc::up
