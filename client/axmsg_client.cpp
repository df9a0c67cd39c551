// The messaging client (see axmsg_client.h).
//
// One client per process, created by axmsg_client_init and kept for the
// life of the process (it is the context of the installed transport).
//
// Threads: the reader thread "axmsg_client" connects, sends the hello,
// reads and delivers messages, and reconnects when the stream ends. Any
// thread may send through the transport.
//
// Locking: `lock` (a PAL mutex) guards `fd`. Writers hold it for a whole
// message, so messages never interleave. Only the reader thread opens and
// closes the socket; a writer that meets a hard error shuts the socket down,
// which ends the reader's read, and the reader then clears `fd` under the
// lock and closes it. A descriptor is thus never closed under a writer.
#include "axmsg_client/axmsg_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "ipc/axmsg_stream.h"
#include "pal/mutex_guard.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

using pc::ipc::FrameReader;

constexpr unsigned kReaderStack = 16384;
constexpr unsigned kReaderPriority = 0;
constexpr unsigned kRetryMinMs = 20;
constexpr unsigned kRetryMaxMs = 500;
constexpr long long kStableConnectionMs = 1000;  // a connection this old resets the back-off
constexpr unsigned kPollStepUs = 1000;
constexpr unsigned kStopWaitMs = 5000;

struct Client {
    uint32_t pid = 0;            // set by init while no reader runs
    pal_mutex_t lock = nullptr;  // created once, never destroyed
    int fd = -1;                 // guarded by lock; opened/closed by the reader only
    std::atomic<bool> connected{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};  // a reader thread is alive
    std::atomic<unsigned> connects{0};
};

Client g_client;

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

// Reads and delivers messages until the stream ends.
void serve(int fd, FrameReader &reader) {
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h{};
    for (;;) {
        switch (reader.next(fd, frame, h)) {
            case FrameReader::Result::kFrame: {
                AXMSG_T msg{};
                msg.dst_unit = h.dst_unit;
                msg.dst_proc = h.dst_proc;
                msg.src_unit = h.src_unit;
                msg.src_proc = h.src_proc;
                msg.msg_type = h.msg_type;
                msg.data = frame.data() + AXMSG_HEADER_LEN;
                msg.data_len = h.data_len;
                iovec piece{msg.data, msg.data_len};
                msg.iov = &piece;
                msg.iov_num = 1;
                if (axmsg_deliver(&msg) != 0) {
                    PFM_DBG(MID_AXMSG, "msg type %u from proc %u not handled",
                            static_cast<unsigned>(h.msg_type), static_cast<unsigned>(h.src_proc));
                }
                break;
            }
            case FrameReader::Result::kBadHeader:
                PFM_ERR(MID_AXMSG, "read error marker %d, check 0x%x", static_cast<int>(h.marker),
                        static_cast<unsigned>(h.check));
                break;
            case FrameReader::Result::kTooLong:
                PFM_ERR(MID_AXMSG, "hub announced %u payload bytes (limit %u), reconnecting",
                        static_cast<unsigned>(h.data_len), static_cast<unsigned>(AXMSG_MAX_DATA_LEN));
                return;
            case FrameReader::Result::kNoMemory:
                PFM_ERR(MID_AXMSG, "memory is not enough");
                return;
            case FrameReader::Result::kEnd:
                return;
        }
    }
}

void sleep_unless_stopped(const Client &c, unsigned ms) {
    for (unsigned waited = 0; waited < ms && !c.stop.load(); ++waited) pal_usleep(kPollStepUs);
}

void reader_main(void *arg) {
    auto &c = *static_cast<Client *>(arg);
    {
        FrameReader reader("axmsg_client");
        unsigned backoff_ms = kRetryMinMs;
        while (!c.stop.load()) {
            int fd = connect_and_hello(c.pid);
            if (fd < 0) {
                sleep_unless_stopped(c, backoff_ms);
                backoff_ms = std::min(backoff_ms * 2, kRetryMaxMs);
                continue;
            }
            {
                pc::pal::MutexGuard guard(c.lock);
                if (c.stop.load()) {  // closed while connecting
                    close(fd);
                    break;
                }
                c.fd = fd;
            }
            c.connects.fetch_add(1);
            c.connected.store(true);
            long long since = pal_time_msecs();
            reader.reset();
            serve(fd, reader);
            c.connected.store(false);
            {
                pc::pal::MutexGuard guard(c.lock);
                c.fd = -1;
            }
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
    c.pid = static_cast<uint32_t>(pid);
    c.stop.store(false);
    AXMSG_TRANSPORT_T transport{client_send, &c};
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
    c.stop.store(true);
    {
        pc::pal::MutexGuard guard(c.lock);
        if (c.fd >= 0) shutdown(c.fd, SHUT_RDWR);
    }
    if (!wait_for(c.running, false, kStopWaitMs)) {
        PFM_ERR(MID_AXMSG, "the messaging client's reader did not stop");
        return -1;
    }
    return 0;
}

}  // extern "C"
