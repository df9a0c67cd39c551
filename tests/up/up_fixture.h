// Brings the unit and port model up once per test program, as the core
// process does, and switches the simulated hardware between device types.
#pragma once

#include <gtest/gtest.h>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_device.h"

namespace pc::test {

inline constexpr int kSimDevices[] = {SIM_DEV_8GE_2SFP, SIM_DEV_24GE_4TE, SIM_DEV_48GE_4TE_SUBSLOT,
                                      SIM_DEV_24FE_2GE};

class UpModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool up = false;
        if (up) return;
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(0, axshm_init());
        ASSERT_EQ(0, debugFlagInit());
        ASSERT_EQ(0, adPmpInit());
        ASSERT_EQ(0, up_core_init());
        simSwitchSetInited(1);
        up = true;
    }
    void SetUp() override { use_device(SIM_DEV_TYPE_DEFAULT); }
    void TearDown() override {
        for (uint32_t id = 1; id <= UP_LAG_MAX; ++id) upProptResetMode(UP_MAKE(UP_TYPE_LAG, 0, 0, id));
    }
    static void use_device(int type) {
        ASSERT_EQ(0, upProptDevTypeSet(UNIT_1, static_cast<uint32_t>(type)));
        ASSERT_EQ(0, upProptDevStatSet(UNIT_1, DEV_STAT_PRESENT));
    }
};

inline UP port(uint32_t n, uint32_t slot = 0) { return UP_MAKE(UP_TYPE_SWP, UNIT_1, slot, n); }
inline UP lag(uint32_t id) { return UP_MAKE(UP_TYPE_LAG, 0, 0, id); }

}  // namespace pc::test
