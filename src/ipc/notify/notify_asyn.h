// Asynchronous subscribers: one work queue and one worker per module.
//
// The module table holds, per module with an asynchronous subscription,
// its queue "/notify_asyn_<pid>_<mid>", its worker "notify_asyn_<pid>_<mid>"
// and one callback per event type. The table is guarded by the semaphore
// "notify_asyn_sem". An event for a module is queued as an item holding a
// private copy of the argument (tag "notify"); the worker calls the
// module's callback for the item's type and frees the copy, so one module's
// callbacks run one at a time in queue order, and a full queue drops the
// event for that module only.
#pragma once

#include "platform_core/notify.h"

namespace pc::ipc::notify {

int asyn_init();
// Stores `cb` for (mid, type), creating the module's queue and worker on
// its first subscription. 0, or -1 (logged) when the slot is taken or the
// queue or worker cannot be made.
int asyn_register(int mid, int type, int queueLen, NOTIFY_CB cb);
// The dispatch function of asynchronous nodes: queues the event without
// waiting.
int asyn_dispatch(int mid, int type, void *arg, int len);

}  // namespace pc::ipc::notify
