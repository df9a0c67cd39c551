// Traffic-control entries seen from the wire: frames injected at a port (or
// arriving on a port bound to a real interface) reach the CPU as the
// entries say, at their CPU queue and rate, and the packet service hands
// them to its registrations. Also the entries made by another process.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "pktctl_support.h"
#include "support/emulation.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::pktctl;

constexpr uint8_t kLldp[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr uint8_t kMaskAll[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kMod = 30;

std::atomic<int> g_lldp{0};
std::atomic<int> g_metered{0};
std::atomic<uint32_t> g_lldp_port{0};
int on_lldp(AX_PACKET_T *p) {
    g_lldp_port = p->rx_port;
    return ++g_lldp, 0;
}
int on_metered(AX_PACKET_T *) { return ++g_metered, 0; }

// The count once no frame has arrived for a while (frames reach the
// registration on the module's own thread, after the NIC is idle).
int settled(const std::atomic<int> &count) {
    int last = -1;
    while (last != count.load()) {
        last = count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return last;
}

uint64_t queue_count(uint32_t q) { return axpacketStatGet(AXPKT_STAT_QUEUE + 2 * q); }

class EndToEnd : public ::testing::Test {
protected:
    // Every test counts its own frames.
    void SetUp() override {
        start_core();
        g_lldp = 0;
        g_metered = 0;
        g_lldp_port = 0;
    }
    // The packet service's registrations of the frames under test, once per
    // program: a module lives as long as its process (its queue takes
    // message queue memory: only where needed).
    static void register_receivers() {
        static bool registered = false;
        if (registered) return;
        ASSERT_EQ(axPacketRegisterModule(kMod, 10, 65536, 64), 0);
        ASSERT_EQ(axPacketRegisterPacket(kMod, "lldp", AX_RX_OWNED, 20, on_lldp, nullptr), 0);
        ASSERT_EQ(axPacketRegisterMacaddr(kMod, "lldp", DES_MAC, kLldp, kMaskAll), 0);
        ASSERT_EQ(axPacketRegisterEnable(kMod, "lldp"), 0);
        ASSERT_EQ(axPacketRegisterPacket(kMod, "metered", AX_RX_OWNED, 20, on_metered, nullptr), 0);
        ASSERT_EQ(axPacketRegisterField(kMod, "metered", LEN_TYPE, 0x88B5, 0xFFFF), 0);
        ASSERT_EQ(axPacketRegisterEnable(kMod, "metered"), 0);
        registered = true;
    }
};

Bytes lldp_frame() { return padded(eth(kLldp, kHostA, 0x88CC), 60, 0x11); }

TEST_F(EndToEnd, lldp_is_trapped_at_priority_2_to_its_registration) {
    register_receivers();
    ASSERT_EQ(axPktCtlResvEntryInit(), 0);
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    drain_tx();
    uint64_t q2 = queue_count(2);
    Bytes f = lldp_frame();
    ASSERT_EQ(simChipInject(chip_port(3), f.data(), static_cast<uint32_t>(f.size())), 0);
    ASSERT_TRUE(wait_until([] { return g_lldp.load() == 1; }));
    EXPECT_EQ(g_lldp_port.load(), port_up(3));
    EXPECT_EQ(queue_count(2), q2 + 1);
    // Trapped: no other port saw it.
    EXPECT_TRUE(drain_tx().empty());
    simAclEntryInfo info{};
    ASSERT_EQ(simAclEntryGet(phys(entry("LLDP")->pos), &info), 0);
    EXPECT_EQ(info.hits, 1u);

    // Disabled, the chip floods it as any multicast again (and copies it).
    ASSERT_EQ(axPktCtlIEEECtl("LLDP", kLldp, 128, 0), 0);
    ASSERT_EQ(simChipInject(chip_port(3), f.data(), static_cast<uint32_t>(f.size())), 0);
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    EXPECT_FALSE(drain_tx().empty());
}

// With the reserved entries in place each protocol reaches the CPU at its
// entry's queue (a frame to the switch's MAC alone would arrive at 5, a
// broadcast copy at 2), and a copied broadcast is still flooded.
TEST_F(EndToEnd, reserved_entries_set_each_protocols_cpu_queue) {
    ASSERT_EQ(axPktCtlResvEntryInit(), 0);
    uint8_t sw[6]{};
    simChipSwitchMacGet(sw);
    struct Case {
        const char *what;
        Bytes frame;
        uint32_t queue;
        bool flooded;
    };
    const Case cases[] = {
        {"web", ipv4(sw, 6, 0x0A000002, 0x0A000001, 40000, 80), 1, false},
        {"SSH", ipv4(sw, 6, 0x0A000002, 0x0A000001, 40000, 22), 2, false},
        {"SNMP", ipv4(sw, 17, 0x0A000002, 0x0A000001, 40000, 161), 2, false},
        {"ICMP", ipv4(sw, 1, 0x0A000002, 0x0A000001), 3, false},
        {"arp_UC", padded(eth(sw, kHostA, 0x0806), 60), 3, false},
        {"ADDP_BC", ipv4(kBroadcast, 17, 0x0A000002, 0xFFFFFFFF, 61000, 1040), 0, true},
        {"RADIUS_1", ipv4(sw, 17, 0x0A000003, 0x0A000001, 1812, 50000), 2, false},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(simChipWaitIdle(10000), 0);
        drain_tx();
        uint64_t before = queue_count(c.queue);
        ASSERT_EQ(simChipInject(chip_port(5), c.frame.data(), static_cast<uint32_t>(c.frame.size())), 0);
        ASSERT_EQ(simChipWaitIdle(10000), 0);
        EXPECT_EQ(queue_count(c.queue), before + 1) << c.what;
        EXPECT_EQ(!drain_tx().empty(), c.flooded) << c.what;
    }
}

TEST_F(EndToEnd, metered_entry_drops_frames_above_its_rate) {
    register_receivers();
    constexpr uint32_t kRate = 5;  // frames per second, burst 10
    ASSERT_EQ(axPktCtlL2Ctl("metered", kHostB, 0x88B5, kRate, PKT_CTL_ACTION_TRAP, 1), 0);
    Bytes f = padded(eth(kHostB, kHostA, 0x88B5), 60);
    constexpr int kSent = 60;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSent; ++i)
        ASSERT_EQ(simChipInject(chip_port(2), f.data(), static_cast<uint32_t>(f.size())), 0);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    int got = settled(g_metered);
    EXPECT_GE(got, static_cast<int>(2 * kRate));
    EXPECT_LE(got, static_cast<int>(2 * kRate + kRate * elapsed + 1)) << "elapsed " << elapsed;
    EXPECT_TRUE(drain_tx().empty());  // the rest were dropped, not flooded

    // Re-rated: the bucket refills at the new rate.
    ASSERT_EQ(axPktCtlSpeedSet("metered", 1000), 0);
    int before = g_metered.load();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(simChipInject(chip_port(2), f.data(), static_cast<uint32_t>(f.size())), 0);
    EXPECT_TRUE(wait_until([&] { return g_metered.load() - before >= 20; }));
    EXPECT_EQ(settled(g_metered) - before, 20);
}

TEST_F(EndToEnd, entries_from_another_process) {
    pid_t peer = pc::test::spawn_helper("pktctl_peer", {"12"});
    ASSERT_EQ(pc::test::wait_child_for(peer, 120000), 0);
    // Read through the table's lock first: the RPC workers wrote the table.
    uint32_t speed = 0;
    ASSERT_EQ(axPktCtlSpeedGet("p_l2", &speed), 0);
    EXPECT_EQ(speed, 77u);
    struct Want {
        const char *name;
        uint32_t type;
        uint32_t isEnable;
    };
    const Want wants[] = {
        {"p_lldp", PKT_CTL_TYPE_IEEE, 1}, {"p_ieee_port", PKT_CTL_TYPE_IEEE, 1},
        {"p_l2", PKT_CTL_TYPE_L2, 0},     {"p_l2uc", PKT_CTL_TYPE_L2UC, 1},
        {"p_l3", PKT_CTL_TYPE_L3, 1},     {"p_l3uc", PKT_CTL_TYPE_L3UC, 1},
        {"p_l3mc", PKT_CTL_TYPE_L3MC, 1},
    };
    for (const Want &w : wants) {
        const PKT_CTL_ENTRY_T *e = entry(w.name);
        ASSERT_NE(e, nullptr) << w.name;
        EXPECT_EQ(e->type, w.type) << w.name;
        EXPECT_EQ(e->isEnable, w.isEnable) << w.name;
        EXPECT_EQ(valid(e->pos), w.isEnable != 0) << w.name;
    }
    EXPECT_EQ(entry("p_l3")->srcIp, 0x0A000002u);
    EXPECT_EQ(entry("p_l3")->l4SrcPort, 2000u);
    EXPECT_EQ(field(entry("p_l3")->pos, SDK_ACL_FIELD_IP4_DIP, 4), 0x0A000001);
    EXPECT_EQ(entry("p_ieee_port")->uportList.bits[0], 1u << 2);
    EXPECT_EQ(simCpuEgressRateGet(), 500u);
}

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

TEST_F(EndToEnd, lldp_and_meter_on_a_real_interface) {
    PC_SKIP_UNDER_EMULATOR("raw sockets on veth interfaces are not emulated");
    register_receivers();
    if (!sh("ip link add pcv0 type veth peer name pcv0h"))
        GTEST_SKIP() << "cannot create veth interfaces here";
    // Without IPv6 the kernel sends nothing of its own on them (neighbour
    // discovery, listener reports), so the CPU queue counts only our frames.
    for (const char *i : {"pcv0", "pcv0h"})
        ASSERT_TRUE(sh(std::string("sysctl -w net.ipv6.conf.") + i + ".disable_ipv6=1"));
    ASSERT_TRUE(sh("ip link set pcv0 up") && sh("ip link set pcv0h up"));
    ASSERT_EQ(simPortLinkBind(chip_port(4), "pcv0"), 0);
    ASSERT_EQ(axPktCtlIEEECtl("LLDP", kLldp, 128, 1), 0);
    int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    ASSERT_GE(fd, 0);
    sockaddr_ll a{};
    a.sll_family = AF_PACKET;
    a.sll_protocol = htons(ETH_P_ALL);
    a.sll_ifindex = static_cast<int>(if_nametoindex("pcv0h"));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    uint64_t q2 = queue_count(2);
    Bytes f = lldp_frame();
    ASSERT_EQ(send(fd, f.data(), f.size(), 0), static_cast<ssize_t>(f.size()));
    EXPECT_TRUE(wait_until([] { return g_lldp.load() >= 1; }));
    EXPECT_EQ(g_lldp_port.load(), port_up(4));
    EXPECT_EQ(queue_count(2), q2 + 1);

    // A metered entry holds frames from the interface to its rate too.
    constexpr uint32_t kRate = 5;
    ASSERT_EQ(axPktCtlL2Ctl("metered", kHostB, 0x88B5, kRate, PKT_CTL_ACTION_TRAP, 1), 0);
    Bytes m = padded(eth(kHostB, kHostA, 0x88B5), 60);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 60; ++i) ASSERT_EQ(send(fd, m.data(), m.size(), 0), static_cast<ssize_t>(m.size()));
    EXPECT_TRUE(wait_until([] { return g_metered.load() >= static_cast<int>(2 * kRate); }));
    int got = settled(g_metered);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(got, static_cast<int>(2 * kRate));
    EXPECT_LE(got, static_cast<int>(2 * kRate + kRate * elapsed + 1)) << "elapsed " << elapsed;
    close(fd);
    simPortLinkUnbindAll();
    sh("ip link del pcv0");
}

}  // namespace
