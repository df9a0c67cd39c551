// A registration made by another process through the hub: the frame
// reaches that process and its answer leaves through the core and the chip.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "packet_support.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::packet;

TEST(PacketProcess, registration_in_another_process_receives_and_answers) {
    start_core_once();
    std::remove("/tmp/packet_peer_ready");
    pid_t peer = pc::test::spawn_helper("packet_client_peer", {"12"});
    // Ready, or gone with the status that tells which step failed.
    int early_exit = -1;
    bool ready = wait_until(
        [&] {
            int status = 0;
            if (waitpid(peer, &status, WNOHANG) == peer) {
                early_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            return access("/tmp/packet_peer_ready", F_OK) == 0;
        },
        std::chrono::seconds(120));
    ASSERT_TRUE(ready && early_exit < 0) << "peer exit status " << early_exit;
    ASSERT_EQ(axPacketCheckIsRegister(40, "peer_echo"), 1);
    drain_tx();
    Bytes frame = eth(kBroadcast, kHostA, 0x88B6);
    frame = padded(frame, 60, 0x3C);
    uint32_t kernel_before = simKernelPacketRxCount();
    ASSERT_EQ(simChipInject(chip_port(2), frame.data(), static_cast<uint32_t>(frame.size())), 0);
    EXPECT_EQ(pc::test::wait_child_for(peer, 120000), 0);
    // The answer left port 2 only, as the peer built it.
    bool answered = wait_until([] {
        for (const Sent &s : drain_tx())
            if (s.bytes.size() >= 14 && type_at(s.bytes, 12) == 0x88B7) return s.port == chip_port(2);
        return false;
    });
    EXPECT_TRUE(answered);
    EXPECT_EQ(simKernelPacketRxCount(), kernel_before);  // owned by the peer
}

}  // namespace
