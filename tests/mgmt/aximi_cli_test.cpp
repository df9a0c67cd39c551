// CLI commands of feature processes: a real feature process registers its
// commands with this process (acting as the core), the table names the
// process the hub says registered them, and what is refused leaves the
// table as it was.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/aximi.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;

struct Listed {
    int pid;
    std::string words, synopsis, help, func;
};

std::vector<Listed> list_commands() {
    std::vector<Listed> out;
    axImiCliList(
        [](void *arg, int pid, const char *words, const char *synopsis, const char *help, const char *func) {
            static_cast<std::vector<Listed> *>(arg)->push_back({pid, words, synopsis, help, func});
            return 0;
        },
        &out, 5);
    return out;
}

const Listed *find(const std::vector<Listed> &all, const std::string &words) {
    for (const Listed &l : all)
        if (l.words == words) return &l;
    return nullptr;
}

// Starts the feature process as `pid`; waits for its commands.
pid_t start_peer(const std::string &pid, const std::string &log) {
    return pc::test::start_helper_until_ready("cli_feature_peer", {pid}, log, "peer ready");
}

int local_show(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) { return 0; }

class CliCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axshm_init(), 0);
        ASSERT_EQ(debugFlagInit(), 0);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axrpcInit(), 0);
        ASSERT_EQ(axImiInit(), 0);
    }
};

TEST_F(CliCommands, feature_process_registers_and_the_table_names_it) {
    const std::string log = "/tmp/cli_feature_peer.log";
    pid_t peer = start_peer("40", log);
    ASSERT_GT(peer, 0) << read_file(log);
    std::vector<Listed> all = list_commands();
    const Listed *n = find(all, "show lldp neighbors");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->pid, 40);
    EXPECT_EQ(n->synopsis, "[PORTS]");
    EXPECT_EQ(n->help, "LLDP neighbours seen on each port");
    EXPECT_EQ(n->func, "lldpCliShowNeighbors");

    // Only the registrant removes its command.
    EXPECT_EQ(axImiCliUnregister("show lldp neighbors", nullptr), -1);
    EXPECT_NE(find(list_commands(), "show lldp neighbors"), nullptr);

    // A killed process's command goes with it once the core has taken the
    // hang-up; a restarted process registers again and is listed once.
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
    EXPECT_TRUE(
        pc::test::wait_until([] { return find(list_commands(), "show lldp neighbors") == nullptr; }, 3s))
        << "still listed 3 s after its process died";
    std::remove(log.c_str());
    peer = start_peer("41", log);
    ASSERT_GT(peer, 0) << read_file(log);
    all = list_commands();
    size_t copies = 0;
    for (const Listed &l : all) copies += l.words == "show lldp neighbors" ? 1 : 0;
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(find(all, "show lldp neighbors")->pid, 41);
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
}

TEST_F(CliCommands, malformed_commands_are_refused) {
    const size_t before = list_commands().size();
    const std::string long_words(AXIMI_CLI_WORDS_MAX + 1, 'w');
    const std::string long_help(AXIMI_CLI_HELP_MAX + 1, 'h');
    const AXIMI_CLI_CMD_T kBad[] = {
        {"", nullptr, "h", "f"},
        {"show  two", nullptr, "h", "f"},
        {" show", nullptr, "h", "f"},
        {"show ", nullptr, "h", "f"},
        {"show bad?", nullptr, "h", "f"},
        {"show\tx", nullptr, "h", "f"},
        {"a b c d e f g h i", nullptr, "h", "f"},
        {long_words.c_str(), nullptr, "h", "f"},
        {"show x", nullptr, long_help.c_str(), "f"},
        {"show x", nullptr, "line\nbreak", "f"},
        {"show x", nullptr, "h", nullptr},
        {nullptr, nullptr, "h", "f"},
    };
    for (const AXIMI_CLI_CMD_T &cmd : kBad)
        EXPECT_EQ(axImiCliRegister(&cmd, local_show), -1) << (cmd.words ? cmd.words : "(null)");
    EXPECT_EQ(list_commands().size(), before);
    // A refused command leaves no management function behind.
    EXPECT_EQ(axImiUnregisterFunc("f"), -1);

    const AXIMI_CLI_CMD_T good = {"show local thing", nullptr, "one line", "localShowThing"};
    ASSERT_EQ(axImiCliRegister(&good, local_show), 0);
    const std::vector<Listed> listed = list_commands();
    const Listed *l = find(listed, "show local thing");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->pid, PID_CORE);
    EXPECT_EQ(axImiCliUnregister("show local thing", "localShowThing"), 0);
    EXPECT_EQ(find(list_commands(), "show local thing"), nullptr);
}

}  // namespace
