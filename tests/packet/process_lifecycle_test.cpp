// A feature process's registrations live and die with it: killed with
// SIGKILL, it leaves nothing in the core (its frames go to the kernel again,
// its printer leaves the running configuration, its subscription leaves the
// notification table, its CLI command leaves the CLI table); started again,
// it registers cleanly and owns its frames again. The core comes up in this
// program (packet_support.h).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "packet_support.h"
#include "platform_core/axconfig.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axmsg.h"
#include "platform_core/notify.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::packet;

constexpr uint32_t kPeerPid = 41;
constexpr uint32_t kPeerMid = 42;
constexpr const char *kReady = "/tmp/life_peer_ready";
constexpr std::chrono::seconds kDeparture{20};  // for the core to see a killed peer go

pid_t start_peer(const char *mark) {
    std::remove(kReady);
    pid_t peer = pc::test::spawn_helper("lifecycle_peer", {std::to_string(kPeerPid), mark});
    int early_exit = -1;
    bool ready = wait_until(
        [&] {
            int status = 0;
            if (waitpid(peer, &status, WNOHANG) == peer) {
                early_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            return access(kReady, F_OK) == 0;
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(ready && early_exit < 0) << "peer exit status " << early_exit;
    return peer;
}

std::string running_config() {
    std::vector<char> buf(AXCONFIG_MAX_LEN);
    unsigned len = 0;
    if (axConfigGetConfig(static_cast<unsigned>(buf.size()), buf.data(), &len) != 0) return {};
    return std::string(buf.data(), len);
}

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// How many times the core's CLI table lists "show life mark" for the peer.
size_t peer_cli_commands() {
    size_t n = 0;
    axImiCliList(
        [](void *arg, int pid, const char *words, const char *, const char *, const char *) {
            if (pid == static_cast<int>(kPeerPid) && std::string(words) == "show life mark")
                ++*static_cast<size_t *>(arg);
            return 0;
        },
        &n, 5);
    return n;
}

// The notification table as the core prints it.
std::string notify_table() {
    NOTIFY_REG_MSG_T print{NOTIFY_CMD_PRINT, 0, 0, 0};
    AXMSG_T msg{};
    msg.data = &print;
    msg.data_len = sizeof print;
    pc::test::CaptureStdout out;
    notify_axmsg_callback(&msg);
    return out.text();
}

// Sends an 0x88B5 frame in at port 3; true when the peer's 0x88B4 answer
// leaves port 3.
bool peer_answers() {
    drain_tx();
    Bytes frame = padded(eth(kBroadcast, kHostA, 0x88B5), 60, 0x5A);
    if (simChipInject(chip_port(3), frame.data(), static_cast<uint32_t>(frame.size())) != 0) return false;
    return wait_until(
        [] {
            for (const Sent &s : drain_tx())
                if (s.bytes.size() >= 14 && type_at(s.bytes, 12) == 0x88B4) return s.port == chip_port(3);
            return false;
        },
        std::chrono::seconds(20));
}

TEST(ProcessLifecycle, killed_process_leaves_nothing_and_registers_again_cleanly) {
    start_core_once();
    const std::string proc = "Proc " + std::to_string(kPeerPid);

    pid_t peer = start_peer("first");
    ASSERT_EQ(axPacketCheckIsRegister(kPeerMid, "life_echo"), 1);
    EXPECT_EQ(count(running_config(), "lifecycle peer first"), 1u);
    // A subscription reaches the core as a message of its own, not as a
    // call the peer waits on: it may come after the peer says it is ready.
    EXPECT_TRUE(wait_until([&] { return count(notify_table(), proc) == 1; }));
    EXPECT_EQ(peer_cli_commands(), 1u);
    EXPECT_TRUE(peer_answers());

    // The core drops each kind of registration once the hub has taken the
    // hang-up, one kind after another.
    kill(peer, SIGKILL);
    EXPECT_EQ(pc::test::wait_child(peer), 128 + SIGKILL);
    EXPECT_TRUE(wait_until([] { return axPacketMidGet(kPeerMid) == nullptr; }, kDeparture));
    EXPECT_EQ(axPacketCheckIsRegister(kPeerMid, "life_echo"), 0);
    EXPECT_TRUE(wait_until([] { return count(running_config(), "lifecycle peer") == 0; }, kDeparture));
    EXPECT_TRUE(wait_until([&] { return count(notify_table(), proc) == 0; }, kDeparture));
    EXPECT_TRUE(wait_until([] { return peer_cli_commands() == 0; }, kDeparture));
    // Nobody owns the frame now: it goes to the kernel.
    uint32_t kernel_before = simKernelPacketRxCount();
    Bytes frame = padded(eth(kBroadcast, kHostA, 0x88B5), 60, 0x5A);
    ASSERT_EQ(simChipInject(chip_port(3), frame.data(), static_cast<uint32_t>(frame.size())), 0);
    EXPECT_TRUE(wait_until([&] { return simKernelPacketRxCount() > kernel_before; }));

    peer = start_peer("second");
    EXPECT_EQ(axPacketCheckIsRegister(kPeerMid, "life_echo"), 1);
    std::string config = running_config();
    EXPECT_EQ(count(config, "lifecycle peer second"), 1u) << config;
    EXPECT_EQ(count(config, "lifecycle peer first"), 0u);
    EXPECT_TRUE(wait_until([&] { return count(notify_table(), proc) == 1; }));
    EXPECT_EQ(count(notify_table(), proc), 1u) << "subscribed once";
    EXPECT_EQ(peer_cli_commands(), 1u);
    EXPECT_TRUE(peer_answers());
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
}

}  // namespace
