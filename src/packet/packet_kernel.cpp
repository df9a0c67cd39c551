// The packet netlink link to the kernel: opening, sending frames up, and
// the thread that takes the frames the kernel wants sent.
#include "packet/packet_kernel.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>

#include "packet/packet_registry.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::packet {

namespace {

constexpr uint32_t kRecvBufSize = AXPACKET_NL_HDR_LEN + AXPACKET_NL_FRAME_MAX;  // 2062

struct NlHeader {
    uint32_t len;
    uint16_t type;
    uint16_t flags;
    uint32_t seq;
    uint32_t pid;
};
static_assert(sizeof(NlHeader) == AXPACKET_NL_HDR_LEN);

// A kernel side that went away is asked for again after a pause that
// grows from the first to the last value below.
constexpr auto kReconnectPauseFirst = std::chrono::milliseconds(100);
constexpr auto kReconnectPauseMax = std::chrono::milliseconds(1000);

std::atomic<int> g_fd{-1};  // socketFd
std::atomic<bool> g_stopping{false};
bool g_is_netlink = false;  // written by open only
uint32_t g_port = 0;        // our netlink port, the process id; written by open only

// Orders closing against a reconnection replacing the descriptor, and
// wakes the receive thread's pause when the link is closed.
std::mutex g_link_lock;
std::condition_variable g_link_closed;

// The host transport: present when the simulated kernel side listens. A
// sequenced-packet connection keeps the messages' boundaries and, unlike a
// datagram socket, queues up to the send buffer rather than ten messages.
int open_host_link() {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un peer{};
    peer.sun_family = AF_UNIX;
    constexpr std::string_view kName = AXPACKET_NL_HOST_KERNEL_NAME;
    static_assert(kName.size() + 1 < sizeof peer.sun_path);
    std::memcpy(peer.sun_path + 1, kName.data(), kName.size());
    auto plen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + kName.size());
    if (connect(fd, reinterpret_cast<sockaddr *>(&peer), plen) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int send_on(int fd, uint16_t type, std::span<const iovec> pieces) {
    constexpr size_t kMaxPieces = 4;
    if (fd < 0 || pieces.size() > kMaxPieces) return -1;
    uint64_t len = 0;
    for (const iovec &p : pieces) len += p.iov_len;
    if (len > UINT32_MAX - sizeof(NlHeader)) return -1;
    NlHeader h{static_cast<uint32_t>(sizeof(NlHeader) + len), type, 0, 0, g_port};
    iovec iov[kMaxPieces + 1] = {{&h, sizeof h}};
    for (size_t i = 0; i < pieces.size(); ++i) iov[i + 1] = pieces[i];
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    msghdr msg{};
    if (g_is_netlink) {
        msg.msg_name = &kernel;
        msg.msg_namelen = sizeof kernel;
    }
    msg.msg_iov = iov;
    msg.msg_iovlen = pieces.size() + 1;
    return sendmsg(fd, &msg, MSG_NOSIGNAL) < 0 ? -1 : 0;
}

int send_one(int fd, uint16_t type, const void *payload, uint32_t len) {
    iovec piece{const_cast<void *>(payload), len};
    return send_on(fd, type, std::span<const iovec>(&piece, len ? 1 : 0));
}

// Tells a freshly connected kernel side who we are: types 1 and 2.
int introduce(int fd) {
    uint32_t pid = g_port;
    uint8_t mac[MAC_ADDR_SIZE]{};
    if (send_one(fd, AXPACKET_NL_REGISTER, &pid, sizeof pid) != 0) return -1;
    (void)getMacAddress(mac);
    return send_one(fd, AXPACKET_NL_MAC, mac, sizeof mac);
}

// Waits `pause` unless the link is closed meanwhile; false once closing.
bool pause_unless_closed(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> g(g_link_lock);
    return !g_link_closed.wait_for(g, pause, [] { return g_stopping.load(); });
}

// The kernel side closed our connection (or the socket failed). On the
// host link a new connection is made once the kernel side listens again,
// introduced, and put in place of the old descriptor with dup2, so a
// sender never sees a closed or reused number; the netlink socket has
// nothing to reconnect and is read again after the pause. Pauses between
// attempts; returns false once the link is being closed.
bool wait_for_kernel_side(int broken) {
    auto pause = kReconnectPauseFirst;
    for (;;) {
        if (!pause_unless_closed(pause)) return false;
        if (g_is_netlink) return true;
        int fresh = open_host_link();
        if (fresh >= 0 && introduce(fresh) == 0) {
            std::lock_guard<std::mutex> g(g_link_lock);
            bool replaced = !g_stopping && g_fd.load() == broken && dup2(fresh, broken) == broken;
            close(fresh);
            return replaced;
        }
        if (fresh >= 0) close(fresh);
        pause = std::min(pause * 2, kReconnectPauseMax);
    }
}

}  // namespace

int kernel_link_open() {
    uint32_t port = static_cast<uint32_t>(getpid());
    g_stopping = false;
    g_port = port;
    int fd = open_host_link();
    if (fd >= 0) {
        g_is_netlink = false;
        g_fd = fd;
        return 0;
    }
    fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, AXPACKET_NETLINK_PROTO);
    if (fd < 0) {
        PFM_ERR(kMid, "AXPacket socket init error\n");
        return -1;
    }
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    self.nl_pid = port;
    if (bind(fd, reinterpret_cast<sockaddr *>(&self), sizeof self) != 0) {
        PFM_ERR(kMid, "AXPacket bind error\n");
        close(fd);
        return -1;
    }
    g_is_netlink = true;
    g_fd = fd;
    return 0;
}

void kernel_link_close() {
    std::lock_guard<std::mutex> g(g_link_lock);
    g_stopping = true;
    int fd = g_fd.exchange(-1);
    if (fd >= 0) {
        shutdown(fd, SHUT_RDWR);
        close(fd);
    }
    g_link_closed.notify_all();
}

int kernel_link_sendv(uint16_t type, std::span<const iovec> pieces) {
    return send_on(g_fd.load(), type, pieces);
}

int kernel_link_send(uint16_t type, const void *payload, uint32_t len) {
    return send_one(g_fd.load(), type, payload, len);
}

}  // namespace pc::packet

using namespace pc::packet;

extern "C" {

PC_API int axPacketSendToKernel(const uint8_t *frame, uint32_t length) {
    if (frame != nullptr) (void)kernel_link_send(AXPACKET_NL_TO_KERNEL, frame, length);
    return 0;
}

PC_API void *axpacketReceive(void *arg) {
    (void)arg;
    auto *buf = static_cast<uint8_t *>(pal_alloc(kRecvBufSize, kAllocTag));
    if (buf == nullptr) return nullptr;
    for (;;) {
        int fd = g_fd.load();
        if (fd < 0 || g_stopping) break;
        std::memset(buf, 0, kRecvBufSize);
        ssize_t n = recv(fd, buf, kRecvBufSize, 0);
        if (g_stopping) break;
        if (n < 0 && (errno == EBADF || errno == ENOTSOCK)) break;
        // Interrupted, or netlink messages lost to a full buffer: read on.
        bool transient = n < 0 && (errno == EINTR || errno == ENOBUFS || errno == EAGAIN);
        if (n == 0 || (n < 0 && !transient)) {
            // The kernel side is gone: wait for it, never spin on the end.
            if (!wait_for_kernel_side(fd)) break;
            continue;
        }
        if (n < 0 || static_cast<size_t>(n) < sizeof(NlHeader)) continue;
        NlHeader h;
        std::memcpy(&h, buf, sizeof h);
        // The length must agree with what arrived.
        if (h.type != AXPACKET_NL_FROM_KERNEL || h.len < sizeof h || h.len > static_cast<uint32_t>(n))
            continue;
        AX_PACKET_T pkt{};
        pkt.data = buf + sizeof h;
        pkt.len = h.len - static_cast<uint32_t>(sizeof h);
        pkt.flags |= AX_PKT_FLAG_FROM_KERNEL;
        PFM_DBG(kMid, "Send packet\n");
        kernelSendStat();
        axPacketSend(&pkt);
    }
    pal_free(buf);
    return nullptr;
}

}  // extern "C"
