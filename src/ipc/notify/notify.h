// Event notification: a process raises an event of a type; every callback
// subscribed to that type, in any process, is called with the event's bytes.
//
// What it does. Subscriptions are kept per type in priority order
// (notify_table.h): each process keeps its own callbacks, and the core
// keeps, besides its own, one node per other process that subscribed (the
// process tells the core with a MID_NOTIFY message). The core walks the
// type's list for every event: its own callbacks it calls, every other
// subscribed process it calls through RPC ("_notify_call_srv"), which runs
// that process's callbacks. A process other than the core hands its events
// to the core through RPC ("_noitfy_table_cb_trv_srv"); an event for
// another unit goes to that unit's core ("notify_call_remote"). An
// asynchronous subscriber gets its events through a queue and a worker of
// its own module (notify_asyn.h), so a slow callback holds only its module.
//
// Threads:
//   "notify_asyn_<pid>_<mid>"  one worker per module with an asynchronous
//                              subscription: runs that module's callbacks
//   RPC workers                run the traversal and the callbacks of
//                              events that came from another process
//   the delivering thread      records another process's subscription
//                              (MID_NOTIFY handler, in the core)
// A raiser in the core runs the synchronous callbacks on its own thread.
//
// Locks:
//   "notify_mutex"             insertions into the subscription lists;
//                              traversals take no lock (nodes are never
//                              freed, links are published with release)
//   "notify_asyn_sem"          the table of asynchronous modules
//
// No other component of the library uses what this folder holds inside:
// they call the C API (platform_core/notify.h). Notification sits above
// RPC (its C API) and the hub (hub.h: the units).
#pragma once

#include "platform_core/types.h"

namespace pc::ipc::notify {

// Module the service logs under and whose messages it handles.
inline constexpr unsigned kMid = MID_NOTIFY;
// Accounted-allocator tag of every block the service allocates.
inline constexpr const char *kTag = "notify";

}  // namespace pc::ipc::notify
