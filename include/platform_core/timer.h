/*
 * Timer service: named one-shot and periodic timers, one service per process.
 *
 * timer_init() starts the service: a manager thread ("sysTimerManage") and
 * eight worker threads ("sysTimerSub_1" .. "sysTimerSub_8"). The manager
 * keeps every pending timer in a heap ordered by expiry on the monotonic
 * clock and sleeps until the earliest one (at most 60 s); when a timer is
 * due it hands a copy to an idle worker, which calls the handler. Handlers
 * run without any lock of the service held, so they may add and delete
 * timers themselves. At most eight handlers run at once; a periodic timer
 * never runs twice at the same time: an expiry that comes while its
 * previous run is still going is skipped.
 *
 * A timer is known by its name (1 to 31 characters). add_timer answers the
 * identifier holding that name, or an empty identifier (first byte 0) when
 * the timer was refused. Adding a name that is already pending answers its
 * identifier and changes nothing.
 *
 * Periodic timers are rescheduled from the moment they are dispatched, so
 * their period drifts by the dispatch delay.
 */
#ifndef PLATFORM_CORE_TIMER_H
#define PLATFORM_CORE_TIMER_H

#include <stdint.h>
#include <time.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* Bytes of a timer name, the terminating zero included. */
#define TIMER_NAME_LEN 32

/* The `mode` of add_timer. */
#define TIMER_MODE_ONESHOT 1
#define TIMER_MODE_PERIODIC (-1)

/* A timer's identifier: its name; name[0] == 0 stands for no timer. */
typedef struct timer_id {
    char name[TIMER_NAME_LEN];
} timer_id_t;

/* Called on a worker thread with the word given to add_timer. */
typedef void (*timer_handler_t)(uintptr_t arg);

/* Starts the service; 0, or -1 on failure or when it was started before. */
PC_API int timer_init(void);

/*
 * Adds a timer due `interval` from now (seconds >= 0, nanoseconds 0 to
 * 1000000000); a periodic timer then repeats with that interval, which must
 * not be zero. Answers the empty identifier for bad arguments, when memory
 * runs out or before timer_init.
 */
PC_API timer_id_t add_timer(const char *name, const struct timespec *interval, timer_handler_t handler,
                            uintptr_t arg, int mode);

/* Deletes the timer named by `id`: -1 for an empty identifier, else 0 (also
 * when no such timer is pending). A handler already running finishes. */
PC_API int del_timer(timer_id_t id);

/* Deletes every pending timer; 0, or -1 before timer_init. */
PC_API int timer_clear(void);

/* Prints the pending timers and the handlers now running. */
PC_API void timer_dump(void);

PC_END_DECLS

#endif
