// The example feature process (examples/lldp_agent) as a product team uses
// it: this build installed into a fresh prefix, the example configured and
// built outside the tree with pkg-config against that prefix only, and run
// beside axcored started from the installed tree with port 1/0/1 on a veth
// pair. LLDP frames sent into the veth reach the agent, its CLI command
// answers through the installed axcli, its section and its management
// function show in the running configuration, it advertises out of the
// port, hostile data units leave it serving, it registers again after the
// core restarts, and it stops cleanly.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;
using pc::test::wait_until;

constexpr auto kStep = 100ms;  // between polls that start axcli
constexpr const char *kWork = "/tmp/lldp_example";
constexpr const char *kSwitchSide = "lsw1";
constexpr const char *kHostSide = "lh1";
constexpr uint16_t kLldpType = 0x88CC;
constexpr std::array<uint8_t, 6> kNearestBridge = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr std::array<uint8_t, 6> kPeerMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x99};

std::string prefix() { return std::string(kWork) + "/prefix"; }
std::string example_build() { return std::string(kWork) + "/build"; }

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Output and exit status of a shell command (standard error included).
struct Result {
    std::string out;
    int status = -1;
};
Result run(const std::string &cmd) {
    Result r;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

Result axcli(const std::string &command) { return run(prefix() + "/bin/axcli --timeout 5000 " + command); }

// One TLV: 7-bit type, 9-bit length, value.
void put_tlv(std::vector<uint8_t> &f, unsigned type, const std::string &value) {
    f.push_back(static_cast<uint8_t>(type << 1 | value.size() >> 8));
    f.push_back(static_cast<uint8_t>(value.size() & 0xFF));
    f.insert(f.end(), value.begin(), value.end());
}

// A frame from the peer to the nearest-bridge address carrying `pdu`.
std::vector<uint8_t> lldp_frame(const std::vector<uint8_t> &pdu) {
    std::vector<uint8_t> f;
    f.reserve(64 + pdu.size());
    for (uint8_t b : kNearestBridge) f.push_back(b);
    for (uint8_t b : kPeerMac) f.push_back(b);
    f.push_back(kLldpType >> 8);
    f.push_back(kLldpType & 0xFF);
    for (uint8_t b : pdu) f.push_back(b);
    while (f.size() < 60) f.push_back(0);
    return f;
}

// The peer's data unit: chassis MAC, port "eth7", `ttl`, system `name`.
std::vector<uint8_t> peer_pdu(uint16_t ttl, const std::string &name = "peer-host") {
    std::vector<uint8_t> pdu;
    put_tlv(pdu, 1, std::string("\x04", 1) + std::string(kPeerMac.begin(), kPeerMac.end()));
    put_tlv(pdu, 2,
            "\x05"
            "eth7");
    put_tlv(pdu, 3, std::string{static_cast<char>(ttl >> 8), static_cast<char>(ttl & 0xFF)});
    put_tlv(pdu, 5, name);
    put_tlv(pdu, 0, "");
    return pdu;
}

// A raw socket on the host side of the veth pair.
class HostPort {
public:
    HostPort() {
        fd_ = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        sockaddr_ll a{};
        a.sll_family = AF_PACKET;
        a.sll_protocol = htons(ETH_P_ALL);
        a.sll_ifindex = static_cast<int>(if_nametoindex(kHostSide));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~HostPort() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool send(const std::vector<uint8_t> &f) {
        return ::send(fd_, f.data(), f.size(), 0) == ssize_t(f.size());
    }
    // The next frame that comes in from the switch within `ms`, or empty.
    std::vector<uint8_t> receive(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::vector<uint8_t> buf(2048);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            sockaddr_ll from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING) continue;
            buf.resize(static_cast<size_t>(n));
            return buf;
        }
        return {};
    }

private:
    int fd_ = -1;
};

// The text of TLV `type` of the LLDP frame `f` (untagged or tagged), with a
// subtype byte skipped when `subtyped`; empty when there is none.
std::string tlv_text(const std::vector<uint8_t> &f, unsigned type, bool subtyped) {
    size_t at = 12;
    if (f.size() >= 16 && f[12] == 0x81 && f[13] == 0x00) at = 16;
    if (f.size() < at + 2 || (f[at] << 8 | f[at + 1]) != kLldpType) return {};
    for (at += 2; at + 2 <= f.size();) {
        unsigned t = f[at] >> 1;
        size_t len = static_cast<size_t>((f[at] & 1) << 8 | f[at + 1]);
        at += 2;
        if (t == 0 || at + len > f.size()) break;
        if (t == type) {
            size_t skip = subtyped && len > 0 ? 1 : 0;
            return std::string(f.begin() + static_cast<long>(at + skip),
                               f.begin() + static_cast<long>(at + len));
        }
        at += len;
    }
    return {};
}

class LldpAgentExample : public ::testing::Test {
protected:
    void SetUp() override {
        PC_SKIP_UNDER_EMULATOR("the example is built for and run on the build machine");
        if (!sh("command -v ip") || !sh("command -v pkg-config"))
            GTEST_SKIP() << "ip or pkg-config missing (scripts/setup.sh)";
        if (!sh(std::string("ip link add ") + kSwitchSide + " type veth peer name " + kHostSide))
            GTEST_SKIP() << "no veth pairs here (needs root and the veth driver)";
        veth_ = true;
        ASSERT_TRUE(sh(std::string("ip link set up dev ") + kSwitchSide) &&
                    sh(std::string("ip link set up dev ") + kHostSide));
        // Programs of the installed tree find their libraries by themselves.
        unsetenv("LD_LIBRARY_PATH");
        sh(std::string("rm -rf ") + kWork);
    }
    void TearDown() override {
        for (pid_t *p : {&agent_, &core_})
            if (*p > 0) {
                kill(*p, SIGKILL);
                pc::test::wait_child(*p);
                *p = -1;
            }
        if (veth_) sh(std::string("ip link del ") + kSwitchSide);
    }

    // Installs this build into the prefix and builds the example against it.
    void install_and_build() {
        Result r =
            run(std::string(PC_CMAKE_COMMAND) + " --install " + PC_BUILD_DIR + " --prefix " + prefix());
        ASSERT_EQ(r.status, 0) << r.out;
        std::string flags;
        if (std::string(PC_EXAMPLE_SANITIZE).size() > 0)
            flags =
                std::string(" -DCMAKE_C_FLAGS='-fsanitize=") + PC_EXAMPLE_SANITIZE +
                " -fno-omit-frame-pointer -fno-sanitize-recover=all' -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=" +
                PC_EXAMPLE_SANITIZE;
        r = run("PKG_CONFIG_PATH=" + prefix() + "/lib/pkgconfig " + PC_CMAKE_COMMAND + " -S " +
                PC_SOURCE_DIR + "/examples/lldp_agent -B " + example_build() +
                " -DCMAKE_C_COMPILER=" + PC_C_COMPILER + flags);
        ASSERT_EQ(r.status, 0) << r.out;
        r = run(std::string(PC_CMAKE_COMMAND) + " --build " + example_build());
        ASSERT_EQ(r.status, 0) << r.out;
        // It took everything from the prefix, nothing from this build tree.
        r = run("grep -c " + std::string(PC_BUILD_DIR) + "/ " + example_build() + "/CMakeCache.txt");
        EXPECT_EQ(r.out, "0\n");
    }

    pid_t core_ = -1;
    pid_t agent_ = -1;
    bool veth_ = false;
    const std::string core_log_ = "/tmp/lldp_example_core.log";
    const std::string agent_log_ = "/tmp/lldp_example_agent.log";
};

TEST_F(LldpAgentExample, runs_end_to_end_from_the_installed_tree) {
    ASSERT_NO_FATAL_FAILURE(install_and_build());

    core_ = pc::test::spawn_program(prefix() + "/bin/axcored",
                                    {"--port-link", std::string("1/0/1=") + kSwitchSide}, {}, core_log_);
    ASSERT_TRUE(pc::test::wait_for_text(core_log_, "platform is up", 60s)) << read_file(core_log_);
    agent_ = pc::test::spawn_program(example_build() + "/lldp_agent",
                                     {"--pid", "40", "--interval", "1", "--system-name", "lab-switch"}, {},
                                     agent_log_);
    ASSERT_TRUE(pc::test::wait_for_text(agent_log_, "lldp_agent: ready", 60s)) << read_file(agent_log_);
    HostPort host;
    ASSERT_TRUE(host.ok());

    SCOPED_TRACE(read_file(agent_log_));
    // A neighbour's data unit entering port 1/0/1 is trapped to the CPU,
    // reaches the agent and shows in its command.
    ASSERT_TRUE(host.send(lldp_frame(peer_pdu(120))));
    // Until the neighbour table names `name`; `shown` keeps the last answer.
    Result shown;
    const auto wait_for_neighbour = [&](const std::string &name) {
        return wait_until(
            [&] {
                shown = axcli("show lldp neighbors");
                return shown.out.find(name) != std::string::npos;
            },
            10s, kStep);
    };
    ASSERT_TRUE(wait_for_neighbour("peer-host")) << shown.out;
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("Gi1/0/1    02:00:00:00:00:99  eth7             peer-host"), std::string::npos)
        << shown.out;
    EXPECT_NE(axcli("show lldp neighbors Gi1/0/1").out.find("peer-host"), std::string::npos);
    EXPECT_EQ(axcli("show lldp neighbors Gi1/0/2").out.find("peer-host"), std::string::npos);
    EXPECT_EQ(axcli("show lldp neighbors Gi9/9/9").status, 1);
    EXPECT_NE(axcli("help").out.find("lldp tx-interval"), std::string::npos);

    // Hostile data units are dropped; the neighbour stays, the only one. A
    // sound unit sent after them takes the same path: once it shows, the
    // agent has had the hostile ones.
    const std::vector<std::vector<uint8_t>> hostile = {
        {0x02, 0x07, 0x04},                                    // chassis ID running past the frame
        {0x04, 0x05, 0x05, 'e', 't', 'h', '7'},                // port ID first
        {0x02, 0x01, 0x04, 0x04, 0x02, 0x05, 'x'},             // chassis ID of one byte
        {0x02, 0x02, 0x04, 'x', 0x04, 0x02, 0x05, 'y', 0x00},  // no time to live
        {0xFF, 0xFF},                                          // a 511-byte value that is not there
    };
    for (const auto &pdu : hostile) ASSERT_TRUE(host.send(lldp_frame(pdu)));
    ASSERT_TRUE(host.send(lldp_frame(peer_pdu(120, "peer-after-hostile"))));
    EXPECT_TRUE(wait_for_neighbour("peer-after-hostile")) << shown.out;
    EXPECT_NE(shown.out.find("Neighbors: 1"), std::string::npos) << shown.out;

    // A time to live of 0 takes the neighbour away at once.
    ASSERT_TRUE(host.send(lldp_frame(peer_pdu(0))));
    EXPECT_TRUE(
        wait_until([&] { return axcli("show lldp neighbors").out.find("Neighbors: 0") != std::string::npos; },
                   10s, kStep));

    // The agent advertises the switch out of the port, naming the port.
    std::vector<uint8_t> advert;
    wait_until(
        [&] {
            advert = host.receive(500);
            return tlv_text(advert, 2, true) == "Gi1/0/1";
        },
        10s, kStep);
    EXPECT_EQ(tlv_text(advert, 2, true), "Gi1/0/1");
    EXPECT_EQ(tlv_text(advert, 5, false), "lab-switch");
    EXPECT_TRUE(advert.size() >= 6 &&
                std::equal(kNearestBridge.begin(), kNearestBridge.end(), advert.begin()));

    // Its section is in the running configuration; its CLI command and its
    // management function change what the section says.
    Result config = axcli("show running-config");
    EXPECT_EQ(config.status, 0);
    EXPECT_NE(config.out.find("lldp run"), std::string::npos) << config.out;
    EXPECT_EQ(axcli("lldp tx-interval 5").status, 0);
    EXPECT_NE(axcli("show running-config").out.find("lldp tx-interval 5"), std::string::npos);
    for (const char *bad : {"0", "3601", "abc", "5x", ""}) {
        Result refused = axcli(std::string("lldp tx-interval ") + bad);
        EXPECT_EQ(refused.status, 1) << bad << ": " << refused.out;
    }
    EXPECT_EQ(axcli("execute lldpSetTxInterval interval=7 pid=40").status, 0);
    EXPECT_NE(axcli("show running-config").out.find("lldp tx-interval 7"), std::string::npos);
    EXPECT_NE(axcli("show lldp neighbors").out.find("advertised every 7 s"), std::string::npos);

    // The core restarts: the agent's registrations come back (the client
    // libraries' own and, from its reconnect callback, the trap entry and
    // the commands), so a neighbour is heard and shown again.
    kill(core_, SIGTERM);
    ASSERT_EQ(pc::test::wait_child_for(core_, 20000), 0);
    core_ =
        pc::test::spawn_program(prefix() + "/bin/axcored",
                                {"--port-link", std::string("1/0/1=") + kSwitchSide}, {}, core_log_ + ".2");
    ASSERT_TRUE(pc::test::wait_for_text(core_log_ + ".2", "platform is up", 60s))
        << read_file(core_log_ + ".2");
    EXPECT_TRUE(wait_until(
        [&] {
            host.send(lldp_frame(peer_pdu(120, "after-restart")));
            return axcli("show lldp neighbors").out.find("after-restart") != std::string::npos;
        },
        30s, kStep));
    EXPECT_NE(axcli("show running-config").out.find("lldp tx-interval 7"), std::string::npos);

    // It stops on SIGTERM with status 0, and the core serves on.
    kill(agent_, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(agent_, 20000), 0);
    agent_ = -1;
    EXPECT_NE(read_file(agent_log_).find("lldp_agent: stopped"), std::string::npos);
    EXPECT_EQ(axcli("show version").status, 0);
}

}  // namespace
