// The named traffic-control entries through the local calls: each family's
// rule, re-programming, disabling, the full table, the reserved, route and
// stacking entries and the reload after a change of master.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pktctl_support.h"
#include "platform_core/appintf.h"
#include "platform_core/up.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

using namespace pc::test::pktctl;

constexpr uint8_t kLldp[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};

up_list ports(std::initializer_list<uint32_t> ns) {
    up_list l{};
    for (uint32_t n : ns) {
        uint32_t idx = inner_up_to_idx(port_up(n));
        l.bits[idx / 32] |= 1u << (idx % 32);
    }
    return l;
}

uint32_t pbmp(uint32_t pos) {
    uint8_t mask[4]{};
    EXPECT_EQ(simAclFieldGet(phys(pos), SDK_ACL_FIELD_SPMASK, nullptr, mask), 0);
    return ~((uint32_t{mask[0]} << 24) | (uint32_t{mask[1]} << 16) | (uint32_t{mask[2]} << 8) | mask[3]);
}

int64_t mac_num(const uint8_t *m) {
    int64_t n = 0;
    for (int i = 0; i < 6; ++i) n = (n << 8) | m[i];
    return n;
}

class Entries : public ::testing::Test {
protected:
    void SetUp() override { start_core(); }
};

TEST_F(Entries, every_family_programs_its_rule) {
    uint8_t sw[6]{};
    simChipSwitchMacGet(sw);
    ASSERT_EQ(axPktCtlIEEECtl("lldp", kLldp, 128, 1), 0);
    ASSERT_EQ(axPktCtlIEEECtlByPort("stp_p2", kLldp, 0, ports({2}), 1), 0);
    ASSERT_EQ(axPktCtlL2Ctl("eapol", nullptr, 0x888E, 0, PKT_CTL_ACTION_COPY, 1), 0);
    ASSERT_EQ(axPktCtlL2UcCtl("arp_uc", 0x0806, 0, 1), 0);
    ASSERT_EQ(axPktCtlL3Ctl("radius", 17, 0, 0x0A000001, 0, 1812, 0, PKT_CTL_ACTION_FWD, 1), 0);
    ASSERT_EQ(axPktCtlL3UcCtl("dns", 17, 53, 10, 1), 0);
    ASSERT_EQ(axPktCtlL3UcCtl("snmp", 17, 161, 0, 1), 0);
    ASSERT_EQ(axPktCtlL3McCtl("mc", 17, 0xE0000001, 5000, 0, 1), 0);
    ASSERT_EQ(axPktCtlArpDefendCtlByPort("arp_defend", ports({3, 4}), 0, 1), 0);
    ASSERT_EQ(axPktCtlL3V6Ctl("v6", 58, 0, 0, 0, 0, 0, PKT_CTL_ACTION_TRAP, 1), 0);
    ASSERT_EQ(axPktCtlStkCtl("stk", sw, 0xAAAF, 0, 1), 0);

    struct Want {
        const char *name;
        uint32_t type;
        uint32_t fwd;  // SDK_ACL_FWD_*
        int pri;       // -1: not assigned
        bool metered;
    };
    const Want wants[] = {
        {"lldp", PKT_CTL_TYPE_IEEE, SDK_ACL_FWD_TRAP, 2, true},
        {"stp_p2", PKT_CTL_TYPE_IEEE, SDK_ACL_FWD_TRAP, 2, false},
        {"eapol", PKT_CTL_TYPE_L2, SDK_ACL_FWD_COPY, 4, false},
        {"arp_uc", PKT_CTL_TYPE_L2UC, SDK_ACL_FWD_TRAP, 3, false},
        {"radius", PKT_CTL_TYPE_L3, SDK_ACL_FWD_COPY, 2, false},
        {"dns", PKT_CTL_TYPE_L3UC, SDK_ACL_FWD_COPY, 0, true},
        {"snmp", PKT_CTL_TYPE_L3UC, SDK_ACL_FWD_TRAP, 2, false},
        {"mc", PKT_CTL_TYPE_L3MC, SDK_ACL_FWD_COPY, 0, false},
        {"arp_defend", PKT_CTL_TYPE_ARPDEFEND, SDK_ACL_FWD_TRAP, 1, false},
        {"v6", PKT_CTL_TYPE_L3V6, SDK_ACL_FWD_TRAP, 0, false},
        {"stk", PKT_CTL_TYPE_STK, SDK_ACL_FWD_COPY, -1, false},
    };
    for (const Want &w : wants) {
        const PKT_CTL_ENTRY_T *e = entry(w.name);
        ASSERT_NE(e, nullptr) << w.name;
        EXPECT_EQ(e->type, w.type) << w.name;
        EXPECT_TRUE(valid(e->pos)) << w.name;
        sdk_acl_action_t a = action_of(e->pos);
        EXPECT_EQ(a.fwd_type, w.fwd) << w.name;
        EXPECT_EQ(a.pri_en, w.pri >= 0 ? 1u : 0u) << w.name;
        if (w.pri >= 0) {
            EXPECT_EQ(a.pri, static_cast<uint32_t>(w.pri)) << w.name;
        }
        EXPECT_EQ(a.meter_en, w.metered ? 1u : 0u) << w.name;
    }
    // Matches.
    EXPECT_EQ(field(entry("lldp")->pos, SDK_ACL_FIELD_DMAC, 6), mac_num(kLldp));
    EXPECT_EQ(pbmp(entry("stp_p2")->pos), 1u << chip_port(2));
    EXPECT_EQ(pbmp(entry("arp_defend")->pos), (1u << chip_port(3)) | (1u << chip_port(4)));
    EXPECT_EQ(field(entry("eapol")->pos, SDK_ACL_FIELD_DMAC, 6), -1);  // a null MAC is not matched
    EXPECT_EQ(field(entry("arp_uc")->pos, SDK_ACL_FIELD_DMAC, 6), mac_num(sw));
    EXPECT_EQ(field(entry("radius")->pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x0800);
    EXPECT_EQ(field(entry("radius")->pos, SDK_ACL_FIELD_L4_SPORT, 2), 1812);
    EXPECT_EQ(field(entry("radius")->pos, SDK_ACL_FIELD_IP4_SIP, 4), 0x0A000001);
    EXPECT_EQ(field(entry("radius")->pos, SDK_ACL_FIELD_IP4_DIP, 4), -1);
    EXPECT_EQ(field(entry("mc")->pos, SDK_ACL_FIELD_IP4_DIP, 4), -1);  // the group is kept, not matched
    EXPECT_EQ(entry("mc")->dstIp, 0xE0000001u);
    EXPECT_EQ(field(entry("v6")->pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x86DD);
    EXPECT_EQ(field(entry("stk")->pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0xAAAF);
    EXPECT_EQ(entry("stp_p2")->l2CacheId, entry("lldp")->l2CacheId + 1);
}

TEST_F(Entries, same_name_reprograms_one_rule_and_disable_keeps_its_index) {
    ASSERT_EQ(axPktCtlL2Ctl("proto", kHostB, 0x88B5, 0, PKT_CTL_ACTION_COPY, 1), 0);
    uint32_t count = axPktCtlEntryCount;
    uint32_t pos = entry("proto")->pos;
    ASSERT_EQ(axPktCtlL2Ctl("proto", kHostB, 0x88B6, 20, PKT_CTL_ACTION_TRAP, 1), 0);
    EXPECT_EQ(axPktCtlEntryCount, count);
    EXPECT_EQ(entry("proto")->pos, pos);
    EXPECT_EQ(entry("proto")->etherType, 0x88B6);
    EXPECT_EQ(entry("proto")->action, static_cast<uint32_t>(PKT_CTL_ACTION_TRAP));
    EXPECT_EQ(field(pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x88B6);
    sdk_acl_action_t a = action_of(pos);  // the old copy action did not survive
    EXPECT_EQ(a.fwd_type, static_cast<uint32_t>(SDK_ACL_FWD_TRAP));
    EXPECT_EQ(a.meter_en, 1u);

    ASSERT_EQ(axPktCtlL2Ctl("proto", kHostB, 0x88B6, 20, PKT_CTL_ACTION_TRAP, 0), 0);
    EXPECT_EQ(entry("proto")->pos, pos);
    EXPECT_EQ(entry("proto")->isEnable, 0u);
    EXPECT_FALSE(valid(pos));
    ASSERT_EQ(axPktCtlL2Ctl("proto", kHostB, 0x88B7, 20, PKT_CTL_ACTION_TRAP, 1), 0);
    EXPECT_EQ(entry("proto")->pos, pos);
    EXPECT_TRUE(valid(pos));
    EXPECT_EQ(field(pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x88B7);

    // A stacking entry that exists is only switched.
    ASSERT_EQ(axPktCtlStkCtl("stk1", nullptr, 0x0601, 0, 1), 0);
    uint32_t spos = entry("stk1")->pos;
    ASSERT_EQ(axPktCtlStkCtl("stk1", nullptr, 0x0602, 0, 0), 0);
    EXPECT_FALSE(valid(spos));
    EXPECT_EQ(field(spos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x0601);
}

TEST_F(Entries, callers_of_one_new_name_at_once_make_one_entry) {
    uint32_t count = axPktCtlEntryCount;
    std::vector<std::thread> callers;
    std::atomic<int> failed{0};
    for (int i = 0; i < 8; ++i)
        callers.emplace_back([&failed, i] {
            if (axPktCtlL2Ctl("race", kHostB, static_cast<uint16_t>(0x88B0 + i), 0, PKT_CTL_ACTION_TRAP, 1) !=
                0)
                ++failed;
        });
    for (std::thread &t : callers) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(axPktCtlEntryCount, count + 1);
    // The rule matches what the record says.
    ASSERT_NE(entry("race"), nullptr);
    EXPECT_EQ(field(entry("race")->pos, SDK_ACL_FIELD_ETHERTYPE, 2), entry("race")->etherType);
}

TEST_F(Entries, speed_set_and_get) {
    ASSERT_EQ(axPktCtlL3UcCtl("dns", 17, 53, 10, 1), 0);
    uint32_t speed = 0;
    ASSERT_EQ(axPktCtlSpeedGet("dns", &speed), 0);
    EXPECT_EQ(speed, 10u);
    ASSERT_EQ(axPktCtlSpeedSet("dns", 40), 0);
    ASSERT_EQ(axPktCtlSpeedGet("dns", &speed), 0);
    EXPECT_EQ(speed, 40u);
    uint32_t rate = 0, burst = 0;
    EXPECT_EQ(simAclMeterGet(action_of(entry("dns")->pos).meter_idx, &rate, &burst), 1);
    EXPECT_EQ(rate, 40u);
    EXPECT_EQ(burst, 80u);
    EXPECT_EQ(axPktCtlSpeedSet("absent", 1), -1);
    EXPECT_EQ(axPktCtlSpeedGet("absent", &speed), -1);
}

TEST_F(Entries, bad_names_and_arguments_are_refused) {
    {
        pc::test::CaptureStdout capture;
        EXPECT_EQ(axPktCtlL2Ctl(nullptr, kHostB, 0x88B5, 0, 0, 1), -1);
        EXPECT_EQ(axPktCtlSpeedSet(nullptr, 5), -1);
        EXPECT_EQ(axPktCtlL2Ctl_srv(nullptr, nullptr), -1);
        std::string text = capture.text();
        EXPECT_NE(text.find("Ensure name failed."), std::string::npos) << text;
        EXPECT_NE(text.find("Ensure inPara failed."), std::string::npos) << text;
        EXPECT_EQ(text.find("NULL !="), std::string::npos) << text;
    }
    EXPECT_EQ(axPktCtlIEEECtl("x", nullptr, 0, 1), -1);
    EXPECT_EQ(axPktCtlSpeedGet(nullptr, nullptr), -1);
    // A name that cannot be stored whole would never be found again.
    std::string longName(PKT_CTL_NAME_LEN, 'n');
    EXPECT_EQ(axPktCtlL2UcCtl(longName.c_str(), 0x0806, 0, 1), -1);
    EXPECT_EQ(axPktCtlL2UcCtl(longName.substr(1).c_str(), 0x0806, 0, 1), 0);
    EXPECT_EQ(axPktCtlCpuMacSet(0, 1), -1);
    EXPECT_EQ(axPktCtlCpuMacSet(4097, 1), -1);
    EXPECT_EQ(axPktCtlCpuMacSet(4096, 1), 0);
    EXPECT_EQ(axPktCtlCpuPortSpeedSet(640), 0);
    EXPECT_EQ(simCpuEgressRateGet(), 640u);
}

TEST_F(Entries, cpu_port_rate_320_is_applied_once_in_a_row) {
    ASSERT_EQ(axPktCtlCpuPortSpeedSet(320), 0);
    EXPECT_EQ(simCpuEgressRateGet(), 320u);
    ASSERT_EQ(adPortCpuEgressRateSet(999), 0);  // changed behind its back
    ASSERT_EQ(axPktCtlCpuPortSpeedSet(320), 0);
    EXPECT_EQ(simCpuEgressRateGet(), 999u);
    ASSERT_EQ(axPktCtlCpuPortSpeedSet(640), 0);
    ASSERT_EQ(axPktCtlCpuPortSpeedSet(320), 0);
    EXPECT_EQ(simCpuEgressRateGet(), 320u);
}

TEST_F(Entries, failing_step_disables_the_rule_and_adds_no_record) {
    uint32_t count = axPktCtlEntryCount;
    // Taking the position programs its port mask (5 calls); the next call fails.
    simAclFailAfter(5, 0x1234);
    EXPECT_EQ(axPktCtlL2Ctl("broken", kHostB, 0x88B5, 0, PKT_CTL_ACTION_TRAP, 1), PKT_CTL_HW_ERROR);
    EXPECT_EQ(axPktCtlEntryCount, count);
    EXPECT_EQ(entry("broken"), nullptr);
    ASSERT_EQ(axPktCtlL2Ctl("after", kHostB, 0x88B5, 0, PKT_CTL_ACTION_TRAP, 1), 0);
    EXPECT_FALSE(valid(entry("after")->pos - 1));
}

TEST_F(Entries, failed_ieee_entry_takes_no_learning_handle) {
    ASSERT_EQ(axPktCtlIEEECtl("ieee_a", kLldp, 0, 1), 0);
    const uint32_t first = entry("ieee_a")->l2CacheId;
    simAclFailAfter(5, 0x1234);
    EXPECT_EQ(axPktCtlIEEECtl("ieee_broken", kLldp, 0, 1), PKT_CTL_HW_ERROR);
    EXPECT_EQ(entry("ieee_broken"), nullptr);
    ASSERT_EQ(axPktCtlIEEECtl("ieee_b", kLldp, 0, 1), 0);
    EXPECT_EQ(entry("ieee_b")->l2CacheId, first + 1);
}

// Speed 0 is "unmetered" in the table and in every family's programming:
// setting it takes the meter away instead of metering at rate 0.
TEST_F(Entries, speed_0_removes_the_meter) {
    ASSERT_EQ(axPktCtlL2Ctl("unmeter", kHostB, 0x88B9, 20, PKT_CTL_ACTION_TRAP, 1), 0);
    const uint32_t pos = entry("unmeter")->pos;
    ASSERT_EQ(action_of(pos).meter_en, 1u);
    ASSERT_EQ(axPktCtlSpeedSet("unmeter", 0), 0);
    uint32_t speed = 1;
    ASSERT_EQ(axPktCtlSpeedGet("unmeter", &speed), 0);
    EXPECT_EQ(speed, 0u);
    sdk_acl_action_t a = action_of(pos);
    EXPECT_EQ(a.meter_en, 0u);
    EXPECT_EQ(a.fwd_type, static_cast<uint32_t>(SDK_ACL_FWD_TRAP));  // the rest of the rule stays
    EXPECT_EQ(field(pos, SDK_ACL_FIELD_ETHERTYPE, 2), 0x88B9);
    EXPECT_TRUE(valid(pos));
    // Frames pass unmetered.
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    const uint64_t before = axpacketStatGet(AXPKT_STAT_RX);
    Bytes f = padded(eth(kHostB, kHostA, 0x88B9), 60);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(simChipInject(chip_port(2), f.data(), static_cast<uint32_t>(f.size())), 0);
    ASSERT_EQ(simChipWaitIdle(10000), 0);
    EXPECT_EQ(axpacketStatGet(AXPKT_STAT_RX), before + 5);

    // A disabled entry stays disabled; metering again works.
    ASSERT_EQ(axPktCtlL2Ctl("unmeter", kHostB, 0x88B9, 20, PKT_CTL_ACTION_TRAP, 0), 0);
    ASSERT_EQ(axPktCtlSpeedSet("unmeter", 0), 0);
    EXPECT_FALSE(valid(pos));
    ASSERT_EQ(axPktCtlL2Ctl("unmeter", kHostB, 0x88B9, 20, PKT_CTL_ACTION_TRAP, 1), 0);
    ASSERT_EQ(axPktCtlSpeedSet("unmeter", 30), 0);
    uint32_t rate = 0, burst = 0;
    EXPECT_EQ(simAclMeterGet(action_of(pos).meter_idx, &rate, &burst), 1);
    EXPECT_EQ(rate, 30u);
}

// Entries are never removed: filling the table leaves no room for the
// tests after it, so this one has a process of its own.
TEST_F(Entries, the_129th_name_is_refused_without_taking_a_rule) {
    if (!pc::test::runs_alone()) return;
    for (uint32_t i = axPktCtlEntryCount; i < PKT_CTL_ENTRY_MAX; ++i) {
        std::string name = "e" + std::to_string(i);
        ASSERT_EQ(axPktCtlL2Ctl(name.c_str(), nullptr, static_cast<uint16_t>(0x9000 + i), 0, 0, 1), 0) << i;
    }
    uint32_t last = axPktCtlEntry[PKT_CTL_ENTRY_MAX - 1].pos;
    EXPECT_EQ(axPktCtlL2Ctl("one_more", nullptr, 0x88B5, 0, 0, 1), -1);
    EXPECT_EQ(entry("one_more"), nullptr);
    // Existing names still work.
    EXPECT_EQ(axPktCtlL2Ctl("e5", nullptr, 0x88B5, 0, 0, 1), 0);
    uint32_t next = 0;
    ASSERT_EQ(adPktCtlEntryGet(&next), 0);
    EXPECT_EQ(next, last + 1);
}

// The reserved entries come first in a table no other test has used.
TEST_F(Entries, reserved_route_and_stacking_entries_in_order) {
    if (!pc::test::runs_alone()) return;
    ASSERT_EQ(axPktCtlResvEntryInit(), 0);
    ASSERT_EQ(axPktCtlStkEntryInit(), 0);
    const char *order[] = {"LLDP", "arp_UC", "ADDP_BC",  "web",      "ICMP", "TELNET", "SSH",
                           "SNMP", "TFTP",   "RADIUS_1", "RADIUS_2", "atp",  "utp",    "nextHop"};
    ASSERT_EQ(axPktCtlEntryCount, std::size(order));
    for (size_t i = 0; i < std::size(order); ++i) EXPECT_STREQ(axPktCtlEntry[i].name, order[i]);
    EXPECT_EQ(action_of(entry("LLDP")->pos).pri, 2u);
    EXPECT_EQ(action_of(entry("ADDP_BC")->pos).fwd_type, static_cast<uint32_t>(SDK_ACL_FWD_COPY));
    EXPECT_EQ(field(entry("ADDP_BC")->pos, SDK_ACL_FIELD_L4_SPORT, 2), 0xEE48);
    EXPECT_EQ(action_of(entry("RADIUS_2")->pos).pri, 2u);
    EXPECT_EQ(field(entry("atp")->pos, SDK_ACL_FIELD_DMAC, 6), -1);
    EXPECT_EQ(field(entry("nextHop")->pos, SDK_ACL_FIELD_ETHERTYPE, 2), -1);
    // The route rules are the first three of the back of the table, enabled
    // on the master.
    const uint32_t route[] = {SIM_ACL_BACK_FIRST + SIM_ACL_BACK_POSITIONS - 1,
                              SIM_ACL_BACK_FIRST + SIM_ACL_BACK_POSITIONS - 2,
                              SIM_ACL_BACK_FIRST + SIM_ACL_BACK_POSITIONS - 3};
    EXPECT_EQ(field(route[0], SDK_ACL_FIELD_ETHERTYPE, 2), 0x0800);
    EXPECT_EQ(field(route[1], SDK_ACL_FIELD_ETHERTYPE, 2), 0x86DD);
    EXPECT_EQ(field(route[2], SDK_ACL_FIELD_IP_PROTO, 1), 0x3A);
    EXPECT_EQ(action_of(route[2]).fwd_type, static_cast<uint32_t>(SDK_ACL_FWD_COPY));
    EXPECT_EQ(action_of(route[2]).pri, 3u);
    for (uint32_t p : route) EXPECT_TRUE(valid(p)) << p;
    // Once only.
    EXPECT_EQ(axPktCtlRouteInit(), 0);
    uint32_t next = 0;
    ASSERT_EQ(adPktCtlEntryGetAppBackward(AXCL_APP_ROUTE, &next), 0);
    EXPECT_EQ(next, route[2] - 1);
}

std::vector<int> g_hooks;
int hook18() { return g_hooks.push_back(18), 0; }
int hook19() { return g_hooks.push_back(19), 0; }
int hook21() { return g_hooks.push_back(21), 0; }

TEST_F(Entries, reload_follows_the_new_masters_mac) {
    uint8_t old_mac[6]{}, new_mac[6] = {0x00, 0xE0, 0x4C, 0x12, 0x34, 0x56};
    simChipSwitchMacGet(old_mac);
    ASSERT_EQ(axPktCtlL2UcCtl("arp_UC", 0x0806, 0, 1), 0);
    ASSERT_EQ(axPktCtlL3UcCtl("off", 6, 8080, 0, 0), 0);
    ASSERT_EQ(axPktCtlStkEntryInit(), 0);
    ASSERT_EQ(axPktCtlRouteInit(), 0);
    APPINTF_SET(APPINTF_SLOT_PKTCTL_RELOAD_1, hook18);
    APPINTF_SET(APPINTF_SLOT_PKTCTL_RELOAD_2, hook19);
    APPINTF_SET(APPINTF_SLOT_PKTCTL_RELOAD_4, hook21);
    simChipSwitchMacSet(new_mac);

    EXPECT_EQ(axPktCtlEntryReload(0), 0);
    EXPECT_TRUE(g_hooks.empty());
    EXPECT_EQ(field(entry("arp_UC")->pos, SDK_ACL_FIELD_DMAC, 6), mac_num(old_mac));

    ASSERT_EQ(axPktCtlEntryReload(1), 0);
    EXPECT_EQ(g_hooks, (std::vector<int>{18, 19, 21}));
    EXPECT_EQ(field(entry("arp_UC")->pos, SDK_ACL_FIELD_DMAC, 6), mac_num(new_mac));
    EXPECT_TRUE(valid(entry("arp_UC")->pos));
    EXPECT_FALSE(valid(entry("off")->pos));  // re-programmed as it stands: disabled
    EXPECT_EQ(field(entry("utp")->pos, SDK_ACL_FIELD_DMAC, 6), mac_num(old_mac));  // stacking entries stay
    EXPECT_TRUE(valid(SIM_ACL_BACK_FIRST + SIM_ACL_BACK_POSITIONS - 1));
    simChipSwitchMacSet(old_mac);
}

TEST_F(Entries, print_lists_enabled_entries_by_family) {
    ASSERT_EQ(axPktCtlIEEECtl("LLDP", kLldp, 128, 1), 0);
    ASSERT_EQ(axPktCtlL2Ctl("eapol", nullptr, 0x888E, 0, PKT_CTL_ACTION_COPY, 1), 0);
    ASSERT_EQ(axPktCtlL3UcCtl("SNMP", 0x11, 161, 0, 1), 0);
    ASSERT_EQ(axPktCtlL3UcCtl("hidden", 0x11, 162, 0, 0), 0);
    ASSERT_EQ(axPktCtlL3V6Ctl("v6", 58, 0, 0, 0, 0, 0, PKT_CTL_ACTION_TRAP, 1), 0);
    pc::test::CaptureStdout cap;
    ASSERT_EQ(axPktCtlEntryPrint(), 0);
    std::string out = cap.text();
    char line[256];
    std::snprintf(line, sizeof line,
                  "module LLDP, type IEEE, dmac 01:80:c2:00:00:0e, speed 128, enable 1, pos %u\n",
                  entry("LLDP")->pos);
    EXPECT_NE(out.find(line), std::string::npos) << out;
    std::snprintf(line, sizeof line,
                  "module eapol, type L2, dmac 00:00:00:00:00:00, ethtype 0x888e, speed 0, action 2, enable "
                  "1, pos %u\n",
                  entry("eapol")->pos);
    EXPECT_NE(out.find(line), std::string::npos) << out;
    std::snprintf(
        line, sizeof line,
        "module SNMP, type L3Uc, ipPtcl 17, dstip 0x0, srcip 0x0, l4DstPort 161, l4SrcPort 0, speed 0, "
        "action 1, enable 1, pos %u\n",
        entry("SNMP")->pos);
    EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(out.find("hidden"), std::string::npos);
    EXPECT_EQ(out.find("module v6"), std::string::npos);
}

}  // namespace

// The core halves read requests from other processes: a missing key, an
// unterminated name or a short MAC ends the request with its log line and
// no entry is made.
TEST_F(Entries, server_halves_refuse_malformed_requests) {
    struct Case {
        const char *what;
        int (*srv)(AXRPC_PARA_T *, AXRPC_PARA_T *);
        void (*fill)(AXRPC_PARA_T *);
        const char *line;
    };
    const Case cases[] = {
        {"no speed", axPktCtlL2UcCtl_srv,
         [](AXRPC_PARA_T *in) {
             axrpcAddString(in, "name", "srv-a", 6);
             axrpcAddShort(in, "etherType", 0x0806);
             axrpcAddInt(in, "isEnable", 1);
         },
         "call axrpcGetInt(inPara, \"speed\", &speed) failed."},
        {"no protocol", axPktCtlL3UcCtl_srv,
         [](AXRPC_PARA_T *in) {
             axrpcAddString(in, "name", "srv-b", 6);
             axrpcAddShort(in, "dstPort", 161);
             axrpcAddInt(in, "speed", 0);
             axrpcAddInt(in, "isEnable", 1);
         },
         "call axrpcGetChar(inPara, \"protocol\", &protocol) failed."},
        {"unterminated name", axPktCtlSpeedSet_srv,
         [](AXRPC_PARA_T *in) {
             axrpcAddString(in, "name", "srv-c", 5);
             axrpcAddInt(in, "speed", 64);
         },
         "Ensure terminated failed."},
        {"short MAC", axPktCtlIEEECtl_srv,
         [](AXRPC_PARA_T *in) {
             axrpcAddString(in, "name", "srv-d", 6);
             axrpcAddString(in, "dstMac", "\x01\x80\xC2", 3);
             axrpcAddInt(in, "speed", 0);
             axrpcAddInt(in, "isEnable", 1);
         },
         "Ensure got == kMacBytes failed."},
    };
    for (const Case &c : cases) {
        AXRPC_PARA_T in, out;
        axrpcParaInit(&in);
        axrpcParaInit(&out);
        c.fill(&in);
        std::string text;
        {
            pc::test::CaptureStdout capture;
            EXPECT_NE(c.srv(&in, &out), 0) << c.what;
            text = capture.text();
        }
        EXPECT_NE(text.find(c.line), std::string::npos) << c.what << ": " << text;
        axrpcParaFree(&in);
        axrpcParaFree(&out);
    }
    uint32_t speed = 0;
    for (const char *name : {"srv-a", "srv-b", "srv-c", "srv-d"})
        EXPECT_NE(axPktCtlSpeedGet(name, &speed), 0) << name;
    EXPECT_NE(axPktCtlSpeedSet_srv(nullptr, nullptr), 0);
}
