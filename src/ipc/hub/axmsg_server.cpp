// The hub's listening socket, accept loop and start-up (see axmsg_server.h).
#include "ipc/hub/axmsg_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <span>

#include "ipc/hub/axmsg_connection.h"
#include "ipc/hub/axmsg_debug.h"
#include "ipc/hub/axmsg_hello.h"
#include "ipc/hub/axmsg_stream.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc {
namespace {

constexpr int kBacklog = 10;
constexpr unsigned kAcceptStack = 16384;
constexpr unsigned kAcceptPriority = 0;
constexpr unsigned kAcceptRetryUs = 100 * 1000;

std::atomic<int> g_listen_fd{-1};
std::atomic<bool> g_thread_started{false};

// Checks a complete hello; the connecting process id, or 0 when refused.
uint32_t check_hello(int fd, std::span<const uint8_t, kHelloBytes> hello) {
    AXMSG_HEADER_T h = decode_header(hello.first<AXMSG_HEADER_LEN>());
    if (!header_ok(h)) {
        PFM_ERR(MID_AXMSG, "read error marker %d, check 0x%x, from sock %d", static_cast<int>(h.marker),
                static_cast<unsigned>(h.check), fd);
        return 0;
    }
    // The hub's own id is never a peer's: a connection claiming it would
    // speak for the core.
    if (!IS_PID_VALID(h.src_proc) || h.src_proc == static_cast<uint32_t>(pidGetCurrent())) {
        PFM_ERR(MID_AXMSG, "error procId %d", static_cast<int>(h.src_proc));
        return 0;
    }
    return h.src_proc;
}

void hello_complete(int fd, std::span<const uint8_t, kHelloBytes> hello) {
    uint32_t pid = check_hello(fd, hello);
    if (pid == 0 || connection_attach(pid, fd) != AttachResult::kAttached) close(fd);
}

void accept_pending(int lfd, HelloGate &gate) {
    // Everything the backlog holds now; the listening socket is non-blocking.
    for (;;) {
        int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // Out of descriptors or memory: the listening socket stays open
            // and the loop tries again shortly.
            PFM_ERR(MID_AXMSG, "Can't accept socket: %s", std::strerror(errno));
            pal_usleep(kAcceptRetryUs);
            return;
        }
        PFM_DBG(MID_AXMSG, "axserv: create client sock:%d", fd);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        gate.add(fd, monotonic_ms());
    }
}

void accept_thread(void *) { axmsg_serv_run(); }

}  // namespace

bool hub_serving() { return g_listen_fd.load(std::memory_order_relaxed) >= 0; }

}  // namespace pc::ipc

extern "C" {

PC_API int axmsg_serv_init(void) {
    if (pc::ipc::g_listen_fd.load() >= 0) return 0;
    if (pc::ipc::connections_init() != 0) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        PFM_ERR(MID_AXMSG, "socket: %s", std::strerror(errno));
        return fd;
    }
    int one = 1;
    int rc = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (rc < 0) {
        PFM_ERR(MID_AXMSG, "setsockopt: %s", std::strerror(errno));
        close(fd);
        return rc;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(AXMSG_SERV_PORT);
    inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
    rc = bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (rc < 0) {
        PFM_ERR(MID_AXMSG, "bind %s:%d: %s", AXMSG_SERV_ADDR, AXMSG_SERV_PORT, std::strerror(errno));
        close(fd);
        return rc;
    }
    rc = listen(fd, pc::ipc::kBacklog);
    if (rc < 0) {
        PFM_ERR(MID_AXMSG, "listen: %s", std::strerror(errno));
        close(fd);
        return rc;
    }
    pc::ipc::g_listen_fd.store(fd);
    return 0;
}

PC_API int axmsg_init(int pid) {
    (void)pid;
    PFM_CALL_RET(MID_AXMSG, axmsg_serv_init());
    PFM_CALL_RET(MID_AXMSG, axmsg_reg(MID_AXMSG, pc::ipc::debug_handler));
    // Messages from other units; the hub serves this unit without them.
    if (int rc = axmsg_utp_init(); rc != 0) PFM_CALL_FAILED(MID_AXMSG, rc, "axmsg_utp_init()");
    bool expected = false;
    if (!pc::ipc::g_thread_started.compare_exchange_strong(expected, true)) return 0;
    if (pal_thread_create("axmsg", pc::ipc::kAcceptStack, pc::ipc::kAcceptPriority, pc::ipc::accept_thread,
                          nullptr) == PAL_THREAD_INVALID) {
        PFM_ERR(MID_AXMSG, "create thread axmsg failed");
        pc::ipc::g_thread_started.store(false);
        return -1;
    }
    return 0;
}

PC_API void axmsg_serv_run(void) {
    using namespace pc::ipc;
    HelloGate gate;
    std::array<pollfd, 1 + kMaxPendingHellos> fds{};
    for (;;) {
        int lfd = g_listen_fd.load();
        fds[0] = pollfd{lfd, POLLIN, 0};
        size_t n = 1 + gate.poll_set(std::span(fds).subspan(1));
        int rc = poll(fds.data(), static_cast<nfds_t>(n), gate.next_timeout(monotonic_ms()));
        PFM_DBG(MID_AXMSG, "select return %d, %s", rc, std::strerror(errno));
        if (rc < 0 && errno != EINTR) pal_usleep(kAcceptRetryUs);
        if (rc < 0) continue;
        // Hellos first: accepting may evict a waiter whose slot is polled.
        gate.service(std::span(fds).subspan(1, n - 1), monotonic_ms(), hello_complete);
        if (fds[0].revents & POLLIN) accept_pending(lfd, gate);
    }
}

PC_API int axmsg_serv_clients_print(void) {
    pc::ipc::connections_print();
    return 0;
}

PC_API int axmsg_get_procid(void) { return pidGetCurrent(); }

PC_API int axmsg_close(void) { return 0; }

}  // extern "C"
