// The packet path through the simulated chip: frames injected at a port
// reach the registrations and the kernel side as the receive rules say,
// and frames sent through the service leave the ports the send rules say.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "packet_support.h"
#include "platform_core/appintf.h"
#include "platform_core/utp.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test::packet;

constexpr uint32_t kMod = 50;
constexpr uint16_t kTypeOwned = 0x88B5;
constexpr uint16_t kTypeFree = 0x88B7;  // no registration wants it
constexpr size_t kFcs = 4;              // frame check sequence behind a received frame

// The last record a core callback saw, with its frame.
struct Seen {
    std::mutex lock;
    int count = 0;
    AX_PACKET_T rec{};
    Bytes frame;
};
Seen g_seen;
std::atomic<int> g_new_sa_hits{0};

int record_cb(AX_PACKET_T *p) {
    std::lock_guard<std::mutex> g(g_seen.lock);
    ++g_seen.count;
    g_seen.rec = *p;
    g_seen.frame.assign(p->data, p->data + p->len);
    return 0;
}
int new_sa_cb(AX_PACKET_T *p) { return g_new_sa_hits += p->new_sa, 0; }

int seen_count() {
    std::lock_guard<std::mutex> g(g_seen.lock);
    return g_seen.count;
}

sdk_portmask_t mask(std::initializer_list<uint32_t> ports) {
    sdk_portmask_t m{};
    for (uint32_t n : ports) SDK_PORTMASK_SET(m, static_cast<uint32_t>(chip_port(n)));
    return m;
}

up_list list_of(std::initializer_list<UP> ups) {
    up_list l{};
    for (UP up : ups) {
        uint32_t idx = inner_up_to_idx(up);
        l.bits[idx / 32] |= 1u << (idx % 32);
    }
    return l;
}

// Front-panel port numbers (1/0/n) of the frames that left the chip.
std::set<uint32_t> ports_of(const std::vector<Sent> &sent) {
    std::set<uint32_t> out;
    for (const Sent &s : sent)
        for (uint32_t n = 1; n <= 28; ++n)
            if (chip_port(n) == s.port) out.insert(n);
    return out;
}

class PacketPath : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        start_core_once();
        static bool registered = false;
        if (registered) return;
        ASSERT_EQ(axPacketRegisterModule(kMod, 10, 65536, 64), 0);
        ASSERT_EQ(axPacketRegisterPacket(kMod, "owned", AX_RX_OWNED, 20, record_cb, nullptr), 0);
        ASSERT_EQ(axPacketRegisterField(kMod, "owned", LEN_TYPE, kTypeOwned, 0), 0);
        ASSERT_EQ(axPacketRegisterEnable(kMod, "owned"), 0);
        ASSERT_EQ(axPacketRegisterPacket(kMod, "new_sa", AX_RX_OWNED, 20, new_sa_cb, nullptr), 0);
        ASSERT_EQ(axPacketRegisterField(kMod, "new_sa", NEW_SA, 0, 0), 0);
        ASSERT_EQ(axPacketRegisterEnable(kMod, "new_sa"), 0);
        registered = true;
    }
    void SetUp() override {
        simChipReset();
        simAppintfClear();
        gL3ToMaster = 1;
        std::lock_guard<std::mutex> g(g_seen.lock);
        g_seen.count = 0;
    }
    // Injects at 1/0/`port` and waits until the NIC handed it on.
    void inject(uint32_t port, const Bytes &frame) {
        ASSERT_EQ(simChipInject(chip_port(port), frame.data(), static_cast<uint32_t>(frame.size())), 0);
        ASSERT_EQ(simChipWaitIdle(10000), 0);
    }
    // Waits for the kernel side to hold `n` more frames than `before`.
    static bool kernel_got(uint32_t before, uint32_t n = 1) {
        return wait_until([&] { return simKernelPacketRxCount() >= before + n; });
    }
    static Bytes kernel_last() {
        uint8_t buf[2048];
        uint32_t len = 0;
        if (simKernelPacketLast(buf, sizeof buf, &len) != 0) return {};
        return Bytes(buf, buf + std::min<uint32_t>(len, sizeof buf));
    }
};

TEST_F(PacketPath, owned_frame_reaches_the_core_module_with_its_record) {
    uint32_t before = simKernelPacketRxCount();
    Bytes frame = eth(kBroadcast, kHostA, kTypeOwned);
    frame = padded(frame, 60, 0x5A);
    inject(3, frame);
    ASSERT_TRUE(wait_until([] { return seen_count() == 1; }));
    std::lock_guard<std::mutex> g(g_seen.lock);
    EXPECT_EQ(g_seen.rec.rx_port, port_up(3));
    EXPECT_EQ(g_seen.rec.rx_unit, UNIT_1);
    EXPECT_EQ(g_seen.rec.vid, 1);
    EXPECT_EQ(g_seen.rec.raw_buf, nullptr);
    EXPECT_EQ(g_seen.rec.rx_untag, AX_PKT_RX_NO_INNER_TAG | AX_PKT_RX_NO_OUTER_TAG);
    up_list expect = list_of({port_up(3)});
    EXPECT_EQ(std::memcmp(&g_seen.rec.port_list, &expect, sizeof expect), 0);
    // The frame as received, its check sequence behind it (counted in len).
    ASSERT_EQ(g_seen.frame.size(), frame.size() + kFcs);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), g_seen.frame.begin()));
    EXPECT_EQ(simKernelPacketRxCount(), before);  // owned: not for the kernel
}

// A module answers with the frame it received: the send length rules take
// the check sequence off again, and nothing of the frame is lost.
TEST_F(PacketPath, echoed_frame_leaves_whole) {
    for (size_t size : {60u, 61u, 100u, 1500u}) {
        {
            std::lock_guard<std::mutex> g(g_seen.lock);
            g_seen.count = 0;
        }
        Bytes frame = padded(eth(kBroadcast, kHostA, kTypeOwned), size);
        for (size_t i = 14; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
        inject(3, frame);
        ASSERT_TRUE(wait_until([] { return seen_count() == 1; })) << size;
        drain_tx();
        AX_PACKET_T echo{};
        Bytes copy;
        {
            std::lock_guard<std::mutex> g(g_seen.lock);
            echo = g_seen.rec;
            copy = g_seen.frame;
        }
        echo.data = copy.data();
        echo.flags = AX_PKT_FLAG_PORT_LIST;
        ASSERT_EQ(axPacketSend(&echo), 0) << size;
        std::vector<Sent> sent = drain_tx();
        ASSERT_EQ(sent.size(), 1u) << size;
        EXPECT_EQ(sent[0].port, chip_port(3));
        EXPECT_EQ(sent[0].bytes, frame) << size;  // VLAN 1 leaves untagged
    }
}

struct VlanCase {
    const char *what;
    uint16_t tpid;
    uint16_t tci;
    uint16_t pvid;      // of the receiving port, 1 by default
    uint16_t mac_vlan;  // MAC-based VLAN of the source, 0 for none
    uint16_t vid;       // expected in the record
    uint8_t pri;        // expected
};

TEST_F(PacketPath, vlan_of_a_received_frame) {
    const VlanCase cases[] = {
        {"untagged takes the PVID", 0, 0, 5, 0, 5, 0},
        {"untagged with a MAC-based VLAN", 0, 0, 1, 77, 77, 0},
        {"802.1Q tag", 0x8100, (3 << 13) | 10, 1, 77, 10, 3},
        {"0x9100 tag", 0x9100, (5 << 13) | 12, 1, 0, 12, 5},
    };
    for (const VlanCase &c : cases) {
        simChipReset();
        uint16_t vid = c.tpid ? c.tci & 0x0FFF : c.pvid;
        simChipVlanSet(vid, mask({2, 7}), mask({7}));
        simChipPvidSet(chip_port(2), c.pvid);
        if (c.mac_vlan) simMacVlanSet(kHostA, c.mac_vlan);
        {
            std::lock_guard<std::mutex> g(g_seen.lock);
            g_seen.count = 0;
        }
        Bytes frame = eth(kBroadcast, kHostA, kTypeOwned, c.tpid, c.tci);
        frame = padded(frame, 64);
        inject(2, frame);
        ASSERT_TRUE(wait_until([] { return seen_count() == 1; })) << c.what;
        std::lock_guard<std::mutex> g(g_seen.lock);
        EXPECT_EQ(g_seen.rec.vid, c.vid) << c.what;
        EXPECT_EQ(g_seen.rec.pri, c.pri) << c.what;
        EXPECT_EQ(type_at(g_seen.frame, 12), kTypeOwned) << c.what;  // tag removed
        EXPECT_EQ(g_seen.rec.len, frame.size() - (c.tpid ? 4 : 0) + kFcs) << c.what;
    }
}

TEST_F(PacketPath, kernel_gets_unowned_frames_with_a_rebuilt_tag) {
    struct Case {
        uint16_t tpid;
        uint16_t tci;
        uint16_t vid;
    } cases[] = {{0, 0, 1}, {0x9100, (6 << 13) | 30, 30}};
    for (const Case &c : cases) {
        simChipVlanSet(c.vid, mask({2, 3}), mask({3}));
        uint32_t before = simKernelPacketRxCount();
        Bytes frame = eth(kBroadcast, kHostA, kTypeFree, c.tpid, c.tci);
        frame = padded(frame, 60, 0x11);
        inject(2, frame);
        ASSERT_TRUE(kernel_got(before));
        Bytes got = kernel_last();
        ASSERT_EQ(got.size(), (c.tpid ? frame.size() : frame.size() + 4) + kFcs);
        EXPECT_EQ(type_at(got, 12), 0x8100);
        EXPECT_EQ(type_at(got, 14), c.vid);  // priority and CFI 0
        EXPECT_EQ(type_at(got, 16), kTypeFree);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 12, frame.begin()));
    }
}

// The kernel side takes a stream in batches: none is lost, and the last
// one it holds is the last one sent.
TEST_F(PacketPath, kernel_gets_every_frame_of_a_burst_in_order) {
    constexpr uint32_t kBurst = 300;
    uint32_t before = simKernelPacketRxCount();
    Bytes frame = padded(eth(kBroadcast, kHostA, kTypeFree), 60);
    for (uint32_t i = 0; i < kBurst; ++i) {
        frame[20] = static_cast<uint8_t>(i >> 8);
        frame[21] = static_cast<uint8_t>(i);
        ASSERT_EQ(simChipInject(chip_port(2), frame.data(), static_cast<uint32_t>(frame.size())), 0);
    }
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    ASSERT_TRUE(kernel_got(before, kBurst));
    EXPECT_EQ(simKernelPacketRxCount(), before + kBurst);
    Bytes got = kernel_last();
    ASSERT_EQ(got.size(), frame.size() + 4 + kFcs);
    EXPECT_EQ(type_at(got, 24), kBurst - 1);  // behind the tag
}

TEST_F(PacketPath, lag_member_port_is_replaced_by_its_lag) {
    APPINTF_SET(APPINTF_SLOT_UP_TO_LAG, (+[](UP up, uint32_t *lag) {
                    *lag = up == port_up(4) ? 3 : 0;
                    return 0;
                }));
    Bytes frame = eth(kBroadcast, kHostA, kTypeOwned);
    frame = padded(frame, 60);
    inject(4, frame);
    ASSERT_TRUE(wait_until([] { return seen_count() == 1; }));
    std::lock_guard<std::mutex> g(g_seen.lock);
    up_list expect = list_of({UP_MAKE(UP_TYPE_LAG, 0, 0, 3)});
    EXPECT_EQ(std::memcmp(&g_seen.rec.port_list, &expect, sizeof expect), 0);
    EXPECT_EQ(g_seen.rec.rx_port, port_up(4));
}

TEST_F(PacketPath, spanning_tree_block_ends_the_frame) {
    APPINTF_SET(APPINTF_SLOT_STP_RX_CHECK, (+[](const uint8_t *, uint32_t, UP up, int *blocked) {
                    *blocked = up == port_up(5);
                    return 0;
                }));
    uint32_t before = simKernelPacketRxCount();
    Bytes owned = eth(kBroadcast, kHostA, kTypeOwned);
    Bytes free = eth(kBroadcast, kHostA, kTypeFree);
    owned = padded(owned, 60);
    free = padded(free, 60);
    inject(5, owned);
    inject(5, free);
    inject(6, free);  // another port forwards
    ASSERT_TRUE(kernel_got(before));
    EXPECT_EQ(simKernelPacketRxCount(), before + 1);
    EXPECT_EQ(seen_count(), 0);
}

TEST_F(PacketPath, l3_to_master_switch_governs_ipv4_and_arp_only) {
    Bytes arp = eth(kBroadcast, kHostA, 0x0806);
    arp = padded(arp, 60);
    Bytes v6 = ipv6(17, {}, 0, 547);
    for (uint32_t on : {1u, 0u}) {
        gL3ToMaster = on;
        uint32_t before = simKernelPacketRxCount();
        inject(7, arp);
        inject(7, v6);
        ASSERT_TRUE(kernel_got(before, on ? 2 : 1));
        EXPECT_EQ(simKernelPacketRxCount(), before + (on ? 2 : 1));
        if (!on) {
            EXPECT_EQ(type_at(kernel_last(), 16), 0x86DD);
        }
    }
    gL3ToMaster = 1;
}

TEST_F(PacketPath, new_source_address_is_shown_and_classified_as_usual) {
    int hits = g_new_sa_hits;
    Bytes frame = eth(kBroadcast, kHostB, kTypeOwned);
    frame = padded(frame, 60);
    inject(8, frame);  // the chip has not seen kHostB: new source address
    ASSERT_TRUE(wait_until([&] { return g_new_sa_hits == hits + 1 && seen_count() == 1; }));
    inject(8, frame);  // known now
    ASSERT_TRUE(wait_until([&] { return seen_count() == 2; }));
    EXPECT_EQ(g_new_sa_hits, hits + 1);
}

TEST_F(PacketPath, llc_and_snap_frames_are_classified_within_their_length) {
    Bytes snap = eth(kBroadcast, kHostA, 0x0030);  // length field
    snap.insert(snap.end(), {0xAA, 0xAA, 0x03, 0, 0, 0});
    put16(snap, kTypeOwned);
    snap = padded(snap, 60);
    inject(9, snap);
    ASSERT_TRUE(wait_until([] { return seen_count() == 1; }));
    // An LLC frame too short for its own header goes on to the kernel.
    uint32_t before = simKernelPacketRxCount();
    Bytes llc = eth(kBroadcast, kHostA, 0x0002);
    llc.push_back(0x42);
    inject(9, llc);
    ASSERT_TRUE(kernel_got(before));
}

TEST_F(PacketPath, kernel_side_knows_the_core_and_sends_through_the_chip) {
    EXPECT_EQ(simKernelPacketRegisteredPid(), static_cast<uint32_t>(getpid()));
    uint8_t mac[6], switch_mac[6];
    ASSERT_EQ(simKernelPacketMac(mac), 0);
    simChipSwitchMacGet(switch_mac);
    EXPECT_EQ(std::memcmp(mac, switch_mac, 6), 0);

    drain_tx();
    uint64_t from_kernel = axpacketStatGet(AXPKT_STAT_FROM_KERNEL);
    Bytes frame = eth(kBroadcast, switch_mac, 0x0806, 0x8100, 1);
    frame = padded(frame, 40);
    ASSERT_EQ(simKernelPacketSend(frame.data(), static_cast<uint32_t>(frame.size())), 0);
    ASSERT_TRUE(wait_until([] { return simChipTxCount() >= 28; }));
    std::vector<Sent> sent = drain_tx();
    EXPECT_EQ(ports_of(sent).size(), 28u);
    EXPECT_EQ(sent[0].bytes.size(), 60u);  // padded to 60 tagged, untagged, padded again by the port
    EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 12, sent[0].bytes.begin()));
    EXPECT_TRUE(std::equal(frame.begin() + 16, frame.end(), sent[0].bytes.begin() + 12));
    EXPECT_EQ(type_at(sent[0].bytes, 12), 0x0806);
    EXPECT_EQ(axpacketStatGet(AXPKT_STAT_FROM_KERNEL), from_kernel + 1);
}

// User plus system time, in clock ticks, of this process's thread named
// `name`; -1 when there is none.
long thread_cpu_ticks(const std::string &name) {
    DIR *d = opendir("/proc/self/task");
    if (d == nullptr) return -1;
    long ticks = -1;
    while (dirent *e = readdir(d)) {
        std::string dir = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(dir + "/comm"), comm);
        if (comm != name) continue;
        std::string stat;
        std::getline(std::ifstream(dir + "/stat"), stat);
        // Fields after the name in parentheses: state is 3rd, utime 14th, stime 15th.
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stol(field);
            if (i == 15) stime = std::stol(field);
        }
        ticks = utime + stime;
        break;
    }
    closedir(d);
    return ticks;
}

TEST_F(PacketPath, closed_kernel_side_is_waited_for_then_reconnected) {
    const long tick = sysconf(_SC_CLK_TCK);
    simKernelPacketStop();
    long before = thread_cpu_ticks("AXPacketRcv");
    ASSERT_GE(before, 0);
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long used = thread_cpu_ticks("AXPacketRcv") - before;
    // A thread spinning on the closed connection takes (nearly) a whole CPU.
    EXPECT_LT(used, static_cast<long>(wall * tick / 10)) << used << " ticks in " << wall << " s";

    // Back again: the core introduces itself and its frames flow again.
    ASSERT_EQ(simKernelPacketStart(nullptr), 0);
    ASSERT_TRUE(wait_until([] { return simKernelPacketRegisteredPid() == static_cast<uint32_t>(getpid()); }));
    uint8_t mac[6] = {}, switch_mac[6];
    ASSERT_EQ(simKernelPacketMac(mac), 0);
    simChipSwitchMacGet(switch_mac);
    EXPECT_EQ(std::memcmp(mac, switch_mac, 6), 0);
    uint32_t rx = simKernelPacketRxCount();
    inject(2, padded(eth(kBroadcast, kHostA, kTypeFree), 60));
    EXPECT_TRUE(kernel_got(rx));
    drain_tx();
    Bytes out = padded(eth(kBroadcast, switch_mac, 0x0806, 0x8100, 1), 60);
    ASSERT_EQ(simKernelPacketSend(out.data(), static_cast<uint32_t>(out.size())), 0);
    EXPECT_TRUE(wait_until([] { return simChipTxCount() > 0; }));
}

// ---- Sending ----------------------------------------------------------------

struct SendCase {
    const char *what;
    uint32_t flags;
    uint16_t vid;
    uint8_t pri;
    std::initializer_list<UP> list;
    bool pretagged;  // the frame carries a tag of `vid`
    std::set<uint32_t> ports;
    size_t length;  // of each frame that left, 0 = not checked
};

class PacketSend : public PacketPath {
protected:
    void SetUp() override {
        PacketPath::SetUp();
        // VLAN 100: ports 1-6 tagged; 5 and 6 form trunk 0; port 4 is down.
        // VLAN 200: ports 1, 2 and 4. VLAN 1 keeps port 1 tagged.
        simChipVlanSet(100, mask({1, 2, 3, 4, 5, 6}), sdk_portmask_t{});
        simChipVlanSet(200, mask({1, 2, 4}), sdk_portmask_t{});
        sdk_portmask_t all{}, untag{};
        sdk_vlan_port_get(0, 1, &all, &untag);
        SDK_PORTMASK_CLEAR(untag, static_cast<uint32_t>(chip_port(1)));
        simChipVlanSet(1, all, untag);
        simChipTrunkSet(0, mask({5, 6}));
        simChipLinkSet(chip_port(4), 0);
        drain_tx();
    }
    static int send(const SendCase &c, up_list *after = nullptr) {
        Bytes frame = c.pretagged ? eth(kHostB, kHostA, 0x88B8, 0x8100, c.vid) : eth(kHostB, kHostA, 0x88B8);
        frame = padded(frame, frame.size() + 6, 0x77);
        AX_PACKET_T p{};
        p.data = frame.data();
        p.len = static_cast<uint32_t>(frame.size());
        p.flags = c.flags;
        p.vid = c.vid;
        p.pri = c.pri;
        p.rx_port = port_up(1);
        p.port_list = list_of(c.list);
        int rc = axPacketSend(&p);
        if (after) *after = p.port_list;
        return rc;
    }
};

TEST_F(PacketSend, flags_choose_ports_tag_and_padding) {
    const UP p1 = port_up(1), p2 = port_up(2), p4 = port_up(4), p5 = port_up(5), p6 = port_up(6);
    const SendCase cases[] = {
        {"one port, tag inserted, 64 bytes", 0x400, 100, 5, {p1}, false, {1}, 64},
        {"tagged frame padded to 60", 0x502, 100, 0, {p2}, true, {2}, 60},
        {"VLAN 0 leaves in VLAN 1", 0x400, 0, 3, {p1}, false, {1}, 64},
        {"tagged VLAN 200 to linked-up members", 0x110, 200, 0, {}, true, {1, 2}, 0},
        {"broadcast excluding a LAG member skips the LAG", 0x10, 100, 0, {p5}, false, {1, 2, 3}, 0},
        {"broadcast sends one member per LAG", 0x10, 100, 0, {}, false, {1, 2, 3, 5}, 0},
        {"broadcast keeping LAGs whole", 0x90, 100, 0, {}, false, {1, 2, 3, 5, 6}, 0},
        {"both LAG members named: one is used", 0x400, 100, 0, {p5, p6}, false, {5}, 0},
        {"link down: nothing", 0x400, 100, 0, {p4}, false, {}, 0},
        {"chip forwarding floods the VLAN", 0x20, 100, 0, {}, false, {1, 2, 3, 5}, 0},
    };
    for (const SendCase &c : cases) {
        drain_tx();
        EXPECT_EQ(send(c), 0) << c.what;
        std::vector<Sent> sent = drain_tx();
        EXPECT_EQ(ports_of(sent), c.ports) << c.what;
        for (const Sent &s : sent) {
            if (c.length) {
                EXPECT_EQ(s.bytes.size(), c.length) << c.what;
            }
            ASSERT_GE(s.bytes.size(), 16u);
            EXPECT_EQ(type_at(s.bytes, 12), 0x8100) << c.what;
            uint16_t tci = type_at(s.bytes, 14);
            EXPECT_EQ(tci & 0x0FFF, c.vid ? c.vid : 1) << c.what;
            if (!c.pretagged) {
                EXPECT_EQ(tci >> 13, c.pri) << c.what;
            }
        }
    }
}

// A tag keeps its priority and CFI/DEI bits, whether the CPU inserts it or
// the chip forwards a tagged frame.
TEST_F(PacketSend, tag_keeps_priority_and_cfi) {
    Bytes frame = padded(eth(kHostB, kHostA, 0x88B8), 60);
    AX_PACKET_T p{};
    p.data = frame.data();
    p.len = static_cast<uint32_t>(frame.size());
    p.flags = AX_PKT_FLAG_PORT_LIST;
    p.vid = 100;
    p.pri = 6;
    p.cfi = 1;
    p.port_list = list_of({port_up(2)});
    ASSERT_EQ(axPacketSend(&p), 0);
    std::vector<Sent> sent = drain_tx();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(type_at(sent[0].bytes, 14), 0xD064);

    inject(1, padded(eth(kBroadcast, kHostA, kTypeFree, 0x8100, 0xB064), 64));
    sent = drain_tx();
    ASSERT_FALSE(sent.empty());
    for (const Sent &s : sent) EXPECT_EQ(type_at(s.bytes, 14), 0xB064);
}

// A LAG named in the destination list leaves by exactly one member that
// can send; a module answering on a received record's list (which names
// the LAG of the receiving member) reaches the sender.
TEST_F(PacketSend, lag_in_the_list_leaves_by_one_member) {
    const UP lag2 = UP_MAKE(UP_TYPE_LAG, 0, 0, 2);
    APPINTF_SET(APPINTF_SLOT_LAG_MEMBERS, (+[](uint32_t lag, up_list *members) {
                    if (lag != 2) return -1;
                    *members = list_of({port_up(5), port_up(6)});
                    return 0;
                }));
    APPINTF_SET(APPINTF_SLOT_UP_TO_LAG, (+[](UP up, uint32_t *lag) {
                    *lag = (up == port_up(5) || up == port_up(6)) ? 2 : 0;
                    return 0;
                }));
    EXPECT_EQ(send({"LAG", 0x400, 100, 0, {lag2}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{5}));
    EXPECT_EQ(send({"LAG and a port", 0x400, 100, 0, {lag2, port_up(1)}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{1, 5}));
    simChipLinkSet(chip_port(5), 0);
    EXPECT_EQ(send({"first member down", 0x400, 100, 0, {lag2}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{6}));
    simChipLinkSet(chip_port(6), 0);
    EXPECT_EQ(send({"all members down", 0x400, 100, 0, {lag2}, false, {}, 0}), 0);
    EXPECT_TRUE(drain_tx().empty());
    simChipLinkSet(chip_port(5), 1);
    simChipLinkSet(chip_port(6), 1);

    // Received on member 6, answered on the record's own list.
    simChipVlanSet(1, mask({1, 5, 6}), mask({1, 5, 6}));
    Bytes frame = padded(eth(kBroadcast, kHostA, kTypeOwned), 60);
    inject(6, frame);
    ASSERT_TRUE(wait_until([] { return seen_count() == 1; }));
    drain_tx();
    AX_PACKET_T answer{};
    {
        std::lock_guard<std::mutex> g(g_seen.lock);
        answer = g_seen.rec;
    }
    EXPECT_EQ(answer.port_list.bits[INNER_UP_LAG_BASE / 32] >> ((INNER_UP_LAG_BASE + 2) % 32) & 1u, 1u);
    Bytes reply = padded(eth(kHostA, kHostB, 0x88B8), 60);
    answer.data = reply.data();
    answer.len = static_cast<uint32_t>(reply.size());
    answer.flags = AX_PKT_FLAG_PORT_LIST;
    EXPECT_EQ(axPacketSend(&answer), 0);
    std::vector<Sent> sent = drain_tx();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ports_of(sent), (std::set<uint32_t>{5}));
}

TEST_F(PacketSend, hooks_narrow_the_ports_and_the_callers_list_is_cleared) {
    // Port isolation: port 1 reaches only 1 and 2.
    APPINTF_SET(APPINTF_SLOT_PORT_ISOLATION, (+[](UP, up_list *reach) {
                    *reach = list_of({port_up(1), port_up(2)});
                    return 0;
                }));
    EXPECT_EQ(send({"isolated", 0x10, 100, 0, {}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{1, 2}));
    gAxPacketDbgPortIsoEnable = 0;
    EXPECT_EQ(send({"isolation off", 0x10, 100, 0, {}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{1, 2, 3, 5}));
    gAxPacketDbgPortIsoEnable = 1;
    simAppintfClear();

    // The spanning-tree egress filter has the last word.
    APPINTF_SET(APPINTF_SLOT_STP_TX_FILTER,
                (+[](const uint8_t *, uint32_t, uint32_t, const up_list *in, up_list *out) {
                    *out = list_of({port_up(3)});
                    return (in->bits[0] & out->bits[0]) ? 0 : -1;
                }));
    EXPECT_EQ(send({"stp", 0x10, 100, 0, {}, false, {}, 0}), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{3}));
    simAppintfClear();

    up_list after{};
    EXPECT_EQ(send({"list", 0x400, 100, 0, {port_up(1), port_up(2)}, false, {}, 0}, &after), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{1, 2}));
    EXPECT_TRUE(inner_up_list_is_empty(after));
    EXPECT_EQ(axPacketSend(nullptr), -1);
}

TEST_F(PacketSend, message_from_another_process_is_checked_then_sent) {
    Bytes frame = eth(kHostB, kHostA, 0x88B8);
    frame = padded(frame, 30);
    AX_PACKET_T p{};
    p.len = static_cast<uint32_t>(frame.size());
    p.vid = 100;
    p.flags = 0x400;
    p.port_list = list_of({port_up(3)});
    AX_PACKET_WIRE_T wire;
    axpacketRecordToWire(&p, 0, &wire);
    Bytes payload(reinterpret_cast<uint8_t *>(&wire), reinterpret_cast<uint8_t *>(&wire) + sizeof wire);
    payload.insert(payload.end(), frame.begin(), frame.end());
    AXMSG_T msg{};
    msg.msg_type = MID_AXPACKET;
    msg.data = payload.data();
    msg.data_len = static_cast<uint32_t>(payload.size());
    EXPECT_EQ(axpacketPacketMsgHandle(&msg), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{3}));

    pc::test::CaptureStdout out;
    msg.data_len -= 1;  // shorter than the record says
    EXPECT_EQ(axpacketPacketMsgHandle(&msg), -1);
    msg.data_len = 20;
    EXPECT_EQ(axpacketPacketMsgHandle(&msg), -1);
    wire.len = 0xFFFFFFFFu - 59;  // the sum would wrap
    std::memcpy(payload.data(), &wire, sizeof wire);
    msg.data_len = static_cast<uint32_t>(payload.size());
    EXPECT_EQ(axpacketPacketMsgHandle(&msg), -1);
    msg.msg_type = 6;
    EXPECT_EQ(axpacketPacketMsgHandle(&msg), -1);
    EXPECT_TRUE(drain_tx().empty());
    std::string text = out.text();
    for (const char *m :
         {"Ensure len == (sizeof(AX_PACKET_T) + ax_pkt.len) failed.",
          "Ensure len >= sizeof(AX_PACKET_T) failed.", "Ensure MID_AXPACKET == regMsg->msg_type failed."})
        EXPECT_NE(text.find(m), std::string::npos) << m;
}

TEST_F(PacketPath, cpu_mirror_copies_received_and_sent_frames) {
    simChipVlanSet(1, mask({2, 3, 10}), mask({2, 3}));  // port 10 shows the tags
    ASSERT_EQ(adAxpacketCpuMirrorPortSet(port_up(10), 1, 1), 0);
    drain_tx();
    Bytes frame = eth(kBroadcast, kHostA, kTypeFree);
    frame = padded(frame, 60);
    inject(2, frame);
    ASSERT_TRUE(wait_until([] { return simChipTxCount() >= 3; }));  // flood to 3 and 10, mirror to 10
    std::vector<Sent> sent = drain_tx();
    int mirrored = 0;
    for (const Sent &s : sent)
        if (s.port == chip_port(10) && s.bytes.size() == 64 && type_at(s.bytes, 12) == 0x8100) ++mirrored;
    EXPECT_EQ(mirrored, 2);  // the flooded copy and the mirror

    AX_PACKET_T p{};
    p.data = frame.data();
    p.len = static_cast<uint32_t>(frame.size());
    p.vid = 1;
    p.flags = AX_PKT_FLAG_PORT_LIST;
    p.port_list = list_of({port_up(3)});
    ASSERT_EQ(adAxpacketSend(&p), 0);
    EXPECT_EQ(ports_of(drain_tx()), (std::set<uint32_t>{3, 10}));
    adAxpacketCpuMirrorPortSet(0, 0, 0);
}

std::atomic<int> g_utp_hits{0};
int utp_cb(AX_PACKET_T *) { return ++g_utp_hits, 0; }

TEST_F(PacketPath, unit_transport_receiver_takes_frames_to_the_switch) {
    // Start-up registered the transport's own receiver: this test's takes
    // its place and gives it back at the end.
    axpacketReceiveUnRegisterForUtp();
    ASSERT_EQ(axpacketReceiveRegisterForUtp(utp_cb, nullptr, 0xAAAF, 16), 0);
    EXPECT_EQ(axpacketReceiveRegisterForUtp(utp_cb, nullptr, 0xAAAF, 16), 0);  // once
    uint8_t mac[6];
    simChipSwitchMacGet(mac);
    Bytes to_us = padded(eth(mac, kHostA, 0xAAAF), 60);
    Bytes to_all = padded(eth(kBroadcast, kHostA, 0xAAAF), 60);
    uint32_t before = simKernelPacketRxCount();
    inject(2, to_us);
    inject(2, to_all);  // not addressed to this unit: the kernel's
    ASSERT_TRUE(wait_until([] { return g_utp_hits == 1; }));
    ASSERT_TRUE(kernel_got(before));
    EXPECT_EQ(axpacketReceiveUnRegisterForUtp(), 0);
    EXPECT_EQ(axPacketCheckIsRegister(MID_UTP, "UTP"), 0);
    ASSERT_EQ(axpacketReceiveRegisterForUtp(utp_cb, nullptr, 0xAAAF, 16), 0);  // again after removal
    EXPECT_EQ(axpacketReceiveUnRegisterForUtp(), 0);
    EXPECT_EQ(axpacketSendForUtp(nullptr), 0);
    EXPECT_EQ(utp_reg_axpacket(), 0);
}

TEST_F(PacketPath, reason_print_and_cpu_counters) {
    axpkt_reason_enable = 1;
    pc::test::CaptureStdout out;
    inject(2, padded(eth(kBroadcast, kHostA, kTypeFree), 60));
    axpkt_reason_enable = 0;
    EXPECT_EQ(adAxpacketPrintCpuStats(), 0);
    std::string text = out.text();
    EXPECT_NE(text.find("rx 1/0/2 acl_hit=0 acl_index=0 cpu queue=2 new_sa=1 l2_pmv=0\r\n"),
              std::string::npos)
        << text;
    for (const char *l :
         {"cpu port couters:\r\n", "ifInUcastPkts = ", "ifOutBrocastPkts = ", "ifOutBytes = "})
        EXPECT_NE(text.find(l), std::string::npos) << l;
}

// ---- Buffer pool and counters --------------------------------------------

TEST(PacketPool, buddy_pool_sizes_refuses_and_merges) {
    start_core_once();
    EXPECT_EQ(axnic_pool_units_for(0), 1u);
    EXPECT_EQ(axnic_pool_units_for(1632 + 4), 16u);
    EXPECT_EQ(axnic_pool_units_for(AXNIC_POOL_UNITS * AXNIC_POOL_UNIT - 131), AXNIC_POOL_UNITS);
    EXPECT_EQ(axnic_pool_units_for(AXNIC_POOL_UNITS * AXNIC_POOL_UNIT), 0u);  // above the pool
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    uint32_t free_before = axnic_pool_free_units();
    ASSERT_EQ(free_before, AXNIC_POOL_UNITS);
    drv_nic_pkt_t *too_big = nullptr;
    EXPECT_EQ(axnic_pkt_alloc(0, 2 << 20, 0, &too_big), -1);
    EXPECT_EQ(too_big, nullptr);
    std::vector<drv_nic_pkt_t *> blocks;
    for (int32_t size : {100, 2000, 100, 60000}) {
        drv_nic_pkt_t *d = nullptr;
        ASSERT_EQ(axnic_pkt_alloc(0, size, 0, &d), 0);
        EXPECT_GE(d->end - d->data, size);
        EXPECT_EQ(d->buf_id % AXNIC_POOL_UNIT, 0u);
        blocks.push_back(d);
    }
    for (size_t i = 0; i < blocks.size(); ++i)
        for (size_t j = i + 1; j < blocks.size(); ++j)
            EXPECT_TRUE(blocks[i]->end <= blocks[j]->head || blocks[j]->end <= blocks[i]->head);
    EXPECT_LT(axnic_pool_free_units(), AXNIC_POOL_UNITS);
    for (drv_nic_pkt_t *d : blocks) EXPECT_EQ(axnic_pkt_free(0, d), 0);
    EXPECT_EQ(axnic_pool_free_units(), AXNIC_POOL_UNITS);
    drv_nic_pkt_t *whole = nullptr, *more = nullptr;
    ASSERT_EQ(axnic_pkt_alloc(0, AXNIC_POOL_UNITS * AXNIC_POOL_UNIT - 131, 0, &whole), 0);
    EXPECT_EQ(axnic_pkt_alloc(0, 1, 0, &more), -1);
    EXPECT_EQ(axnic_pkt_free(0, whole), 0);
}

uint32_t stat_word(uint32_t w) { return std::atomic_ref<uint32_t>(axpkt_stat[w]).load(); }

TEST(PacketRates, rate_statistics_switch_on_once_and_show_their_state) {
    start_core_once();
    EXPECT_EQ(axpacketRateEnable(1), 0);  // already on since start-up
    EXPECT_EQ(stat_word(AXPKT_STAT_RATE_ENABLE), 1u);
    axpacketRateTimer();  // a tick: counting starts afresh
    for (int i = 0; i < 10; ++i) axpacketSendStat();
    EXPECT_EQ(axpacketRateTimer(), 5);
    EXPECT_EQ(stat_word(AXPKT_STAT_RATE + 1), 2u);
    EXPECT_EQ(axpacketRateEnable(0), 0);
    std::string text;
    cli_axpacketInfoShow(append_line, &text);
    for (const char *l :
         {"axpacket receive rate   : no enable\r\n", "axpacket send rate      : no enable\r\n",
          "kernel receive rate     : no enable\r\n", "kernel send rate        : no enable\r\n",
          "cpu rx Queue 7: ", "module name"})
        EXPECT_NE(text.find(l), std::string::npos) << l << text;
    EXPECT_EQ(axpacketRateEnable(1), 0);
    EXPECT_EQ(stat_word(AXPKT_STAT_RATE_ENABLE), 1u);
}

}  // namespace
