// A feature process outlives a restart of the core: killed with SIGKILL and
// started again, the core learns every kind of registration of the process
// again from the client libraries (packet registration, configuration
// printer, CLI command, notification subscription; its management
// functions answer again) without the process doing anything, and the
// process's own reconnect callback runs after them. A subscription made
// while no core runs is reported as not sent and reaches the next core.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;
using pc::test::wait_until;

const std::string kTools = PC_TOOLS_DIR;

// One axcli command; its standard output.
std::string axcli(const std::vector<std::string> &args) {
    const std::string out = "/tmp/core_restart_axcli.out";
    for (int attempt = 0; attempt < 20; ++attempt) {
        pid_t pid = pc::test::spawn_program(kTools + "/axcli", args, {}, out);
        if (pc::test::wait_child_for(pid, 60000) == 0) break;
        std::this_thread::sleep_for(500ms);
    }
    return read_file(out);
}

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// One kind of registration and how a user sees it from the command line.
struct Kind {
    const char *name;
    std::vector<std::string> command;  // axcli's arguments
    const char *shows;                 // in its output, once
};

const Kind kKinds[] = {
    {"packet registration", {"show", "packet", "registry"}, "life_echo"},
    {"configuration printer", {"show", "running-config"}, "lifecycle peer kept"},
    {"CLI command", {"show", "life", "mark"}, "life mark kept"},
    {"CLI command in the list", {"help"}, "show life mark"},
    {"management function", {"execute", "lifeShowMark", "pid=41"}, "life mark kept"},
    {"notification subscription", {"execute", "lifeNotifyProbe", "pid=41"}, "notification delivered"},
};

// A subscription reaches the core as a message the process does not wait
// on, so it may come after the process says it is ready: each kind is
// asked again for a while until it shows.
void expect_every_kind(const char *when) {
    for (const Kind &k : kKinds) {
        std::string out;
        wait_until(
            [&] {
                out = axcli(k.command);
                return count(out, k.shows) == 1;
            },
            10s, 200ms);
        EXPECT_EQ(count(out, k.shows), 1u) << when << ": " << k.name << "\n" << out;
    }
}

// The core and the feature process of a test; whatever a failed test
// leaves running is killed, so the next test finds the hub's port free.
class CoreRestart : public ::testing::Test {
protected:
    void TearDown() override {
        for (pid_t *p : {&peer_, &core_}) {
            if (*p <= 0) continue;
            kill(*p, SIGKILL);
            pc::test::wait_child(*p);
            *p = -1;
        }
    }

    void start_core(const std::string &log) {
        std::remove(log.c_str());
        core_ = pc::test::spawn_program(kTools + "/axcored", {}, {}, log);
        EXPECT_TRUE(pc::test::wait_for_text(log, "platform is up", 60s)) << read_file(log);
    }
    void kill_core() {
        kill(core_, SIGKILL);
        pc::test::wait_child(core_);
        core_ = -1;
    }
    // The life-cycle peer as process 41, once it has registered everything.
    void start_peer(const std::string &mark) {
        for (const char *f : {kPeerReady, kPeerReregistered, kPeerLateSub}) std::remove(f);
        peer_ = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/lifecycle_peer", {"41", mark}, {},
                                        kPeerLog);
        ASSERT_TRUE(wait_until([] { return access(kPeerReady, F_OK) == 0; }, 60s)) << read_file(kPeerLog);
    }
    void expect_reregistered() {
        EXPECT_TRUE(wait_until([] { return access(kPeerReregistered, F_OK) == 0; }, 60s))
            << read_file(kPeerLog);
    }
    void stop_both() {
        kill(peer_, SIGKILL);
        pc::test::wait_child(peer_);
        peer_ = -1;
        kill(core_, SIGTERM);
        EXPECT_EQ(pc::test::wait_child_for(core_, 30000), 0);
        core_ = -1;
    }

    static constexpr const char *kPeerReady = "/tmp/life_peer_ready";
    static constexpr const char *kPeerReregistered = "/tmp/life_peer_reregistered";
    static constexpr const char *kPeerLateSub = "/tmp/life_peer_late_sub";
    static constexpr const char *kPeerLog = "/tmp/core_restart_peer.log";
    pid_t core_ = -1;
    pid_t peer_ = -1;
};

TEST_F(CoreRestart, feature_process_registrations_come_back_by_themselves) {
    start_core("/tmp/core_restart_1.log");
    ASSERT_NO_FATAL_FAILURE(start_peer("kept"));
    expect_every_kind("before the restart");

    kill_core();
    start_core("/tmp/core_restart_2.log");
    expect_reregistered();
    expect_every_kind("after the restart");
    stop_both();
}

// A subscription made while the core is gone cannot reach it: notify_reg
// says so, and the subscription still arrives once a core is back, sent
// again by the client library like every other.
TEST_F(CoreRestart, subscription_made_while_the_core_is_gone_fails_and_arrives_with_the_next_core) {
    start_core("/tmp/core_restart_3.log");
    ASSERT_NO_FATAL_FAILURE(start_peer("late"));

    kill_core();
    kill(peer_, SIGUSR1);  // the peer subscribes once it has seen the core go
    ASSERT_TRUE(wait_until([] { return !read_file(kPeerLateSub).empty(); }, 30s)) << read_file(kPeerLog);
    EXPECT_EQ(read_file(kPeerLateSub), "-1\n");

    start_core("/tmp/core_restart_4.log");
    expect_reregistered();
    std::string out;
    wait_until(
        [&] {
            out = axcli({"execute", "lifeNotifyProbe", "pid=41", "type=4"});
            return count(out, "notification delivered") == 1;
        },
        10s, 200ms);
    EXPECT_EQ(count(out, "notification delivered"), 1u) << out;
    stop_both();
}

}  // namespace
