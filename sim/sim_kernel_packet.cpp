// The kernel side of the packet netlink protocol on a host without the
// firmware's kernel module. It listens on the abstract AF_UNIX datagram
// address AXPACKET_NL_HOST_KERNEL_NAME and speaks the same netlink messages:
// type 1 names the core's port, type 2 gives the switch MAC, type 3 brings
// a received frame, type 4 (sent to "<name>/<port>") asks the core to send
// one. With a TAP interface, type-3 frames are written to it and every frame
// the Linux stack sends on it becomes a type-4 message; without one the
// frames are only counted.
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform_core/axpacket.h"
#include "platform_sim/sim_chip.h"

namespace {

struct NlHeader {
    uint32_t len;
    uint16_t type;
    uint16_t flags;
    uint32_t seq;
    uint32_t pid;
};
static_assert(sizeof(NlHeader) == AXPACKET_NL_HDR_LEN);

constexpr size_t kMsgMax = AXPACKET_NL_HDR_LEN + 9216;

struct KernelSide {
    std::mutex lock;  // guards the fields below except the atomics
    int sock = -1;
    int tap = -1;
    std::string tap_name;
    std::atomic<bool> running{false};
    std::atomic<uint32_t> core_port{0};
    std::atomic<uint32_t> rx_count{0};
    uint8_t mac[6]{};
    bool have_mac = false;
    std::vector<uint8_t> last;
};

// Never freed: its threads run until the process ends.
KernelSide &ks() {
    static auto *k = new KernelSide;
    return *k;
}

socklen_t abstract_addr(sockaddr_un &a, const std::string &name) {
    a = {};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), std::min(name.size(), sizeof a.sun_path - 2));
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Gives the TAP interface the switch's MAC and brings it up.
void tap_configure(const std::string &name, const uint8_t *mac) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
    ifr.ifr_hwaddr.sa_family = 1;  // ARPHRD_ETHER
    std::memcpy(ifr.ifr_hwaddr.sa_data, mac, 6);
    (void)ioctl(s, SIOCSIFHWADDR, &ifr);
    if (ioctl(s, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        (void)ioctl(s, SIOCSIFFLAGS, &ifr);
    }
    close(s);
}

void handle(const uint8_t *msg, size_t n) {
    if (n < sizeof(NlHeader)) return;
    NlHeader h;
    std::memcpy(&h, msg, sizeof h);
    if (h.len < sizeof h || h.len > n) return;
    const uint8_t *payload = msg + sizeof h;
    size_t plen = h.len - sizeof h;
    KernelSide &k = ks();
    switch (h.type) {
        case AXPACKET_NL_REGISTER:
            if (plen >= 4) {
                uint32_t pid;
                std::memcpy(&pid, payload, 4);
                k.core_port = pid;
            }
            break;
        case AXPACKET_NL_MAC:
            if (plen >= 6) {
                std::string tap;
                {
                    std::lock_guard<std::mutex> g(k.lock);
                    std::memcpy(k.mac, payload, 6);
                    k.have_mac = true;
                    tap = k.tap >= 0 ? k.tap_name : std::string();
                }
                if (!tap.empty()) tap_configure(tap, payload);
            }
            break;
        case AXPACKET_NL_TO_KERNEL: {
            ++k.rx_count;
            int tap;
            {
                std::lock_guard<std::mutex> g(k.lock);
                k.last.assign(payload, payload + plen);
                tap = k.tap;
            }
            if (tap >= 0) {
                ssize_t rc = write(tap, payload, plen);
                (void)rc;  // the stack drops what it cannot take, so do we
            }
            break;
        }
        default:
            break;
    }
}

void socket_reader(int sock) {
    pthread_setname_np(pthread_self(), "sim_kernel_nl");
    std::vector<uint8_t> buf(kMsgMax);
    while (ks().running) {
        ssize_t n = recv(sock, buf.data(), buf.size(), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        handle(buf.data(), static_cast<size_t>(n));
    }
}

void tap_reader(int tap) {
    pthread_setname_np(pthread_self(), "sim_kernel_tap");
    std::vector<uint8_t> buf(kMsgMax);
    while (ks().running) {
        ssize_t n = read(tap, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n > 0) simKernelPacketSend(buf.data(), static_cast<uint32_t>(n));
    }
}

int tap_open(const char *name) {
    int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    ifreq ifr{};
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(fd, TUNSETIFF, &ifr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" {

int simKernelPacketStart(const char *tapName) {
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    if (k.running) return -1;
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    sockaddr_un a;
    socklen_t alen = abstract_addr(a, AXPACKET_NL_HOST_KERNEL_NAME);
    if (bind(sock, reinterpret_cast<sockaddr *>(&a), alen) != 0) {
        close(sock);
        return -1;
    }
    int tap = -1;
    if (tapName != nullptr) {
        tap = tap_open(tapName);
        if (tap < 0) {
            close(sock);
            return -1;
        }
        k.tap_name = tapName;
    }
    k.sock = sock;
    k.tap = tap;
    k.running = true;
    std::thread(socket_reader, sock).detach();
    if (tap >= 0) std::thread(tap_reader, tap).detach();
    return 0;
}

void simKernelPacketStop(void) {
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    if (!k.running) return;
    k.running = false;
    shutdown(k.sock, SHUT_RDWR);  // wakes the reader; the descriptors stay
    k.sock = -1;
    k.tap = -1;
}

uint32_t simKernelPacketRxCount(void) { return ks().rx_count.load(); }

int simKernelPacketLast(uint8_t *buf, uint32_t cap, uint32_t *len) {
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    if (k.last.empty()) return -1;
    if (len) *len = static_cast<uint32_t>(k.last.size());
    if (buf) std::memcpy(buf, k.last.data(), std::min<size_t>(cap, k.last.size()));
    return 0;
}

uint32_t simKernelPacketRegisteredPid(void) { return ks().core_port.load(); }

int simKernelPacketMac(uint8_t *mac) {
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    if (!k.have_mac || mac == nullptr) return -1;
    std::memcpy(mac, k.mac, 6);
    return 0;
}

int simKernelPacketSend(const uint8_t *frame, uint32_t len) {
    KernelSide &k = ks();
    uint32_t port = k.core_port.load();
    if (frame == nullptr || len == 0 || len > AXPACKET_NL_FRAME_MAX || port == 0) return -1;
    int sock;
    {
        std::lock_guard<std::mutex> g(k.lock);
        sock = k.sock;
    }
    if (sock < 0) return -1;
    NlHeader h{static_cast<uint32_t>(sizeof(NlHeader) + len), AXPACKET_NL_FROM_KERNEL, 0, 0, 0};
    iovec iov[2] = {{&h, sizeof h}, {const_cast<uint8_t *>(frame), len}};
    sockaddr_un a;
    socklen_t alen = abstract_addr(a, std::string(AXPACKET_NL_HOST_KERNEL_NAME) + "/" + std::to_string(port));
    msghdr msg{};
    msg.msg_name = &a;
    msg.msg_namelen = alen;
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    return sendmsg(sock, &msg, 0) == static_cast<ssize_t>(h.len) ? 0 : -1;
}

}  // extern "C"
