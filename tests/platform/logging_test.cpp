// The log line, its gates and the debug switches.
#include <gtest/gtest.h>

#include <string>

#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"

namespace {

constexpr unsigned kMid = 40;

class Logging : public ::testing::Test {
protected:
    void SetUp() override {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(debugFlagInit(), 0);
        saved_ = debugFlagGet(kMid);
        simSwitchSetInited(1);
    }
    void TearDown() override {
        debugFlagSet(kMid, static_cast<unsigned>(saved_));
        simSwitchSetInited(0);
    }
    static std::string log_all(unsigned level) {
        debugFlagSet(kMid, level);
        pc::test::CaptureStdout out;
        PFM_ERR(kMid, "err %d", 1);
        PFM_WARN(kMid, "warn %d", 2);
        PFM_DBG(kMid, "dbg %d", 3);
        return out.text();
    }
    int saved_ = 0;
};

TEST_F(Logging, error_line_has_the_fixed_format) {
    debugFlagSet(kMid, 3);
    pc::test::CaptureStdout out;
    int line = __LINE__ + 1;
    PFM_ERR(kMid, "value %d of %s", 7, "x");
    std::string expected = std::string("\033[31;49m[<") + pidNameGet(PID_CORE) + "/";
    std::string text = out.text();
    ASSERT_EQ(text.rfind(expected, 0), 0u) << text;
    std::string tail = std::string(">:<") + midNameGet(kMid) + "/TestBody()/" + std::to_string(line) +
                       ">] value 7 of x\033[0m\r\n";
    EXPECT_NE(text.find(tail), std::string::npos) << text;
}

TEST_F(Logging, warning_and_debug_prefixes) {
    debugFlagSet(kMid, 1);
    pc::test::CaptureStdout out;
    PFM_WARN(kMid, "w");
    PFM_DBG(kMid, "d");
    std::string text = out.text();
    EXPECT_NE(text.find("\033[33;49m[<"), std::string::npos);
    EXPECT_NE(text.find("] w\033[0m\r\n"), std::string::npos);
    EXPECT_NE(text.find("\n[<"), std::string::npos);  // debug line: no colour
    EXPECT_NE(text.find("] d\r\n"), std::string::npos);
}

TEST_F(Logging, gates_follow_the_level_table) {
    struct Case {
        unsigned level;
        bool err, warn, dbg;
    };
    const Case cases[] = {
        {0, false, false, false},
        {1, true, true, true},
        {2, true, true, false},
        {3, true, false, false},
    };
    for (const auto &c : cases) {
        std::string text = log_all(c.level);
        EXPECT_EQ(text.find("err 1") != std::string::npos, c.err) << "level " << c.level;
        EXPECT_EQ(text.find("warn 2") != std::string::npos, c.warn) << "level " << c.level;
        EXPECT_EQ(text.find("dbg 3") != std::string::npos, c.dbg) << "level " << c.level;
    }
}

TEST_F(Logging, level_zero_still_prints_errors_before_the_switch_is_up) {
    simSwitchSetInited(0);
    std::string text = log_all(0);
    EXPECT_NE(text.find("err 1"), std::string::npos);
    EXPECT_EQ(text.find("warn 2"), std::string::npos);
}

TEST_F(Logging, long_format_is_cut_at_255_characters) {
    debugFlagSet(kMid, 3);
    std::string long_msg(400, 'a');
    pc::test::CaptureStdout out;
    PFM_ERR(kMid, "%s", long_msg.c_str());
    PFM_ERR(kMid, "%s", (std::string(300, 'b')).c_str());
    std::string text = out.text();
    // Arguments are not cut, only the format: the 400 a's arrive whole.
    EXPECT_NE(text.find(long_msg), std::string::npos);
    // A format longer than the buffer loses its end, suffix included.
    pc::test::CaptureStdout out2;
    std::string fmt(300, 'c');
    pfmLogEmit(PFM_LOG_ERR, kMid, "f", 1, fmt.c_str());
    std::string text2 = out2.text();
    size_t prefix = std::string("\033[31;49m[<%s/%s>:<%s/%s()/%d>] ").size();
    EXPECT_EQ(text2.find(std::string(255 - prefix + 1, 'c')), std::string::npos);
    EXPECT_NE(text2.find(std::string(255 - prefix, 'c')), std::string::npos);
    EXPECT_EQ(text2.find("\033[0m"), std::string::npos);
}

TEST(DebugFlags, refusals_leave_levels_unchanged) {
    ASSERT_EQ(debugFlagInit(), 0);
    ASSERT_EQ(debugFlagSet(5, 2), 0);
    EXPECT_EQ(debugFlagSet(0, 1), -1);
    EXPECT_EQ(debugFlagSet(128, 1), -1);
    EXPECT_EQ(debugFlagSet(5, 4), -1);
    EXPECT_EQ(debugFlagGet(5), 2);
    EXPECT_EQ(debugFlagGet(0), 0);
    EXPECT_EQ(debugFlagGet(128), 0);
    // A second init keeps the levels in force.
    EXPECT_EQ(debugFlagInit(), 0);
    EXPECT_EQ(debugFlagGet(5), 2);
}

TEST(DebugPrintf, prints_only_for_valid_modules) {
    pc::test::CaptureStdout out;
    EXPECT_EQ(debugPrintf(0, "zero"), 0);
    EXPECT_EQ(debugPrintf(128, "big"), 0);
    EXPECT_EQ(debugPrintf(1, "ok %d", 5), 4);
    EXPECT_EQ(out.text(), "ok 5");
}

TEST(PlatformInit, refuses_a_process_without_a_valid_identifier) {
    for (int pid : {0, 64}) {
        simProcessSetPid(pid);
        simSwitchSetInited(1);
        pc::test::CaptureStdout out;
        EXPECT_EQ(platformInit(), -1);
        EXPECT_NE(out.text().find("Error: BASE_TH must be inited before platform service!"),
                  std::string::npos);
        EXPECT_EQ(isPfmInited(), 0);
    }
    simProcessSetPid(PID_CORE);
    simSwitchSetInited(0);
}

TEST(PlatformFlags, axconfig_load_flag_goes_to_one) {
    EXPECT_EQ(isPfmAxconfigLoadFinished(), 0u);
    setPfmAxConfigLoadFinished();
    EXPECT_EQ(isPfmAxconfigLoadFinished(), 1u);
}

}  // namespace
