/*
 * The messaging client of the application processes.
 *
 * A process other than the core calls axmsg_client_init(pid) once. The
 * client connects to the hub (127.0.0.1:3600), sends the hello and waits
 * until the hub has accepted it (a hello for an id that is still connected
 * is refused: the client tries again until it is accepted), installs
 * itself as the transport of axmsg_send/axmsg_mcast_send (axmsg.h) and
 * starts one reader thread, "axmsg_client", which hands every message
 * addressed to this process to the handler registered with axmsg_reg.
 *
 * A thread that waits for a reply (a synchronous RPC call, or any caller of
 * axmsg_transport_wait) reads the connection itself while no other thread
 * does, so its reply reaches it without a hand-off; messages of other types
 * that it reads are still delivered by the reader thread.
 *
 * When the core goes away the reader closes the connection, sends fail with
 * -1 (nothing is queued) and the reader reconnects, with a new hello, as
 * soon as the hub listens again.
 *
 * The core forgets what a process registered when its connection ends. After
 * every reconnection the client libraries register again what they
 * registered (notification subscriptions, CLI commands, packet modules and
 * registrations with their fields and state, configuration printers, stack
 * unit callbacks); anything else the core must learn again (for example state the
 * application pushed to it) belongs in a callback of
 * axmsg_client_reconnect_cb_add.
 */
#ifndef AXMSG_CLIENT_AXMSG_CLIENT_H
#define AXMSG_CLIENT_AXMSG_CLIENT_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* Connects as process `pid` (1 < pid < 64). Waits up to `connect_timeout_ms`
 * for the first connection (0: try once); the reader keeps retrying after a
 * time-out. Returns 0 when connected, -1 on bad arguments or a second init,
 * 1 when the first connection is not yet made (the client still runs). */
PC_API int axmsg_client_init(int pid, unsigned connect_timeout_ms);
/* Non-zero while the connection to the hub is up (hello accepted by the hub). */
PC_API int axmsg_client_connected(void);
/* Waits up to `timeout_ms` for the connection; 0 when connected, else -1. */
PC_API int axmsg_client_wait_connected(unsigned timeout_ms);
/* Number of connections made so far (1 after the first, +1 per reconnect). */
PC_API unsigned axmsg_client_connect_count(void);
/* A handler that answers a message with its own payload, sent back to its
 * sender as an echo reply (AXMSG_ECHO_REPLY_MID). Returns axmsg_send's result. */
struct axmsg_s;
PC_API int axmsg_client_echo_back(struct axmsg_s *msg);
/* Adds a callback run after every reconnection to the hub (not after the
 * first connection), on the thread "axmsg_rereg", after the callbacks added
 * before it; the client libraries add theirs when they start. A callback
 * returns 0 when done; a failing one is called again every 200 ms while the
 * connection is up, for up to 30 s (the core may still be starting). Adding
 * the same (cb, arg) twice adds it once. 0, or -1 for a null cb. */
typedef int (*AXMSG_CLIENT_RECONNECT_CB)(void *arg);
PC_API int axmsg_client_reconnect_cb_add(AXMSG_CLIENT_RECONNECT_CB cb, void *arg);
/* Removes the transport, closes the connection and stops the reader. */
PC_API int axmsg_client_close(void);

PC_END_DECLS

#endif
