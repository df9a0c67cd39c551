// The hub's connection table and the reader thread of a connection (see
// axmsg_connection.h for the locking and lifetime rules).
#include "ipc/axmsg_connection.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ipc/axmsg_departure.h"
#include "ipc/axmsg_stream.h"
#include "ipc/axmsg_unit.h"
#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc {
namespace {

constexpr unsigned kReaderStack = 16384;
constexpr unsigned kReaderPriority = 0;
constexpr size_t kNameLen = 32;

struct Connection {
    uint32_t pid = 0;            // fixed when the table is created
    pal_mutex_t lock = nullptr;  // created once, never destroyed
    int fd = -1;                 // guarded by lock; closed only by the reader
    bool in_use = false;         // guarded by lock; a reader thread owns the record
};

std::array<Connection, PID_MAX> g_conns;
std::atomic<bool> g_ready{false};  // the records' mutexes exist

void connection_name(uint32_t pid, char (&name)[kNameLen]) {
    std::snprintf(name, sizeof name, "axmsg serv %u", static_cast<unsigned>(pid));
}

// Ends the connection: only the reader thread of `c` calls this. Writers
// fail from the moment `fd` is cleared; the record stays taken while the
// services drop what the process registered, so a new hello for the same id
// is refused until its tables are clean.
void close_connection(Connection &c, int fd) {
    PFM_DBG(MID_AXMSG, "sock %d close", fd);
    {
        pal::MutexGuard guard(c.lock);
        c.fd = -1;
    }
    close(fd);
    process_gone_notify(c.pid);
    pal::MutexGuard guard(c.lock);
    c.in_use = false;
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

void reader_main(Connection &c) {
    int fd;
    {
        pal::MutexGuard guard(c.lock);
        fd = c.fd;
    }
    make_reads_blocking(fd);
    {
        FrameReader reader("axmsg_serv");
        std::span<uint8_t> frame;
        AXMSG_HEADER_T h{};
        bool open = true;
        while (open) {
            switch (reader.next(fd, frame, h)) {
                case FrameReader::Result::kFrame:
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
    close_connection(c, fd);
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
    {
        pal::MutexGuard guard(c.lock);
        if (c.in_use) {
            PFM_ERR(MID_AXMSG, "proc %d sock %d has already connected", static_cast<int>(pid), c.fd);
            return AttachResult::kAlreadyConnected;
        }
        c.fd = fd;
        c.in_use = true;
    }
    char name[kNameLen];
    connection_name(pid, name);
    if (pal_thread_create(name, kReaderStack, kReaderPriority, axmsg_serv_sub_thread, &c) ==
        PAL_THREAD_INVALID) {
        PFM_ERR(MID_AXMSG, "create thread %s failed", name);
        pal::MutexGuard guard(c.lock);
        c.fd = -1;
        c.in_use = false;
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
    if (c != nullptr) pc::ipc::reader_main(*c);
}

PC_API void axmsg_serv_close(void *record) {
    pc::ipc::Connection *c = pc::ipc::record_of(record);
    if (c == nullptr) return;
    pc::pal::MutexGuard guard(c->lock);
    if (guard.held() && c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
}

}  // extern "C"
