// Routing inside the hub and local delivery.
#pragma once

#include "platform_core/axmsg.h"

namespace pc::ipc {

// Delivers a send descriptor to this process's handler: the payload pieces
// are copied into one block for the handler's call. 0, or -1 when the type
// has no handler or the copy fails.
int deliver_local_copy(const AXMSG_T *msg);

}  // namespace pc::ipc
