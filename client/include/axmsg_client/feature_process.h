/*
 * The start-up of a feature process: every process of the switch other
 * than the core calls axFeatureProcessInit once, first thing, before it uses
 * any other service of the library.
 *
 * It runs, in this order, stopping at the first failure:
 *   axshm_init        attach the shared data blocks (the core made them)
 *   debugFlagInit     the shared debug switches
 *   up_mod_init       the unit/port model's shared blocks
 *   adPmpInit         the port mapping to chip ports
 *   axmsg_client_init connect to the hub as process `pid`
 *   axrpcInit         RPC workers and queues of this process
 *   notify_lib_init   event notification (subscriptions, remote events)
 * and prints "feature process start-up: <step> failed (<rc>)" naming the
 * step that failed. The order matters: the shared blocks exist only once the
 * core has made them, and a process that connects to the hub before it has
 * them fails later with "attach_propt_block() failed".
 *
 * After it, a process starts the clients it needs: axpacketClientInit
 * (packet registrations), axConfigClientInit (running-configuration
 * printers and management functions), suCbClientInit (stack unit
 * callbacks), and its own timers (timer.h). See "Writing a feature
 * process" in the README.
 */
#ifndef AXMSG_CLIENT_FEATURE_PROCESS_H
#define AXMSG_CLIENT_FEATURE_PROCESS_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* `pid` must be this process's own id (pidGetCurrent()). Waits up to
 * `connect_timeout_ms` for the hub. 0, or the failing step's status (-1 for
 * a bad pid; 1 when the hub was not reached in time: the client keeps
 * trying, and the call may be repeated once it is connected). */
PC_API int axFeatureProcessInit(int pid, unsigned connect_timeout_ms);

PC_END_DECLS

#endif
