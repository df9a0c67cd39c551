// The unit/port value, the valid list and the unit property record.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <vector>

#include "platform_core/appintf.h"
#include "support/test_process.h"
#include "up/up_fixture.h"

namespace {

using pc::test::lag;
using pc::test::port;
using pc::test::UpModel;

TEST(UpIndex, ValuesAndIndexesMapBothWays) {
    struct Case {
        UP up;
        uint32_t index;
    };
    for (const Case &c :
         {Case{0x01010000, 0}, Case{0x01010040, 64}, Case{0x02000001, 65}, Case{0x0200000E, 78}}) {
        EXPECT_EQ(c.index, inner_up_to_idx(c.up));
        UP back = 0;
        EXPECT_EQ(c.up, inner_up_from_index(&back, c.index, 1, "t", 1));
        EXPECT_EQ(c.up, back);
    }
    EXPECT_EQ(0u, inner_up_to_idx(0x03010005));
    UP v = 7;
    EXPECT_EQ(0x01010104u, inner_up_from_index(&v, 79, 1, "t", 1));
    EXPECT_EQ(0u, inner_up_from_index(&v, 80, 1, "t", 1));
    EXPECT_EQ(0u, v);
    EXPECT_EQ(-1, inner_up_unitbase_get(3));
    EXPECT_EQ(65, inner_up_unitbase_get(2));
    EXPECT_EQ(-1, inner_up_slotbaseoffset_get(2));
    up_list legal;
    ASSERT_EQ(0, inner_up_legal_list_get(&legal));
    EXPECT_EQ((up_list{{0xFFFFFFFFu, 0xFFFFFFFFu, 1u, 0x3FFFu, 0, 0}}).bits[3], legal.bits[3]);
    EXPECT_EQ(1u, legal.bits[2]);
    EXPECT_EQ(32u, inner_up_get_bitcnt(0xFFFFFFFFu));
}

TEST_F(UpModel, ValidityFollowsTheDeviceDefinitions) {
    for (int type : pc::test::kSimDevices) {
        SCOPED_TRACE(type);
        use_device(type);
        const dev_def_t *dev = upProptDevTypeDesGet(static_cast<uint32_t>(type));
        ASSERT_NE(nullptr, dev);
        // Count the front-panel ports of slot 0 in the table.
        uint32_t ports = 0;
        for (const dev_port_desc_t &d : dev->ports)
            if (d.slot_kind == 0 && d.propt_row >= 2) ++ports;
        for (uint32_t p = 0; p <= UP_SLOT0_PORT_MAX; ++p)
            EXPECT_EQ(p >= 1 && p <= ports, UP_IS_VALID(port(p)) != 0) << p;
        EXPECT_TRUE(UP_IS_VALID_CPU(port(0)));
    }
}

TEST_F(UpModel, IllegalValuesAreNeverValid) {
    for (UP up : {port(55), port(5, 1), port(5, 2), lag(0), lag(15), UP_MAKE(0xA5, 1, 0, 1),
                  UP_MAKE(1, 2, 0, 1), UP_MAKE(3, 1, 0, 1)})
        EXPECT_FALSE(UP_IS_VALID(up)) << std::hex << up;
}

TEST_F(UpModel, LagIsValidWhileInUse) {
    EXPECT_FALSE(UP_IS_VALID(0x02000005));
    ASSERT_EQ(0, upProptSetMode(lag(5), UP_MODE_LAG_IN_USE));
    EXPECT_TRUE(UP_IS_VALID(0x02000005));
    EXPECT_EQ(1, upProptChkMode(lag(5), UP_MODE_LAG_IN_USE));
    ASSERT_EQ(0, upProptClrMode(lag(5), UP_MODE_LAG_IN_USE));
    EXPECT_FALSE(UP_IS_VALID(0x02000005));
    ASSERT_EQ(0, upProptSetMode(lag(5), UP_MODE_LAG_IN_USE));
    ASSERT_EQ(0, upProptResetMode(lag(5)));
    EXPECT_FALSE(UP_IS_VALID(0x02000005));
    // Ids outside 1..14 name no mode word and are refused.
    EXPECT_EQ(-1, upProptSetMode(lag(0), UP_MODE_LAG_IN_USE));
    EXPECT_EQ(-1, upProptSetMode(lag(15), UP_MODE_LAG_IN_USE));
    EXPECT_EQ(-1, upProptSetMode(port(1), 32));
    EXPECT_EQ(-1, upProptResetMode(lag(200)));
}

TEST_F(UpModel, ModeHookIsCalledWhenNormalOrStackingModeIsNewlySet) {
    simPortModeHookInstall();
    UP p = port(3);
    ASSERT_EQ(0, upProptClrMode(p, UP_MODE_STACKING));
    ASSERT_EQ(0, upProptSetMode(p, UP_MODE_STACKING));
    ASSERT_EQ(0, upProptSetMode(p, UP_MODE_STACKING));
    EXPECT_EQ(1, simPortModeHookCalls(p));
    EXPECT_EQ(1, simPortModeHookLast(p));
    ASSERT_EQ(0, upProptClrMode(p, UP_MODE_NORMAL));
    ASSERT_EQ(0, upProptSetMode(p, UP_MODE_NORMAL));
    EXPECT_EQ(2, simPortModeHookCalls(p));
    EXPECT_EQ(0, simPortModeHookLast(p));
    ASSERT_EQ(0, upProptClrMode(p, UP_MODE_STACKING));
    simAppintfClear();
}

TEST_F(UpModel, PortRangesOfEveryDevice) {
    struct Case {
        int type;
        uint32_t fe[2], ge[2], te[2];
        uint32_t subslots;
    };
    const Case cases[] = {
        {SIM_DEV_8GE_2SFP, {0, 0}, {1, 10}, {0, 0}, 0},
        {SIM_DEV_24GE_4TE, {0, 0}, {1, 24}, {25, 28}, 0},
        {SIM_DEV_48GE_4TE_SUBSLOT, {0, 0}, {1, 48}, {49, 52}, 1},
        {SIM_DEV_24FE_2GE, {1, 24}, {25, 26}, {0, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        use_device(c.type);
        uint32_t from = 9, to = 9, amount = 9;
        const uint32_t *want[] = {c.fe, c.ge, c.te};
        for (uint32_t it = INTF_TYPE_FE; it <= INTF_TYPE_TE; ++it) {
            ASSERT_EQ(0, upProptPortRangeGet(UNIT_1, it, 0, &from, &to));
            EXPECT_EQ(want[it][0], from);
            EXPECT_EQ(want[it][1], to);
        }
        ASSERT_EQ(0, upProptSubslotAmountGet(UNIT_1, &amount));
        EXPECT_EQ(c.subslots, amount);
        ASSERT_EQ(0, upProptPortRangeGet(UNIT_1, INTF_TYPE_LAG, 0, &from, &to));
        EXPECT_EQ(1u, from);
        EXPECT_EQ(static_cast<uint32_t>(getChannelGroupNumber()), to);
    }
    uint32_t from = 0, to = 0;
    EXPECT_EQ(-1, upProptPortRangeGet(UNIT_1, 4, 0, &from, &to));
    EXPECT_EQ(-1, upProptPortRangeGet(UNIT_1, 1, 2, &from, &to));
    EXPECT_EQ(-1, upProptPortRangeGet(2, 1, 0, &from, &to));
}

TEST_F(UpModel, InterfaceTypesAndDeviceTypeQueries) {
    use_device(SIM_DEV_24FE_2GE);
    uint32_t it = 9;
    ASSERT_EQ(0, upProptIntfTypeGet(port(1), &it));
    EXPECT_EQ(static_cast<uint32_t>(INTF_TYPE_FE), it);
    ASSERT_EQ(0, upProptIntfTypeGet(port(26), &it));
    EXPECT_EQ(static_cast<uint32_t>(INTF_TYPE_GE), it);
    EXPECT_EQ(-1, upProptIntfTypeGet(port(27), &it));
    uint32_t type = 0;
    ASSERT_EQ(0, upProptDevTypeGet(UNIT_1, &type));
    EXPECT_EQ(static_cast<uint32_t>(SIM_DEV_24FE_2GE), type);
    EXPECT_EQ(upProptDevTypeDesGet(type), upProptDevTypeDesGetByUnit(UNIT_1));
    EXPECT_EQ(nullptr, upProptDevTypeDesGet(0));
    EXPECT_EQ(nullptr, upProptDevTypeDesGet(42));
    EXPECT_EQ(-1, upProptDevTypeSet(UNIT_1, 42));
    EXPECT_EQ(-1, upProptDevStatSet(UNIT_1, 3));
}

TEST_F(UpModel, StackCompatibilityByFamily) {
    use_device(SIM_DEV_24GE_4TE);
    uint32_t map = 0;
    ASSERT_EQ(0, upProptDevTypeMapGet(&map));
    EXPECT_EQ((1u << SIM_DEV_24GE_4TE) | (1u << SIM_DEV_48GE_4TE_SUBSLOT), map);
    EXPECT_EQ(1, upProptStkCompatibleChk(SIM_DEV_48GE_4TE_SUBSLOT));
    EXPECT_EQ(0, upProptStkCompatibleChk(SIM_DEV_8GE_2SFP));
    EXPECT_EQ(0, upProptStkCompatibleChk(0));
    EXPECT_EQ(0, upProptStkCompatibleChk(42));
    EXPECT_EQ(0, upProptStkCompatibleChk(41));  // beyond the 32-bit map
}

TEST_F(UpModel, SubslotOnlyWhereTheDeviceHasOne) {
    use_device(SIM_DEV_24GE_4TE);
    uint32_t st = 9;
    ASSERT_EQ(0, upProptSubslotTypeGet(UNIT_1, 1, &st));
    uint32_t before = st;
    EXPECT_EQ(-1, upProptSubslotTypeSet(UNIT_1, 1, 2));
    ASSERT_EQ(0, upProptSubslotTypeGet(UNIT_1, 1, &st));
    EXPECT_EQ(before, st);
    use_device(SIM_DEV_48GE_4TE_SUBSLOT);
    ASSERT_EQ(0, upProptSubslotTypeSet(UNIT_1, 1, 2));
    EXPECT_EQ(1, upProptSubslotIsPresent(UNIT_1, 1));
    ASSERT_EQ(0, upProptSubslotTypeSet(UNIT_1, 1, 0));
    EXPECT_EQ(0, upProptSubslotIsPresent(UNIT_1, 1));
    EXPECT_EQ(-1, upProptSubslotTypeSet(UNIT_1, 0, 1));
    EXPECT_EQ(-1, upProptSubslotTypeSet(UNIT_1, 1, 4));
}

TEST_F(UpModel, AbsentPortsBetweenDevices) {
    up_list l{};
    ASSERT_EQ(0, upProptAbsentPortsGet(UNIT_1, SIM_DEV_24GE_4TE, SIM_DEV_8GE_2SFP, &l));
    // Ports 1..8 are copper GigabitEthernet on both; 9 and 10 differ (SFP
    // on the small one), 11..28 are missing there.
    for (uint32_t p = 1; p <= 30; ++p) EXPECT_EQ(p >= 9 && p <= 28, (l.bits[0] >> p) & 1u) << p;
    up_list none{};
    ASSERT_EQ(0, upProptAbsentPortsGet(UNIT_1, SIM_DEV_24GE_4TE, SIM_DEV_24GE_4TE, &none));
    ASSERT_EQ(0, upProptAbsentPortsGet(UNIT_1, 0, SIM_DEV_24GE_4TE, &none));
    EXPECT_TRUE(inner_up_list_is_empty(none));
}

TEST_F(UpModel, ProvisionedUnitAndClearing) {
    up_list l{};
    EXPECT_EQ(1, inner_up_list_is_provision(l));
    l.bits[3] = 1;
    EXPECT_EQ(0, inner_up_list_is_provision(l));
    up_list ports{{1u << 3, 0, 0, 0, 0, 0}};
    EXPECT_EQ(0, inner_up_list_is_provision(ports));
    unit_list ul = 0;
    uint32_t n = 0;
    ASSERT_EQ(0, inner_up_unit_attach_list_get(&ul, &n));
    EXPECT_EQ(2u, ul);
    EXPECT_EQ(1u, n);
    EXPECT_EQ(1, upProptUnitAmountGet());

    ASSERT_EQ(0, upProptDevStatSet(UNIT_1, DEV_STAT_PROVISION));
    EXPECT_EQ(1, inner_up_list_is_provision(ports));
    EXPECT_EQ(1, inner_up_is_provision(port(3)));
    ASSERT_EQ(0, inner_up_unit_attach_list_get(&ul, &n));
    EXPECT_EQ(0u, n);
    unit_list rm = 2;
    ASSERT_EQ(0, inner_up_unit_remove_provision(&rm));
    EXPECT_EQ(0u, rm);
    ASSERT_EQ(0, upProptProvDevClear());
    EXPECT_FALSE(UP_UNIT_IS_VALID(UNIT_1));
    EXPECT_FALSE(UP_IS_VALID(port(3)));
    up_list valid;
    EXPECT_EQ(-1, inner_up_valid_list_get_u(UNIT_1, &valid));
    EXPECT_EQ(-1, inner_up_valid_list_get_us(0, &valid));
}

TEST_F(UpModel, UnitListOfAPortList) {
    unit_list ul = 7;
    ASSERT_EQ(0, inner_up_list_to_up_unit_list(up_list{{0, 4, 0, 0, 0, 0}}, &ul));
    EXPECT_EQ(2u, ul);
    ASSERT_EQ(0, inner_up_list_to_up_unit_list(up_list{{0, 0, 0, 1, 0, 0}}, &ul));
    EXPECT_EQ(0u, ul);
    EXPECT_EQ(-1, inner_up_list_to_up_unit_list(up_list{}, nullptr));
    up_list v{};
    ASSERT_EQ(0, inner_up_valid_list_get_us(2, &v));
    EXPECT_EQ(0x1FFFFFFEu, v.bits[0]);  // ports 1..28 of the default device
}

TEST_F(UpModel, AnotherProcessSeesTheSameModel) {
    ASSERT_EQ(0, upProptSetMode(lag(2), UP_MODE_LAG_IN_USE));
    pid_t child = pc::test::fork_child([] {
        if (up_mod_init() != 0) return 2;
        if (!UP_IS_VALID(lag(2)) || !UP_IS_VALID(port(28)) || UP_IS_VALID(port(29))) return 3;
        // A change made here is seen by the parent.
        return upProptSetMode(lag(9), UP_MODE_LAG_IN_USE) == 0 ? 0 : 4;
    });
    ASSERT_EQ(0, pc::test::wait_child_for(child, 30000));
    EXPECT_TRUE(UP_IS_VALID(lag(9)));
}

// Readers copy the valid list without a lock while no writer is inside:
// against a writer that keeps rewriting it byte by byte (all 0x00, then all
// 0xFF), every copy a reader gets is whole, never a mix. (The thread
// sanitizer does not know that System V semaphores order memory, so it
// would call the locked reads races; not built there.)
#if !defined(__SANITIZE_THREAD__)
TEST_F(UpModel, ValidListCopiesAreWholeWhileAWriterWorks) {
    void *addr = nullptr;
    int len = 0;
    ASSERT_EQ(0, axshm_get_data_addr(SHM_VALID_UPLIST_NAME, &addr, &len));
    ASSERT_EQ(len, static_cast<int>(sizeof(up_list)));
    up_list original{};
    ASSERT_EQ(0, inner_up_valid_list_get(&original));
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread writer([&] {
        auto *bytes = static_cast<volatile uint8_t *>(addr);
        for (int round = 0; !stop; round = ++rounds) {
            axshm_write_data_take(SHM_VALID_UPLIST_NAME);
            for (int i = 0; i < len; ++i) {
                bytes[i] = (round & 1) ? 0xFF : 0x00;
                for (int spin = 0; spin < 50; ++spin) asm volatile("");  // a slow writer
            }
            axshm_write_data_give(SHM_VALID_UPLIST_NAME);
        }
    });
    int torn = 0;
    for (int i = 0; i < 100000 || rounds < 5000; ++i) {
        up_list l{};
        ASSERT_EQ(0, inner_up_valid_list_get(&l));
        if (std::memcmp(&l, &original, sizeof l) == 0) continue;  // before the first write
        const auto *b = reinterpret_cast<const uint8_t *>(&l);
        for (size_t k = 1; k < sizeof l; ++k)
            if (b[k] != b[0]) {
                ++torn;
                break;
            }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
    axshm_set_data(SHM_VALID_UPLIST_NAME, &original, sizeof original);
}
#endif

// A writer that dies inside leaves the sequence odd: readers take the lock
// instead and still get the list; the next writer brings the fast path back.
TEST_F(UpModel, WriterKilledInsideLeavesReadersWorking) {
    up_list original{};
    ASSERT_EQ(0, inner_up_valid_list_get(&original));
    pid_t child = fork();
    if (child == 0) {
        void *addr = nullptr;
        int len = 0;
        axshm_get_data_addr(SHM_VALID_UPLIST_NAME, &addr, &len);
        axshm_write_data_take(SHM_VALID_UPLIST_NAME);
        std::memset(addr, 0xFF, 8);  // half a write
        kill(getpid(), SIGKILL);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    up_list seen{};
    ASSERT_EQ(0, inner_up_valid_list_get(&seen));  // no hang: the kernel undid the lock
    EXPECT_EQ(0xFFFFFFFFu, seen.bits[0]);          // what the dead writer left
    ASSERT_EQ(0, axshm_set_data(SHM_VALID_UPLIST_NAME, &original, sizeof original));
    ASSERT_EQ(0, inner_up_valid_list_get(&seen));
    EXPECT_EQ(0, std::memcmp(&seen, &original, sizeof seen));
}

}  // namespace
