// Front-panel ports bound to Linux interfaces: a raw AF_PACKET socket per
// bound port. A reader thread per port ("sim_port_<n>") feeds every frame
// the interface receives into the chip at that port; frames the chip sends
// out of the port are written to the socket. VLAN tags the kernel took off
// (its receive offload) are put back from the packet's auxiliary data.
//
// A bound port's link is its interface's carrier: read as the port is
// bound, then followed by the thread "sim_port_carrier", which listens to
// the kernel's link messages (rtnetlink) and sets the port's link in the
// switch's chip, so every process sees it and this process's link watcher
// hears of it. On a lost message (a full socket) it reads every bound
// interface again.
#include <arpa/inet.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform_sim/sim_chip.h"
#include "sim_carrier_messages.h"
#include "sim_chip_internal.h"

namespace {

constexpr size_t kFrameMax = 9216;

struct Binding {
    std::atomic<int> fd{-1};
    std::atomic<int> ifindex{0};  // of the bound interface; 0 when unbound
};

// Never freed: the reader threads run until the process ends.
std::array<Binding, SDK_PORT_MAX> &bindings() {
    static auto *b = new std::array<Binding, SDK_PORT_MAX>;
    return *b;
}

std::mutex &bind_lock() {
    static auto *m = new std::mutex;
    return *m;
}

uint32_t sum16(const uint8_t *p, size_t n, uint32_t sum) {
    for (size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n & 1) sum += static_cast<uint32_t>(p[n - 1] << 8);
    return sum;
}

// A frame sent on the far end of a veth may carry a TCP or UDP checksum
// that the sender's kernel left for the hardware (checksum offload): it is
// completed here, as a real port's peer would have sent it whole.
void complete_l4_checksum(uint8_t *frame, size_t n) {
    size_t l3 = 14;
    if (n >= 18 && frame[12] == 0x81 && frame[13] == 0x00) l3 = 18;
    if (n < l3 + 20) return;
    const uint16_t type = static_cast<uint16_t>(frame[l3 - 2] << 8 | frame[l3 - 1]);
    uint32_t sum = 0;
    size_t l4 = 0, l4len = 0;
    uint8_t proto = 0;
    if (type == 0x0800) {
        const size_t ihl = static_cast<size_t>(frame[l3] & 0x0F) * 4;
        const size_t total = static_cast<size_t>(frame[l3 + 2] << 8 | frame[l3 + 3]);
        if (ihl < 20 || total < ihl || l3 + total > n) return;
        proto = frame[l3 + 9];
        l4 = l3 + ihl;
        l4len = total - ihl;
        sum = sum16(frame + l3 + 12, 8, 0);
    } else if (type == 0x86DD) {
        if (n < l3 + 40) return;
        const size_t payload = static_cast<size_t>(frame[l3 + 4] << 8 | frame[l3 + 5]);
        proto = frame[l3 + 6];  // only without extension headers
        l4 = l3 + 40;
        l4len = payload;
        if (l4 + l4len > n) return;
        sum = sum16(frame + l3 + 8, 32, 0);
    } else {
        return;
    }
    const size_t field = proto == 6 ? 16 : proto == 17 ? 6 : 0;
    if (field == 0 || l4len < field + 2) return;
    sum += proto + static_cast<uint32_t>(l4len);
    frame[l4 + field] = 0;
    frame[l4 + field + 1] = 0;
    sum = sum16(frame + l4, l4len, sum);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    uint16_t c = static_cast<uint16_t>(~sum);
    if (proto == 17 && c == 0) c = 0xFFFF;
    frame[l4 + field] = static_cast<uint8_t>(c >> 8);
    frame[l4 + field + 1] = static_cast<uint8_t>(c);
}

// One frame from the socket, with the tag the kernel removed put back.
ssize_t read_frame(int fd, std::vector<uint8_t> &buf) {
    buf.resize(kFrameMax + 4);
    iovec iov{buf.data() + 4, kFrameMax};
    alignas(tpacket_auxdata) uint8_t ctrl[CMSG_SPACE(sizeof(tpacket_auxdata))];
    sockaddr_ll from{};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = ctrl;
    msg.msg_controllen = sizeof ctrl;
    ssize_t n = recvmsg(fd, &msg, 0);
    if (n <= 0) return n;
    if (from.sll_pkttype == PACKET_OUTGOING) return 0;
    uint8_t *frame = buf.data() + 4;
    bool partial = false;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA) continue;
        tpacket_auxdata aux;
        std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
        partial = (aux.tp_status & TP_STATUS_CSUMNOTREADY) != 0;
        if (!(aux.tp_status & TP_STATUS_VLAN_VALID) || n < 12) continue;
        uint16_t tpid = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) ? aux.tp_vlan_tpid : 0x8100;
        std::memmove(buf.data(), frame, 12);
        frame = buf.data();
        frame[12] = static_cast<uint8_t>(tpid >> 8);
        frame[13] = static_cast<uint8_t>(tpid);
        frame[14] = static_cast<uint8_t>(aux.tp_vlan_tci >> 8);
        frame[15] = static_cast<uint8_t>(aux.tp_vlan_tci);
        n += 4;
    }
    if (frame != buf.data()) std::memmove(buf.data(), frame, static_cast<size_t>(n));
    buf.resize(static_cast<size_t>(n));
    if (partial) complete_l4_checksum(buf.data(), buf.size());
    return n;
}

// The carrier of interface `ifindex` as the driver has it now (the
// kernel's running flag follows it only after a delay): administratively
// up, with the link the driver reports, or running where it reports none.
bool carrier_of(int ifindex) {
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(static_cast<unsigned>(ifindex), name) == nullptr) return false;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, name, sizeof name);
    bool up = false;
    if (ioctl(s, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags & IFF_UP)) {
        const bool running = (ifr.ifr_flags & IFF_RUNNING) != 0;
        ethtool_value link{};
        link.cmd = ETHTOOL_GLINK;
        ifr.ifr_data = reinterpret_cast<char *>(&link);
        up = ioctl(s, SIOCETHTOOL, &ifr) == 0 ? link.data != 0 : running;
    }
    close(s);
    return up;
}

void carrier_changed(const pc::sim::CarrierChange &c) {
    for (int port = 0; port < SDK_PORT_MAX; ++port)
        if (bindings()[port].ifindex.load() == c.ifindex && c.ifindex != 0) pc::sim::link_set(port, c.up);
}

void reread_carriers() {
    for (int port = 0; port < SDK_PORT_MAX; ++port)
        if (int ifindex = bindings()[port].ifindex.load(); ifindex != 0)
            pc::sim::link_set(port, carrier_of(ifindex));
}

void carrier_watch(int fd) {
    pthread_setname_np(pthread_self(), "sim_port_carrier");
    std::vector<uint8_t> buf(kFrameMax);
    for (;;) {
        sockaddr_nl from{};
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
        if (n < 0) {
            if (errno == ENOBUFS) reread_carriers();  // messages were lost
            if (errno == EINTR || errno == ENOBUFS) continue;
            break;
        }
        if (from.nl_pid != 0) continue;  // only the kernel speaks for links
        pc::sim::for_each_carrier_change(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)),
                                         carrier_changed);
    }
}

// Starts the carrier watcher once; false when the kernel refuses it. The
// bind lock is held.
bool start_carrier_watch() {
    static bool started = false;
    if (started) return true;
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return false;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_LINK;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return false;
    }
    std::thread(carrier_watch, fd).detach();
    started = true;
    return true;
}

void reader(int port, int fd) {
    std::string name = "sim_port_" + std::to_string(port);
    pthread_setname_np(pthread_self(), name.c_str());
    std::vector<uint8_t> buf;
    for (;;) {
        if (bindings()[port].fd.load() != fd) break;
        ssize_t n = read_frame(fd, buf);
        if (n < 0 && errno != EINTR) break;
        if (n > 0) simChipInject(port, buf.data(), static_cast<uint32_t>(n));
    }
}

}  // namespace

namespace pc::sim {

void port_link_write(int port, std::span<const uint8_t> frame) {
    if (port < 0 || port >= SDK_PORT_MAX) return;
    int fd = bindings()[port].fd.load();
    if (fd < 0) return;
    ssize_t rc = send(fd, frame.data(), frame.size(), 0);
    (void)rc;  // a full or vanished interface loses the frame, as a wire would
}

}  // namespace pc::sim

extern "C" {

int simPortLinkBind(int port, const char *ifname) {
    if (port < 0 || port >= SDK_PORT_MAX || ifname == nullptr) return -1;
    unsigned ifindex = if_nametoindex(ifname);
    if (ifindex == 0) return -1;
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) return -1;
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ALL);
    addr.sll_ifindex = static_cast<int>(ifindex);
    int one = 1;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &one, sizeof one) != 0) {
        close(fd);
        return -1;
    }
    {
        std::lock_guard<std::mutex> g(bind_lock());
        if (bindings()[port].fd.load() >= 0 || !start_carrier_watch()) {
            close(fd);
            return -1;
        }
        bindings()[port].fd.store(fd);
        bindings()[port].ifindex.store(static_cast<int>(ifindex));
        std::thread(reader, port, fd).detach();
    }
    // The watcher listens already: a change from here on is not lost.
    pc::sim::link_set(port, carrier_of(static_cast<int>(ifindex)));
    return 0;
}

void simPortLinkUnbindAll(void) {
    std::lock_guard<std::mutex> g(bind_lock());
    for (Binding &b : bindings()) {
        b.ifindex.store(0);  // the port keeps its last link
        int fd = b.fd.exchange(-1);
        if (fd >= 0) shutdown(fd, SHUT_RDWR);  // the reader sees the end; the fd stays open
    }
}

}  // extern "C"
