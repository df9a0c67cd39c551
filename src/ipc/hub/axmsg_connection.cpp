// The hub's connection table and the reader thread of a connection (see
// axmsg_connection.h for the locking and lifetime rules).
#include "ipc/hub/axmsg_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "ipc/hub/axmsg_stream.h"
#include "ipc/hub/hub.h"
#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc {
namespace {

constexpr unsigned kReaderStack = 16384;
constexpr unsigned kReaderPriority = 0;
constexpr size_t kNameLen = 32;
constexpr unsigned kHelloLockWaitMs = 100;

enum class State { kFree, kOpen, kClosing };

struct Connection {
    uint32_t pid = 0;            // fixed when the table is created
    pal_mutex_t lock = nullptr;  // created once, never destroyed
    int fd = -1;                 // guarded by lock; closed only by its reader
    State state = State::kFree;  // guarded by lock
    uint64_t gen = 0;            // guarded by lock; the current (or last) connection
    // The open generation (0 while none), written under lock and read by
    // readers without it: a reader whose generation was retired stops.
    std::atomic<uint64_t> serving{0};
    std::mutex retire_lock;  // one retiring at a time (the hooks run under it)
};

// What a reader thread serves: one generation of one record.
struct ReaderStart {
    Connection *conn;
    int fd;
    uint64_t gen;
};

std::array<Connection, PID_MAX> g_conns;
std::atomic<bool> g_ready{false};  // the records' mutexes exist

void connection_name(uint32_t pid, char (&name)[kNameLen]) {
    std::snprintf(name, sizeof name, "axmsg serv %u", static_cast<unsigned>(pid));
}

// Retires generation `gen` of `c` if it is still the open connection:
// writers lose it at once, its socket is shut down (its reader, wherever it
// is, leaves at its next read), the process-gone hooks run, and the record
// is free for a new hello. A second call for the same generation waits for
// the first to finish and does nothing more.
void retire(Connection &c, uint64_t gen) {
    std::lock_guard<std::mutex> retiring(c.retire_lock);
    int fd;
    {
        pal::MutexGuard guard(c.lock);
        if (c.gen != gen || c.state != State::kOpen) return;
        c.state = State::kClosing;
        c.serving.store(0, std::memory_order_release);
        fd = c.fd;
        c.fd = -1;
    }
    // The descriptor is still open: its reader closes it only after this.
    PFM_DBG(MID_AXMSG, "sock %d close", fd);
    shutdown(fd, SHUT_RDWR);
    run_process_gone_hooks(c.pid);
    pal::MutexGuard guard(c.lock);
    if (c.gen == gen) c.state = State::kFree;
}

// True when the peer of `fd` closed or the socket hung up.
bool peer_gone(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The record `p` points at, or null when it is not one of the table's.
Connection *record_of(void *p) {
    for (uint32_t pid = 1; pid < PID_MAX; ++pid)
        if (p == &g_conns[pid]) return &g_conns[pid];
    return nullptr;
}

// A connection speaks only for the process that said hello on it, on this
// unit: anything else is dropped.
bool source_ok(const Connection &c, const AXMSG_HEADER_T &h) {
    if (h.src_proc == c.pid && h.src_unit == current_unit()) return true;
    PFM_ERR(MID_AXMSG, "proc %u sent a message as unit %u proc %u, dropped", static_cast<unsigned>(c.pid),
            static_cast<unsigned>(h.src_unit), static_cast<unsigned>(h.src_proc));
    return false;
}

// The reader blocks in read() while the peer is silent: one system call per
// burst of messages instead of a failed read and a poll. Writers never block
// in the kernel whatever the socket's mode: they send with MSG_DONTWAIT.
void make_reads_blocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

void reader_main(Connection &c, int fd, uint64_t gen) {
    make_reads_blocking(fd);
    {
        FrameReader reader("axmsg_serv");
        std::span<uint8_t> frame;
        AXMSG_HEADER_T h{};
        bool open = true;
        while (open) {
            switch (reader.next(fd, frame, h)) {
                case FrameReader::Result::kFrame:
                    // What a retired connection still held was sent by a
                    // process that is gone: after a take-over it would
                    // speak for the new one.
                    if (c.serving.load(std::memory_order_acquire) != gen) {
                        open = false;
                        break;
                    }
                    PFM_DBG(MID_AXMSG,
                            "RCV MSG HEADER: src unit = %d, src proc = %d, dst unit = %d, dst proc = %d",
                            static_cast<int>(h.src_unit), static_cast<int>(h.src_proc),
                            static_cast<int>(h.dst_unit), static_cast<int>(h.dst_proc));
                    if (source_ok(c, h))
                        axmsg_serv_cmd_proc(frame.data(), static_cast<uint32_t>(frame.size()));
                    break;
                case FrameReader::Result::kBadHeader:
                    PFM_ERR(MID_AXMSG, "read error marker %d, check 0x%x", static_cast<int>(h.marker),
                            static_cast<unsigned>(h.check));
                    break;
                case FrameReader::Result::kTooLong:
                    PFM_ERR(MID_AXMSG, "proc %u announced %u payload bytes (limit %u), closing",
                            static_cast<unsigned>(c.pid), static_cast<unsigned>(h.data_len),
                            static_cast<unsigned>(AXMSG_MAX_DATA_LEN));
                    open = false;
                    break;
                case FrameReader::Result::kNoMemory:
                    PFM_ERR(MID_AXMSG, "memory is not enough");
                    open = false;
                    break;
                case FrameReader::Result::kEnd:
                case FrameReader::Result::kEmpty:  // next() waits instead
                    open = false;
                    break;
            }
        }
    }
    retire(c, gen);
    close(fd);
}

void reader_thread(void *arg) {
    ReaderStart start = *static_cast<ReaderStart *>(arg);
    delete static_cast<ReaderStart *>(arg);
    reader_main(*start.conn, start.fd, start.gen);
}

enum class Holder { kFree, kAlive, kDead };

// Who holds the record now; a dead holder's generation in `gen`. A writer
// that keeps the record's lock is writing to a live peer (a write to a dead
// one fails at once): the accept thread does not wait behind it.
Holder holder_of(Connection &c, uint64_t &gen) {
    pal::MutexGuard guard(c.lock, kHelloLockWaitMs);
    if (!guard.held()) return Holder::kAlive;
    gen = c.gen;
    switch (c.state) {
        case State::kFree:
            return Holder::kFree;
        case State::kClosing:
            return Holder::kDead;
        case State::kOpen:
            // Under the lock the descriptor is still open (it is closed only
            // after the connection was retired, which needs the lock).
            return peer_gone(c.fd) ? Holder::kDead : Holder::kAlive;
    }
    return Holder::kAlive;
}

}  // namespace

int connections_init() {
    if (g_ready.load()) return 0;
    for (uint32_t pid = 1; pid < PID_MAX; ++pid) {
        Connection &c = g_conns[pid];
        c.pid = pid;
        char name[kNameLen];
        connection_name(pid, name);
        c.lock = pal_mutex_create(name);
        if (c.lock == nullptr) {
            PFM_ERR(MID_AXMSG, "create mutex %s failed", name);
            return -1;
        }
    }
    g_ready.store(true);
    return 0;
}

AttachResult connection_attach(uint32_t pid, int fd) {
    if (!g_ready.load() || !IS_PID_VALID(pid)) return AttachResult::kFailed;
    Connection &c = g_conns[pid];
    uint64_t old_gen = 0;
    switch (holder_of(c, old_gen)) {
        case Holder::kFree:
            break;
        case Holder::kDead:
            PFM_DBG(MID_AXMSG, "proc %d: the new connection takes over from a dead one",
                    static_cast<int>(pid));
            retire(c, old_gen);
            break;
        case Holder::kAlive:
            PFM_ERR(MID_AXMSG, "proc %d sock %d has already connected", static_cast<int>(pid), fd);
            return AttachResult::kAlreadyConnected;
    }
    auto *start = new (std::nothrow) ReaderStart{&c, fd, 0};
    if (start == nullptr) return AttachResult::kFailed;
    {
        pal::MutexGuard guard(c.lock);
        if (c.state != State::kFree) {  // only this thread attaches; kept as a guard
            delete start;
            PFM_ERR(MID_AXMSG, "proc %d sock %d has already connected", static_cast<int>(pid), c.fd);
            return AttachResult::kAlreadyConnected;
        }
        c.fd = fd;
        c.state = State::kOpen;
        start->gen = ++c.gen;
        c.serving.store(start->gen, std::memory_order_release);
    }
    const uint64_t gen = start->gen;
    char name[kNameLen];
    connection_name(pid, name);
    if (pal_thread_create(name, kReaderStack, kReaderPriority, reader_thread, start) == PAL_THREAD_INVALID) {
        PFM_ERR(MID_AXMSG, "create thread %s failed", name);
        delete start;
        pal::MutexGuard guard(c.lock);
        if (c.gen == gen) {
            c.fd = -1;
            c.state = State::kFree;
            c.serving.store(0, std::memory_order_release);
        }
        return AttachResult::kFailed;
    }
    PFM_DBG(MID_AXMSG, "proc %d sock %d connected", static_cast<int>(pid), fd);
    return AttachResult::kAttached;
}

int connection_write(uint32_t pid, const AXMSG_HEADER_T &header, const iovec *iov, int count) {
    if (!g_ready.load() || !IS_PID_VALID(pid)) {
        PFM_ERR(MID_AXMSG, "error client");
        return -1;
    }
    Connection &c = g_conns[pid];
    pal::MutexGuard guard(c.lock);
    if (!guard.held()) return -1;
    if (c.fd < 0) {
        PFM_ERR(MID_AXMSG, "error client");
        return -1;
    }
    if (write_message(c.fd, header, iov, count, kWriteStallMs) != 0) {
        PFM_ERR(MID_AXMSG, "write to proc %u failed: %s", static_cast<unsigned>(pid), std::strerror(errno));
        // The reader sees the shut-down socket, closes it and clears the
        // record; writers queued behind this one fail at once.
        shutdown(c.fd, SHUT_RDWR);
        return -1;
    }
    return 0;
}

void connections_print() {
    if (!g_ready.load()) return;
    for (uint32_t pid = 1; pid < PID_MAX; ++pid) {
        Connection &c = g_conns[pid];
        int fd;
        {
            pal::MutexGuard guard(c.lock);
            fd = c.fd;
        }
        if (fd >= 0)
            std::printf("Process %s, id %d, sock %d\n", pidNameGet(static_cast<int>(pid)),
                        static_cast<int>(pid), fd);
    }
}

}  // namespace pc::ipc

extern "C" {

PC_API void axmsg_serv_sub_thread(void *record) {
    pc::ipc::Connection *c = pc::ipc::record_of(record);
    if (c == nullptr) return;
    int fd;
    uint64_t gen;
    {
        pc::pal::MutexGuard guard(c->lock);
        if (c->state != pc::ipc::State::kOpen) return;
        fd = c->fd;
        gen = c->gen;
    }
    pc::ipc::reader_main(*c, fd, gen);
}

PC_API void axmsg_serv_close(void *record) {
    pc::ipc::Connection *c = pc::ipc::record_of(record);
    if (c == nullptr) return;
    pc::pal::MutexGuard guard(c->lock);
    if (guard.held() && c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
}

}  // extern "C"
