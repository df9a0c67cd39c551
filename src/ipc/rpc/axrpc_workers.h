// The worker threads of the RPC service and the queues that feed them.
//
// Every process that runs the service has two message queues named after
// the process ("/rpcSQ_<name>", "/rpcAQ_<name>", 512 work items each):
//   - the synchronous queue feeds AXRPC_SYNC_THREAD_NUM workers "rpcST%d";
//     it carries synchronous requests (and responses, should one be queued
//     rather than stored at once by the messaging thread);
//   - the asynchronous queue feeds AXRPC_ASYN_THREAD_NUM workers "rpcAT%d",
//     of which only the one holding the turn takes items. The scheduler
//     (axrpc_scheduler.h) passes the turn on when the holder's CPU time
//     stops growing (it is blocked inside a long call, or idle), so one
//     blocked asynchronous function never stalls the others for long.
//
// A work item is what the messaging handler queues: the addresses of the
// request and the address and length of a private copy of the RPC message,
// which the worker that takes the item frees. Items never leave the process
// (the queues are opened by their owner only), so the item holds a native
// pointer. Queues are unlinked by name before they are created, so items of
// a previous incarnation of the process are never read.
//
// Waits on other processes: a synchronous worker that calls another process
// synchronously (a management function printing to its UI, a remote
// configuration printer, a remote handler) waits for that process, bounded
// and let go at once when the process goes. So that the service keeps
// serving however many workers wait so, such a wait is counted
// (worker_wait_begin/end) and, when fewer than kSpareWorkers workers would be
// left free, a spare worker "rpcSX%d" (up to kMaxSpareWorkers) is started on
// the same queue; a spare that finds nothing to do for kSpareIdleMs leaves
// when it is not needed. When no spare can be had, the wait that would take
// the last free worker is refused: one worker always serves.
//
// Stopping: workers poll a stop flag between items; manage_queue_destroy
// sets it, queues one stop item per worker and wakes every turn condition,
// then waits for the workers to leave (a worker stuck inside a function for
// longer is cancelled).
#pragma once

#include <cstdint>

#include "platform_core/pal.h"

namespace pc::ipc::rpc {

struct WorkItem {
    uint8_t dstUnit;
    uint8_t dstProc;
    uint8_t srcUnit;
    uint8_t srcProc;
    uint32_t reserved;  // 0; kStopItem asks the worker to leave
    uint8_t *block;     // private copy of the RPC message (tag "axRpc"), owned by the item
    uint32_t length;
};

inline constexpr unsigned kWorkQueueDepth = 512;
inline constexpr uint32_t kStopItem = 0x53544f50u;

// Creates both queues, the synchronous workers, the asynchronous workers
// with their turn objects, and the scheduler; 0 or -1 (logged).
int manage_queue_init();
// Stops every thread and removes the queues; harmless when repeated.
void manage_queue_destroy();

inline constexpr int kSpareWorkers = 2;
inline constexpr int kMaxSpareWorkers = 32;
inline constexpr unsigned kSpareIdleMs = 5000;

// A synchronous call is about to wait on another process. Returns false
// when the caller is a synchronous worker and no worker would be left to
// serve (the call must fail instead of waiting). Every true answer is
// followed by worker_wait_end().
bool worker_wait_begin();
void worker_wait_end();

// Queues a synchronous item, waiting as long as the queue is full.
int queue_sync_work(const WorkItem &item);
// Queues an asynchronous item, waiting at most one second.
int queue_async_work(const WorkItem &item);

// The asynchronous workers as the scheduler sees them.
pal_thread_t async_worker_thread(int index);
// Moves the turn from worker `from` to worker `to` and wakes `to`.
void pass_async_turn(int from, int to);
// Gives the first turn to worker 0.
void give_first_async_turn();
// True once manage_queue_destroy has begun.
bool workers_stopping();

}  // namespace pc::ipc::rpc
