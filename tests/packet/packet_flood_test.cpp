// TCP/UDP flood defence: the protected port ranges and the two token
// buckets in front of the kernel.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <string>
#include <vector>

#include "packet_support.h"

namespace {

using namespace pc::test::packet;

constexpr uint32_t kSource = 0x0A000001;
constexpr uint32_t kTarget = 0x0A0000FE;  // not an interface address

class FloodDefence : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_core_once(); }
    void SetUp() override {
        simChipReset();
        tcpUdpFloodDefendDportDelAll();
        simChipSwitchMacGet(mac_);
    }
    void TearDown() override { tcpUdpFloodDefendDportDelAll(); }
    Bytes to_switch(uint32_t sip, uint32_t dip, uint16_t dport, uint8_t proto = 17) {
        return ipv4(mac_, proto, sip, dip, 1234, dport);
    }
    static int check(const Bytes &f) {
        return axPacketTcpUdpFloodDefend(f.data(), static_cast<uint32_t>(f.size()));
    }
    uint8_t mac_[6];
};

TEST_F(FloodDefence, ranges_are_kept_in_order_without_duplicates) {
    EXPECT_EQ(tcpUdpFloodDefendDportAdd(5000, 6000), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportAdd(5000, 6000), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportList(nullptr, nullptr, 0), 1);
    for (uint16_t i = 1; i < FLOOD_DEFEND_RANGE_MAX; ++i) EXPECT_EQ(tcpUdpFloodDefendDportAdd(i, i), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportAdd(7000, 7001), FLOOD_DEFEND_RANGE_FULL);
    EXPECT_EQ(tcpUdpFloodDefendDportDel(5000, 6000), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportDel(5000, 6000), 0);  // gone: still 0
    const uint32_t positions[] = {1, 3};
    EXPECT_EQ(tcpUdpFloodDefendDportDelByIndex(2, positions), 0);
    uint16_t starts[64], ends[64];
    ASSERT_EQ(tcpUdpFloodDefendDportList(starts, ends, 64), 61);
    EXPECT_EQ(starts[0], 2);
    EXPECT_EQ(starts[1], 4);
}

TEST_F(FloodDefence, range_command_listing_and_configuration) {
    struct {
        const char *text;
        int rc;
        const char *printed;
    } cases[] = {
        {"5000-6000", 0, nullptr},
        {"6000-5000", -1, " Input error,dport of end must greater or equal to start.\r\n"},
        {"5000-65536", -1, " Input error,dport should be 0-65535.\r\n"},
        {"5000", -1, " Input error,dport range format:5000-6000.\r\n"},
        {"a-b", -1, " Input error,dport range format:5000-6000.\r\n"},
        {"99999999999999999999-1", -1, " Input error,dport should be 0-65535.\r\n"},
        // Read as "%d-%d" reads it: what follows the second number is ignored.
        {"300-400 ", 0, nullptr},
        {"500-600x", 0, nullptr},
        {"80-80", 0, nullptr},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(tcpUdpFloodDefendDportCommand(1, c.text, append_line, &out), c.rc) << c.text;
        EXPECT_EQ(out, c.printed ? std::string(c.printed) + "|" : std::string()) << c.text;
    }
    std::string listing, config;
    tcpUdpFloodDefendShowTo(append_line, &listing);
    EXPECT_EQ(listing,
              "Tcp-udp flood cpu defend dport:\r\n|Index     Start Port          End Port\r\n|"
              "1         5000                6000\r\n|2         300                 400\r\n|"
              "3         500                 600\r\n|4         80                  80\r\n|");
    tcpUdpFloodDefendConfigLines(append_line, &config);
    EXPECT_EQ(config,
              "ip cpu-defend tcp-udp-flood dport 5000-6000|ip cpu-defend tcp-udp-flood dport 300-400|"
              "ip cpu-defend tcp-udp-flood dport 500-600|ip cpu-defend tcp-udp-flood dport 80-80|");
    std::string out;
    EXPECT_EQ(tcpUdpFloodDefendDportCommand(0, "5000-6000", append_line, &out), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportCommand(0, "300-400 ", append_line, &out), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportCommand(0, "500-600", append_line, &out), 0);
    EXPECT_EQ(tcpUdpFloodDefendDportList(nullptr, nullptr, 0), 1);
}

TEST_F(FloodDefence, source_and_shared_buckets_drop_the_excess) {
    Bytes f = to_switch(kSource, kTarget, 5500);
    EXPECT_EQ(check(f), 0);  // no range yet
    ASSERT_EQ(tcpUdpFloodDefendDportAdd(5000, 6000), 0);
    int passed = 0;
    for (int i = 0; i < 17; ++i) passed += check(f) == 0;
    EXPECT_EQ(passed, 16);  // the first creates the source's bucket
    EXPECT_EQ(srcCountGet(), 1);

    // Not limited: another port, an interface address, another MAC, UDP only.
    EXPECT_EQ(check(to_switch(kSource, kTarget, 4999)), 0);
    simIntfIpSet(kTarget, 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(check(f), 0);
    simIntfIpSet(kTarget, 0);
    Bytes other_mac = ipv4(kHostB, 17, kSource, kTarget, 1, 5500);
    EXPECT_EQ(check(other_mac), 0);
    EXPECT_EQ(check(to_switch(kSource, kTarget, 5500, 1)), 0);
    // A frame too short for its ports is not read past its end.
    Bytes cut(f.begin(), f.begin() + 36);
    EXPECT_EQ(check(cut), 0);

    // The shared bucket: 50 for all sources together.
    tcpUdpFloodTokenTimer(0);
    int shared = 0;
    for (uint32_t s = 0; s < 60; ++s) shared += check(to_switch(0x0B000000 + s, kTarget, 5500)) == 0;
    EXPECT_GE(shared, 50);
    EXPECT_LE(shared, 59);  // a timer tick may refill once

    // A silent source is forgotten after 60 ticks.
    for (int i = 0; i < 61; ++i) tcpUdpFloodTokenTimer(0);
    EXPECT_EQ(srcCountGet(), 0);
}

TEST_F(FloodDefence, refused_frames_do_not_reach_the_kernel) {
    ASSERT_EQ(tcpUdpFloodDefendDportAdd(5000, 6000), 0);
    tcpUdpFloodTokenTimer(0);
    Bytes f = to_switch(0x0C000001, kTarget, 5600);
    uint32_t before = simKernelPacketRxCount();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(simChipInject(chip_port(1), f.data(), static_cast<uint32_t>(f.size())), 0);
    }
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    ASSERT_TRUE(wait_until([&] { return simKernelPacketRxCount() >= before + 16; }));
    uint32_t got = simKernelPacketRxCount() - before;
    EXPECT_GE(got, 16u);
    EXPECT_LT(got, 20u);
}

}  // namespace
