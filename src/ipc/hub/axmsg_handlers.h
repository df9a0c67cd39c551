// The table of module handlers of this process.
//
// 128 entries indexed by module id; entries 1..127 are usable. Entries are
// atomics: registration may replace a handler while reader threads look
// handlers up, and neither side takes a lock.
#pragma once

#include "platform_core/axmsg.h"

namespace pc::ipc {

// Calls the handler of msg->msg_type on this thread and stores its result
// in `result` (when given). False when the type is out of range or has no
// handler.
bool call_handler(AXMSG_T *msg, int *result = nullptr);

}  // namespace pc::ipc
