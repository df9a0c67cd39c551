/*
 * Messaging between the processes of the switch.
 *
 * Every message is one 32-byte header (AXMSG_HEADER_T, native byte order)
 * followed by its payload. The core process (PID_CORE) runs the hub: it
 * listens on 127.0.0.1:AXMSG_SERV_PORT, every other process holds one stream
 * connection to it, introduced by a hello (a valid header whose src_proc is
 * the connecting process, followed by AXMSG_HELLO_LEN bytes). The hub routes
 * each message it reads to a handler registered in the core (by module id,
 * msg_type), to another process's connection, or to another unit.
 *
 * Handlers run on the thread that delivered the message (a hub reader
 * thread, the messaging client's reader thread, or the sender's own thread
 * for a message to its own process); they must be safe to call from several
 * threads at once. AXMSG_T.data is owned by the delivering code and is only
 * valid during the handler call.
 *
 * The same calls work in every process:
 *  - In the core process (after axmsg_init) axmsg_send/axmsg_mcast_send go
 *    through the hub directly.
 *  - In any other process, the messaging client (libaxmsg_client, a separate
 *    component) installs a transport with axmsg_transport_set() once it is
 *    connected; axmsg_send/axmsg_mcast_send then write through it, and the
 *    client hands every message it reads to axmsg_deliver(), which calls the
 *    handler registered with axmsg_reg in that process.
 *  - A message addressed to the sending process itself is delivered locally
 *    on the caller's thread in both cases.
 *
 * Received lengths are bounded: a header announcing more than
 * AXMSG_MAX_DATA_LEN payload bytes ends the connection it came on.
 */
#ifndef PLATFORM_CORE_AXMSG_H
#define PLATFORM_CORE_AXMSG_H

#include <stddef.h>
#include <stdint.h>
#include <sys/uio.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* ---- Wire header ------------------------------------------------------ */

#define AXMSG_MARKER 0xABCDu
#define AXMSG_CHECK 0x58EFFE85u
#define AXMSG_CMD_UNICAST 2u
#define AXMSG_CMD_MULTICAST 3u

#define AXMSG_HEADER_LEN 32u
/* Largest payload a reader accepts; a larger data_len closes the stream. */
#define AXMSG_MAX_DATA_LEN (16u * 1024u * 1024u)

/* The hub's loopback endpoint and the hello's payload length. */
#define AXMSG_SERV_ADDR "127.0.0.1"
#define AXMSG_SERV_PORT 3600
#define AXMSG_HELLO_LEN 4u

/* Debug commands of the messaging module's own handler (MID_AXMSG):
 * payload byte 0 is the command, byte 1 its argument. */
enum {
    AXMSG_DBG_PRINT_COUNTS = 1,
    AXMSG_DBG_SET_LEVEL = 2,
    AXMSG_DBG_NOTHING = 3,
    AXMSG_DBG_ECHO = 4, /* payload sent back to the sender as msg_type 1 */
    AXMSG_DBG_RESET_COUNT = 5,
    AXMSG_DBG_BOUNCE = 6, /* byte 1 counts the hops */
    AXMSG_DBG_PKTCTL_PRINT = 7,
    AXMSG_DBG_CLIENTS_PRINT = 8,
};
/* The module id an echo answers with. */
#define AXMSG_ECHO_REPLY_MID 1u

/* 32 bytes, native byte order; the natural layout has no padding. */
typedef struct axmsg_header_s {
    uint16_t marker;   /* AXMSG_MARKER */
    uint16_t command;  /* AXMSG_CMD_UNICAST or AXMSG_CMD_MULTICAST */
    uint32_t dst_unit; /* unit, or a unit bit set for a multicast */
    uint32_t dst_proc;
    uint32_t src_unit;
    uint32_t src_proc;
    uint32_t msg_type; /* module id of the receiver */
    uint32_t check;    /* AXMSG_CHECK */
    uint32_t data_len; /* payload bytes following the header */
} AXMSG_HEADER_T;

#ifdef __cplusplus
#define AXMSG_STATIC_ASSERT static_assert
#else
#define AXMSG_STATIC_ASSERT _Static_assert
#endif
AXMSG_STATIC_ASSERT(sizeof(AXMSG_HEADER_T) == 32, "axmsg header is 32 bytes");
AXMSG_STATIC_ASSERT(offsetof(AXMSG_HEADER_T, dst_unit) == 4, "dst_unit at offset 4");
AXMSG_STATIC_ASSERT(offsetof(AXMSG_HEADER_T, check) == 24, "check at offset 24");
AXMSG_STATIC_ASSERT(offsetof(AXMSG_HEADER_T, data_len) == 28, "data_len at offset 28");

/* ---- Message descriptor ----------------------------------------------- */

typedef struct axmsg_s {
    uint32_t dst_unit; /* unit; for a multicast a bit set (1 << unit) */
    uint32_t dst_proc; /* 1..63 */
    uint32_t src_unit; /* filled by the send calls */
    uint32_t src_proc; /* filled by the send calls */
    uint32_t msg_type; /* module id 1..127, selects the handler */
    struct iovec *iov; /* send side: payload pieces */
    int32_t iov_num;   /* send side: number of pieces, at least 1 */
    void *data;        /* receive side: contiguous payload, valid during the handler */
    uint32_t data_len; /* receive side: payload bytes */
} AXMSG_T;

/* A module's handler; returns 0 or -1. */
typedef int (*AXMSG_HANDLER_T)(AXMSG_T *msg);

/* ---- Header, checks and blocking I/O ---------------------------------- */

/* Sum of the first `count` piece lengths; 0 for a null array or count < 1. */
PC_API uint32_t axmsg_get_iov_total_len(const struct iovec *iov, int count);
/* Fills `header` from `msg` (command 3 when `multicast`); 0 or -1. */
PC_API int axmsg_create_header(AXMSG_HEADER_T *header, const AXMSG_T *msg, int multicast);
/* Fills `msg` from a buffer holding `header` and its payload right behind it
 * (msg->data points into that buffer). 0 or -1. */
PC_API int axmsg_parse_header(AXMSG_T *msg, AXMSG_HEADER_T *header);
/* Non-zero when marker and check word are right. */
PC_API int axmsg_header_valid(const AXMSG_HEADER_T *header);
/* Validates a unicast descriptor before sending; 0 or -1 (logged). */
PC_API int axmsg_check(const AXMSG_T *msg);
/* Validates a multicast descriptor; reports the number of destination units
 * and the highest one. 0 or -1 (logged). */
PC_API int axmsg_multicast_check(const AXMSG_T *msg, int *unit_count, int *unit);
/* msg->data = accounted copy ("axmsg") of the pieces, msg->data_len their
 * total; the caller frees msg->data with pal_free. 0 or -1. */
PC_API int axmsg_rcv_from_iov(AXMSG_T *msg, const struct iovec *iov, int count);
/* Writes header and pieces completely; on a hard error closes `fd`. 0 or -1. */
PC_API int axmsg_blocking_write(int fd, const AXMSG_HEADER_T *header, const struct iovec *iov, int count);
/* Reads exactly `len` bytes; -1 on end of stream or error. */
PC_API int axmsg_blocking_read(int fd, void *buf, uint32_t len);

/* ---- Hub and sending (every process) ----------------------------------- */

/* Core start-up: hub listening, own debug handler, accept thread "axmsg". */
PC_API int axmsg_init(int pid);
/* Registers or replaces the handler of module `msg_type` (1..127). */
PC_API int axmsg_reg(uint32_t msg_type, AXMSG_HANDLER_T handler);
PC_API int axmsg_serv_cmd_reg(uint32_t msg_type, AXMSG_HANDLER_T handler);
/* Sends a unicast message; the caller fills dst_unit, dst_proc, msg_type,
 * iov, iov_num. src_unit/src_proc are filled in. 0 or -1. */
PC_API int axmsg_send(AXMSG_T *msg);
/* The same with dst_unit a unit bit set. */
PC_API int axmsg_mcast_send(AXMSG_T *msg);
PC_API int axmsg_get_procid(void);
PC_API int axmsg_close(void);

/* Core side of the sends (used by the hub itself). */
PC_API int axmsg_serv_send(AXMSG_T *msg);
PC_API int axmsg_serv_write(AXMSG_T *msg);
PC_API int axmsg_serv_multicast_send(AXMSG_T *msg);
PC_API int axmsg_serv_mult_dispatch(AXMSG_T *msg);
/* Messages across stack units: the unit transport's receive callback, the
 * per-unit receive and transmit threads' bodies, and their start-up. */
PC_API int axmsg_utp_init(void);
PC_API int axmsg_utp_cb(uint32_t unit, uint8_t *buf, uint32_t len);
PC_API void axmsg_utp_rx(uint32_t unit);
PC_API void axmsg_utp_tx(uint32_t unit);
/* Opens the listening socket and clears the connection table. */
PC_API int axmsg_serv_init(void);
/* Routes one received message (header and payload, `len` bytes). */
PC_API int axmsg_serv_cmd_proc(void *buf, uint32_t len);
/* The accept loop of the hub's thread "axmsg" (never returns). */
PC_API void axmsg_serv_run(void);
/* The reader loop of one connection record (the entry of its reader thread
 * "axmsg serv <pid>"); returns when the connection has ended and its record
 * is cleared. */
PC_API void axmsg_serv_sub_thread(void *record);
/* Ends the connection of a record: the socket is shut down, and its reader
 * closes it and clears the record. Safe from any thread. */
PC_API void axmsg_serv_close(void *record);
/* Prints the connected processes. */
PC_API int axmsg_serv_clients_print(void);

/* ---- Transport of the messaging client (processes other than the core) -- */

/* Writes one message (header, then `count` payload pieces) to the hub.
 * Must serialise concurrent callers; returns 0 or -1. */
typedef int (*AXMSG_TRANSPORT_SEND_T)(void *ctx, const AXMSG_HEADER_T *header, const struct iovec *iov,
                                      int count);

/* True (non-zero) once what a waiting caller waits for has happened. */
typedef int (*AXMSG_WAIT_DONE_T)(void *arg);

/* Optional: lets a caller that waits for a reply read the hub connection
 * itself while no other thread reads it (see axmsg_transport_wait). */
typedef int (*AXMSG_TRANSPORT_WAIT_T)(void *ctx, uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg,
                                      unsigned timeout_ms);

typedef struct axmsg_transport_s {
    AXMSG_TRANSPORT_SEND_T send;
    void *ctx;
    AXMSG_TRANSPORT_WAIT_T wait; /* may be null */
} AXMSG_TRANSPORT_T;

/* Installs the transport (copied) or removes it (null). Refused (-1) in the
 * process that runs the hub. */
PC_API int axmsg_transport_set(const AXMSG_TRANSPORT_T *transport);
/* Hands a received message to this process's handler of msg->msg_type, on
 * the calling thread. -1 when none is registered or the type is invalid. */
PC_API int axmsg_deliver(AXMSG_T *msg);
/* Waits until done(arg) is true, for at most `timeout_ms` (PAL_WAIT_FOREVER:
 * no limit), reading the hub connection on the calling thread while no
 * other thread reads it: the caller then gets its reply without a hand-off
 * between threads. Messages of `msg_type` that it reads are delivered on the
 * calling thread (their handler must not block); every other message goes
 * to the messaging client's reader thread as usual. Returns 1 when done,
 * -1 when the time ran out, and 0 when the caller must wait by its own
 * means (another thread reads the connection, there is none, or this
 * process runs the hub): a reply then arrives through its handler on
 * another thread. A null `done` reads nothing: the caller is about to wait
 * by its own means, and the transport makes sure its reader thread watches
 * the connection for the reply (returns 0). */
PC_API int axmsg_transport_wait(uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg, unsigned timeout_ms);

PC_END_DECLS

#endif
