// The messaging module's own handler (MID_AXMSG): debug commands sent by a
// test tool or the CLI. Payload byte 0 is the command, byte 1 its argument.
// Counters are atomics: the handler runs on every reader thread at once.
#pragma once

#include <cstdint>

#include "platform_core/axmsg.h"

namespace pc::ipc {

// A bounce stops when its hop count (payload byte 1) reaches this.
inline constexpr uint8_t kBounceHopLimit = 255;

int debug_handler(AXMSG_T *msg);

}  // namespace pc::ipc
