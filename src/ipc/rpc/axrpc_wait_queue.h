// The wait queue: matches replies to the synchronous callers waiting for them.
//
// AXRPC_WAIT_QUE_NUM slots, indexed by the slot number (`seq`) a caller
// sends in its request and the reply carries back, so a reply finds its slot
// in O(1). A slot is taken by one call (`isUsed`, its `seq` and a fresh call
// `id`); a reply is stored only when the slot is still held by the call of
// the same id, so a reply that comes after its caller gave up (and the slot
// went to a newer call) is recognised and dropped ("Wait queue expire").
//
// Locks, always taken in this order:
//   WaitQueue::lock ("AXRPCWQ_Lock")  slot search and release, nextIndex,
//                                     callId
//   node->nodeLock ("AXRPCNL%d")      the node's fields except waitNum
//   node->condLock ("AXRPCCL%d")      waitNum and the condition ("AXRPCCD%d")
// The waiting caller takes condLock alone while it waits, then nodeLock
// alone to unpack the reply.
//
// A call to a process of this unit names that process in its slot
// (`peerPid`); when the hub sees the process go, its waiting callers are
// woken at once with `peerGone` set, instead of waiting out their time.
//
// The storing thread (the messaging thread that delivered the reply)
// decrements waitNum and signals when it drops below 1, after giving both
// locks back (the woken caller needs them at once); a reply that comes
// before the caller starts waiting leaves waitNum negative, so the caller's
// "waitNum += count" reaches 0 and it does not wait at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ipc/rpc/axrpc_flat.h"
#include "platform_core/axrpc.h"
#include "platform_core/pal.h"

// One unit's reply as stored in a slot (guarded by the slot's nodeLock).
struct AXRPC_WAIT_QUE_UNIT_S {
    pc::ipc::rpc::FlatParaView outPara;  // the reply's set, a view into outBuf
    uint8_t *outBuf = nullptr;           // the reply message, owned by the slot
    int32_t ret = 0;                     // the reply environment's ret
    int32_t received = 0;                // 1 once the reply is stored
};

struct AXRPC_WAIT_QUE_NODE_S {
    pal_mutex_t condLock = nullptr;  // guards waitNum and cond
    pal_cond_t cond = nullptr;
    pal_mutex_t nodeLock = nullptr;  // guards the fields below except waitNum
    int32_t seq = 0;                 // the slot's number while in use
    int32_t id = 0;                  // id of the call that holds the slot
    int32_t isUsed = 0;              // 1 while a call holds the slot
    int32_t waitNum = 0;             // replies still awaited (guarded by condLock)
    int32_t peerPid = 0;             // process on this unit the call waits on, 0 for none
    int32_t peerGone = 0;            // 1 once that process went away (guarded by condLock)
    AXRPC_WAIT_QUE_UNIT_S unit[AXRPC_UNIT_NUM];
};

namespace pc::ipc::rpc {

// Creates the lock and every slot's objects; 0 or -1 (logged).
int wait_queue_init();
// Destroys every object that exists; harmless when repeated.
void wait_queue_destroy();
// Wakes every caller waiting on a slot's condition (the service is going
// down; a caller checks service_ready under condLock before it waits).
void wait_queue_wake_all();

// Names the process on this unit whose replies the call in slot `seq`
// awaits (set before the request is sent).
void wait_queue_watch_peer(int seq, int pid);
// Lets go at once every call waiting on process `pid`, which went away
// (a hub hook: runs in the core when the process's connection ends).
void wait_queue_peer_gone(uint32_t pid);

// Stores the reply held in `block` (a private copy of a response message of
// `length` bytes from `src_unit`) in its slot and wakes the caller. Takes
// ownership of `block`; a reply for no current call is dropped and freed.
void wait_queue_store_reply(uint8_t *block, size_t length, uint32_t src_unit);

}  // namespace pc::ipc::rpc
