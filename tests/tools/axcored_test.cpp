// The core process: starts the platform, serves, and stops cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "support/isolation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;

constexpr auto kStartLimit = 30s;  // for the core to come up

// Starts axcored (through the emulator on the target) with its output in `log`.
pid_t start_core(const std::string &log) {
    return pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axcored", {}, {}, log);
}

constexpr const char *kMsgMax = "/proc/sys/fs/mqueue/msg_max";

bool write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = std::fputs(text.c_str(), f) >= 0;
    return std::fclose(f) == 0 && ok;
}

TEST(Axcored, comes_up_and_stops_cleanly_on_each_stop_signal) {
    for (int sig : {SIGTERM, SIGINT}) {
        std::string log = "/tmp/axcored_" + std::to_string(sig) + ".log";
        pid_t pid = start_core(log);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(pc::test::wait_for_text(log, "platform is up", kStartLimit)) << read_file(log);
        kill(pid, sig);
        EXPECT_EQ(pc::test::wait_child_for(pid, 30000), 0) << read_file(log);
        EXPECT_NE(read_file(log).find("stopping"), std::string::npos);
    }
}

// A stock kernel allows ten items per queue (fs.mqueue.msg_max): the core
// still comes up, with shallower queues, says which limit held it back, and
// serves a command-line session.
TEST(Axcored, comes_up_under_the_default_queue_depth_limit_and_names_it) {
    if (!pc::test::isolated()) GTEST_SKIP() << "changes fs.mqueue.msg_max: needs its own IPC namespace";
    const std::string limit = read_file(kMsgMax);
    ASSERT_FALSE(limit.empty());
    ASSERT_TRUE(write_file(kMsgMax, "10"));
    const std::string log = "/tmp/axcored_msg_max.log";
    pid_t pid = start_core(log);
    ASSERT_GT(pid, 0);
    bool up = pc::test::wait_for_text(log, "platform is up", kStartLimit);
    int cli = -1;
    if (up) {
        pid_t axcli = pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axcli", {"show", "version"}, {},
                                              "/tmp/axcored_msg_max_cli.out");
        cli = pc::test::wait_child_for(axcli, 60000);
    }
    kill(pid, SIGTERM);
    int status = pc::test::wait_child_for(pid, 30000);
    write_file(kMsgMax, limit);
    const std::string text = read_file(log);
    EXPECT_TRUE(up) << text;
    EXPECT_NE(text.find("fs.mqueue.msg_max"), std::string::npos) << text;
    EXPECT_EQ(cli, 0) << read_file("/tmp/axcored_msg_max_cli.out");
    EXPECT_EQ(status, 0) << text;
}

}  // namespace
