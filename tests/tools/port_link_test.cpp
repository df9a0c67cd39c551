// One chip per switch, seen from outside: the core (axcored) binds port
// 1/0/1 to a veth whose far end the test takes down and up; the port's link
// follows the carrier in the core (its own command), in a feature process
// (its chip read and the NOTIFY_TYPE_PORT_LINK event it subscribed to) and
// in this process, which reads the chip too.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform_core/chip_sdk.h"
#include "platform_core/up.h"
#include "platform_sim/sim_chip.h"
#include "support/emulation.h"
#include "support/isolation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::file_has;
using pc::test::read_file;
using pc::test::wait_until;

const std::string kTools = PC_TOOLS_DIR;
constexpr const char *kCoreLog = "/tmp/port_link_core.log";
constexpr const char *kPeerLog = "/tmp/port_link_peer.log";
constexpr const char *kPeerReady = "/tmp/port_link_peer_ready";
constexpr const char *kPeerPid = "45";

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

constexpr auto kPatience = 30s;  // for a link change to reach a process

// The link of front-panel port 1/0/n in the switch's chip, as this process reads it.
int chip_link(uint32_t n) {
    uint32_t link = 0;
    int port = simChipPortOf(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, n));
    if (port < 0 || sdk_port_link_get(0, static_cast<uint32_t>(port), &link) != 0) return -1;
    return static_cast<int>(link);
}

// What the core's own command says of port Gi1/0/1.
std::string core_says() {
    const std::string out = "/tmp/port_link_cli.out";
    pid_t cli = pc::test::spawn_program(kTools + "/axcli", {"show", "interfaces", "Gi1/0/1"}, {}, out);
    return pc::test::wait_child_for(cli, 60000) == 0 ? read_file(out) : "axcli failed: " + read_file(out);
}

class PortLink : public ::testing::Test {
protected:
    void SetUp() override {
        PC_SKIP_UNDER_EMULATOR("the emulator cannot bind a port to a veth interface (packet sockets)");
        if (!pc::test::isolated()) GTEST_SKIP() << "makes veth interfaces: needs its own network namespace";
        ASSERT_TRUE(sh("ip link add plk1 type veth peer name plk1h"));
        ASSERT_TRUE(sh("ip link set up dev plk1") && sh("ip link set up dev plk1h"));
        core_ = pc::test::spawn_program(kTools + "/axcored", {"--port-link", "1/0/1=plk1"}, {}, kCoreLog);
        ASSERT_TRUE(wait_until([] { return file_has(kCoreLog, "port 1/0/1 is interface plk1"); }, 60s))
            << read_file(kCoreLog);
        std::remove(kPeerReady);
        peer_ = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/port_link_peer",
                                        {kPeerPid, "1/0/1"}, {}, kPeerLog);
        ASSERT_TRUE(wait_until([] { return access(kPeerReady, F_OK) == 0; }, 60s)) << read_file(kPeerLog);
    }

    void TearDown() override {
        for (pid_t pid : {peer_, core_})
            if (pid > 0) {
                kill(pid, SIGTERM);
                if (pc::test::wait_child_for(pid, 20000) < 0) kill(pid, SIGKILL);
            }
        sh("ip link del plk1");
    }

    pid_t core_ = -1;
    pid_t peer_ = -1;
};

TEST_F(PortLink, veth_carrier_is_the_link_in_every_process_and_raises_the_port_event) {
    EXPECT_NE(read_file(kPeerLog).find("start 1/0/1 chip 1"), std::string::npos) << read_file(kPeerLog);
    EXPECT_EQ(chip_link(1), 1);
    EXPECT_NE(core_says().find("link up"), std::string::npos);

    struct Step {
        const char *command;
        int link;
        const char *event;  // what the feature process prints
        const char *core;   // what the core prints
    };
    const Step steps[] = {
        {"ip link set down dev plk1h", 0, "event 1/0/1 link 0 chip 0", "port 1/0/1 link down"},
        {"ip link set up dev plk1h", 1, "event 1/0/1 link 1 chip 1", "port 1/0/1 link up"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.command);
        ASSERT_TRUE(sh(s.command));
        EXPECT_TRUE(wait_until([&] { return chip_link(1) == s.link; }, kPatience))
            << "this process reads " << chip_link(1);
        EXPECT_TRUE(wait_until([&] { return file_has(kPeerLog, s.event); }, kPatience))
            << read_file(kPeerLog);
        // The core's line is its own: it may come after the feature process's.
        EXPECT_TRUE(wait_until([&] { return file_has(kCoreLog, s.core); }, kPatience)) << read_file(kCoreLog);
        EXPECT_NE(core_says().find(s.link ? "link up" : "link down"), std::string::npos);
    }
    // A port without an interface keeps the chip's own link, and no event
    // was raised for it.
    EXPECT_EQ(chip_link(2), 1);
    EXPECT_EQ(read_file(kPeerLog).find("event 1/0/2"), std::string::npos);
}

}  // namespace
