// The stack units as the messaging layer sees them.
//
// This build is a stand-alone switch: it has one legal unit, unit 1, which
// is the current unit and is present (never merely provisioned). Messages
// for any other unit have no transport to leave by.
#pragma once

#include <cstdint>

namespace pc::ipc {

inline constexpr uint32_t kFirstUnit = 1;
inline constexpr uint32_t kLastUnit = 1;

// The unit this process runs on.
uint32_t current_unit();
// True for a legal unit that is present (valid and not merely provisioned).
bool unit_usable(uint32_t unit);
// Bit of `unit` in a unit bit set; 0 for a unit that has no bit.
uint32_t unit_bit(uint32_t unit);

}  // namespace pc::ipc
