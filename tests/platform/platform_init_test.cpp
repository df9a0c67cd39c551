// platformInit: order of the start-up sequence and what a failing step leaves.
#include <gtest/gtest.h>

#include <string>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/timer.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"

namespace {

// The timer service refuses a second start in one process, so starting it
// first makes the fourth step of the sequence fail.
TEST(PlatformInit, failing_step_stops_the_sequence_and_is_named) {
    simProcessSetPid(PID_CORE);
    simSwitchSetInited(0);
    ASSERT_EQ(timer_init(), 0);
    pc::test::CaptureStdout out;
    int rc = platformInit();
    std::string text = out.text();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(isPfmInited(), 0);
    EXPECT_NE(text.find("E - -1 call timer_init() failed."), std::string::npos) << text;
    // The steps before it ran: the shared area and the debug switches exist.
    EXPECT_EQ(debugFlagSet(MID_TIMER, 2), 0);
    // The start-up flag was not published.
    int flag = 0;
    EXPECT_EQ(axshm_get_data(PLATFORM_INIT, &flag, sizeof flag), -1);
}

}  // namespace
