// The read role of the messaging client and a caller that waits for a
// reply: a caller takes the role while no other thread reads the socket,
// delivers the messages of the type it waits for on its own thread and
// hands every other message to the reader thread (axmsg_client.cpp
// describes the leader/follower reading).
#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <vector>

#include "axmsg_client_internal.h"
#include "platform_core/platform.h"

namespace pc::axmsg_client {

namespace {

// A caller takes the role only while a sound connection is there and no
// other thread reads it.
bool caller_take_role(Client &c, int &fd, FrameReader *&frames) {
    std::lock_guard<std::mutex> guard(c.role.mu);
    if (c.role.taken || c.role.fd < 0 || c.role.broken || c.role.frames == nullptr) return false;
    c.role.taken = true;
    ++c.role.caller_takes;
    fd = c.role.fd;
    frames = c.role.frames;
    // The descriptor stays open while the role is held: the reader thread
    // closes it only under the role. Bytes for the caller must not wake the
    // reader thread: the socket goes off (it stays off if an earlier caller
    // left it so).
    if (c.role.socket_on && watch(c.ep_reader, EPOLL_CTL_MOD, fd, 0)) c.role.socket_on = false;
    return true;
}

// Switches the socket on for the reader thread; `role.mu` is held.
void switch_on(Client &c) {
    if (!c.role.socket_on && c.role.fd >= 0 && watch(c.ep_reader, EPOLL_CTL_MOD, c.role.fd, kReaderEvents))
        c.role.socket_on = true;
    c.role.want_on = false;
}

// A thread that will wait for the reader thread to read its reply makes
// sure the reader thread is woken by the socket: at once when the role is
// free, else when its holder gives it back.
void listen_for_me(Client &c) {
    std::lock_guard<std::mutex> guard(c.role.mu);
    if (c.role.socket_on) return;
    if (c.role.taken)
        c.role.want_on = true;
    else
        switch_on(c);
}

// A caller gives the role back, having handed out every whole message it
// read and read the socket empty (or met its end). The socket stays off for
// the reader thread unless another thread waits on it (the next call would
// switch it off again at once). The reader thread, waking every
// kSocketOffCheckMs while it is off, switches it on when it finds the role
// free, and reads what came meanwhile (epoll reports a ready socket when its
// entry is switched on). A reader thread that waits without limit is woken
// once to start looking (after the call, not while it is under way).
void caller_release_role(Client &c, bool broken) {
    bool wake = broken;
    {
        std::lock_guard<std::mutex> guard(c.role.mu);
        c.role.taken = false;
        if (broken) c.role.broken = true;
        if (c.role.want_on) switch_on(c);
        if (!c.role.socket_on && c.role.reader_unbounded) {
            c.role.reader_unbounded = false;
            wake = true;
        }
    }
    if (wake) wake_reader(c);
}

// A message a caller read for the reader thread.
void hand_to_reader(Client &c, std::span<const uint8_t> frame) {
    {
        std::lock_guard<std::mutex> guard(c.role.mu);
        c.role.inbox.emplace_back(frame.begin(), frame.end());
    }
    wake_reader(c);
}

enum class Pumped { kDone, kTimeOut, kEnd };

// Reads under the role until done(arg) holds, the time is up or the stream
// ends; messages of `msg_type` are delivered here, others go to the reader.
Pumped pump(Client &c, int fd, FrameReader &frames, uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg,
            unsigned timeout_ms) {
    const long long deadline = timeout_ms == PAL_WAIT_FOREVER ? 0 : pal_time_msecs() + timeout_ms;
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h{};
    bool drained = true;  // epoll reports bytes that came before we took the role
    for (;;) {
        FrameReader::Result r = frames.next_buffered(frame, h);
        if (r == FrameReader::Result::kFrame) {
            if (h.msg_type == msg_type)
                deliver(frame, h);
            else
                hand_to_reader(c, frame);
            continue;
        }
        if (stream_fault(r, h)) return Pumped::kEnd;
        if (r != FrameReader::Result::kEmpty) continue;
        if (!drained) {
            switch (frames.fill(fd)) {
                case FrameReader::Fill::kFull:
                    break;
                case FrameReader::Fill::kShort:
                case FrameReader::Fill::kWouldBlock:
                    drained = true;
                    break;
                case FrameReader::Fill::kNoMemory:
                    PFM_ERR(MID_AXMSG, "memory is not enough");
                    return Pumped::kEnd;
                case FrameReader::Fill::kEnd:
                    return Pumped::kEnd;
            }
            continue;
        }
        if (done(arg)) return Pumped::kDone;
        long long left = LLONG_MAX;
        if (timeout_ms != PAL_WAIT_FOREVER) {
            left = deadline - pal_time_msecs();
            if (left <= 0) return Pumped::kTimeOut;
        }
        if (left >= kCallerReadSliceMs) {
            // Wait in the read itself (the socket is blocking, each read
            // bounded by the slice): the reply costs one system call.
            switch (frames.fill(fd, FrameReader::Wait::kBlock)) {
                case FrameReader::Fill::kFull:
                    drained = false;
                    break;
                case FrameReader::Fill::kShort:
                case FrameReader::Fill::kWouldBlock:  // the slice passed, or a signal
                    break;
                case FrameReader::Fill::kNoMemory:
                    PFM_ERR(MID_AXMSG, "memory is not enough");
                    return Pumped::kEnd;
                case FrameReader::Fill::kEnd:
                    return Pumped::kEnd;
            }
            continue;
        }
        epoll_event ev{};
        int n = epoll_wait(c.ep_callers, &ev, 1, static_cast<int>(left));
        if (n > 0) drained = false;
        if (n < 0 && errno != EINTR) return Pumped::kEnd;
    }
}

}  // namespace

// The reader thread takes the role whenever it is free (also on a broken
// stream, which it then closes); when a caller holds it the reader thread
// goes back to waiting. When its wait ran out with the socket off (`quiet`)
// and no caller took the role since its last look, calls have stopped: it
// switches the socket on again. While calls follow each other it stays off.
bool reader_take_role(Client &c, bool quiet) {
    std::lock_guard<std::mutex> guard(c.role.mu);
    if (c.role.taken) return false;
    c.role.taken = true;
    const bool no_call_since = c.role.caller_takes == c.role.caller_takes_seen;
    c.role.caller_takes_seen = c.role.caller_takes;
    if ((quiet && no_call_since) || c.role.want_on) switch_on(c);
    return true;
}

// The reader thread gives the role back after reading the socket empty.
void reader_release_role(Client &c) {
    std::lock_guard<std::mutex> guard(c.role.mu);
    c.role.taken = false;
    if (c.role.want_on) switch_on(c);
}

// How long the reader thread may wait: without limit while the socket is
// on, else until it looks at the socket again.
int reader_wait_ms(Client &c) {
    std::lock_guard<std::mutex> guard(c.role.mu);
    c.role.reader_unbounded = c.role.socket_on;
    return c.role.socket_on ? -1 : kSocketOffCheckMs;
}

void deliver_inbox(Client &c) {
    for (;;) {
        std::vector<uint8_t> frame;
        {
            std::lock_guard<std::mutex> guard(c.role.mu);
            if (c.role.inbox.empty()) return;
            frame = std::move(c.role.inbox.front());
            c.role.inbox.pop_front();
        }
        deliver(frame, pc::ipc::decode_header(frame));
    }
}

int client_wait(void *ctx, uint32_t msg_type, AXMSG_WAIT_DONE_T done, void *arg, unsigned timeout_ms) {
    auto &c = *static_cast<Client *>(ctx);
    if (done == nullptr) {
        listen_for_me(c);
        return 0;
    }
    if (done(arg)) return 1;
    int fd = -1;
    FrameReader *frames = nullptr;
    if (!caller_take_role(c, fd, frames)) {
        listen_for_me(c);
        return 0;
    }
    Pumped p = pump(c, fd, *frames, msg_type, done, arg, timeout_ms);
    caller_release_role(c, p == Pumped::kEnd);
    switch (p) {
        case Pumped::kDone:
            return 1;
        case Pumped::kTimeOut:
            return -1;
        case Pumped::kEnd:
            return 0;
    }
    return 0;
}

}  // namespace pc::axmsg_client
