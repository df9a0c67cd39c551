// Hooks the hub calls when a connected process goes away.
//
// A subsystem of the core that keeps state on behalf of other processes
// (waits for their replies, their registrations) registers a hook once at
// start-up. The hub calls every hook with the process id when that
// process's connection ends: its reader met the end of the stream, or a new
// hello for the same id found the old connection dead and took its place.
//
// When a hook runs, sends to the process's old connection already fail; a
// new connection of the same id is attached only after every hook has
// returned, so a hook never drops what the process's next incarnation sets
// up. Hooks run on a hub thread (a connection's reader or the accept
// thread): they must be quick and must never wait on another process.
#pragma once

#include <cstdint>

namespace pc::ipc {

using ProcessGoneHook = void (*)(uint32_t pid);

// At most this many hooks, registered at start-up.
inline constexpr int kMaxProcessGoneHooks = 16;

// Adds `hook` (adding one twice keeps one). 0, or -1 when the table is full
// or `hook` is null.
int add_process_gone_hook(ProcessGoneHook hook);

// Calls every hook with `pid`, in the order they were added.
void run_process_gone_hooks(uint32_t pid);

}  // namespace pc::ipc
