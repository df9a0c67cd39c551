// The receiver registry and the classification walk, driven through the
// parsers (which answer at once whether a frame was consumed), plus the
// registry's RPC and the software QoS gate.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <mqueue.h>

#include "packet_support.h"
#include "platform_core/axrpc.h"
#include "platform_core/sibling.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test::packet;

constexpr uint32_t kMod = 30;
constexpr uint32_t kQosMod = 31;

std::atomic<int> g_hits_a{0};
std::atomic<int> g_hits_b{0};
int cb_a(AX_PACKET_T *) { return ++g_hits_a, 0; }
int cb_b(AX_PACKET_T *) { return ++g_hits_b, 0; }

// What axpacketDistribute does for an untagged Ethernet II frame.
int classify(Bytes &frame) {
    AX_PACKET_T p = record_of(frame);
    uint8_t dmac[8]{}, smac[8]{};
    std::memcpy(dmac, frame.data(), 6);
    std::memcpy(smac, frame.data() + 6, 6);
    uint16_t type = type_at(frame, 12);
    if (type == 0x0800) return axpacketFilterParseIpv4(&p, frame.data() + 14, dmac, smac);
    if (type == 0x86DD) return axpacketFilterParseIpv6(&p, frame.data() + 14, dmac, smac);
    return axpacketFilterParseNonIp(&p, type, dmac, smac);
}

class Registry : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        start_core_once();
        static bool modules = false;
        if (!modules) {
            ASSERT_EQ(axPacketRegisterModule(kMod, 10, 65536, 64), 0);
            ASSERT_EQ(axPacketRegisterModule(kQosMod, 10, 65536, 64), 0);
            modules = true;
        }
    }
    void TearDown() override {
        for (const std::string &n : names_) {
            axPacketUnregisterPacket(kMod, n.c_str());
            axPacketUnregisterPacket(kQosMod, n.c_str());
        }
    }
    // An owned registration of kMod with callback A, not yet enabled.
    const char *owned(const char *name, uint32_t priority = 50, AXPACKET_RX_CB cb = cb_a,
                      uint32_t own = AX_RX_OWNED, uint32_t mid = kMod) {
        names_.push_back(name);
        EXPECT_EQ(axPacketRegisterPacket(mid, name, own, priority, cb, nullptr), 0);
        return name;
    }
    std::vector<std::string> names_;
};

TEST_F(Registry, refuses_bad_calls_with_their_messages) {
    owned("dup");
    pc::test::CaptureStdout out;
    EXPECT_EQ(axPacketRegisterField(kMod, "nope", DES_IP, 1, 1), -1);
    EXPECT_EQ(axPacketRegisterPacket(kMod, "dup", AX_RX_OWNED, 1, cb_a, nullptr), -1);
    EXPECT_EQ(axPacketRegisterModule(kMod, 1, 0, 8), -1);
    EXPECT_EQ(axPacketRegisterModule(0, 1, 0, 8), -1);
    EXPECT_EQ(axPacketRegisterModule(MID_MAX, 1, 0, 8), -1);
    EXPECT_EQ(axPacketRegisterPacket(kMod, "a-name-of-thirty-two-characters!", 1, 1, cb_a, nullptr), -1);
    EXPECT_EQ(axPacketRegisterPacket(kMod, "pri", 1, 256, cb_a, nullptr), -1);
    EXPECT_EQ(axPacketRegisterPacket(kMod, "nocb", 1, 1, nullptr, nullptr), -1);
    for (uint32_t type : {0u, 1u, 8u, 9u, 12u})
        EXPECT_EQ(axPacketRegisterField(kMod, "dup", type, 1, 1), -1) << type;
    uint8_t mac[6]{};
    EXPECT_EQ(axPacketRegisterMacaddr(kMod, "dup", DES_IP, mac, mac), -1);
    EXPECT_EQ(axPacketRegisterUdf(kMod, "dup", 2, 0, 0, 0), -1);
    EXPECT_EQ(axPacketRegisterEnable(kMod, "nope"), -1);
    EXPECT_EQ(axPacketUnregisterPacket(kMod, "nope"), 0);
    std::string text = out.text();
    for (const char *msg :
         {"Not registered 30 nope", "Already registered 30 dup", "Mid 30 is exist",
          "Ensure (MID_INVALID < modId) && (MID_MAX > modId) failed.",
          "Ensure PACKET_REG_NAME_LEN_MAX >= strlen(regName) failed.",
          "Ensure PFM_PRIORITY_IS_VALID(priority) failed.", "Ensure NULL != pktCallback failed.",
          "Ensure (field_type == DES_MAC) || (field_type == SRC_MAC) failed."})
        EXPECT_NE(text.find(msg), std::string::npos) << msg << "\n" << text;
}

struct MatchCase {
    const char *what;
    std::function<void(const char *)> fields;
    std::function<Bytes()> frame;
    int consumed;
};

TEST_F(Registry, fields_and_udfs_decide_the_match) {
    const uint8_t ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t oui[6] = {0xFF, 0xFF, 0xFF, 0, 0, 0};
    const uint8_t other_oui[6] = {0x02, 0x00, 0x01, 0, 0, 0};
    const uint32_t a = 0xC0A80001, b = 0xC0A80002;
    auto field = [](uint32_t type, uint32_t v, uint32_t m) {
        return [=](const char *n) { ASSERT_EQ(axPacketRegisterField(kMod, n, type, v, m), 0); };
    };
    auto ip6 = [](uint32_t type, uint8_t first) {
        return [=](const char *n) {
            IPV6_ADDR_T v{}, m{};
            for (int i = 0; i < 16; ++i) v.addr[i] = static_cast<uint8_t>(first + i), m.addr[i] = 0xFF;
            ASSERT_EQ(axPacketRegisterFieldIpv6(kMod, n, type, &v, &m), 0);
        };
    };
    auto udp = [=](uint16_t sp, uint16_t dp) { return [=] { return ipv4(kBroadcast, 17, a, b, sp, dp); }; };
    std::vector<MatchCase> cases = {
        {"destination MAC",
         [&](const char *n) { ASSERT_EQ(axPacketRegisterMacaddr(kMod, n, DES_MAC, kBroadcast, ones), 0); },
         udp(1, 2), 1},
        {"destination MAC differs",
         [&](const char *n) { ASSERT_EQ(axPacketRegisterMacaddr(kMod, n, DES_MAC, kHostB, ones), 0); },
         udp(1, 2), 0},
        {"source MAC under a mask",
         [&](const char *n) { ASSERT_EQ(axPacketRegisterMacaddr(kMod, n, SRC_MAC, kHostA, oui), 0); },
         udp(1, 2), 1},
        {"source MAC prefix differs",
         [&](const char *n) { ASSERT_EQ(axPacketRegisterMacaddr(kMod, n, SRC_MAC, other_oui, oui), 0); },
         udp(1, 2), 0},
        {"destination IPv4 /24", field(DES_IP, 0xC0A800FF, 0xFFFFFF00), udp(1, 2), 1},
        {"source IPv4 differs", field(SRC_IP, b, 0xFFFFFFFF), udp(1, 2), 0},
        {"UDP destination port", field(DES_PORT, 520, 0xFFFF), udp(9, 520), 1},
        {"TCP source port", field(SRC_PORT, 179, 0xFFFF),
         [=] { return ipv4(kBroadcast, 6, a, b, 179, 5000); }, 1},
        {"port differs", field(DES_PORT, 521, 0xFFFF), udp(9, 520), 0},
        {"zero mask matches anything", field(DES_IP, 0x01020304, 0), udp(1, 2), 1},
        {"protocol 89", field(PRO_TYPE, 89, 0), [=] { return ipv4(kBroadcast, 89, a, b); }, 1},
        {"protocol 89 against 47", field(PRO_TYPE, 89, 0), [=] { return ipv4(kBroadcast, 47, a, b); }, 0},
        {"IPv4 fragment", field(LEN_TYPE, 0x0800, 0),
         [=] { return ipv4(kBroadcast, 17, a, b, 1, 2, 0x0010); }, 0},
        {"EtherType 0x0800 covers TCP", field(LEN_TYPE, 0x0800, 0), [=] { return ipv4(kBroadcast, 6, a, b); },
         1},
        {"EtherType 0x0800 covers other", field(LEN_TYPE, 0x0800, 0),
         [=] { return ipv4(kBroadcast, 2, a, b); }, 1},
        {"non-IP EtherType", field(LEN_TYPE, 0x88CC, 0), [] { return eth(kBroadcast, kHostA, 0x88CC); }, 1},
        {"non-IP EtherType differs", field(LEN_TYPE, 0x88CC, 0),
         [] { return eth(kBroadcast, kHostA, 0x88CD); }, 0},
        {"IPv6 destination", ip6(DES_IPV6, 0xF0), [] { return ipv6(17, {}, 0, 547); }, 1},
        {"IPv6 source differs", ip6(SRC_IPV6, 0xF0), [] { return ipv6(17, {}, 0, 547); }, 0},
        {"ICMPv6 type behind extension headers",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterField(kMod, n, LEN_TYPE, 0x86DD, 0), 0);
             ASSERT_EQ(axPacketRegisterField(kMod, n, PRO_TYPE, 58, 0), 0);
             ASSERT_EQ(axPacketRegisterField(kMod, n, ICMPV6_TYPE, 135, 0), 0);
         },
         [] {
             return ipv6(58, {0, 60, 44}, 135);
         },
         1},
        {"ICMPv6 type differs",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterField(kMod, n, LEN_TYPE, 0x86DD, 0), 0);
             ASSERT_EQ(axPacketRegisterField(kMod, n, ICMPV6_TYPE, 135, 0), 0);
         },
         [] { return ipv6(58, {}, 136); }, 0},
        {"no next header", field(LEN_TYPE, 0x86DD, 0), [] { return ipv6(59); }, 0},
        {"UDF equal on the IPv4 header",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_EQUAL, 0, 0x45000000, 0xFF000000), 0);
         },
         udp(1, 2), 1},
        {"UDF equal differs",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_EQUAL, 0, 0x46000000, 0xFF000000), 0);
         },
         udp(1, 2), 0},
        {"UDF not-equal, one differs",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_NOT_EQUAL, 0, 0x45000000, 0xFF000000), 0);
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_NOT_EQUAL, 12, 0x0A000000, 0xFF000000), 0);
         },
         udp(1, 2), 1},
        {"UDF not-equal, none differs",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_NOT_EQUAL, 0, 0x45000000, 0xFF000000), 0);
         },
         udp(1, 2), 0},
        {"UDF beyond the frame",
         [](const char *n) { ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_EQUAL, 4000, 0, 0), 0); }, udp(1, 2),
         0},
        {"non-IP UDF base is the type field",
         [](const char *n) {
             ASSERT_EQ(axPacketRegisterUdf(kMod, n, UDF_EQUAL, 0, 0x88CC0000, 0xFFFF0000), 0);
         },
         [] {
             Bytes f = eth(kBroadcast, kHostA, 0x88CC);
             f = padded(f, 60);
             return f;
         },
         1},
    };
    for (const MatchCase &c : cases) {
        const char *n = owned("case");
        Bytes frame = c.frame();
        // IP registrations name their EtherType to reach the IP tables.
        uint16_t type = type_at(frame, 12);
        if (type == 0x0800 || type == 0x86DD) {
            ASSERT_EQ(axPacketRegisterField(kMod, n, LEN_TYPE, type, 0), 0);
        }
        c.fields(n);
        ASSERT_EQ(axPacketRegisterEnable(kMod, n), 0);
        EXPECT_EQ(classify(frame), c.consumed) << c.what;
        ASSERT_EQ(axPacketUnregisterPacket(kMod, n), 0);
        names_.clear();
    }
}

TEST_F(Registry, priority_ownership_and_snapshots) {
    Bytes frame = eth(kBroadcast, kHostA, 0x88B5);
    g_hits_a = g_hits_b = 0;
    // A lower priority value is tried first; an owner ends the walk.
    owned("late", 60, cb_a);
    owned("early", 40, cb_b);
    for (const char *n : {"late", "early"}) {
        ASSERT_EQ(axPacketRegisterField(kMod, n, LEN_TYPE, 0x88B5, 0), 0);
        ASSERT_EQ(axPacketRegisterEnable(kMod, n), 0);
    }
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_b == 1; }));
    EXPECT_EQ(g_hits_a, 0);

    // Not owned: both get it and the frame goes on.
    ASSERT_EQ(axPacketUnregisterPacket(kMod, "early"), 0);
    owned("early", 40, cb_b, AX_RX_NOT_OWNED);
    ASSERT_EQ(axPacketRegisterField(kMod, "early", LEN_TYPE, 0x88B5, 0), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "early"), 0);
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_a == 1 && g_hits_b == 2; }));

    // Equal priority: the one enabled later is tried first.
    ASSERT_EQ(axPacketRegisterDisable(kMod, "late"), 0);
    owned("twin", 60, cb_b);
    ASSERT_EQ(axPacketRegisterField(kMod, "twin", LEN_TYPE, 0x88B5, 0), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "twin"), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "late"), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "late"), 0);  // a second enable adds no copy
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_a == 2; }));
    EXPECT_EQ(g_hits_b, 3);  // "early" only
    pc::test::CaptureStdout out;
    testAxpacketShowEnableReg();
    std::string text = out.text();
    size_t first = text.find("Module name: late ");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("Module name: late ", first + 1), std::string::npos) << text;
    EXPECT_LT(text.find("Module name: early"), first);
    EXPECT_LT(first, text.find("Module name: twin"));

    // A field added after enabling waits for the next enable.
    ASSERT_EQ(axPacketRegisterField(kMod, "late", DES_IP, 1, 0xFFFFFFFF), 0);  // non-IP: never matches
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_a == 3; }));
    ASSERT_EQ(axPacketRegisterDisable(kMod, "late"), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "late"), 0);
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_b == 6; }));  // early and twin
    EXPECT_EQ(g_hits_a, 3);
}

std::atomic<bool> g_release{false};
std::atomic<int> g_blocked_calls{0};
int blocking_cb(AX_PACKET_T *) {
    ++g_blocked_calls;
    while (!g_release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

// A module whose queue is full misses the frame, and the walk goes on as if
// it had not matched: a later registration still gets it.
TEST_F(Registry, full_queue_skips_that_module_only) {
    constexpr uint32_t kSlowMod = 32;
    static bool registered = false;
    if (!registered) {
        ASSERT_EQ(axPacketRegisterModule(kSlowMod, 10, 65536, 1), 0);
        registered = true;
    }
    names_.push_back("slow");
    ASSERT_EQ(axPacketRegisterPacket(kSlowMod, "slow", AX_RX_OWNED, 1, blocking_cb, nullptr), 0);
    ASSERT_EQ(axPacketRegisterField(kSlowMod, "slow", LEN_TYPE, 0x88B9, 0), 0);
    ASSERT_EQ(axPacketRegisterEnable(kSlowMod, "slow"), 0);
    owned("after", 2, cb_b);
    ASSERT_EQ(axPacketRegisterField(kMod, "after", LEN_TYPE, 0x88B9, 0), 0);
    ASSERT_EQ(axPacketRegisterEnable(kMod, "after"), 0);
    g_release = false;
    g_hits_b = 0;
    Bytes frame = padded(eth(kBroadcast, kHostA, 0x88B9), 60);
    EXPECT_EQ(classify(frame), 1);  // taken by the slow module's thread
    ASSERT_TRUE(wait_until([] { return g_blocked_calls == 1; }));
    EXPECT_EQ(classify(frame), 1);  // waits in its queue of one
    EXPECT_EQ(g_hits_b, 0);
    pc::test::CaptureStdout out;
    EXPECT_EQ(classify(frame), 1);  // queue full: "after" owns it instead
    EXPECT_TRUE(wait_until([] { return g_hits_b == 1; }));
    std::string text = out.text();
    EXPECT_NE(text.find("Send to msgq error"), std::string::npos)
        << text << " hits " << g_hits_b << " calls " << g_blocked_calls;
    g_release = true;
    EXPECT_TRUE(wait_until([] { return g_blocked_calls == 2; }));
    axPacketUnregisterPacket(kSlowMod, "slow");
}

// The work thread looks each queued frame's registration up when it takes
// the frame: one unregistered meanwhile gets nothing, and a name registered
// again reaches its new callback.
TEST_F(Registry, work_thread_follows_registrations_that_come_and_go) {
    constexpr uint32_t kTurnMod = 33;
    static bool registered = false;
    if (!registered) {
        ASSERT_EQ(axPacketRegisterModule(kTurnMod, 10, 65536, 4), 0);
        registered = true;
    }
    auto add = [&](const char *name, uint16_t type, AXPACKET_RX_CB cb) {
        ASSERT_EQ(axPacketRegisterPacket(kTurnMod, name, AX_RX_OWNED, 1, cb, nullptr), 0);
        ASSERT_EQ(axPacketRegisterField(kTurnMod, name, LEN_TYPE, type, 0), 0);
        ASSERT_EQ(axPacketRegisterEnable(kTurnMod, name), 0);
    };
    Bytes frame = padded(eth(kBroadcast, kHostA, 0x88BA), 60);
    Bytes probe = padded(eth(kBroadcast, kHostA, 0x88BB), 60);
    g_release = false;
    g_blocked_calls = 0;
    g_hits_a = g_hits_b = 0;
    add("turn", 0x88BA, blocking_cb);
    add("probe", 0x88BB, cb_b);
    EXPECT_EQ(classify(frame), 1);
    ASSERT_TRUE(wait_until([] { return g_blocked_calls == 1; }));
    EXPECT_EQ(classify(frame), 1);  // queued behind the blocked call
    ASSERT_EQ(axPacketUnregisterPacket(kTurnMod, "turn"), 0);
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(classify(probe), 1);  // queued behind that: tells when it was taken
        g_release = true;
        EXPECT_TRUE(wait_until([] { return g_hits_b == 1; }));
        std::string text = out.text();
        EXPECT_NE(text.find("Get register node error"), std::string::npos) << text;
    }
    EXPECT_EQ(g_blocked_calls, 1);
    ASSERT_EQ(axPacketUnregisterPacket(kTurnMod, "probe"), 0);

    g_hits_a = g_hits_b = 0;
    add("turn", 0x88BA, cb_a);
    EXPECT_EQ(classify(frame), 1);
    ASSERT_TRUE(wait_until([] { return g_hits_a == 1; }));
    ASSERT_EQ(axPacketUnregisterPacket(kTurnMod, "turn"), 0);
    add("turn", 0x88BA, cb_b);
    EXPECT_EQ(classify(frame), 1);
    EXPECT_TRUE(wait_until([] { return g_hits_b == 1; }));
    EXPECT_EQ(g_hits_a, 1);
    ASSERT_EQ(axPacketUnregisterPacket(kTurnMod, "turn"), 0);
}

std::atomic<int> g_len_calls{0};
std::atomic<uint32_t> g_last_len{0};
int len_cb(AX_PACKET_T *p) {
    g_last_len = p->len;
    ++g_len_calls;
    while (!g_release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

// Anyone who can open a module's queue can write items into it: the work
// thread finds no frame for a handle it did not give out (or gave out and
// took back), and hands the callback the copy's own length.
TEST_F(Registry, work_thread_believes_no_queue_item) {
    constexpr uint32_t kForgeMod = 34;
    constexpr size_t kItem = 100, kHandleAt = 32 + 28, kLenAt = 32 + 36;
    constexpr unsigned kStoredPriority = 255;  // priority 0
    static bool registered = false;
    if (!registered) {
        ASSERT_EQ(axPacketRegisterModule(kForgeMod, 10, 65536, 4), 0);
        registered = true;
    }
    std::string qname = std::string("/AXPkt_") + midNameGet(kForgeMod);
    mqd_t q = mq_open(qname.c_str(), O_RDWR);
    ASSERT_NE(q, static_cast<mqd_t>(-1)) << qname;
    names_.push_back("probe");
    struct Reg {
        const char *name;
        uint16_t type;
        AXPACKET_RX_CB cb;
    };
    for (const Reg &r : {Reg{"forge", 0x88BC, len_cb}, Reg{"probe", 0x88BD, cb_b}}) {
        const char *name = r.name;
        uint16_t type = r.type;
        AXPACKET_RX_CB cb = r.cb;
        ASSERT_EQ(axPacketRegisterPacket(kForgeMod, name, AX_RX_OWNED, 1, cb, nullptr), 0);
        ASSERT_EQ(axPacketRegisterField(kForgeMod, name, LEN_TYPE, type, 0), 0);
        ASSERT_EQ(axPacketRegisterEnable(kForgeMod, name), 0);
    }
    Bytes frame = padded(eth(kBroadcast, kHostA, 0x88BC), 60);
    Bytes probe = padded(eth(kBroadcast, kHostA, 0x88BD), 60);
    g_release = false;
    g_len_calls = 0;
    g_hits_b = 0;
    EXPECT_EQ(classify(frame), 1);
    ASSERT_TRUE(wait_until([] { return g_len_calls == 1; }));
    EXPECT_EQ(classify(frame), 1);  // waits in the queue: take it out
    char item[kItem];
    unsigned prio = 0;
    ASSERT_EQ(mq_receive(q, item, sizeof item, &prio), static_cast<ssize_t>(kItem));
    auto with = [&](size_t at, uint32_t v) {
        std::vector<char> f(item, item + kItem);
        std::memcpy(f.data() + at, &v, 4);
        return f;
    };
    pc::test::CaptureStdout out;
    for (const std::vector<char> &f :
         {with(kHandleAt, 0), with(kHandleAt, 0xFFFFFFFF), with(kLenAt, 0x10000)})
        ASSERT_EQ(mq_send(q, f.data(), kItem, kStoredPriority), 0);
    g_release = true;
    ASSERT_TRUE(wait_until([] { return g_len_calls == 2; }));
    EXPECT_EQ(g_last_len, frame.size());
    // Its frame is gone: the next frame in its slot is not.
    ASSERT_EQ(mq_send(q, item, kItem, kStoredPriority), 0);
    EXPECT_EQ(classify(probe), 1);
    ASSERT_TRUE(wait_until([] { return g_hits_b == 1; }));
    std::string text = out.text();
    size_t nulls = 0;
    for (size_t at = text.find("Packet null"); at != std::string::npos; at = text.find("Packet null", at + 1))
        ++nulls;
    EXPECT_EQ(nulls, 3u) << text;
    EXPECT_EQ(g_len_calls, 2);
    mq_close(q);
    ASSERT_EQ(axPacketUnregisterPacket(kForgeMod, "forge"), 0);
}

// Frames cut short or lying about their lengths match nothing and are read
// only within their bytes.
TEST_F(Registry, malformed_frames_match_nothing) {
    for (const char *n : {"all4", "all6"}) owned(n, 0);
    ASSERT_EQ(axPacketRegisterField(kMod, "all4", LEN_TYPE, 0x0800, 0), 0);
    ASSERT_EQ(axPacketRegisterField(kMod, "all6", LEN_TYPE, 0x86DD, 0), 0);
    for (const char *n : {"all4", "all6"}) ASSERT_EQ(axPacketRegisterEnable(kMod, n), 0);

    struct Cut {
        const char *what;
        Bytes frame;
        size_t keep;  // bytes of the frame the record claims
    };
    Bytes v4 = ipv4(kBroadcast, 17, 1, 2, 3, 4);
    Bytes long_ihl = v4;
    long_ihl[14] = 0x4F;  // 60-byte header in a shorter frame
    Bytes v6 = ipv6(58, {0, 43}, 135);
    Bytes v6_long_ext = v6;
    v6_long_ext[14 + 40 + 1] = 0xFF;  // hop-by-hop of 2 KiB
    std::vector<Cut> cuts = {
        {"IPv4 header cut", v4, 14 + 12},    {"IPv4 ports cut", v4, 14 + 22},
        {"IHL past the end", long_ihl, 0},   {"IPv6 header cut", v6, 14 + 30},
        {"IPv6 chain cut", v6, 14 + 40 + 4}, {"IPv6 chain runs off", v6_long_ext, 0},
        {"IPv6 transport cut", v6, 14 + 56},
    };
    for (Cut &c : cuts) {
        size_t keep = c.keep ? c.keep : c.frame.size();
        // A copy of exactly the claimed bytes, so a read beyond it is caught.
        Bytes exact(c.frame.begin(), c.frame.begin() + static_cast<long>(keep));
        EXPECT_EQ(classify(exact), 0) << c.what;
    }
    Bytes whole = ipv4(kBroadcast, 17, 1, 2, 3, 4);
    EXPECT_EQ(classify(whole), 1);
}

TEST_F(Registry, qos_buckets_limit_a_module) {
    Bytes small = eth(kBroadcast, kHostA, 0x88B6);
    owned("qos", 10, cb_a, AX_RX_NOT_OWNED, kQosMod);
    ASSERT_EQ(axPacketRegisterField(kQosMod, "qos", LEN_TYPE, 0x88B6, 0), 0);
    EXPECT_EQ(axPacketRegisterQoS(kQosMod, "missing", 0, 10), -1);
    // Frames: speed 10 gives 5 at once and 5 per half second (the refill
    // timer may tick once during a burst).
    ASSERT_EQ(axPacketRegisterQoS(kQosMod, "qos", 0, 10), 0);
    ASSERT_EQ(axPacketRegisterEnable(kQosMod, "qos"), 0);
    for (int round = 0; round < 2; ++round) {
        int passed = 0;
        for (int i = 0; i < 16; ++i) passed += classify(small) == 0;
        EXPECT_GE(passed, 5);
        EXPECT_LE(passed, 10);
        axPacketHandleSoftQoSTimer((10u * 256u) | kQosMod);
    }
    // Bytes: speed 1 gives 512 bytes; a frame longer than what is left is
    // refused though the bucket is not empty.
    ASSERT_EQ(axPacketRegisterQoS(kQosMod, "qos", 1, 1), 0);
    EXPECT_EQ(axpacketHandleQoS(kQosMod, 300), 0);
    EXPECT_EQ(axpacketHandleQoS(kQosMod, 300), -1);
    EXPECT_EQ(axpacketHandleQoS(kQosMod, 212), 0);
    EXPECT_EQ(axpacketHandleQoS(kQosMod, 1), -1);
}

// The RPC form, called as the RPC service would call it: the environment
// names the calling process.
TEST_F(Registry, rpc_requests_are_checked) {
    int32_t caller = 9;
    std::string reason;
    auto request = [&](std::function<void(AXRPC_PARA_T *)> fill) {
        AXRPC_PARA_T in, out;
        axrpcParaInit(&in);
        axrpcParaInit(&out);
        fill(&in);
        AXRPC_ENV_T env{};
        env.pid = caller;
        pal_tls_key_set(envTls, &env);
        int rc = axpacketRegManage(&in, &out);
        pal_tls_key_set(envTls, nullptr);
        char text[200] = "";
        int got = 0;
        reason = axrpcGetString(&out, AXPACKET_REG_REASON, sizeof text, text, &got) == 0 ? text : "";
        axrpcParaFree(&in);
        axrpcParaFree(&out);
        return rc;
    };
    auto head = [](AXRPC_PARA_T *in, int mid, int type) {
        axrpcAddInt(in, AXPACKET_REG_MID, mid);
        axrpcAddInt(in, AXPACKET_REG_TYPE, type);
    };
    uint32_t pid = 9;
    auto module = [&](AXRPC_PARA_T *in) {
        head(in, 40, AXPACKET_SET_MODULE);
        axrpcAddInt(in, AXPACKET_REG_STACK, 0);
        axrpcAddInt(in, AXPACKET_REG_MSGLEN, 0);
        axrpcAddInt(in, AXPACKET_REG_PRI, 1);
        axrpcAddString(in, AXPACKET_REG_PID, reinterpret_cast<const char *>(&pid), 4);
    };
    auto packet = [&](const char *name) {
        return [=](AXRPC_PARA_T *in) {
            head(in, 40, AXPACKET_SET_PACKET);
            axrpcAddString(in, AXPACKET_REG_NAME, name, static_cast<int>(std::strlen(name) + 1));
            axrpcAddInt(in, AXPACKET_REG_OWN, 1);
            axrpcAddString(in, AXPACKET_REG_PID, reinterpret_cast<const char *>(&pid), 4);
            axrpcAddInt(in, AXPACKET_REG_PRI, 3);
        };
    };
    pc::test::CaptureStdout out;
    EXPECT_EQ(request(module), 0);
    EXPECT_EQ(request(module), 0);  // the same process again keeps its module
    EXPECT_NE(axPacketMidGet(40), nullptr);
    EXPECT_EQ(request(packet("remote")), 0);
    EXPECT_EQ(axPacketCheckIsRegister(40, "remote"), 1);
    EXPECT_EQ(request(packet("remote")), 0);  // replaced, not doubled
    EXPECT_EQ(axPacketCheckIsRegister(40, "remote"), 1);
    // Another process can neither take the module nor touch its registration,
    // and nobody registers in another's name; the answer says why.
    caller = 10;
    EXPECT_EQ(request(module), -1);
    EXPECT_NE(reason.find("registers as process 9"), std::string::npos) << reason;
    pid = 10;
    EXPECT_EQ(request(module), -1);
    EXPECT_NE(reason.find("module 40 is registered by process"), std::string::npos) << reason;
    EXPECT_EQ(request(packet("remote")), -1);
    EXPECT_NE(reason.find("module 40 belongs to process"), std::string::npos) << reason;
    EXPECT_EQ(request([&](AXRPC_PARA_T *in) {
                  head(in, 40, AXPACKET_SET_ENABLE);
                  axrpcAddString(in, AXPACKET_REG_NAME, "remote", 7);
                  axrpcAddInt(in, AXPACKET_REG_ENABLE, 1);
              }),
              -1);
    EXPECT_NE(reason.find("registration 40 remote belongs to process"), std::string::npos) << reason;
    caller = 9;
    pid = 9;
    EXPECT_EQ(request(packet("a-name-of-thirty-two-characters!")), -1);
    EXPECT_EQ(request([](AXRPC_PARA_T *in) {
                  axrpcAddInt(in, AXPACKET_REG_MID, 40);
                  axrpcAddInt(in, AXPACKET_REG_TYPE, AXPACKET_SET_PACKET);
                  char unterminated[40];
                  std::memset(unterminated, 'x', sizeof unterminated);
                  axrpcAddString(in, AXPACKET_REG_NAME, unterminated, sizeof unterminated);
              }),
              -1);
    EXPECT_EQ(request([&](AXRPC_PARA_T *in) {
                  head(in, 40, AXPACKET_SET_SRC_MAC);
                  axrpcAddString(in, AXPACKET_REG_NAME, "remote", 7);
                  axrpcAddString(in, AXPACKET_REG_MACADDR, "abc", 3);  // short
                  axrpcAddString(in, AXPACKET_REG_MACMASK, "abcdef", 6);
              }),
              -1);
    EXPECT_NE(request([&](AXRPC_PARA_T *in) {
                  head(in, 40, AXPACKET_SET_DES_IPV6);
                  axrpcAddString(in, AXPACKET_REG_NAME, "remote", 7);
                  axrpcAddData(in, AXPACKET_REG_VALUE_IPV6, AXRPC_PARA_TYPE_DATA, "0123456789abcdef", 16);
              }),  // no mask
              0);
    EXPECT_EQ(request([&](AXRPC_PARA_T *in) { head(in, 0, AXPACKET_SET_MODULE); }), 0);  // no such module id
    EXPECT_EQ(request([&](AXRPC_PARA_T *in) { head(in, 40, 20); }), 0);
    EXPECT_NE(request([](AXRPC_PARA_T *in) { axrpcAddInt(in, AXPACKET_REG_TYPE, 1); }), 0);
    EXPECT_EQ(request([&](AXRPC_PARA_T *in) {
                  head(in, 40, AXPACKET_SET_UNREGISTER);
                  axrpcAddString(in, AXPACKET_REG_NAME, "remote", 7);
              }),
              0);
    EXPECT_EQ(axPacketCheckIsRegister(40, "remote"), 0);
    std::string text = out.text();
    for (const char *line :
         {"call axrpcGetInt(inPara, AXPACKET_REG_MID, (int*)&modId) failed.",
          "call axrpcGetData(inPara, AXPACKET_REG_MASK_IPV6, kIpv6Bytes, addrMask, &got) failed.",
          "Ensure got == kMacBytes failed."})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
