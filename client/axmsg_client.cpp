// The messaging client (see axmsg_client.h): the client, its connection,
// the reader thread and the C interface. The read role and a caller that
// waits for a reply are in axmsg_client_wait.cpp; what the two files share
// is in axmsg_client_internal.h.
//
// One client per process, created by axmsg_client_init and kept for the
// life of the process (it is the context of the installed transport).
//
// Threads: the reader thread "axmsg_client" connects, sends the hello,
// waits until the hub has accepted it (hello_accepted), reads and delivers
// messages, and reconnects when the stream ends or the hello is refused. Any
// thread may send through the transport.
//
// Writing: `lock` (a PAL mutex) guards `fd`. Writers hold it for a whole
// message, so messages never interleave. Only the reader thread opens and
// closes the socket; a writer that meets a hard error shuts the socket down,
// which ends the stream for its reader, and the reader thread then clears
// `fd` under the lock and closes it. A descriptor is thus never closed under
// a writer.
//
// Reading (leader/follower): the socket is read by whoever holds the read
// role (ReadRole, under its own mutex): the reader thread, or a caller
// waiting for a reply (axmsg_transport_wait) that found the role free. The
// holder alone uses the frame buffer. A caller delivers the messages of the
// type it waits for on its own thread and hands every other message to the
// reader thread through the inbox; the reader thread delivers everything it
// reads itself. The reader thread waits for the socket with epoll on
// `ep_reader` (with the wake-up eventfd) and reads it without waiting
// (MSG_DONTWAIT); a caller waits in a blocking read of the socket, bounded by
// SO_RCVTIMEO (or, with less time left than that, in epoll on `ep_callers`),
// so its reply costs it one system call. While a caller holds the role the
// socket's entry in `ep_reader` is switched off, so bytes for the caller
// never wake the reader thread. It stays off when the caller gives the role
// back (the next call would switch it off again); the reader thread, which
// then waits at most kSocketOffCheckMs at a time, switches it on when it
// finds the role free, and bytes that came meanwhile wake it at once (epoll
// reports a ready socket when its entry is switched on). The reader thread
// waits edge-triggered. Before it gives the role back a holder has
// read the socket empty (a short read) and handed out every buffered message,
// so bytes that come later are read by a caller, or by the reader thread at
// once (socket on) or within kSocketOffCheckMs (socket off). The reader
// thread alone closes the socket, and only while it holds the role.
#include "axmsg_client/axmsg_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "axmsg_client_internal.h"
#include "axmsg_reconnect.h"
#include "ipc/hub/axmsg_stream.h"
#include "pal/mutex_guard.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"

using pc::ipc::FrameReader;
using namespace pc::axmsg_client;

namespace {

constexpr unsigned kReaderStack = 16384;
constexpr unsigned kReaderPriority = 0;
constexpr unsigned kRetryMinMs = 20;
constexpr unsigned kRetryMaxMs = 500;
constexpr long long kStableConnectionMs = 1000;  // a connection this old resets the back-off
constexpr unsigned kPollStepUs = 1000;
constexpr unsigned kStopWaitMs = 5000;
constexpr long long kHelloConfirmMs = 3000;  // the hub's echo of the hello token
constexpr char kHelloToken[] = "hello?";

Client g_client;

}  // namespace

namespace pc::axmsg_client {

void wake_reader(const Client &c) {
    uint64_t one = 1;
    ssize_t n;
    do {
        n = write(c.wake, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

}  // namespace pc::axmsg_client

namespace {

void clear_wake(const Client &c) {
    uint64_t count = 0;
    while (read(c.wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// The descriptor set-up done once per process; 0 or -1.
int create_wait_objects(Client &c) {
    if (c.wake < 0) c.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (c.ep_callers < 0) c.ep_callers = epoll_create1(EPOLL_CLOEXEC);
    if (c.ep_reader < 0) {
        c.ep_reader = epoll_create1(EPOLL_CLOEXEC);
        if (c.ep_reader >= 0 && c.wake >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = c.wake;
            if (epoll_ctl(c.ep_reader, EPOLL_CTL_ADD, c.wake, &ev) != 0) {
                close(c.ep_reader);
                c.ep_reader = -1;
            }
        }
    }
    if (c.wake < 0 || c.ep_callers < 0 || c.ep_reader < 0) {
        PFM_ERR(MID_AXMSG, "the messaging client cannot wait for its socket: %s", std::strerror(errno));
        return -1;
    }
    return 0;
}

}  // namespace

namespace pc::axmsg_client {

// Adds, or changes the events of, the socket in an epoll set.
bool watch(int ep, int op, int fd, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    return epoll_ctl(ep, op, fd, &ev) == 0;
}

}  // namespace pc::axmsg_client

namespace {

AXMSG_T message_of(std::span<uint8_t> frame, const AXMSG_HEADER_T &h, iovec &piece) {
    AXMSG_T msg{};
    msg.dst_unit = h.dst_unit;
    msg.dst_proc = h.dst_proc;
    msg.src_unit = h.src_unit;
    msg.src_proc = h.src_proc;
    msg.msg_type = h.msg_type;
    msg.data = frame.data() + AXMSG_HEADER_LEN;
    msg.data_len = h.data_len;
    piece = iovec{msg.data, msg.data_len};
    msg.iov = &piece;
    msg.iov_num = 1;
    return msg;
}

}  // namespace

namespace pc::axmsg_client {

void deliver(std::span<uint8_t> frame, const AXMSG_HEADER_T &h) {
    iovec piece{};
    AXMSG_T msg = message_of(frame, h, piece);
    if (axmsg_deliver(&msg) != 0) {
        PFM_DBG(MID_AXMSG, "msg type %u from proc %u not handled", static_cast<unsigned>(h.msg_type),
                static_cast<unsigned>(h.src_proc));
    }
}

// Logs what ends a stream; true when `r` is one of those results.
bool stream_fault(FrameReader::Result r, const AXMSG_HEADER_T &h) {
    switch (r) {
        case FrameReader::Result::kTooLong:
            PFM_ERR(MID_AXMSG, "hub announced %u payload bytes (limit %u), reconnecting",
                    static_cast<unsigned>(h.data_len), static_cast<unsigned>(AXMSG_MAX_DATA_LEN));
            return true;
        case FrameReader::Result::kNoMemory:
            PFM_ERR(MID_AXMSG, "memory is not enough");
            return true;
        case FrameReader::Result::kEnd:
            return true;
        case FrameReader::Result::kBadHeader:
            PFM_ERR(MID_AXMSG, "read error marker %d, check 0x%x", static_cast<int>(h.marker),
                    static_cast<unsigned>(h.check));
            return false;
        case FrameReader::Result::kFrame:
        case FrameReader::Result::kEmpty:
            return false;
    }
    return false;
}

}  // namespace pc::axmsg_client

namespace {

int client_send(void *ctx, const AXMSG_HEADER_T *header, const iovec *iov, int count) {
    auto &c = *static_cast<Client *>(ctx);
    pc::pal::MutexGuard guard(c.lock);
    if (!guard.held()) return -1;
    if (c.fd < 0) {
        PFM_ERR(MID_AXMSG, "proc %u is not connected to the message hub", static_cast<unsigned>(c.pid));
        return -1;
    }
    if (pc::ipc::write_message(c.fd, *header, iov, count) != 0) {
        PFM_ERR(MID_AXMSG, "write to the message hub failed: %s", std::strerror(errno));
        shutdown(c.fd, SHUT_RDWR);
        return -1;
    }
    return 0;
}

// Connects to the hub and sends the hello; the socket or -1.
int connect_and_hello(uint32_t pid) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(AXMSG_SERV_PORT);
    inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    uint32_t hello_payload = pid;
    iovec piece{&hello_payload, sizeof hello_payload};
    AXMSG_T hello{};
    hello.dst_proc = PID_CORE;
    hello.src_proc = pid;
    hello.msg_type = MID_AXMSG;
    hello.iov = &piece;
    hello.iov_num = 1;
    AXMSG_HEADER_T header;
    axmsg_create_header(&header, &hello, 0);
    if (pc::ipc::write_message(fd, header, &piece, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The hub refuses a hello by closing the socket and says nothing when it
// accepts one. Right after the hello the client asks the hub's own echo
// (debug command 4, which every hub answers) to send back a token: the echo
// comes only over an accepted connection, so the client reports itself
// connected only then. Nothing new travels on the wire, so this works with
// hubs and peers that know nothing of it. A message for this process that
// comes before the echo is delivered as usual.
bool hello_accepted(uint32_t pid, int fd, FrameReader &frames, unsigned attempt) {
    frames.reset();
    std::array<uint8_t, 1 + sizeof kHelloToken + 2 * sizeof(uint32_t)> token{};
    token[0] = AXMSG_DBG_ECHO;
    std::memcpy(token.data() + 1, kHelloToken, sizeof kHelloToken);
    std::memcpy(token.data() + 1 + sizeof kHelloToken, &pid, sizeof pid);
    std::memcpy(token.data() + 1 + sizeof kHelloToken + sizeof pid, &attempt, sizeof attempt);
    iovec piece{token.data(), token.size()};
    AXMSG_T ask{};
    ask.dst_unit = stkGetCurrentUnit();
    ask.dst_proc = PID_CORE;
    ask.src_unit = stkGetCurrentUnit();
    ask.src_proc = pid;
    ask.msg_type = MID_AXMSG;
    ask.iov = &piece;
    ask.iov_num = 1;
    AXMSG_HEADER_T header;
    axmsg_create_header(&header, &ask, 0);
    if (pc::ipc::write_message(fd, header, &piece, 1) != 0) return false;
    const long long deadline = pal_time_msecs() + kHelloConfirmMs;
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h{};
    for (;;) {
        FrameReader::Result r = frames.next_buffered(frame, h);
        if (r == FrameReader::Result::kFrame) {
            std::span<const uint8_t> payload = frame.subspan(AXMSG_HEADER_LEN);
            if (h.msg_type == AXMSG_ECHO_REPLY_MID && h.src_proc == PID_CORE &&
                std::equal(payload.begin(), payload.end(), token.begin(), token.end()))
                return true;
            deliver(frame, h);
            continue;
        }
        if (stream_fault(r, h)) return false;
        if (r != FrameReader::Result::kEmpty) continue;
        const long long left = deadline - pal_time_msecs();
        if (left <= 0 || !pc::ipc::wait_ready(fd, POLLIN, static_cast<int>(left))) {
            PFM_ERR(MID_AXMSG, "the hub did not confirm proc %u's hello", static_cast<unsigned>(pid));
            return false;
        }
        FrameReader::Fill f = frames.fill(fd);
        if (f == FrameReader::Fill::kEnd || f == FrameReader::Fill::kNoMemory) return false;
    }
}

// ---- The reader thread ---------------------------------------------------------

// Reads and delivers what the socket holds now, under the role. False when
// the stream ended.
bool read_available(int fd, FrameReader &frames) {
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h{};
    for (;;) {
        FrameReader::Result r = frames.next_buffered(frame, h);
        if (r == FrameReader::Result::kFrame) {
            deliver(frame, h);
            continue;
        }
        if (stream_fault(r, h)) return false;
        if (r != FrameReader::Result::kEmpty) continue;
        switch (frames.fill(fd)) {
            case FrameReader::Fill::kFull:
                break;
            case FrameReader::Fill::kShort:
                // Handed out below; what comes after this read wakes a reader.
                while ((r = frames.next_buffered(frame, h)) == FrameReader::Result::kFrame ||
                       r == FrameReader::Result::kBadHeader) {
                    if (r == FrameReader::Result::kFrame)
                        deliver(frame, h);
                    else
                        stream_fault(r, h);
                }
                return !stream_fault(r, h);
            case FrameReader::Fill::kWouldBlock:
                return true;
            case FrameReader::Fill::kNoMemory:
                PFM_ERR(MID_AXMSG, "memory is not enough");
                return false;
            case FrameReader::Fill::kEnd:
                return false;
        }
    }
}

// Waits until new bytes arrive on the socket or the wake-up is set, or
// (socket off) the time to look at it again has come; true in that case.
bool reader_wait(Client &c) {
    epoll_event events[2];
    int n = epoll_wait(c.ep_reader, events, 2, reader_wait_ms(c));
    for (int i = 0; i < n; ++i)
        if (events[i].data.fd == c.wake) clear_wake(c);
    return n == 0;
}

// Reads and delivers messages until the stream ends; returns holding the role.
void serve(Client &c, int fd, FrameReader &frames) {
    bool quiet = false;
    for (;;) {
        deliver_inbox(c);
        if (reader_take_role(c, quiet)) {
            bool broken;
            {
                std::lock_guard<std::mutex> guard(c.role.mu);
                broken = c.role.broken;
            }
            if (broken || !read_available(fd, frames)) return;
            reader_release_role(c);
        }
        // With the role taken the caller reads what came; bytes it left
        // wake this thread (socket on) or are found at its next look.
        quiet = reader_wait(c);
    }
}

void sleep_unless_stopped(const Client &c, unsigned ms) {
    for (unsigned waited = 0; waited < ms && !c.stop.load(); ++waited) pal_usleep(kPollStepUs);
}

// Makes `fd` the connection callers and the reader thread read; false when
// it cannot be watched.
bool open_reading(Client &c, int fd, FrameReader &frames) {
    // Blocking, for the caller that waits in its read; every other read and
    // every write is non-blocking or bounded on its own (MSG_DONTWAIT, the
    // slice below).
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || ((flags & O_NONBLOCK) != 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0))
        return false;
    timeval slice{};
    slice.tv_usec = static_cast<suseconds_t>(kCallerReadSliceMs * 1000);
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) return false;
    if (!watch(c.ep_callers, EPOLL_CTL_ADD, fd, EPOLLIN)) return false;
    if (!watch(c.ep_reader, EPOLL_CTL_ADD, fd, kReaderEvents)) {
        epoll_ctl(c.ep_callers, EPOLL_CTL_DEL, fd, nullptr);
        return false;
    }
    std::lock_guard<std::mutex> guard(c.role.mu);
    c.role.fd = fd;
    c.role.frames = &frames;
    c.role.taken = false;
    c.role.broken = false;
    c.role.socket_on = true;
    return true;
}

// Ends reading `fd`; the reader thread holds the role.
void close_reading(Client &c, int fd) {
    deliver_inbox(c);
    {
        std::lock_guard<std::mutex> guard(c.role.mu);
        c.role.fd = -1;
        c.role.frames = nullptr;
        c.role.broken = false;
        c.role.taken = false;
        c.role.socket_on = false;
    }
    epoll_ctl(c.ep_callers, EPOLL_CTL_DEL, fd, nullptr);
    epoll_ctl(c.ep_reader, EPOLL_CTL_DEL, fd, nullptr);
}

void reader_main(void *arg) {
    auto &c = *static_cast<Client *>(arg);
    {
        FrameReader reader("axmsg_client");
        unsigned backoff_ms = kRetryMinMs;
        unsigned attempts = 0;
        while (!c.stop.load()) {
            int fd = connect_and_hello(c.pid);
            if (fd >= 0 && !hello_accepted(c.pid, fd, reader, ++attempts)) {
                // Refused (the id is still held) or unanswered: try again.
                close(fd);
                fd = -1;
            }
            if (fd < 0) {
                sleep_unless_stopped(c, backoff_ms);
                backoff_ms = std::min(backoff_ms * 2, kRetryMaxMs);
                continue;
            }
            if (!open_reading(c, fd, reader)) {
                PFM_ERR(MID_AXMSG, "cannot watch the hub connection: %s", std::strerror(errno));
                close(fd);
                sleep_unless_stopped(c, backoff_ms);
                backoff_ms = std::min(backoff_ms * 2, kRetryMaxMs);
                continue;
            }
            {
                pc::pal::MutexGuard guard(c.lock);
                if (c.stop.load()) {  // closed while connecting
                    close_reading(c, fd);
                    close(fd);
                    break;
                }
                c.fd = fd;
            }
            unsigned connects = c.connects.fetch_add(1) + 1;
            c.connected.store(true);
            pc::client::reconnect_announce(connects);
            long long since = pal_time_msecs();
            serve(c, fd, reader);
            c.connected.store(false);
            {
                pc::pal::MutexGuard guard(c.lock);
                c.fd = -1;
            }
            close_reading(c, fd);
            close(fd);
            // A hub that refuses the hello closes at once: do not spin on it.
            backoff_ms = pal_time_msecs() - since >= kStableConnectionMs
                             ? kRetryMinMs
                             : std::min(backoff_ms * 2, kRetryMaxMs);
            sleep_unless_stopped(c, backoff_ms);
        }
    }
    c.running.store(false);
}

bool wait_for(const std::atomic<bool> &flag, bool value, unsigned timeout_ms) {
    long long deadline = pal_time_msecs() + timeout_ms;
    while (flag.load() != value) {
        if (pal_time_msecs() >= deadline) return false;
        pal_usleep(kPollStepUs);
    }
    return true;
}

}  // namespace

extern "C" {

PC_API int axmsg_client_init(int pid, unsigned connect_timeout_ms) {
    Client &c = g_client;
    if (!IS_PID_VALID(pid) || pid == PID_CORE) {
        PFM_ERR(MID_AXMSG, "error procId %d", pid);
        return -1;
    }
    if (pidGetCurrent() != pid) {
        PFM_ERR(MID_AXMSG, "proc id %d is not this process's id %d", pid, pidGetCurrent());
        return -1;
    }
    if (c.running.load()) {
        PFM_ERR(MID_AXMSG, "the messaging client already runs");
        return -1;
    }
    if (c.lock == nullptr && (c.lock = pal_mutex_create("axmsg_client")) == nullptr) return -1;
    if (create_wait_objects(c) != 0) return -1;
    c.pid = static_cast<uint32_t>(pid);
    c.stop.store(false);
    pc::client::add_library_reconnect_callbacks();
    AXMSG_TRANSPORT_T transport{client_send, &c, client_wait};
    if (axmsg_transport_set(&transport) != 0) return -1;
    c.running.store(true);
    if (pal_thread_create("axmsg_client", kReaderStack, kReaderPriority, reader_main, &c) ==
        PAL_THREAD_INVALID) {
        c.running.store(false);
        axmsg_transport_set(nullptr);
        PFM_ERR(MID_AXMSG, "create thread axmsg_client failed");
        return -1;
    }
    return wait_for(c.connected, true, connect_timeout_ms) ? 0 : 1;
}

PC_API int axmsg_client_connected(void) { return g_client.connected.load() ? 1 : 0; }

PC_API int axmsg_client_wait_connected(unsigned timeout_ms) {
    return wait_for(g_client.connected, true, timeout_ms) ? 0 : -1;
}

PC_API unsigned axmsg_client_connect_count(void) { return g_client.connects.load(); }

PC_API int axmsg_client_echo_back(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    iovec piece{msg->data, msg->data_len};
    AXMSG_T reply{};
    reply.dst_unit = msg->src_unit;
    reply.dst_proc = msg->src_proc;
    reply.msg_type = AXMSG_ECHO_REPLY_MID;
    reply.iov = &piece;
    reply.iov_num = 1;
    return axmsg_send(&reply);
}

PC_API int axmsg_client_close(void) {
    Client &c = g_client;
    if (!c.running.load()) return 0;
    axmsg_transport_set(nullptr);
    pc::client::reconnect_stop();
    c.stop.store(true);
    {
        pc::pal::MutexGuard guard(c.lock);
        if (c.fd >= 0) shutdown(c.fd, SHUT_RDWR);
    }
    wake_reader(c);
    if (!wait_for(c.running, false, kStopWaitMs)) {
        PFM_ERR(MID_AXMSG, "the messaging client's reader did not stop");
        return -1;
    }
    return 0;
}

}  // extern "C"
