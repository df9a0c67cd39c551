// The whole packet path over real interfaces: axcored with two front-panel
// ports bound to veth pairs and its CPU port on a TAP interface carrying a
// VLAN 1 address. A host on the far end of one veth resolves the switch's
// address with ARP and pings it; the answers come from the Linux stack
// behind the TAP, back through axPacketSend and the chip.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "packet_support.h"
#include "support/emulation.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::packet;

constexpr uint8_t kHostMac[6] = {0x02, 0x77, 0x00, 0x00, 0x00, 0x02};
constexpr uint32_t kHostIp = 0x0A4D0002;    // 10.77.0.2
constexpr uint32_t kSwitchIp = 0x0A4D0001;  // 10.77.0.1

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

uint16_t checksum(const uint8_t *p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>((p[i] << 8) | p[i + 1]);
    if (n & 1) sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// A raw socket on the host's end of the veth: the host is this test.
class Host {
public:
    explicit Host(const char *ifname) {
        fd_ = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        sockaddr_ll a{};
        a.sll_family = AF_PACKET;
        a.sll_protocol = htons(ETH_P_ALL);
        a.sll_ifindex = static_cast<int>(if_nametoindex(ifname));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) fd_ = -1;
        timeval tv{0, 200000};
        if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Host() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void send_frame(const Bytes &f) { (void)send(fd_, f.data(), f.size(), 0); }
    // The first frame within `ms` that `want` accepts.
    bool receive(const std::function<bool(const Bytes &)> &want, int ms, Bytes *got) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        uint8_t buf[2048];
        while (std::chrono::steady_clock::now() < end) {
            sockaddr_ll from{};
            socklen_t flen = sizeof from;
            ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &flen);
            if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING) continue;
            Bytes f(buf, buf + n);
            if (want(f)) {
                if (got) *got = f;
                return true;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
};

Bytes arp_request() {
    Bytes f = eth(kBroadcast, kHostMac, 0x0806);
    f.insert(f.end(), {0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01});
    f.insert(f.end(), kHostMac, kHostMac + 6);
    put32(f, kHostIp);
    f.insert(f.end(), 6, 0);
    put32(f, kSwitchIp);
    f = padded(f, 60);
    return f;
}

Bytes echo_request(const uint8_t *switch_mac, uint16_t seq) {
    Bytes f = eth(switch_mac, kHostMac, 0x0800);
    size_t ip = f.size();
    f.insert(f.end(), {0x45, 0, 0, 0, 0x12, 0x34, 0x40, 0, 64, 1, 0, 0});
    put32(f, kHostIp);
    put32(f, kSwitchIp);
    size_t icmp = f.size();
    f.insert(f.end(), {8, 0, 0, 0, 0x00, 0x42});
    put16(f, seq);
    for (int i = 0; i < 32; ++i) f.push_back(static_cast<uint8_t>(i));
    uint16_t total = static_cast<uint16_t>(f.size() - ip);
    f[ip + 2] = static_cast<uint8_t>(total >> 8);
    f[ip + 3] = static_cast<uint8_t>(total);
    uint16_t c = checksum(&f[ip], 20);
    f[ip + 10] = static_cast<uint8_t>(c >> 8);
    f[ip + 11] = static_cast<uint8_t>(c);
    c = checksum(&f[icmp], f.size() - icmp);
    f[icmp + 2] = static_cast<uint8_t>(c >> 8);
    f[icmp + 3] = static_cast<uint8_t>(c);
    return f;
}

// What the Linux stack would do on a VLAN 1 interface with 10.77.0.1, for
// ARP only: read the tagged requests the kernel side writes to the TAP and
// send tagged replies into it.
void answer_arp_on(const char *tap, const std::atomic<bool> &stop) {
    Host cpu(tap);
    const uint8_t mac[6] = {0x02, 0x77, 0x00, 0x00, 0x00, 0x01};
    while (!stop) {
        Bytes req;
        if (!cpu.receive(
                [](const Bytes &f) {
                    // The receive offload may have taken the tag off.
                    size_t at = f.size() >= 16 && type_at(f, 12) == 0x8100 ? 16 : 12;
                    return f.size() >= at + 30 && type_at(f, at) == 0x0806 && type_at(f, at + 8) == 1;
                },
                100, &req))
            continue;
        size_t at = type_at(req, 12) == 0x8100 ? 16 : 12;
        const uint8_t *arp = &req[at + 2];
        Bytes r = eth(arp + 8, mac, 0x0806, 0x8100, 1);
        r.insert(r.end(), {0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x02});
        r.insert(r.end(), mac, mac + 6);
        r.insert(r.end(), arp + 24, arp + 28);  // the asked address
        r.insert(r.end(), arp + 8, arp + 18);   // the asker's MAC and address
        cpu.send_frame(padded(r, 64));
    }
}

uint64_t counter(const std::string &log, const std::string &label) {
    size_t at = log.rfind(label);
    return at == std::string::npos ? 0 : std::strtoull(log.c_str() + at + label.size(), nullptr, 10);
}

TEST(PacketVeth, host_on_a_port_pings_the_switch_through_the_cpu_path) {
    PC_SKIP_UNDER_EMULATOR("raw sockets and TAP set-up are not emulated");
    if (!sh("ip link add pkv0 type veth peer name pkv0h") ||
        !sh("ip link add pkv1 type veth peer name pkv1h"))
        GTEST_SKIP() << "cannot create veth interfaces here";
    for (const char *i : {"pkv0", "pkv0h", "pkv1", "pkv1h"})
        ASSERT_TRUE(sh(std::string("ip link set up dev ") + i));
    std::string log = "/tmp/packet_veth_axcored.log";
    pid_t core = pc::test::spawn_program(
        std::string(PC_TOOLS_DIR) + "/axcored",
        {"--port-link", "1/0/1=pkv0", "--port-link", "1/0/2=pkv1", "--cpu-if", "pkcpu"}, {}, log);
    bool up = wait_until(
        [&] { return read_file(log).find("axcored: CPU interface pkcpu") != std::string::npos; }, 60000);
    if (!up) {
        kill(core, SIGTERM);
        pc::test::wait_child_for(core, 20000);
        if (read_file(log).find("cannot start the kernel packet side") != std::string::npos)
            GTEST_SKIP() << "no TAP device here";
        FAIL() << read_file(log);
    }
    // The Linux stack answers on a VLAN 1 interface over the TAP; a kernel
    // without VLAN interfaces gets a stand-in that answers ARP on the TAP.
    bool stack = sh("ip link add link pkcpu name pkcpu.1 type vlan id 1");
    ASSERT_TRUE(sh("ip link set up dev pkcpu"));
    if (stack) {
        ASSERT_TRUE(sh("ip addr add 10.77.0.1/24 dev pkcpu.1 && ip link set up dev pkcpu.1"));
    }
    std::atomic<bool> stop{false};
    std::thread responder;
    if (!stack) responder = std::thread([&] { answer_arp_on("pkcpu", stop); });

    Host host("pkv0h");
    ASSERT_TRUE(host.ok());
    // ARP: the request is flooded and copied to the CPU; the answer comes
    // back from the kernel side through the chip.
    Bytes reply;
    bool resolved = false;
    for (int attempt = 0; attempt < 20 && !resolved; ++attempt) {
        host.send_frame(arp_request());
        resolved = host.receive(
            [](const Bytes &f) {
                return f.size() >= 42 && type_at(f, 12) == 0x0806 && type_at(f, 20) == 2 &&
                       std::memcmp(&f[0], kHostMac, 6) == 0;
            },
            500, &reply);
    }
    stop = true;
    if (responder.joinable()) responder.join();
    ASSERT_TRUE(resolved) << read_file(log);
    uint8_t switch_mac[6];
    std::memcpy(switch_mac, &reply[6], 6);
    EXPECT_EQ(std::memcmp(&reply[22], switch_mac, 6), 0);

    // ICMP echo to the switch's MAC: trapped to the CPU, answered by the stack.
    if (stack) {
        bool pinged = false;
        for (uint16_t seq = 1; seq <= 10 && !pinged; ++seq) {
            host.send_frame(echo_request(switch_mac, seq));
            pinged = host.receive(
                [&](const Bytes &f) {
                    return f.size() >= 42 && type_at(f, 12) == 0x0800 && f[23] == 1 && f[34] == 0 &&
                           std::memcmp(&f[6], switch_mac, 6) == 0 && type_at(f, 40) == seq;
                },
                500, nullptr);
        }
        EXPECT_TRUE(pinged);
    }

    kill(core, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(core, 30000), 0);
    std::string text = read_file(log);
    // The answers were taken from the kernel side and sent by the service.
    EXPECT_GE(counter(text, "kernel send packets     : "), stack ? 2u : 1u) << text;
    EXPECT_GE(counter(text, "axpacket send packets   : "), stack ? 2u : 1u) << text;
    sh("ip link del pkv0");
    sh("ip link del pkv1");
}

}  // namespace
