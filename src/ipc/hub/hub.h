// The message hub: every process of the switch talks to every other through
// it, and the core process (pid 1) serves it.
//
// What it does. axmsg_init (axmsg_server.cpp) opens 127.0.0.1:3600 in the
// core; each other process connects through the messaging client, says
// hello (its pid and unit) and from then on sends and receives AXMSG_T
// messages, header and payload, over its one stream socket
// (axmsg_stream.h). The hub routes each message it reads: to a module
// handler of the core (axmsg_handlers.h), to the connection of another
// process (axmsg_connection.h), or to another stack unit through the unit
// transport (axmsg_unit_utp.cpp). axmsg_send in a process that is not the
// hub writes through the transport that the client installed
// (axmsg_transport.cpp).
//
// Threads (all in the core):
//   "axmsg"                    accepts connections and collects their hellos
//                              in one poll (axmsg_hello.h); retires a dead
//                              connection that a new hello takes over
//   "axmsg serv <pid>"         one reader per connected process: reads and
//                              routes that process's messages, runs the
//                              module handlers, retires the connection
//   "axmsg_utp_rx_<unit>"      routes the messages that came from that unit
//   "axmsg_utp_tx_<unit>"      sends the copies of multicasts to that unit
// Writers are whatever threads send; they never block in the kernel for
// longer than kWriteStallMs.
//
// Locks:
//   "axmsg serv <pid>"         per connection record (PAL mutex, never
//                              destroyed): its socket and state; a writer
//                              holds it for a whole message
//   Connection::retire_lock    one retiring of a record at a time; the
//                              process-gone hooks run under it
//   "axmsg_multicast_mutex"    one multicast dispatch at a time, with the
//                              semaphore "axmsg_multicast_sem" counting its
//                              sent copies
//   the hook table's lock      adding a process-gone hook
// The handler table and the transport hook are atomics, without a lock.
//
// This header is what the other components of the library (RPC, event
// notification) use of the hub: the units as the hub sees them and the
// hooks it calls when a process goes. Everything else in this folder is the
// hub's own, except the stream I/O of the protocol (axmsg_stream.h), which
// the messaging client library compiles too: it is the hub's other end.
#pragma once

#include <cstdint>

namespace pc::ipc {

// The stack units as the messaging layer sees them. This build is a
// stand-alone switch: it has one legal unit, unit 1, which is the current
// unit and is present (never merely provisioned). Messages for any other
// unit have no transport to leave by.
inline constexpr uint32_t kFirstUnit = 1;
inline constexpr uint32_t kLastUnit = 1;

// The unit this process runs on.
uint32_t current_unit();
// True for a legal unit that is present (valid and not merely provisioned).
bool unit_usable(uint32_t unit);
// Bit of `unit` in a unit bit set; 0 for a unit that has no bit.
uint32_t unit_bit(uint32_t unit);

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
using ProcessGoneHook = void (*)(uint32_t pid);

// At most this many hooks, registered at start-up.
inline constexpr int kMaxProcessGoneHooks = 16;

// Adds `hook` (adding one twice keeps one). 0, or -1 when the table is full
// or `hook` is null.
int add_process_gone_hook(ProcessGoneHook hook);

// Calls every hook with `pid`, in the order they were added.
void run_process_gone_hooks(uint32_t pid);

}  // namespace pc::ipc
