// RPC: calls of named functions in another process (or in this one), over
// the message hub, as MID_AXRPC messages.
//
// What it does. A process registers its functions by name
// (axrpc_registry.h) and starts the service (axrpcInit, axrpc_service.cpp).
// A caller encodes a parameter set in its flat form (axrpc_flat.h) inside an
// RPC message (axrpc_msg.h) and sends it to one process on one or more units
// (axrpc_call.cpp). A synchronous caller waits in a slot of the wait queue
// for one reply per unit (axrpc_wait_queue.h); an asynchronous one does not
// wait. The receiving process's messaging handler queues each request to a
// worker (axrpc_workers.h), which validates it, runs the function and
// answers a synchronous call (axrpc_serve.h). Replies are stored straight
// into the caller's slot by the thread that delivered them.
//
// Threads, per process that runs the service:
//   the delivering thread         runs the MID_AXRPC handler: queues
//                                 requests, stores replies (a hub reader
//                                 "axmsg serv <pid>" in the core, the
//                                 client's "axmsg_client" elsewhere)
//   "rpcST<n>"                    synchronous workers, AXRPC_SYNC_THREAD_NUM
//   "rpcAT<n>"                    asynchronous workers, AXRPC_ASYN_THREAD_NUM;
//                                 only the one holding the turn takes work
//   "rpcAsynSchedule"             passes the asynchronous turn on when its
//                                 holder stops using CPU (axrpc_scheduler.h)
// Callers are whatever threads call; each synchronous caller blocks on its
// wait-queue slot.
//
// Locks:
//   "AXRPC_FUNC_TABLE_LOCK"       the function registry, one operation at a
//                                 time
//   "AXRPCWQ_Lock", then a slot's "AXRPCNL<n>", then its "AXRPCCL<n>" with
//                                 the condition "AXRPCCD<n>": the wait queue,
//                                 always in that order (axrpc_wait_queue.h)
//   "rpcACL<n>" with "rpcAC<n>"   an asynchronous worker's turn
//   "rpcAsynScheduleLock" with "rpcAsynScheduleCond": the scheduler's wait
// The service's up/down state and its passes (axrpc_service.h) are atomics.
//
// Other components of the library call the C API (platform_core/axrpc.h);
// the functions they serve to other processes read their requests with
// axrpc_param_reader.h, which logs a missing or malformed parameter as the
// serving function's own. This header gives the folder's files their
// common constants.
#pragma once

#include "platform_core/types.h"

namespace pc::ipc::rpc {

// Accounted-allocator tag of every block the RPC service allocates.
inline constexpr const char *kTag = "axRpc";
// Module the RPC service logs under and whose messages it handles.
inline constexpr unsigned kMid = MID_AXRPC;

}  // namespace pc::ipc::rpc
