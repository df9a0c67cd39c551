// The chip adapter of the traffic-control rules against the simulated ACL
// table and classifier.
// The core comes up through platformInit (packet_support.h), RPC queues included.
#include <string>

#include "pktctl_support.h"
#include "platform_core/appintf.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test::pktctl;

int refuse_position(int *, ...) { return -1; }

class Adapter : public ::testing::Test {
protected:
    void SetUp() override { start_core(); }
};

TEST_F(Adapter, actions_accumulate_copy_priority_and_meter) {
    uint32_t pos = 0;
    ASSERT_EQ(adPktCtlEntryGet(&pos), 0);
    ASSERT_EQ(adPktCtlActionCopy(pos), 0);
    ASSERT_EQ(adPktCtlActionPri(pos, 4), 0);
    ASSERT_EQ(adPktCtlActionSpeed(pos, 10, 20), 0);
    sdk_acl_action_t a = action_of(pos);
    EXPECT_EQ(a.fwd_en, 1u);
    EXPECT_EQ(a.fwd_type, static_cast<uint32_t>(SDK_ACL_FWD_COPY));
    EXPECT_EQ(a.fwd_port, static_cast<uint32_t>(PKT_CTL_CPU_CHIP_PORT));
    EXPECT_EQ(a.pri_en, 1u);
    EXPECT_EQ(a.pri, 4u);
    EXPECT_EQ(a.meter_en, 1u);
    uint32_t rate = 0, burst = 0;
    EXPECT_EQ(simAclMeterGet(a.meter_idx, &rate, &burst), 1);
    EXPECT_EQ(rate, 10u);
    EXPECT_EQ(burst, 20u);
}

TEST_F(Adapter, rate_zero_unmetered_by_action_but_metered_by_speed_set) {
    uint32_t pos = 0;
    ASSERT_EQ(adPktCtlEntryGet(&pos), 0);
    ASSERT_EQ(adPktCtlActionSpeed(pos, 0, 0), 0);
    EXPECT_EQ(action_of(pos).meter_en, 0u);
    EXPECT_EQ(simAclMeterGet(phys(pos), nullptr, nullptr), 0);
    ASSERT_EQ(adPktCtlSpeedSet(pos, 0), 0);
    EXPECT_EQ(action_of(pos).meter_en, 1u);
    uint32_t rate = 1, burst = 1;
    EXPECT_EQ(simAclMeterGet(action_of(pos).meter_idx, &rate, &burst), 1);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(burst, 0u);
    ASSERT_EQ(adPktCtlSpeedSet(pos, 7), 0);
    EXPECT_EQ(simAclMeterGet(action_of(pos).meter_idx, &rate, &burst), 1);
    EXPECT_EQ(burst, 14u);
}

TEST_F(Adapter, double_rule_takes_a_field_the_first_half_cannot_hold_in_the_second) {
    uint32_t pos = 0;
    ASSERT_EQ(adPktCtlEntryGet(&pos), 0);  // the front positions are double rules
    uint32_t phy = phys(pos);
    ASSERT_EQ(adPktCtlRuleEtherType(pos, 0x0800, 0xffff), 0);
    ASSERT_EQ(adPktCtlRuleDstIp(pos, 0x0A000001, 0xffffffff), 0);
    EXPECT_EQ(simAclFieldGet(phy, SDK_ACL_FIELD_ETHERTYPE, nullptr, nullptr), 0);
    EXPECT_EQ(simAclFieldGet(phy, SDK_ACL_FIELD_IP4_DIP, nullptr, nullptr), -1);
    uint8_t dip[4]{};
    ASSERT_EQ(simAclFieldGet(phy + 1, SDK_ACL_FIELD_IP4_DIP, dip, nullptr), 0);
    EXPECT_EQ(dip[0], 0x0A);
    EXPECT_EQ(dip[3], 0x01);
    simAclEntryInfo first{}, second{};
    simAclEntryGet(phy, &first);
    simAclEntryGet(phy + 1, &second);
    EXPECT_EQ(first.aggr, 1u);
    EXPECT_EQ(first.selector, 0u);
    EXPECT_EQ(second.selector, 1u);
    ASSERT_EQ(adPktCtlEntryEnable(pos, 1), 0);
    simAclEntryGet(phy, &first);
    simAclEntryGet(phy + 1, &second);
    EXPECT_TRUE(first.valid && second.valid);
    ASSERT_EQ(adPktCtlEntryEnable(pos, 0), 0);
    simAclEntryGet(phy + 1, &second);
    EXPECT_FALSE(second.valid);
}

TEST_F(Adapter, vendor_errors_answer_703_with_the_hw_error_line) {
    uint32_t pos = 0;
    ASSERT_EQ(adPktCtlEntryGetBackward(&pos, AXCL_APP_ROUTE, 0, 0), 0);  // a single rule
    ASSERT_EQ(adPktCtlRuleDstMac(pos, kHostA, kBroadcast), 0);
    std::string out;
    {
        pc::test::CaptureStdout cap;
        EXPECT_EQ(adPktCtlRuleSrcIp(pos, 1, 0xffffffff), PKT_CTL_HW_ERROR);  // selector 0 has no addresses
        out = cap.text();
    }
    EXPECT_EQ(errorNo, 0x1002u);
    EXPECT_NE(out.find("HW error in adapter/chip/adPktCtl Line "), std::string::npos) << out;
    EXPECT_NE(out.find("fuc:adPktCtlQual,errorNo=0x1002"), std::string::npos) << out;
    // A position the classifier never handed out.
    EXPECT_EQ(adPktCtlEntryEnable(900, 1), PKT_CTL_HW_ERROR);
    EXPECT_EQ(adPktCtlActionTrap(900), PKT_CTL_HW_ERROR);
    // Null MAC or mask.
    EXPECT_EQ(adPktCtlRuleDstMac(pos, nullptr, kBroadcast), -1);
    EXPECT_EQ(adPktCtlRuleSrcMac(pos, kHostA, nullptr), -1);
}

TEST_F(Adapter, rules_match_only_their_ingress_ports) {
    uint32_t pos = 0;
    ASSERT_EQ(adPktCtlEntryGet(&pos), 0);
    uint8_t mask[4]{}, value[4]{1, 1, 1, 1};
    ASSERT_EQ(simAclFieldGet(phys(pos), SDK_ACL_FIELD_SPMASK, value, mask), 0);
    uint32_t m = (uint32_t{mask[0]} << 24) | (uint32_t{mask[1]} << 16) | (uint32_t{mask[2]} << 8) | mask[3];
    EXPECT_EQ(value[0] | value[1] | value[2] | value[3], 0);
    for (uint32_t n : {1u, 2u, 8u}) EXPECT_EQ((~m >> chip_port(n)) & 1u, 1u) << n;
    up_list two{};
    two.bits[inner_up_to_idx(port_up(2)) / 32] |= 1u << (inner_up_to_idx(port_up(2)) % 32);
    ASSERT_EQ(adPktCtlRulePbmp(pos, two), 0);
    ASSERT_EQ(simAclFieldGet(phys(pos), SDK_ACL_FIELD_SPMASK, nullptr, mask), 0);
    m = (uint32_t{mask[0]} << 24) | (uint32_t{mask[1]} << 16) | (uint32_t{mask[2]} << 8) | mask[3];
    EXPECT_EQ(~m, 1u << chip_port(2));
}

TEST_F(Adapter, positions_come_from_the_hooks) {
    APPINTF_SET(APPINTF_SLOT_ACL_POS_FRONT, nullptr);
    uint32_t pos = 0;
    EXPECT_EQ(adPktCtlEntryGet(&pos), -1);
    APPINTF_SET(APPINTF_SLOT_ACL_POS_FRONT, refuse_position);
    EXPECT_EQ(adPktCtlEntryGet(&pos), -1);
    simAppintfAclHooksSet();
    EXPECT_EQ(adPktCtlEntryGet(&pos), 0);
    EXPECT_EQ(adPktCtlEntryGet(nullptr), -1);
}

TEST_F(Adapter, cpu_priority_rule) {
    constexpr int kNoMac = -1;
    struct Case {
        int rma;  // last byte of 01:80:C2:00:00:xx, or kNoMac
        uint32_t proto, type, sport, dport;
        int arp;
        int want;
    };
    const Case cases[] = {
        {0x00, 0, 0, 0, 0, 0, 5},         {0x02, 0, 0, 0, 0, 0, 5},        {0x03, 0, 0, 0, 0, 0, 4},
        {0x0E, 0, 0, 0, 0, 0, 2},         {0x21, 0, 0, 0, 0, 0, 2},        {0x10, 0, 0x888E, 0, 0, 0, 4},
        {0x10, 1, 0, 0, 0, 0, 3},         {kNoMac, 2, 0, 0, 0, 0, 3},      {kNoMac, 89, 0, 0, 0, 0, 4},
        {kNoMac, 17, 0, 0, 67, 0, 4},     {kNoMac, 17, 0, 0, 520, 0, 4},   {kNoMac, 17, 0, 0, 161, 0, 2},
        {kNoMac, 17, 0, 0, 69, 0, 2},     {kNoMac, 17, 0, 68, 0, 0, 4},    {kNoMac, 17, 0, 1813, 0, 0, 2},
        {kNoMac, 17, 0, 0, 53, 0, 0},     {kNoMac, 6, 0, 0, 80, 0, 1},     {kNoMac, 6, 0, 0, 443, 0, 2},
        {kNoMac, 6, 0x0806, 0, 25, 0, 3}, {kNoMac, 0, 0x0806, 0, 0, 1, 1}, {kNoMac, 0, 0x9900, 0, 0, 0, 5},
        {kNoMac, 0, 0x0800, 0, 0, 0, 0},  {kNoMac, 0, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        uint8_t mac[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, static_cast<uint8_t>(c.rma)};
        EXPECT_EQ(
            adPktCtlActionPriCal(c.rma == kNoMac ? nullptr : mac, c.proto, c.type, c.sport, c.dport, c.arp),
            c.want)
            << c.rma << " " << c.proto << "/" << c.type << "/" << c.sport << "/" << c.dport;
    }
}

TEST_F(Adapter, reserved_mac_learning_is_off_after_start_up) {
    int rma = 1, mgmt = 1;
    simTrapLearningGet(1, 19, &rma, &mgmt);
    EXPECT_EQ(rma, 0);
    EXPECT_EQ(mgmt, 0);
    EXPECT_EQ(simCpuEgressRateGet(), qosGetCpuRateLimit());
}

}  // namespace
