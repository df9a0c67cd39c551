// The core process keeps serving however its management sessions end: CLI
// sessions (the real axcli) killed while the core prints to them, and a
// user interface that stops taking output while many of its commands run.
// Each holds a core RPC worker only as long as the session lives, and the
// core answers a new command meanwhile.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using pc::test::read_file;
using pc::test::wait_for_text;

const std::string kTools = PC_TOOLS_DIR;
const std::string kHelpers = PC_TEST_HELPER_DIR;
constexpr int kKilledSessions = 40;

class CoreUnderSessions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        core_ = pc::test::spawn_program(kTools + "/axcored", {}, {}, "/tmp/axcli_kill_core.log");
        ASSERT_TRUE(wait_for_text("/tmp/axcli_kill_core.log", "platform is up", 60s))
            << read_file("/tmp/axcli_kill_core.log");
    }
    static void TearDownTestSuite() {
        if (core_ > 0) {
            kill(core_, SIGTERM);
            pc::test::wait_child_for(core_, 30000);
        }
    }

    // Runs `axcli show running-config`; its status (-1 when it took longer
    // than `limit`) and output.
    static int show_running_config(std::string &out, int limit_ms = 60000) {
        static int n = 0;
        const std::string path = "/tmp/axcli_kill_show_" + std::to_string(++n) + ".out";
        pid_t cli = pc::test::spawn_program(kTools + "/axcli", {"show", "running-config"}, {}, path);
        int status = pc::test::wait_child_for(cli, limit_ms);
        out = read_file(path);
        return status;
    }

    static pid_t core_;
};
pid_t CoreUnderSessions::core_ = -1;

// The way it was found: a session killed while the core prints to it used
// to hold a core worker for good; after 32 such kills no command answered.
TEST_F(CoreUnderSessions, sessions_killed_mid_print_leave_the_core_serving) {
    int killed_mid_print = 0;
    for (int i = 0; i < kKilledSessions; ++i) {
        // A terminal: the session writes its output line by line.
        int master = -1, slave = -1;
        char tty[64] = {};
        ASSERT_EQ(openpty(&master, &slave, tty, nullptr, nullptr), 0);
        pid_t cli = pc::test::spawn_program(kTools + "/axcli", {"show", "running-config"}, {}, tty);
        // Once the first lines are out, the terminal stops taking output
        // (the core's next print waits on it), and the session is killed.
        std::string seen;
        for (auto end = Clock::now() + 30s; Clock::now() < end && seen.find('\n') == std::string::npos;) {
            pollfd p{master, POLLIN, 0};
            char buf[512];
            if (poll(&p, 1, 100) == 1) {
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0) break;
                seen.append(buf, static_cast<size_t>(n));
            }
        }
        kill(cli, SIGSTOP);
        if (seen.find("ten-gigabitEthernet 1/0/28") == std::string::npos) ++killed_mid_print;
        kill(cli, SIGKILL);
        pc::test::wait_child(cli);
        close(master);
        close(slave);
    }
    EXPECT_GE(killed_mid_print, kKilledSessions / 2) << "most sessions died inside the listing";

    const auto start = Clock::now();
    std::string out;
    EXPECT_EQ(show_running_config(out), 0) << out;
    EXPECT_NE(out.find("interface gigabitEthernet 1/0/1"), std::string::npos) << out;
    EXPECT_LT(Clock::now() - start, 20s);
}

// A user interface that takes no output while 40 of its commands print:
// every one of them holds a core worker in a print, and the core still
// answers another session at once. When that interface goes, its workers
// are let go at once (no print waits out its limit).
TEST_F(CoreUnderSessions, workers_waiting_on_a_stalled_interface_leave_room_for_others) {
    const std::string log = "/tmp/axcli_kill_stalled.log";
    pid_t ui = pc::test::spawn_program(kHelpers + "/imi_stalled_ui", {"45", "40"}, {}, log);
    // The interface holds every print it can before the core is asked.
    ASSERT_TRUE(wait_for_text(log, "all stalled", 30s)) << read_file(log);

    auto start = Clock::now();
    std::string out;
    EXPECT_EQ(show_running_config(out), 0) << out;
    EXPECT_LT(Clock::now() - start, 15s) << "well inside a print's 30 s limit";

    kill(ui, SIGKILL);
    pc::test::wait_child(ui);
    start = Clock::now();
    EXPECT_EQ(show_running_config(out), 0) << out;
    EXPECT_LT(Clock::now() - start, 15s);
}

}  // namespace
