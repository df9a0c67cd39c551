// A feature process outlives a restart of the core: killed with SIGKILL and
// started again, the core learns every kind of registration of the process
// again from the client libraries (packet registration, configuration
// printer, CLI command, notification subscription; its management
// functions answer again) without the process doing anything, and the
// process's own reconnect callback runs after them.
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

pid_t start_core(const std::string &log) {
    std::remove(log.c_str());
    pid_t core = pc::test::spawn_program(kTools + "/axcored", {}, {}, log);
    EXPECT_TRUE(pc::test::wait_for_text(log, "platform is up", 60s)) << read_file(log);
    return core;
}

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

TEST(CoreRestart, feature_process_registrations_come_back_by_themselves) {
    pid_t core = start_core("/tmp/core_restart_1.log");
    std::remove("/tmp/life_peer_ready");
    std::remove("/tmp/life_peer_reregistered");
    const std::string peer_log = "/tmp/core_restart_peer.log";
    pid_t peer = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/lifecycle_peer", {"41", "kept"},
                                         {}, peer_log);
    ASSERT_TRUE(wait_until([] { return access("/tmp/life_peer_ready", F_OK) == 0; }, 60s))
        << read_file(peer_log);
    expect_every_kind("before the restart");

    kill(core, SIGKILL);
    pc::test::wait_child(core);
    core = start_core("/tmp/core_restart_2.log");
    EXPECT_TRUE(wait_until([] { return access("/tmp/life_peer_reregistered", F_OK) == 0; }, 60s))
        << read_file(peer_log);
    expect_every_kind("after the restart");

    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
    kill(core, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(core, 30000), 0);
}

}  // namespace
