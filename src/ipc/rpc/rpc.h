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
// This header is what the other components of the library use of RPC
// besides its C API (platform_core/axrpc.h): ParamReader, with which the
// functions they serve to other processes read their requests, logging a
// missing or malformed parameter as the serving function's own. It also
// gives the folder's files their common constants.
#pragma once

#include <cstdint>

#include "platform_core/axrpc.h"
#include "platform_core/types.h"

namespace pc::ipc::rpc {

// Accounted-allocator tag of every block the RPC service allocates.
inline constexpr const char *kTag = "axRpc";
// Module the RPC service logs under and whose messages it handles.
inline constexpr unsigned kMid = MID_AXRPC;

// Reading the parameters of a request that another process sent to a
// function served here. Every value comes from outside: a binary value must
// have its exact size, a string must end within its buffer.
//
// The parameters are read in the order they are asked for. The first one
// missing or malformed is logged under the reader's module, as the
// function's own code would log it: a getter's failure as "E - %d call %s
// failed." with the getter's call text, a failed check as "Ensure %s
// failed." with the check's text. It ends the reading: later asks read
// nothing and answer zeros. rc() is 0, or the status of that first failure.
class ParamReader {
public:
    ParamReader(AXRPC_PARA_T *in, unsigned mid) : in_(in), mid_(mid) {}
    ParamReader(const ParamReader &) = delete;
    ParamReader &operator=(const ParamReader &) = delete;

    int rc() const { return rc_; }
    bool ok() const { return rc_ == 0; }

    // Exactly `size` bytes of `key` into `out`. A missing key logs
    // `call_text`, a value of another size "Ensure `size_text` failed.".
    bool bytes(const char *key, void *out, int size, const char *call_text, const char *size_text);
    // A string of `key` that ends within the `cap` bytes of `out`; a missing
    // key logs `call_text`, an unended one "Ensure terminated failed.".
    bool text(const char *key, char *out, int cap, const char *call_text);
    // Numbers; a missing key logs "getter(inPara, \"key\", &key)".
    uint32_t i32(const char *key);
    uint32_t i16(const char *key);
    uint32_t i8(const char *key);

    // The status of a getter called by the caller: logged with `call_text`
    // when it failed. True when it and everything before succeeded.
    bool read(const char *call_text, int rc);
    // A check of what was read: logged and ends the reading when false.
    bool ensure(bool cond, const char *cond_text);

private:
    void read_key(const char *getter, const char *key, int rc);

    AXRPC_PARA_T *in_;
    unsigned mid_;
    int rc_ = 0;
};

}  // namespace pc::ipc::rpc
