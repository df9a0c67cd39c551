// The command-line client against the real core process: one-shot commands
// and their exit codes, scripts on standard input, several sessions at
// once, a process that does not answer, the interactive editor in a
// pseudo-terminal, and commands that a feature process registered.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pty_session.h"
#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;

const std::string kTools = PC_TOOLS_DIR;
const std::string kAxcli = kTools + "/axcli";

struct Result {
    int status;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Starts axcli with `args`; standard input from `input` when given,
// standard error to `err_path`.
pid_t start_axcli(const std::vector<std::string> &args, const std::string &input, const std::string &out_path,
                  const std::string &err_path) {
    int saved_in = -1, saved_err = dup(2);
    if (!input.empty()) {
        const std::string in = out_path + ".in";
        std::ofstream(in) << input;
        saved_in = dup(0);
        int fd = open(in.c_str(), O_RDONLY);
        dup2(fd, 0);
        close(fd);
    }
    int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    pid_t pid = pc::test::spawn_program(kAxcli, args, {}, out_path);
    dup2(saved_err, 2);
    close(saved_err);
    if (saved_in >= 0) {
        dup2(saved_in, 0);
        close(saved_in);
    }
    return pid;
}

Result axcli_once(const std::vector<std::string> &args, const std::string &input) {
    static int n = 0;
    const std::string out = "/tmp/axcli_" + std::to_string(++n) + ".out";
    pid_t pid = start_axcli(args, input, out, out + ".err");
    int status = pc::test::wait_child_for(pid, 120000);
    return {status, read_file(out), read_file(out + ".err")};
}

// With the core running, status 3 with "RPC message queues" means the
// client could not get its queues (a per-user kernel budget shared with
// every program on the machine): it is started again after a pause.
Result axcli(const std::vector<std::string> &args, const std::string &input = {}) {
    Result r = axcli_once(args, input);
    for (int attempt = 0;
         attempt < 30 && r.status == 3 && r.err.find("RPC message queues") != std::string::npos; ++attempt) {
        std::this_thread::sleep_for(500ms);
        r = axcli_once(args, input);
    }
    return r;
}

bool has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

class Axcli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        core_ = pc::test::spawn_program(kTools + "/axcored", {}, {}, "/tmp/axcli_core.log");
        ASSERT_TRUE(pc::test::wait_for_text("/tmp/axcli_core.log", "platform is up", 60s))
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
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("!", 0), 0u) << "the device line comes first\n" << r.out;
    EXPECT_TRUE(has(r.out, "interface gigabitEthernet 1/0/1\n#\n")) << r.out;
    EXPECT_EQ(axcli({"sh", "run"}).out, r.out) << "abbreviated words; the same text twice";

    struct {
        std::vector<std::string> args;
        int status;
    } const kCases[] = {
        {{"execute", "no_such_function"}, 1},
        {{"execute", "imi_cli_axConfigShowRunCfg", "pid=1"}, 0},
        {{"execute", "x", "novalue"}, 2},
        {{"execute", "x", "pid=abc"}, 2},
        {{"execute", "x", "pid=1x"}, 2},
        {{"execute", "x", "pid=64"}, 2},
        {{"execute", std::string(64, 'f')}, 2},
        {{"frobnicate"}, 2},
        {{"show"}, 2},
        {{"show", "version", "extra"}, 2},
        {{"show", "interfaces", "Gi1/0/1-3"}, 0},
        {{"show", "interfaces", "Gi9/9/9"}, 2},
        {{"debug", "nosuchmodule", "1"}, 2},
        {{"debug", "config", "1x"}, 2},
        {{"flood-defend", "add", "70000-80000"}, 2},
        {{"--pid", "1", "show", "running-config"}, 2},
        {{"--pid", "30x", "show", "running-config"}, 2},
        {{"--pid"}, 2},
        {{"--target", "0", "show", "version"}, 2},
        {{"--timeout", "5s", "show", "version"}, 2},
        {{"--frobnicate"}, 2},
        {{"--help"}, 0},
    };
    for (const auto &c : kCases) {
        r = axcli(c.args);
        std::string line;
        for (const auto &a : c.args) line += a.substr(0, 20) + " ";
        EXPECT_EQ(r.status, c.status) << line << "\n" << r.out << r.err;
        // A user's mistake is told in one line of the client's own.
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << line << "\n" << r.err;
        }
    }
    r = axcli({"--help"});
    for (const char *word : {"--timeout", "show interfaces status", "Exit status", "5 the session"})
        EXPECT_TRUE(has(r.out, word)) << word << "\n" << r.out;
}

TEST_F(Axcli, library_logs_never_mix_with_command_output) {
    // The management interface's debug lines are on in every process.
    ASSERT_EQ(axcli({"debug", "aximi", "1"}).status, 0);
    Result quiet = axcli({"show", "version"});
    Result verbose = axcli({"--verbose", "show", "version"});
    EXPECT_EQ(axcli({"debug", "aximi", "3"}).status, 0);

    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out.rfind("Device:", 0), 0u) << quiet.out;
    EXPECT_EQ(quiet.out, verbose.out);
    EXPECT_EQ(quiet.out.find('\033'), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.err, "") << "logs are off without --verbose";
    EXPECT_TRUE(has(verbose.err, "Execute local function")) << verbose.err;
    EXPECT_EQ(verbose.err.find('\033'), std::string::npos) << "no colour into a file\n" << verbose.err;
}

TEST_F(Axcli, debug_switch_is_set_for_every_process) {
    EXPECT_EQ(axcli({"debug", "config", "2"}).status, 0);
    Result r = axcli({"show", "debug", "16"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, " 16 config           2")) << r.out;
    EXPECT_EQ(axcli({"debug", "16", "3"}).status, 0);
}

TEST_F(Axcli, packet_listings_and_flood_defence_run_in_the_core) {
    Result r = axcli({"show", "packet", "registry"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "RuleTable UDP_V4:\n")) << r.out;
    r = axcli({"show", "packet", "statistics"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "axpacket receive packets: ")) << r.out;

    EXPECT_EQ(axcli({"flood-defend", "add", "5000-6000"}).status, 0);
    r = axcli({"flood-defend", "add", "6000-5000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "Input error,dport of end must greater or equal to start.")) << r.out;
    r = axcli({"show", "flood-defend"});
    EXPECT_TRUE(has(r.out, "1         5000                6000\n")) << r.out;
    r = axcli({"show", "running-config"});
    EXPECT_TRUE(has(r.out, "\n ip cpu-defend tcp-udp-flood dport 5000-6000\n")) << r.out;

    EXPECT_EQ(axcli({"flood-defend", "delete", "5000-6000"}).status, 0);
    r = axcli({"show", "running-config"});
    EXPECT_FALSE(has(r.out, "tcp-udp-flood")) << r.out;
}

TEST_F(Axcli, interfaces_and_version_come_from_the_core) {
    Result r = axcli({"show", "interfaces", "status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Port       Link  Speed  VLAN\n", 0), 0u) << r.out;
    EXPECT_TRUE(has(r.out, "\nGi1/0/1    up    1000M  1\n")) << r.out;
    EXPECT_TRUE(has(r.out, "\nTe1/0/25   up    10G    1\n")) << r.out;

    r = axcli({"sh", "int", "Gi1/0/2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "gigabitEthernet 1/0/2\n  link up, speed 1000M, VLAN 1\n"
              "  input:  0 octets, 0 unicast, 0 broadcast packets\n"
              "  output: 0 octets, 0 unicast, 0 broadcast packets\n");

    r = axcli({"show", "version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Device:           S2628-24G4X\n")) << r.out;
    EXPECT_TRUE(has(r.out, "\nStart-up image:   ")) << r.out;
}

TEST_F(Axcli, a_process_that_does_not_answer_ends_the_command_at_the_deadline) {
    const auto from = std::chrono::steady_clock::now();
    Result r = axcli({"--timeout", "1500", "--target", "12", "show", "flood-defend"});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_TRUE(has(r.err, "process 12")) << r.err;
    r = axcli({"--timeout", "1500", "execute", "cliTcpUdpFloodDefendShow", "pid=45"});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_TRUE(has(r.err, "process 45")) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - from, 60s);
    // The core still serves the next client.
    EXPECT_EQ(axcli({"show", "version"}).status, 0);
}

TEST_F(Axcli, script_lines_of_any_length_run_as_one_command_each) {
    const std::string long_line = "show interfaces" + std::string(3000, ' ') + "Gi1/0/3\n";
    Result r = axcli(
        {}, "help\n" + long_line + "show running-config\nexecute no_such_function\nquit\nshow version\n");
    EXPECT_EQ(r.status, 1) << "the status of the last command\n" << r.err;
    EXPECT_TRUE(has(r.out, "show running-config")) << "help lists the commands";
    EXPECT_TRUE(has(r.out, "gigabitEthernet 1/0/3\n")) << r.out;
    EXPECT_FALSE(has(r.out, "gigabitEthernet 1/0/2\n  link")) << "the long line ran whole";
    EXPECT_FALSE(has(r.err, "unknown command")) << r.err;
    EXPECT_TRUE(has(r.out, "interface gigabitEthernet 1/0/1\n"));
    EXPECT_FALSE(has(r.out, "Device:")) << "nothing runs after quit";

    r = axcli({}, "show lldp ?\nsh ?\n");
    EXPECT_TRUE(has(r.out, "  running-config  the running configuration\n")) << r.out;
}

TEST_F(Axcli, several_sessions_at_once_each_take_a_free_id) {
    PC_SKIP_UNDER_EMULATOR("the interactive session needs the host's line editor");
    pc::test::PtySession first(kAxcli, {});
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(first.expect("axcli> ")) << first.screen();

    Result r = axcli({"show", "version"});
    EXPECT_EQ(r.status, 0) << "a second client beside an open session\n" << r.err;
    r = axcli({"--pid", "30", "show", "version"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_TRUE(has(r.err, "process id 30 is taken")) << r.err;
    EXPECT_TRUE(has(r.err, "free session ids: 31, 32")) << r.err;
    EXPECT_FALSE(has(r.err, "not reachable")) << r.err;

    // One-shot clients started together all run.
    std::vector<pid_t> clients;
    for (int i = 0; i < 4; ++i) {
        const std::string out = "/tmp/axcli_together_" + std::to_string(i);
        clients.push_back(start_axcli({"show", "running-config"}, {}, out, out + ".err"));
    }
    for (int i = 0; i < 4; ++i) {
        const std::string out = "/tmp/axcli_together_" + std::to_string(i);
        const int status = pc::test::wait_child_for(clients[i], 60000);
        if (status == 3 && has(read_file(out + ".err"), "RPC message queues"))
            continue;  // the machine's budget
        EXPECT_EQ(status, 0) << read_file(out + ".err");
        EXPECT_TRUE(has(read_file(out), "interface gigabitEthernet 1/0/1\n")) << i;
    }
    first.send("quit\r");
    EXPECT_EQ(first.wait_exit(15000), 0);
}

TEST_F(Axcli, ctrl_c_drops_the_line_and_ctrl_d_ends_the_session) {
    PC_SKIP_UNDER_EMULATOR("the interactive session needs the host's line editor");
    pc::test::PtySession s(kAxcli, {});
    ASSERT_TRUE(s.expect("axcli> ")) << s.screen();
    // The editor owns the terminal once its prompt shows: a key typed at
    // once is the editor's (a Ctrl-D in line mode would reach it as a NUL).
    EXPECT_FALSE(s.line_mode()) << "the first prompt";
    s.send("show runn");
    s.send("\x03");
    ASSERT_TRUE(s.expect("axcli> ")) << "a new prompt after Ctrl-C\n" << s.screen();
    s.send("show version\r");
    EXPECT_TRUE(s.expect("Device:")) << "the dropped text is not part of the line\n" << s.screen();
    ASSERT_TRUE(s.expect("axcli> "));
    EXPECT_FALSE(s.line_mode()) << "the prompt after a command";
    s.send("\x04");
    EXPECT_EQ(s.wait_exit(15000), 0) << s.screen();
}

TEST_F(Axcli, tab_and_question_mark_list_what_may_follow_and_redraw_the_line) {
    PC_SKIP_UNDER_EMULATOR("the interactive session needs the host's line editor");
    pc::test::PtySession s(kAxcli, {});
    ASSERT_TRUE(s.expect("axcli> ")) << s.screen();
    s.send("show pa\t");
    ASSERT_TRUE(s.expect("packet ")) << "one choice completes\n" << s.screen();
    s.send("\t");
    ASSERT_TRUE(s.expect("registry")) << s.screen();
    ASSERT_TRUE(s.expect("statistics")) << s.screen();
    EXPECT_TRUE(s.expect("axcli> show packet ")) << "the prompt and the typed text again\n" << s.screen();
    s.send("st\t\r");
    EXPECT_TRUE(s.expect("axpacket receive packets: ")) << s.screen();
    ASSERT_TRUE(s.expect("axcli> "));

    s.send("sh int?");
    EXPECT_TRUE(s.expect("interfaces  ports: link, speed, VLAN and counters")) << s.screen();
    EXPECT_TRUE(s.expect("axcli> sh int")) << s.screen();
    s.send(" ?");
    EXPECT_TRUE(s.expect("status")) << s.screen();
    EXPECT_TRUE(s.expect("<cr>")) << s.screen();
    EXPECT_TRUE(s.expect("axcli> sh int ")) << s.screen();
    s.send("\x03show interfaces Gi1/0/\t");
    EXPECT_TRUE(s.expect("<1-24>  GigabitEthernet")) << "the port model's help\n" << s.screen();
    EXPECT_TRUE(s.expect("axcli> show interfaces Gi1/0/")) << s.screen();
    s.send("\x03quit\r");
    EXPECT_EQ(s.wait_exit(15000), 0) << s.screen();
}

TEST_F(Axcli, feature_process_commands_are_first_class) {
    // A session that starts before the feature process and outlives it
    // (the host's line editor; not under the emulator).
    std::unique_ptr<pc::test::PtySession> session;
    if (!pc::test::under_emulator()) {
        session = std::make_unique<pc::test::PtySession>(kAxcli, std::vector<std::string>{});
        ASSERT_TRUE(session->expect("axcli> ")) << session->screen();
    }
    const std::string log = "/tmp/axcli_feature.log";
    pid_t peer = pc::test::start_helper_until_ready("cli_feature_peer", {"40"}, log, "peer ready");
    ASSERT_GT(peer, 0) << read_file(log);
    if (session) {
        session->send("show lldp neighbors\r");
        EXPECT_TRUE(session->expect("arguments: ''")) << "a process that came after the session\n"
                                                      << session->screen();
        ASSERT_TRUE(session->expect("axcli> ")) << session->screen();
    }

    Result r = axcli({"show", "lldp", "neighbors", "Gi1/0/1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "1/0/1    peer-switch   1/0/24\n")) << r.out;
    EXPECT_TRUE(has(r.out, "arguments: 'Gi1/0/1'")) << r.out;
    r = axcli({"sh", "ll", "n"});
    EXPECT_TRUE(has(r.out, "arguments: ''")) << r.out << r.err;
    r = axcli({"show", "lldp", "?"});
    EXPECT_TRUE(has(r.out, "neighbors  LLDP neighbours seen on each port\n")) << r.out;
    r = axcli({"help"});
    EXPECT_TRUE(has(r.out, "show lldp neighbors [PORTS]")) << r.out;

    r = axcli({"--timeout", "1500", "show", "lldp", "stuck"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_TRUE(has(r.err, "process 40")) << r.err;

    // Gone, the process takes its commands with it: once the core has seen
    // it go, the command is unknown, in a new client and in the session.
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
    pc::test::wait_until(
        [&] {
            r = axcli({"show", "lldp", "neighbors"});
            return r.status != 4;  // 4: listed still, the hub has not yet seen the end of its connection
        },
        10s, 100ms);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(has(r.err, "axcli: unknown command 'show lldp neighbors' (try help or ?)\n")) << r.err;
    r = axcli({"help"});
    EXPECT_FALSE(has(r.out, "lldp")) << r.out;
    if (session) {
        session->send("show lldp neighbors\r");
        EXPECT_TRUE(session->expect("unknown command 'show lldp neighbors'")) << session->screen();
        ASSERT_TRUE(session->expect("axcli> ")) << session->screen();
        session->send("quit\r");
        EXPECT_EQ(session->wait_exit(15000), 2) << "the status of the last command\n" << session->screen();
    }
}

TEST(AxcliAlone, unreachable_core_is_reported) {
    const std::string out = "/tmp/axcli_alone.out";
    pid_t pid = start_axcli({"--timeout", "200", "show", "running-config"}, {}, out, out + ".err");
    EXPECT_EQ(pc::test::wait_child_for(pid, 60000), 3) << read_file(out + ".err");
    EXPECT_TRUE(has(read_file(out + ".err"), "not reachable")) << read_file(out + ".err");
}

}  // namespace
