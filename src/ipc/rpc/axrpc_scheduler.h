// The asynchronous scheduler: passes the asynchronous turn on.
//
// The thread "rpcAsynSchedule" gives the turn to worker 0, then every
// kSchedulePeriodMs reads the CPU time of the worker holding the turn. When
// it cannot be read or has not grown since that worker's last reading (the
// worker is blocked inside a long call, or idle), the turn moves to the next
// worker (after the last back to the first). The reading taken is stored as
// that worker's last reading. The scheduler waits on its own condition so
// that scheduler_stop ends it at once.
#pragma once

#include "platform_core/pal.h"

namespace pc::ipc::rpc {

inline constexpr unsigned kSchedulePeriodMs = 10000;

// CPU time (user + system, in clock ticks) of a thread started through the
// PAL, read from the kernel's per-task statistics; -1 when unavailable.
long long thread_cpu_time(pal_thread_t thread);

int scheduler_start();
void scheduler_stop();

}  // namespace pc::ipc::rpc
