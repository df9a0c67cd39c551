/*
 * Event notification: publish and subscribe for system events.
 *
 * An event has a type (0 .. NOTIFY_TYPE_NUM-1) and an opaque argument
 * block. Modules subscribe callbacks per type with a priority (lower runs
 * first; among equal priorities the earlier subscription runs first).
 * Synchronous subscribers run on the raising thread (in the core) or on an
 * RPC worker (in another process); asynchronous subscribers (priority
 * NOTIFY_ASYN_PRI) run on their module's own worker thread, one event at a
 * time, each with a private copy of the argument.
 *
 * The core process (PID_CORE) holds the master table of the unit: its own
 * subscribers and one node per (process, priority) of every other process
 * that subscribed. Raising an event in the core walks that table in order,
 * calling each other process through RPC ("_notify_call_srv") and waiting
 * for it; an event raised elsewhere is forwarded to the core
 * ("_noitfy_table_cb_trv_srv"). Subscriptions are never removed.
 */
#ifndef PLATFORM_CORE_NOTIFY_H
#define PLATFORM_CORE_NOTIFY_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define NOTIFY_TYPE_NUM 128
#define NOTIFY_PRI_NUM 256
#define NOTIFY_ASYN_PRI 200
#define NOTIFY_ASYN_QUEUE_DEFAULT 256

/* Registration message (MID_NOTIFY payload to the core), 16 bytes. */
enum {
    NOTIFY_CMD_REG = 0,
    NOTIFY_CMD_PRINT = 1,
};
typedef struct NOTIFY_REG_MSG_S {
    int32_t command; /* NOTIFY_CMD_REG or NOTIFY_CMD_PRINT */
    int32_t type;
    int32_t pri;
    int32_t sync; /* 1 synchronous, 0 asynchronous subscription */
} NOTIFY_REG_MSG_T;

typedef int (*NOTIFY_CB)(void *arg, int len);
typedef int (*NOTIFY_ASYN_CB)(int mid, int type, void *arg, int len);

struct axmsg_s;

PC_API int notify_init(void);
PC_API int notify_lib_init(void);
PC_API int notify_asyn_init(void);
/* Both subscriptions return 0, or -1 when an argument is refused (nothing
 * is registered) or, in a process other than the core, when the core could
 * not be told (no connection to it): the subscription then stays in this
 * process and reaches the core when the connection comes back, by
 * notify_reg_resend; registering it again would add a second callback. */
PC_API int notify_reg(int mid, int type, NOTIFY_CB cb, int pri);
/* cb is the module's callback for `type`; it runs on the module's worker. */
PC_API int notify_asyn_reg(int mid, int type, int queueLen, NOTIFY_CB cb);
/* In a process other than the core: sends every subscription of this
 * process to the core again (the messaging client calls it after a
 * reconnection, since the core forgets a process that goes away). 0 or -1. */
PC_API int notify_reg_resend(void);
PC_API int notify_call(int type, void *arg, int len);
PC_API int notify_call_remote(int unit, int type, void *arg, int len);
PC_API int notify_axmsg_callback(struct axmsg_s *msg);

PC_END_DECLS

#endif
