// The hub's connection table.
//
// One record per process id (1..63; id 0 never has one). A record's mutex is
// created once, when the hub starts, and lives as long as the process; it
// is never destroyed, so a writer can always take it, whatever state the
// connection is in. Under that mutex:
//   - `fd` is the socket writers use, -1 when there is none;
//   - `state`: free, open (a reader thread serves the connection), or
//     closing (the connection is being retired: the process-gone hooks run);
//   - `gen` counts the connections the record has had; a reader knows the
//     generation it serves and touches the record only while it still is.
//
// Lifetime of a connection:
//   1. The accept thread reads the hello and takes the record when it is
//      free, stores the socket and starts a reader thread ("axmsg serv
//      <pid>") for that generation.
//   2. Writers (any thread that sends to that process) take the mutex for
//      the whole message, so messages never interleave. Writers send
//      with MSG_DONTWAIT (the reader alone blocks in the kernel, in read()):
//      a writer waits at most kWriteStallMs for the peer to
//      take a byte. A writer that meets a hard error or that limit only
//      shuts the socket down (a peer that stops reading is disconnected and
//      its senders get -1, never a hang); it never closes it.
//   The reader drops every message whose source is not the process and
//   unit of its connection: a peer never speaks for another process.
//   3. Retiring: when the reader's read fails (the peer closed, or a writer
//      shut the socket down), the connection is retired: `fd` is cleared
//      (later writers fail with "error client"), the process-gone hooks run
//      (hub.h), and the record is free again. The reader then
//      closes its socket; it alone ever closes it, so a descriptor number is
//      never reused while a writer may still use it.
//   4. Take-over: a hello for a process whose record is still held by a
//      connection that is dead (the peer closed or the socket hung up) does
//      not wait for that connection's reader, which may be busy for seconds
//      (forwarding to a peer that does not read): the accept thread retires
//      the old connection itself (shutting its socket down, so its reader
//      leaves as soon as it is back) and attaches the new one. What the old
//      reader still holds or finds queued was sent by the dead process: it
//      is dropped, never handled as the new one's (replies to the dead
//      process's calls would reach the new one). A hello for a process
//      whose connection is alive is refused.
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
