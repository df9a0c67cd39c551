// The whole packet path over real interfaces: axcored with two front-panel
// ports bound to veth pairs, its CPU port on a tagged TAP and VLAN 1 on a
// TAP of its own carrying the switch's address. A host namespace on the far
// end of port 1/0/1 pings that address with the system's ping; the Linux
// stack answers through the VLAN interface, axPacketSend and the chip. No
// 802.1Q support is needed in the machine's kernel.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "packet_support.h"
#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::packet;

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

using pc::test::read_file;

uint64_t counter(const std::string &log, const std::string &label) {
    size_t at = log.rfind(label);
    return at == std::string::npos ? 0 : std::strtoull(log.c_str() + at + label.size(), nullptr, 10);
}

// The host namespace on the far end of a veth; removed with its interface.
class HostNamespace {
public:
    HostNamespace(std::string name, const std::string &peer, const std::string &addr)
        : name_(std::move(name)) {
        ok_ = sh("ip netns add " + name_) && sh("ip link set " + peer + " netns " + name_) &&
              sh(in("ip addr add " + addr + " dev " + peer)) && sh(in("ip link set up dev " + peer)) &&
              sh(in("ip link set up dev lo"));
    }
    ~HostNamespace() { sh("ip netns del " + name_); }
    bool ok() const { return ok_; }
    std::string in(const std::string &cmd) const { return "ip netns exec " + name_ + " " + cmd; }

private:
    std::string name_;
    bool ok_ = false;
};

TEST(PacketVeth, host_on_a_port_pings_the_switch_through_its_vlan_interface) {
    PC_SKIP_UNDER_EMULATOR("TAP set-up and namespaces are not emulated");
    if (!sh("command -v ping")) GTEST_SKIP() << "no ping here (scripts/setup.sh installs iputils-ping)";
    if (!sh("ip link add pkv0 type veth peer name pkv0h") ||
        !sh("ip link add pkv1 type veth peer name pkv1h"))
        GTEST_SKIP() << "cannot create veth interfaces here";
    for (const char *i : {"pkv0", "pkv1", "pkv1h"}) ASSERT_TRUE(sh(std::string("ip link set up dev ") + i));
    HostNamespace host("pkvhost" + std::to_string(getpid()), "pkv0h", "10.77.0.2/24");
    ASSERT_TRUE(host.ok());
    std::string log = "/tmp/packet_veth_axcored.log";
    pid_t core = pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axcored",
                                         {"--port-link", "1/0/1=pkv0", "--port-link", "1/0/2=pkv1",
                                          "--cpu-if", "pkcpu", "--vlan-if", "1=pkvlan1"},
                                         {}, log);
    bool up = wait_until(
        [&] { return read_file(log).find("axcored: VLAN 1 interface pkvlan1") != std::string::npos; },
        std::chrono::seconds(60));
    if (!up) {
        kill(core, SIGTERM);
        pc::test::wait_child_for(core, 20000);
        if (read_file(log).find("cannot start the kernel packet side") != std::string::npos)
            GTEST_SKIP() << "no TAP device here";
        FAIL() << read_file(log);
    }
    ASSERT_TRUE(sh("ip addr add 10.77.0.1/24 dev pkvlan1 && ip link set up dev pkvlan1"));

    // ARP and the echo request reach the CPU; the stack's answers go back
    // through the packet service and the chip to port 1/0/1.
    bool pinged = false;
    for (int attempt = 0; attempt < 10 && !pinged; ++attempt)
        pinged = sh(host.in("ping -c 1 -W 1 10.77.0.1"));
    EXPECT_TRUE(pinged) << read_file(log);
    // The switch's own address is its MAC on the VLAN interface.
    EXPECT_TRUE(sh(host.in("ip neigh show 10.77.0.1 | grep -q lladdr")));

    kill(core, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(core, 30000), 0);
    std::string text = read_file(log);
    // The answers (ARP and echo) were taken from the kernel side and sent by the service.
    EXPECT_GE(counter(text, "kernel send packets     : "), 2u) << text;
    EXPECT_GE(counter(text, "axpacket send packets   : "), 2u) << text;
    sh("ip link del pkv0");
    sh("ip link del pkv1");
}

}  // namespace
