// Units of the stand-alone build (see hub.h).
#include "ipc/hub/hub.h"

namespace pc::ipc {

uint32_t current_unit() { return kFirstUnit; }

bool unit_usable(uint32_t unit) { return unit >= kFirstUnit && unit <= kLastUnit; }

uint32_t unit_bit(uint32_t unit) { return unit < 32 ? (uint32_t{1} << unit) : 0; }

}  // namespace pc::ipc
