// What the messaging client's files share (axmsg_client.cpp describes the
// threads, the locks and the read role): the client's record, the read role
// and the functions one file calls in the other. Private to the client
// library (its symbols are hidden).
#pragma once

#include <sys/epoll.h>
#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "ipc/hub/axmsg_stream.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"

namespace pc::axmsg_client {

using pc::ipc::FrameReader;

// Who reads the socket. Every field is guarded by `mu`.
struct ReadRole {
    std::mutex mu;
    int fd = -1;                             // the connection to read; -1 while there is none
    FrameReader *frames = nullptr;           // its buffer (the reader thread's), used by the holder only
    bool taken = false;                      // a thread holds the role
    bool broken = false;                     // a caller met the end of the stream; the reader closes it
    bool socket_on = false;                  // the socket is switched on in `ep_reader`
    bool want_on = false;                    // a thread waits on the reader thread: switch on at release
    bool reader_unbounded = false;           // the reader thread waits without a time limit
    unsigned caller_takes = 0;               // roles taken by callers so far
    unsigned caller_takes_seen = 0;          // ... when the reader thread last took the role
    std::deque<std::vector<uint8_t>> inbox;  // messages callers read for the reader thread
};

struct Client {
    uint32_t pid = 0;            // set by init while no reader runs
    pal_mutex_t lock = nullptr;  // created once, never destroyed
    int fd = -1;                 // guarded by lock; opened/closed by the reader only
    int ep_callers = -1;         // created once: the socket, for a waiting caller
    int ep_reader = -1;          // created once: the socket and `wake`, for the reader thread
    int wake = -1;               // created once: eventfd that wakes the reader thread
    ReadRole role;
    std::atomic<bool> connected{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};  // a reader thread is alive
    std::atomic<unsigned> connects{0};
};

// The reader thread's events of the socket: edge-triggered input.
inline constexpr uint32_t kReaderEvents = EPOLLIN | EPOLLET;

// A caller switches the socket off for the reader thread when it takes the
// read role and leaves it off when it gives the role back, so a caller
// making call after call pays no epoll change per call. The first caller
// that leaves it off wakes the reader thread, which then looks at the
// socket at most this long apart while it is off, reading what came, and
// switches it on again once a look finds that no call came since the last.
// A message that arrives between two calls thus waits at most this long;
// one that arrives during a call is read by the caller. A thread about to
// wait for the reader thread to read its reply switches the socket on first
// (or has the role's holder do it when it gives the role back).
inline constexpr int kSocketOffCheckMs = 1;

// The socket is blocking: a caller that waits for its reply waits in the
// read itself, at most this long per read (SO_RCVTIMEO), then looks at its
// deadline again. A wait with less time left than this waits in epoll with
// the exact time instead.
inline constexpr unsigned kCallerReadSliceMs = 50;

// Wakes the reader thread (its eventfd).
void wake_reader(const Client &c);
// Adds, or changes the events of, the socket in an epoll set.
bool watch(int ep, int op, int fd, uint32_t events);
// Delivers one message read from the hub to this process's handler.
void deliver(std::span<uint8_t> frame, const AXMSG_HEADER_T &h);
// Logs what ends a stream; true when `r` is one of those results.
bool stream_fault(FrameReader::Result r, const AXMSG_HEADER_T &h);

// The read role (axmsg_client_wait.cpp).
bool reader_take_role(Client &c, bool quiet);
void reader_release_role(Client &c);
// How long the reader thread waits for the socket (-1: without limit).
int reader_wait_ms(Client &c);
// Delivers the messages that callers read for the reader thread.
void deliver_inbox(Client &c);

// The transport's wait: a caller waiting for a reply of `msg_type` reads
// the socket itself while no other thread does (axmsg_client_wait.cpp).
int client_wait(void *ctx, uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg, unsigned timeout_ms);

}  // namespace pc::axmsg_client
