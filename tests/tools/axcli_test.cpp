// The command-line client against the real core process: one-shot commands
// and their exit codes, an interactive session read from standard input,
// and a core that is not there.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;

const std::string kTools = PC_TOOLS_DIR;

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int status;
    std::string out;
};

// Runs axcli once with `args`; standard input from `input` when given.
Result axcli_once(const std::vector<std::string> &args, const std::string &input) {
    static int n = 0;
    const std::string out = "/tmp/axcli_" + std::to_string(++n) + ".out";
    int saved = -1;
    if (!input.empty()) {
        const std::string in = out + ".in";
        std::ofstream(in) << input;
        saved = dup(0);
        int fd = open(in.c_str(), O_RDONLY);
        dup2(fd, 0);
        close(fd);
    }
    pid_t pid = pc::test::spawn_program(kTools + "/axcli", args, {}, out);
    if (saved >= 0) {
        dup2(saved, 0);
        close(saved);
    }
    int status = pc::test::wait_child_for(pid, 120000);
    return {status, read_file(out)};
}

// With the core running, status 3 means the client could not get its RPC
// message queues (a per-user kernel budget shared with every program on
// the machine): it is started again after a pause.
Result axcli(const std::vector<std::string> &args, const std::string &input = {}) {
    Result r = axcli_once(args, input);
    for (int attempt = 0; attempt < 30 && r.status == 3; ++attempt) {
        std::this_thread::sleep_for(500ms);
        r = axcli_once(args, input);
    }
    return r;
}

class Axcli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        core_ = pc::test::spawn_program(kTools + "/axcored", {}, {}, "/tmp/axcli_core.log");
        for (int i = 0;
             i < 1200 && read_file("/tmp/axcli_core.log").find("platform is up") == std::string::npos; ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_NE(read_file("/tmp/axcli_core.log").find("platform is up"), std::string::npos)
            << read_file("/tmp/axcli_core.log");
    }
    static void TearDownTestSuite() {
        if (core_ > 0) {
            kill(core_, SIGTERM);
            pc::test::wait_child_for(core_, 30000);
        }
    }
    static pid_t core_;
};
pid_t Axcli::core_ = -1;

TEST_F(Axcli, one_shot_commands_answer_with_their_exit_status) {
    Result r = axcli({"show", "running-config"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.out.rfind("!", 0) == 0 || r.out.find("\n!") != std::string::npos) << "device line\n"
                                                                                    << r.out;
    EXPECT_NE(r.out.find("interface gigabitEthernet 1/0/1\r\n#\r\n"), std::string::npos) << r.out;

    r = axcli({"sh", "run"});
    EXPECT_EQ(r.status, 0) << "abbreviated words";

    struct {
        std::vector<std::string> args;
        int status;
    } const kCases[] = {
        {{"execute", "no_such_function"}, 1},
        {{"execute", "imi_cli_axConfigShowRunCfg", "pid=1"}, 0},
        {{"execute", "x", "novalue"}, 2},
        {{"frobnicate"}, 2},
        {{"show", "interface", "Gi1/0/1-3,Po2"}, 0},
        {{"show", "interface", "Gi9/9/9"}, 1},
        {{"debug", "nosuchmodule", "1"}, 2},
        {{"--pid", "1", "show", "running-config"}, 2},
    };
    for (const auto &c : kCases) {
        r = axcli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << "\n"
                                      << r.out;
    }
}

TEST_F(Axcli, debug_switch_is_set_for_every_process) {
    EXPECT_EQ(axcli({"debug", "config", "2"}).status, 0);
    Result r = axcli({"show", "debug", "16"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(" 16 config           2"), std::string::npos) << r.out;
    EXPECT_EQ(axcli({"debug", "16", "3"}).status, 0);
}

TEST_F(Axcli, packet_listings_and_flood_defence_run_in_the_core) {
    Result r = axcli({"show", "packet", "registry"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("RuleTable UDP_V4:\n"), std::string::npos) << r.out;
    r = axcli({"show", "packet", "statistics"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("axpacket receive packets: "), std::string::npos) << r.out;

    EXPECT_EQ(axcli({"flood-defend", "add", "5000-6000"}).status, 0);
    r = axcli({"flood-defend", "add", "6000-5000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Input error,dport of end must greater or equal to start."), std::string::npos)
        << r.out;
    r = axcli({"show", "flood-defend"});
    EXPECT_NE(r.out.find("1         5000                6000\r\n"), std::string::npos) << r.out;
    r = axcli({"show", "running-config"});
    EXPECT_NE(r.out.find("\n ip cpu-defend tcp-udp-flood dport 5000-6000\r\n"), std::string::npos) << r.out;

    EXPECT_EQ(axcli({"flood-defend", "delete", "5000-6000"}).status, 0);
    r = axcli({"show", "running-config"});
    EXPECT_EQ(r.out.find("tcp-udp-flood"), std::string::npos) << r.out;
}

TEST_F(Axcli, interactive_session_reads_commands_until_quit) {
    Result r = axcli({"--pid", "31"},
                     "help\nshow running-config\nexecute no_such_function\nquit\nshow running-config\n");
    EXPECT_EQ(r.status, 1) << "the status of the last command\n" << r.out;
    EXPECT_NE(r.out.find("show running-config"), std::string::npos) << "help lists the commands";
    size_t first = r.out.find("interface gigabitEthernet 1/0/1\r\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(r.out.find("interface gigabitEthernet 1/0/1\r\n", first + 1), std::string::npos)
        << "nothing runs after quit";
}

TEST(AxcliAlone, unreachable_core_is_reported) {
    const std::string out = "/tmp/axcli_alone.out";
    pid_t pid =
        pc::test::spawn_program(kTools + "/axcli", {"--timeout", "200", "show", "running-config"}, {}, out);
    EXPECT_EQ(pc::test::wait_child_for(pid, 60000), 3) << read_file(out);
}

}  // namespace
