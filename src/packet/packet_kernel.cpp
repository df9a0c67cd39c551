// The packet netlink link to the kernel: opening, sending frames up, and
// the thread that takes the frames the kernel wants sent.
#include "packet/packet_kernel.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "packet/packet_registry.h"
#include "platform_core/platform.h"

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

std::atomic<int> g_fd{-1};  // socketFd
std::atomic<bool> g_stopping{false};
bool g_is_netlink = false;  // written by open only
uint32_t g_port = 0;        // our netlink port, the process id; written by open only

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
    g_stopping = true;
    int fd = g_fd.exchange(-1);
    if (fd >= 0) {
        shutdown(fd, SHUT_RDWR);
        close(fd);
    }
}

int kernel_link_sendv(uint16_t type, std::span<const iovec> pieces) {
    int fd = g_fd.load();
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

int kernel_link_send(uint16_t type, const void *payload, uint32_t len) {
    iovec piece{const_cast<void *>(payload), len};
    return kernel_link_sendv(type, std::span<const iovec>(&piece, len ? 1 : 0));
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
        if (n < 0) {
            if (g_stopping) break;
            if (errno == EBADF || errno == ENOTSOCK) break;
            continue;
        }
        if (n == 0 && g_stopping) break;
        if (static_cast<size_t>(n) < sizeof(NlHeader)) continue;
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
