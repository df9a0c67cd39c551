// Port mapping between UP values, chip ports, module ids and logical lists.
#include <cstring>
#include <string>

#include "support/capture_stdout.h"
#include "up/up_fixture.h"

namespace {

using pc::test::port;
using pc::test::UpModel;

TEST_F(UpModel, ChipPortsRoundTripOnEveryDevice) {
    for (int type : pc::test::kSimDevices) {
        SCOPED_TRACE(type);
        use_device(type);
        const dev_def_t *dev = upProptDevTypeDesGet(static_cast<uint32_t>(type));
        // The CPU descriptor comes first and sits at base offset 0.
        int cu = -1, cp = -1;
        ASSERT_EQ(0, adPmpUp2Bp(0x01010000, &cu, &cp));
        EXPECT_EQ(static_cast<int>(dev->ports[0].chip_port), cp);
        for (uint32_t p = 1; p <= UP_SLOT0_PORT_MAX; ++p) {
            if (!UP_IS_VALID(port(p))) continue;
            ASSERT_EQ(0, adPmpUp2Bp(port(p), &cu, &cp)) << p;
            EXPECT_EQ(static_cast<int>(dev->ports[p].chip_port), cp) << p;
            UP back = 0;
            ASSERT_EQ(0, adPmpBp2Up(cu, cp, &back));
            EXPECT_EQ(port(p), back);
            int modid = 0, modport = 0;
            ASSERT_EQ(0, adPmpUp2Modport(port(p), &modid, &modport));
            EXPECT_EQ(2, modid);
            ASSERT_EQ(0, adPmpModport2Up(modid, modport, &back));
            EXPECT_EQ(port(p), back);
        }
    }
}

TEST_F(UpModel, LogicalListsRoundTrip) {
    for (int type : pc::test::kSimDevices) {
        SCOPED_TRACE(type);
        use_device(type);
        up_list ports{};
        for (uint32_t p = 1; p <= UP_SLOT0_PORT_MAX; ++p)
            if (UP_IS_VALID(port(p))) ports.bits[p / 32] |= 1u << (p % 32);
        lport_list_t lp{};
        ASSERT_EQ(0, adPmpUportListToLportList(&ports, &lp));
        up_list back{};
        ASSERT_EQ(0, adPmpLportListToUportList(&lp, &back));
        EXPECT_EQ(0, std::memcmp(&ports, &back, sizeof ports));
    }
    use_device(SIM_DEV_24GE_4TE);
    up_list one{{1u << 25, 0, 0, 0, 0, 0}};  // Te port 25: chip port 0
    lport_list_t lp{};
    ASSERT_EQ(0, adPmpUportListToLportList(&one, &lp));
    EXPECT_EQ(1u, lp.bits[0]);
    up_list bad{{1u << 29, 0, 0, 0, 0, 0}};  // no such port on this device
    EXPECT_NE(0, adPmpUportListToLportList(&bad, &lp));
}

TEST_F(UpModel, SubslotPortsNeverHideSlotZeroPorts) {
    // The sub-slot module's descriptors share base offsets with slot 0.
    use_device(SIM_DEV_48GE_4TE_SUBSLOT);
    int cu = -1, cp = -1;
    ASSERT_EQ(0, adPmpUp2Bp(port(1), &cu, &cp));
    EXPECT_EQ(0, cp);
    ASSERT_EQ(0, adPmpUp2Bp(port(2), &cu, &cp));
    EXPECT_EQ(1, cp);
}

TEST_F(UpModel, ChipLookupFailures) {
    int offset = 7;
    EXPECT_EQ(-1, adPmpChip2BaseOffset(SIM_DEV_8GE_2SFP, 0, 40, &offset));
    EXPECT_EQ(-1, offset);
    EXPECT_EQ(-1, adPmpChip2BaseOffset(SIM_DEV_8GE_2SFP, 2, 1, &offset));
    ASSERT_EQ(0, adPmpChip2BaseOffset(SIM_DEV_8GE_2SFP, 0, 28, &offset));
    EXPECT_EQ(0, offset);  // the CPU position
    UP up = 0;
    EXPECT_EQ(-1, adPmpModport2Up(4, 1, &up));
    EXPECT_EQ(-1, adPmpModport2Up(2, 62, &up));
    int cu = 0, cp = 0;
    EXPECT_EQ(-1, adPmpBaseOffset2Chip(0, 1, &cu, &cp));
    EXPECT_EQ(-1, adPmpBaseOffset2Chip(1, 65, &cu, &cp));
    EXPECT_EQ(-1, adPmpUp2Bp(pc::test::lag(1), &cu, &cp));
    EXPECT_EQ(-1, adPmpUp2Bp(port(29), &cu, &cp));
    ASSERT_EQ(0, adPmpGetCpuInUp(UNIT_1, &up));
    EXPECT_EQ(0x01010000u, up);
    EXPECT_EQ(-1, adPmpGetCpuInUp(2, &up));
}

TEST(PmpLists, SetOperations) {
    lport_list_t a{{0xF0F0u, 1}}, b{{0xFF00u, 3}}, out{};
    ASSERT_EQ(0, adPmpLportListInterSect(&a, &b, &out));
    EXPECT_EQ(0xF000u, out.bits[0]);
    EXPECT_EQ(1u, out.bits[1]);
    ASSERT_EQ(0, adPmpLportListSub(&a, &b, &out));
    EXPECT_EQ(0x00F0u, out.bits[0]);
    EXPECT_EQ(0u, out.bits[1]);
    ASSERT_EQ(0, adPmpLportListSum(&a, &b, &out));
    EXPECT_EQ(0xFFF0u, out.bits[0]);
    EXPECT_EQ(3u, out.bits[1]);
    EXPECT_EQ(-1, adPmpLportListSum(nullptr, &b, &out));
    EXPECT_EQ(0, adPmpLportListToPbmp());
}

TEST_F(UpModel, DumpListsEveryDeviceType) {
    pc::test::CaptureStdout out;
    adPmpDumpDb();
    std::string text = out.text();
    EXPECT_NE(std::string::npos,
              text.find("type S1210-8G2S baseOffset 0, slot 0, port 0, chipUnit 0, chipPort 28\r\n"));
    EXPECT_NE(std::string::npos,
              text.find("type S2628-24G4X baseOffset 25, slot 0, port 25, chipUnit 0, chipPort 0\r\n"));
}

}  // namespace
