// The kernel side of the packet netlink protocol on a host without the
// firmware's kernel module. It listens on the abstract AF_UNIX
// sequenced-packet address AXPACKET_NL_HOST_KERNEL_NAME; a core connects and
// speaks the same netlink messages over its connection: type 1 names the
// core's port, type 2 gives the switch MAC, type 3 brings a received frame,
// type 4 (sent on the connection of the latest type 1) asks the core to send
// one. With a TAP interface, type-3 frames are written to it and every frame
// the Linux stack sends on it becomes a type-4 message; without one the
// frames are only counted.
//
// A VLAN interface (simKernelPacketVlanIf) is a TAP of its own, the way a
// switch's kernel presents "vlan1": type-3 frames of its VLAN are written to
// it without their tag, and what the Linux stack sends on it gets the tag
// back and becomes a type-4 message. It needs no 802.1Q support in the
// machine's kernel.
//
// Cost: the real kernel side takes a frame inside the core's sendmsg and
// wakes nobody. Here a reader thread per connection takes what queued up in
// batches (recvmmsg): it blocks only while the connection is idle, and after
// a batch it sleeps one coalescing tick while the next frames queue, so a
// steady stream costs the core one sendmsg per frame and not a wake-up.
// The core's send buffer holds far more frames than arrive in a tick; when
// it is full the core's sendmsg waits, as the socket type promises.
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
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
constexpr unsigned kBatch = 32;  // messages taken by one recvmmsg
constexpr auto kCoalesceTick = std::chrono::microseconds(100);
constexpr int kListenBacklog = 8;
constexpr size_t kMacBytes = 6;
constexpr size_t kTagAt = 2 * kMacBytes;  // the tag follows the two addresses
constexpr size_t kTagBytes = 4;
constexpr uint16_t kTpid = 0x8100;
constexpr uint16_t kVidMask = 0x0FFF;
constexpr uint16_t kVidMax = 4094;

// One core's connection; the descriptor is closed with the last holder.
struct Conn {
    explicit Conn(int f) : fd(f) {}
    ~Conn() { close(fd); }
    Conn(const Conn &) = delete;
    Conn &operator=(const Conn &) = delete;
    const int fd;
};

struct KernelSide {
    std::mutex lock;  // guards the fields below except the atomics
    int listener = -1;
    int tap = -1;
    std::string tap_name;
    struct VlanIf {
        uint16_t vid;
        int fd;
        std::string name;
    };
    std::vector<VlanIf> vlan_ifs;  // never shrinks; each reader keeps its descriptor
    std::thread acceptor;
    std::vector<std::thread> readers;          // one per accepted connection
    std::vector<std::shared_ptr<Conn>> conns;  // open connections
    std::shared_ptr<Conn> core;                // the connection of the latest type 1
    std::atomic<bool> running{false};
    std::atomic<uint32_t> core_port{0};
    std::atomic<uint32_t> rx_count{0};  // counted after `last` holds the frame
    uint8_t mac[6]{};
    bool have_mac = false;
    std::vector<uint8_t> last;
};

// Never freed: the TAP reader runs until the process ends.
KernelSide &ks() {
    static auto *k = new KernelSide;
    return *k;
}

socklen_t abstract_addr(sockaddr_un &a, const std::string &name) {
    a = {};
    a.sun_family = AF_UNIX;
    size_t n = std::min(name.size(), sizeof a.sun_path - 2);
    std::memcpy(a.sun_path + 1, name.data(), n);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
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

std::vector<std::string> vlan_if_names() {
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    std::vector<std::string> names;
    for (const auto &v : k.vlan_ifs) names.push_back(v.name);
    return names;
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// A frame for the Linux stack, always tagged: to the VLAN's own interface
// without its tag, when there is one.
void to_vlan_if(const uint8_t *frame, size_t len) {
    if (len < kTagAt + kTagBytes || be16(frame + kTagAt) != kTpid) return;
    const uint16_t vid = be16(frame + kTagAt + 2) & kVidMask;
    int fd = -1;
    {
        KernelSide &k = ks();
        std::lock_guard<std::mutex> g(k.lock);
        for (const auto &v : k.vlan_ifs)
            if (v.vid == vid) fd = v.fd;
    }
    if (fd < 0) return;
    iovec iov[2] = {{const_cast<uint8_t *>(frame), kTagAt},
                    {const_cast<uint8_t *>(frame + kTagAt + kTagBytes), len - kTagAt - kTagBytes}};
    ssize_t rc = writev(fd, iov, 2);
    (void)rc;  // dropped like the stack drops what it cannot take
}

// A batch's type-3 frames: handed to the TAP one by one, remembered and
// counted once for the batch.
struct ToKernel {
    const uint8_t *last = nullptr;
    size_t last_len = 0;
    uint32_t count = 0;
};

void handle(const std::shared_ptr<Conn> &conn, const uint8_t *msg, size_t n, ToKernel &up, int tap) {
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
                std::lock_guard<std::mutex> g(k.lock);
                k.core = conn;
                k.core_port = pid;
            }
            break;
        case AXPACKET_NL_MAC:
            if (plen >= 6) {
                std::string tap_name;
                struct VlanIf {
                    uint16_t vid;
                    int fd;
                    std::string name;
                };
                std::vector<VlanIf> vlan_ifs;  // never shrinks; each reader keeps its descriptor
                {
                    std::lock_guard<std::mutex> g(k.lock);
                    std::memcpy(k.mac, payload, 6);
                    k.have_mac = true;
                    tap_name = k.tap >= 0 ? k.tap_name : std::string();
                }
                if (!tap_name.empty()) tap_configure(tap_name, payload);
                for (const std::string &name : vlan_if_names()) tap_configure(name, payload);
            }
            break;
        case AXPACKET_NL_TO_KERNEL:
            if (tap >= 0) {
                ssize_t rc = write(tap, payload, plen);
                (void)rc;  // the stack drops what it cannot take, so do we
            }
            to_vlan_if(payload, plen);
            up.last = payload;
            up.last_len = plen;
            ++up.count;
            break;
        default:
            break;
    }
}

// Takes the messages of one connection until it closes or the side stops.
void conn_reader(std::shared_ptr<Conn> conn) {
    pthread_setname_np(pthread_self(), "sim_kernel_nl");
    KernelSide &k = ks();
    std::vector<uint8_t> bufs(kBatch * kMsgMax);
    iovec iov[kBatch];
    mmsghdr msgs[kBatch];
    for (;;) {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {bufs.data() + i * kMsgMax, kMsgMax};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        // Waits for the first message only; takes whatever else is queued.
        int n = recvmmsg(conn->fd, msgs, kBatch, MSG_WAITFORONE, nullptr);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || msgs[0].msg_len == 0 || !k.running) break;  // closed, or stopping
        int tap;
        {
            std::lock_guard<std::mutex> g(k.lock);
            tap = k.tap;
        }
        ToKernel up;
        bool closed = false;
        for (int i = 0; i < n; ++i) {
            if (msgs[i].msg_len == 0) {
                closed = true;  // the end of the connection, behind its last messages
                break;
            }
            handle(conn, bufs.data() + static_cast<size_t>(i) * kMsgMax, msgs[i].msg_len, up, tap);
        }
        if (up.count != 0) {
            {
                std::lock_guard<std::mutex> g(k.lock);
                k.last.assign(up.last, up.last + up.last_len);
            }
            k.rx_count.fetch_add(up.count);
        }
        if (closed) break;
        // A full batch: more are waiting. Otherwise let the stream gather.
        if (static_cast<unsigned>(n) < kBatch) std::this_thread::sleep_for(kCoalesceTick);
    }
    std::lock_guard<std::mutex> g(k.lock);
    if (k.core == conn) k.core.reset();
    std::erase(k.conns, conn);
}

void acceptor(int listener) {
    pthread_setname_np(pthread_self(), "sim_kernel_acc");
    KernelSide &k = ks();
    for (;;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;
        }
        std::lock_guard<std::mutex> g(k.lock);
        if (!k.running) {
            close(fd);
            break;
        }
        auto conn = std::make_shared<Conn>(fd);
        k.conns.push_back(conn);
        k.readers.emplace_back(conn_reader, conn);
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

// What the Linux stack sends on a VLAN interface: tagged with its VLAN and
// handed to the core to send.
void vlan_if_reader(int fd, uint16_t vid) {
    pthread_setname_np(pthread_self(), "sim_kernel_vlan");
    std::vector<uint8_t> buf(kMsgMax);
    for (;;) {
        ssize_t n = read(fd, buf.data() + kTagBytes, buf.size() - kTagBytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (static_cast<size_t>(n) < kTagAt) continue;
        std::memmove(buf.data(), buf.data() + kTagBytes, kTagAt);
        const uint8_t tag[kTagBytes] = {kTpid >> 8, kTpid & 0xFF, static_cast<uint8_t>(vid >> 8),
                                        static_cast<uint8_t>(vid & 0xFF)};
        std::memcpy(buf.data() + kTagAt, tag, kTagBytes);
        simKernelPacketSend(buf.data(), static_cast<uint32_t>(n) + kTagBytes);
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
    if (k.running || k.acceptor.joinable()) return -1;
    int sock = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    sockaddr_un a;
    socklen_t alen = abstract_addr(a, AXPACKET_NL_HOST_KERNEL_NAME);
    if (bind(sock, reinterpret_cast<sockaddr *>(&a), alen) != 0 || listen(sock, kListenBacklog) != 0) {
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
    k.listener = sock;
    k.tap = tap;
    k.running = true;
    k.acceptor = std::thread(acceptor, sock);
    if (tap >= 0) std::thread(tap_reader, tap).detach();
    return 0;
}

void simKernelPacketStop(void) {
    KernelSide &k = ks();
    std::thread acc;
    std::vector<std::thread> readers;
    int listener;
    {
        std::lock_guard<std::mutex> g(k.lock);
        if (!k.running) return;
        k.running = false;
        listener = k.listener;
        k.listener = -1;
        k.tap = -1;                     // the TAP reader keeps its descriptor until the process ends
        shutdown(listener, SHUT_RDWR);  // wakes the acceptor
        for (const auto &c : k.conns) shutdown(c->fd, SHUT_RDWR);  // wakes the readers
        acc = std::move(k.acceptor);
    }
    if (acc.joinable()) acc.join();
    {
        std::lock_guard<std::mutex> g(k.lock);
        readers = std::move(k.readers);
        k.readers.clear();
    }
    for (std::thread &t : readers) t.join();
    close(listener);
    std::lock_guard<std::mutex> g(k.lock);
    k.conns.clear();
    k.core.reset();
    k.core_port = 0;
}

int simKernelPacketVlanIf(uint16_t vid, const char *name) {
    if (vid == 0 || vid > kVidMax || name == nullptr || *name == '\0') return -1;
    KernelSide &k = ks();
    std::lock_guard<std::mutex> g(k.lock);
    for (const auto &v : k.vlan_ifs)
        if (v.vid == vid || v.name == name) return -1;
    int fd = tap_open(name);
    if (fd < 0) return -1;
    k.vlan_ifs.push_back({vid, fd, name});
    if (k.have_mac) tap_configure(name, k.mac);
    std::thread(vlan_if_reader, fd, vid).detach();
    return 0;
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
    if (frame == nullptr || len == 0 || len > AXPACKET_NL_FRAME_MAX) return -1;
    std::shared_ptr<Conn> core;
    {
        std::lock_guard<std::mutex> g(k.lock);
        core = k.core;
    }
    if (core == nullptr) return -1;
    NlHeader h{static_cast<uint32_t>(sizeof(NlHeader) + len), AXPACKET_NL_FROM_KERNEL, 0, 0, 0};
    iovec iov[2] = {{&h, sizeof h}, {const_cast<uint8_t *>(frame), len}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    return sendmsg(core->fd, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(h.len) ? 0 : -1;
}

}  // extern "C"
