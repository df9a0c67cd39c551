// Constants shared by the RPC service's components.
#pragma once

#include "platform_core/types.h"

namespace pc::ipc::rpc {

// Accounted-allocator tag of every block the RPC service allocates.
inline constexpr const char *kTag = "axRpc";
// Module the RPC service logs under and whose messages it handles.
inline constexpr unsigned kMid = MID_AXRPC;

}  // namespace pc::ipc::rpc
