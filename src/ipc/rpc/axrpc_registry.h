// The registry of this process's RPC functions.
//
// A table of kBuckets chains keyed by function name (h = h * 33 ^ byte, the
// bytes taken as signed 8-bit values), guarded by the PAL mutex
// "AXRPC_FUNC_TABLE_LOCK", which is held for one table operation only.
// Nodes ({name, function}) come from the accounted allocator (tag "axRpc").
// A name registered twice is refused: the first registration stays.
#pragma once

#include <cstdint>

#include "platform_core/axrpc.h"

namespace pc::ipc::rpc {

inline constexpr unsigned kRegistryBuckets = 32;

uint32_t function_name_hash(const char *name);

// Creates the table and its lock; 0, or -1 ("Create lock error").
int registry_init();
// Frees every node and the lock; harmless when not initialised.
void registry_destroy();

}  // namespace pc::ipc::rpc
