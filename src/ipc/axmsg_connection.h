// The hub's connection table.
//
// One record per process id (1..63; id 0 never has one). A record's mutex is
// created once, when the hub starts, and lives as long as the process; it
// is never destroyed, so a writer can always take it, whatever state the
// connection is in. Under that mutex:
//   - `fd` is the connected socket, -1 when there is none;
//   - `in_use` says a reader thread owns the record.
//
// Lifetime of a connection:
//   1. The accept thread reads the hello, takes the record under its mutex
//      when `in_use` is clear, stores the socket and starts the record's
//      reader thread ("axmsg serv <pid>").
//   2. Writers (any thread that sends to that process) take the mutex for
//      the whole message, so messages never interleave. Writers send
//      with MSG_DONTWAIT (the reader alone blocks in the kernel, in read()):
//      a writer waits at most kWriteStallMs for the peer to
//      take a byte. A writer that meets a hard error or that limit only
//      shuts the socket down (a peer that stops reading is disconnected and
//      its senders get -1, never a hang); it never closes it.
//   The reader drops every message whose source is not the process and
//   unit of its connection: a peer never speaks for another process.
//   3. The reader thread alone reads the socket and alone closes it: when a
//      read fails (the peer closed, or a writer shut the socket down), it
//      clears `fd` under the mutex and closes the socket after letting go
//      of the mutex; then the services drop what the process registered
//      (axmsg_departure.h) and only after that is `in_use` cleared, so a
//      new hello for the id waits for clean tables. A descriptor number is therefore never
//      reused while a writer or the reader may still use it, and a writer
//      that comes later finds `fd` == -1 and fails with "error client".
#pragma once

#include <sys/uio.h>

#include <cstdint>

#include "platform_core/axmsg.h"

namespace pc::ipc {

// How long a writer waits for a peer that takes no byte.
inline constexpr int kWriteStallMs = 3000;

// Creates the records' mutexes (once) and clears the table. 0 or -1.
int connections_init();

enum class AttachResult { kAttached, kAlreadyConnected, kFailed };
// Makes `fd` the connection of process `pid` and starts its reader thread.
// On anything but kAttached the caller still owns (and closes) `fd`.
AttachResult connection_attach(uint32_t pid, int fd);

// Writes one message to the connection of `pid`. 0 or -1.
int connection_write(uint32_t pid, const AXMSG_HEADER_T &header, const iovec *iov, int count);

// Prints "Process %s, id %d, sock %d" for each connected process.
void connections_print();

}  // namespace pc::ipc
