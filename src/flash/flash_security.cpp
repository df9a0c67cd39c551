// The flash security code, asked of the kernel's flash driver over netlink
// protocol 23. Where the kernel has no such protocol (a development machine)
// the same messages go to the simulated switch's service in the abstract
// Unix namespace.
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform_core/flash.h"

int flashSock = -1;

namespace {

constexpr int kReceiveTries = 10;  // one per second
bool g_host_transport = false;     // set when flashSock is the Unix stand-in

socklen_t host_service_address(sockaddr_un *addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    std::memcpy(addr->sun_path + 1, FLASH_NETLINK_HOST_SERVICE, sizeof FLASH_NETLINK_HOST_SERVICE - 1);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof FLASH_NETLINK_HOST_SERVICE);
}

}  // namespace

extern "C" {

int flashApiInit(void) {
    if (flashSock >= 0) return 0;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, FLASH_NETLINK_PROTOCOL);
    if (fd >= 0) {
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_pid = static_cast<uint32_t>(getpid());
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            std::printf("flash netlink sock bind fail %d\r\n", errno);
            ::close(fd);
            return -1;
        }
        g_host_transport = false;
    } else {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::printf("flash netlink sock create fail %d\r\n", errno);
            return -1;
        }
        sockaddr_un local{};
        local.sun_family = AF_UNIX;  // autobind: the kernel picks an abstract name
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(sa_family_t)) != 0) {
            std::printf("flash netlink sock bind fail %d\r\n", errno);
            ::close(fd);
            return -1;
        }
        g_host_transport = true;
    }
    timeval tv{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    flashSock = fd;
    return 0;
}

int flashReadSecurityCode(unsigned char *out) {
    if (out == nullptr) return -1;
    if (flashSock < 0 && flashApiInit() != 0) return -1;
    unsigned char request[NLMSG_HDRLEN + 4] = {};
    nlmsghdr hdr{};
    hdr.nlmsg_len = sizeof request;
    hdr.nlmsg_pid = static_cast<uint32_t>(getpid());
    std::memcpy(request, &hdr, sizeof hdr);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    sockaddr_un service{};
    socklen_t serviceLen = host_service_address(&service);
    ssize_t sent = g_host_transport ? ::sendto(flashSock, request, sizeof request, 0,
                                               reinterpret_cast<sockaddr *>(&service), serviceLen)
                                    : ::sendto(flashSock, request, sizeof request, 0,
                                               reinterpret_cast<sockaddr *>(&kernel), sizeof kernel);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        std::printf("[%s]sendmsg error\r\n", __func__);
        // No request went out, so no reply can come: do not wait for one.
        return -1;
    }
    for (int tries = 0; tries < kReceiveTries; ++tries) {
        unsigned char reply[256];
        iovec iov{reply, sizeof reply};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n = ::recvmsg(flashSock, &msg, 0);
        if (n >= static_cast<ssize_t>(NLMSG_HDRLEN + FLASH_SECURITY_CODE_LEN)) {
            std::memcpy(out, reply + NLMSG_HDRLEN, FLASH_SECURITY_CODE_LEN);
            return 0;
        }
    }
    return -1;
}

}  // extern "C"
