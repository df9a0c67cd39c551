// What the core keeps for another process ends with that process.
//
// Services of the core that hold state on behalf of other processes
// (packet registrations, configuration printers, notification subscriptions,
// stack unit callbacks) subscribe here once, at their start. When the hub
// sees a process's connection end (the process exited, was killed, or its
// socket was shut down), the connection's reader thread calls every
// subscriber with the process id before the hub accepts a new connection
// for that id: a restarted process therefore always registers into a clean
// table.
//
// Subscribers run on the reader thread with no hub lock held; they take
// their own locks, must not send to the departed process, and must be quick.
#pragma once

#include <cstdint>

namespace pc::ipc {

using ProcessGoneFn = void (*)(uint32_t pid);

// Adds `fn` (once: a second subscription of the same function is ignored).
// 0, or -1 when the table of subscribers is full.
int process_gone_subscribe(ProcessGoneFn fn);

// Runs every subscriber for `pid`, in the order they subscribed.
void process_gone_notify(uint32_t pid);

}  // namespace pc::ipc
