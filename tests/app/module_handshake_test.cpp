// The module loading handshake between the core process (this test
// program) and a module process (a forked child): both orders, a failing
// module init, and the table's range checks.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform_core/app.h"
#include "platform_core/axshm.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

using pc::test::fork_child;
using pc::test::wait_child_for;

constexpr int kModulePid = 9;
constexpr int kChildTimeoutMs = 60000;

// Each side's init writes its letter here, so the parent sees the order.
int g_order_pipe[2];

int core_init() { return write(g_order_pipe[1], "C", 1) == 1 ? 0 : -1; }
int module_init() { return write(g_order_pipe[1], "M", 1) == 1 ? 0 : -1; }
int failing_module_init() {
    (void)module_init();
    return -7;
}

class ModuleHandshake : public ::testing::Test {
protected:
    void SetUp() override {
        simProcessSetPid(1);
        ASSERT_EQ(axshm_init(), 0);
        ASSERT_EQ(mm_initation(), 0);
        ASSERT_EQ(pipe(g_order_pipe), 0);
    }
    void TearDown() override {
        close(g_order_pipe[0]);
        close(g_order_pipe[1]);
    }

    // Runs the module process's side in a child.
    static pid_t start_module_process(int mid, mm_init_fn init) {
        return fork_child([mid, init] {
            simProcessSetPid(kModulePid);
            return mm_load_plugin(mid, init, 0) == 0 ? 0 : 1;
        });
    }

    static std::string order() {
        char buf[4] = {};
        EXPECT_EQ(read(g_order_pipe[0], buf, 2), 2);
        return buf;
    }
};

TEST_F(ModuleHandshake, CoreDecidesWhichInitRunsFirst) {
    struct Case {
        int mid;
        int flag;
        const char *order;
    };
    for (const Case &c : {Case{20, 1, "CM"}, Case{21, 0, "MC"}}) {
        pid_t child = start_module_process(c.mid, module_init);
        EXPECT_EQ(mm_load_plugin(c.mid, core_init, c.flag), 0);
        EXPECT_EQ(wait_child_for(child, kChildTimeoutMs), 0);
        EXPECT_EQ(order(), c.order) << "flag " << c.flag;
        EXPECT_EQ(mm_getstat(c.mid), MM_STATE_LOAD_COMMIT);
    }
}

TEST_F(ModuleHandshake, FailingModuleInitStillCommits) {
    pc::test::CaptureStdout capture;
    pid_t child = start_module_process(22, failing_module_init);
    EXPECT_EQ(mm_load_plugin(22, core_init, 0), 0);  // returns: the module committed
    EXPECT_EQ(wait_child_for(child, kChildTimeoutMs), 0);
    EXPECT_EQ(order(), "MC");
    EXPECT_EQ(mm_getstat(22), MM_STATE_LOAD_COMMIT);
}

TEST_F(ModuleHandshake, FailingCoreInitIsReported) {
    pc::test::CaptureStdout capture;
    // Init first: the module process is never released to begin.
    EXPECT_EQ(mm_load_plugin(
                  23, [] { return -5; }, 1),
              -1);
    EXPECT_EQ(mm_getstat(23), -1);
}

TEST_F(ModuleHandshake, TableChecksModuleRange) {
    for (int mid : {0, 128, -1}) {
        EXPECT_EQ(mm_setstat(mid, MM_STATE_LOAD_BEGIN), -1) << mid;
        EXPECT_EQ(mm_getstat(mid), -1) << mid;
        EXPECT_EQ(mm_load_plugin(mid, core_init, 1), -1) << mid;
    }
    EXPECT_EQ(mm_getstat(127), -1);  // never written
    EXPECT_EQ(mm_setstat(127, 0x1234), 0);
    EXPECT_EQ(mm_getstat(127), 0x1234);
    EXPECT_EQ(mm_load_plugin(30, nullptr, 1), -1);
}

TEST_F(ModuleHandshake, ProcessesChangingDifferentModulesKeepEachOthersEntries) {
    constexpr int kRounds = 200;
    pid_t child = fork_child([] {
        for (int i = 0; i < kRounds; ++i) {
            if (mm_setstat(40, i) != 0) return 1;
        }
        return 0;
    });
    for (int i = 0; i < kRounds; ++i) ASSERT_EQ(mm_setstat(41, i), 0);
    EXPECT_EQ(wait_child_for(child, kChildTimeoutMs), 0);
    EXPECT_EQ(mm_getstat(40), kRounds - 1);
    EXPECT_EQ(mm_getstat(41), kRounds - 1);
}

}  // namespace
