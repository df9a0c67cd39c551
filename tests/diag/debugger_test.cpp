// The in-process debugger: crash reports of a child that faults, the
// command segment and the commands a process runs on SIGUSR2, and the
// debugging tool against a live process (breakpoints and memory through
// ptrace, which the emulator does not offer).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform_core/diag.h"
#include "platform_core/pal.h"
#include "support/capture_stdout.h"
#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using pc::test::read_file;

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Polls `path` until it holds `part` (or about `seconds` pass).
std::string wait_for_text(const std::string &path, const std::string &part, int seconds = 60) {
    std::string text;
    pc::test::wait_until(
        [&] {
            text = read_file(path);
            return contains(text, part);
        },
        std::chrono::seconds(seconds), std::chrono::milliseconds(20));
    return text;
}

// A child with standard output in `path` that runs `body` after starting
// the debugger.
pid_t debugged_child(const std::string &path, const std::function<void()> &body) {
    return pc::test::fork_child([path, body] {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        close(fd);
        if (dk_initation() != 0) return 3;
        printf("debugger on\n");
        fflush(stdout);
        body();
        return 0;
    });
}

void stop_child(pid_t pid) {
    kill(pid, SIGKILL);
    pc::test::wait_child(pid);
}

volatile int g_never_depth = -1;  // keeps the recursion below unbounded

__attribute__((noinline)) int recurse_for_ever(int depth) {
    if (depth == g_never_depth) return 0;
    volatile char pad[256];
    pad[0] = static_cast<char>(depth);
    return recurse_for_ever(depth + 1) + pad[0];
}

void overflow_thread(void *) { recurse_for_ever(0); }

TEST(Debugger, CrashReportOfAFaultingChild) {
    struct Case {
        const char *what;
        std::function<void()> fault;
        const char *signal_line;
        const char *thread;
        bool overflow;
    };
    const Case cases[] = {
        {"write to a forbidden page",
         [] {
             prctl(PR_SET_NAME, "crasher", 0, 0, 0);
             // A page that may not be touched (not a null pointer, which the
             // sanitizers stop at before it faults).
             auto *p = static_cast<volatile int *>(
                 mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
             *p = 1;
         },
         "Signal <SIGSEGV> is caught.\n", "thread name: crasher\n", false},
        {"abort",
         [] {
             prctl(PR_SET_NAME, "aborter", 0, 0, 0);
             abort();
         },
         "Signal <SIGABRT> is caught.\n", "thread name: aborter\n", false},
        {"stack overflow in a library thread",
         [] {
             pal_thread_create("deep_diver", 0, 40, overflow_thread, nullptr);
             for (;;) pause();
         },
         "Signal <SIGSEGV> is caught.\n", "thread name: deep_diver\n", true},
    };
    int n = 0;
    for (const Case &c : cases) {
        std::string out = "/tmp/crash_report" + std::to_string(n++) + ".txt";
        pid_t child = debugged_child(out, c.fault);
        std::string text = wait_for_text(out, c.thread);
        // The faulting thread sleeps; the process is still there to inspect.
        EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << c.what;
        stop_child(child);
        EXPECT_TRUE(contains(text, c.signal_line)) << c.what << "\n" << text;
        EXPECT_EQ(contains(text, "Possibly caused by stack overflow.\n"), c.overflow) << c.what << "\n"
                                                                                      << text;
        for (const char *part :
             {"pc 0x", "process name:[", "segmentation fault trace:\n", "si_signo = ", "regedits info:\n",
              "Stack information:\r\n", "Memory map:\n\n", "[stack]", c.thread}) {
            EXPECT_TRUE(contains(text, part)) << c.what << ": " << part << "\n" << text;
        }
    }
}

// A function of this program that the dynamic loader does not know (not
// exported): only the program's own symbol table has it.
extern "C" {
__attribute__((noinline, used)) static int dk_test_own_function(void) { return 1234; }
}

TEST(Debugger, SymbolsOfTheProgramItselfAreFound) {
    const auto addr = reinterpret_cast<uintptr_t>(&dk_test_own_function);
    char addr_text[32];
    snprintf(addr_text, sizeof addr_text, "0x%lx", static_cast<unsigned long>(addr + 2));
    char expect_at[64];
    snprintf(expect_at, sizeof expect_at, "symbol dk_test_own_function at 0x%08lx\n",
             static_cast<unsigned long>(addr));
    struct Case {
        std::function<int()> run;
        std::string expect;
    };
    const Case cases[] = {
        {[] { return dk_getSymbol("dk_test_own_function"); }, expect_at},
        {[] { return dk_callfunc("dk_test_own_function()"); }, "call dk_test_own_function return 1234\n"},
        {[&] { return dk_addrsym(addr_text); }, std::string(addr_text) + ": dk_test_own_function+0x2 in /"},
        {[] { return dk_lnitso(); }, "objects loaded, symbol tables of "},
        // An exported function of a library, and the loader's answer for
        // what no symbol table names.
        {[] { return dk_getSymbol("dk_initation"); }, "symbol dk_initation at 0x"},
        {[] { return dk_getSymbol("no_such_symbol_here"); }, "symbol no_such_symbol_here is not found\n"},
    };
    for (const Case &c : cases) {
        pc::test::CaptureStdout capture;
        c.run();
        fflush(stdout);
        std::string text = capture.text();
        EXPECT_TRUE(contains(text, c.expect)) << c.expect << "\n" << text;
    }
}

TEST(Debugger, CommandSegmentRoundTrip) {
    ASSERT_GE(dk_regSigCmd(), 0);
    std::string long_text(200, 'y');
    ASSERT_EQ(dk_setSigCmd(DK_CMD_CALL, long_text.c_str()), 0);
    int code = 0;
    char text[DK_CMD_TEXT_LEN];
    ASSERT_EQ(dk_getSigCmd(&code, text), 0);
    EXPECT_EQ(code, DK_CMD_CALL);
    EXPECT_EQ(std::string(text), std::string(DK_CMD_TEXT_LEN - 1, 'y'));
    ASSERT_EQ(dk_setSigCmd(0, nullptr), 0);
    ASSERT_EQ(dk_getSigCmd(&code, text), 0);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(text, "");
}

TEST(Debugger, CommandsRunInTheTargetOnSigusr2) {
    std::string out = "/tmp/commands.txt";
    pid_t child = debugged_child(out, [] {
        for (;;) pause();
    });
    wait_for_text(out, "debugger on\n");
    struct Case {
        int code;
        std::string text;
        const char *expect;
    };
    const Case cases[] = {
        {DK_CMD_SYM_ADDR, "dk_initation", "symbol dk_initation at 0x"},
        {DK_CMD_SET, "no_such_symbol_here", "symbol no_such_symbol_here is not found"},
        {DK_CMD_THREADS, "", "diagKit"},
        {DK_CMD_CALL, "isPfmInited()", "call isPfmInited return 0"},
        {DK_CMD_CALL, "0x10()", "can not call 0x10: not a function"},
        {DK_CMD_STACK, "(" + std::to_string(child) + ")", "Stack information:"},
        {DK_CMD_ADDR_SYM, "0x10", "0x00000010: no symbol"},
        {DK_CMD_CPU, "", "cpu time:"},
        {DK_CMD_MEM, "", "VmRSS:"},
        {DK_CMD_LOAD_SO, "", "objects loaded"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(dk_setSigCmd(c.code, c.text.c_str()), 0);
        ASSERT_EQ(kill(child, SIGUSR2), 0);
        std::string text = wait_for_text(out, c.expect, 20);
        EXPECT_TRUE(contains(text, c.expect)) << c.code << " " << c.text << "\n" << text;
    }
    stop_child(child);
}

TEST(Debugger, CommandNamesMatchExactly) {
    struct Case {
        const char *line;
        int code;
        const char *arg;
    };
    const Case cases[] = {
        {"ib", DK_CMD_SHOW_BP, ""},
        {"i", -1, ""},
        {"b:0x400000", DK_CMD_BREAK, "0x400000"},
        {"x:0x100:2", DK_CMD_DUMP, "0x100:2"},
        {"set 0x1:2", DK_CMD_SET, "2"},
        {"set:0x1:2", DK_CMD_SET, "0x1:2"},
        {"call:f()", DK_CMD_CALL, "f()"},
        {"?", DK_CMD_HELP, ""},
        {"q\n", DK_CMD_QUIT, ""},
        {"bb", -1, ""},
    };
    for (const Case &c : cases) {
        const char *arg = nullptr;
        int code = dk_cmd_find(c.line, &arg);
        EXPECT_EQ(code, c.code) << c.line;
        if (code >= 0) {
            EXPECT_STREQ(arg, c.arg) << c.line;
        }
    }
    EXPECT_EQ(dk_cmd_find("is", nullptr), DK_CMD_ADDR_SYM);
    EXPECT_EQ(dk_cmd_find(nullptr, nullptr), -1);
}

// Words a traced child owns; it never runs code from them.
volatile uint32_t g_words[64];

TEST(Debugger, BreakpointTableAndMemoryThroughPtrace) {
    PC_SKIP_UNDER_EMULATOR("qemu-user has no ptrace");
    for (uint32_t i = 0; i < 64; ++i) g_words[i] = 0xA0000000u + i;
    pid_t child = pc::test::fork_child([] {
        for (;;) pause();
        return 0;
    });
    auto addr = [](int i) { return reinterpret_cast<unsigned long>(&g_words[i]); };
    pc::test::CaptureStdout capture;

    char arg[64];
    snprintf(arg, sizeof arg, "0x%lx:2", addr(1));
    EXPECT_EQ(dk_x(child, arg), 0);  // two bytes: one word
    snprintf(arg, sizeof arg, "0x%lx:42", addr(2));
    EXPECT_EQ(dk_p(child, arg), 0);
    snprintf(arg, sizeof arg, "0x%lx:8", addr(2));
    EXPECT_EQ(dk_x(child, arg), 0);
    EXPECT_EQ(dk_x(child, "0x100"), -1);  // no count

    for (int i = 0; i < DK_BP_MAX; ++i) EXPECT_EQ(dk_setbreakpoint(child, addr(10 + i)), 0) << i;
    EXPECT_EQ(dk_setbreakpoint(child, addr(10)), -1);  // twice
    EXPECT_EQ(dk_setbreakpoint(child, addr(50)), -1);  // a 33rd
    EXPECT_EQ(dk_setBP(child, "12345"), -1);           // no 0x
    stop_child(child);

    std::string text = capture.text();
    char line[96];
    snprintf(line, sizeof line, "<0x%08lx>: a0000001  \n", addr(1));
    EXPECT_TRUE(contains(text, line)) << text;
    snprintf(line, sizeof line, "set memory addr 0x%lx value 42\n", addr(2));
    EXPECT_TRUE(contains(text, line)) << text;
    snprintf(line, sizeof line, "<0x%08lx>: 0000002a  a0000003  \n", addr(2));
    EXPECT_TRUE(contains(text, line)) << text;
    snprintf(line, sizeof line, "breakpoint 0x%lx is existent already\n", addr(10));
    EXPECT_TRUE(contains(text, line)) << text;
    EXPECT_TRUE(contains(text, "set point 0x")) << text;
    EXPECT_TRUE(contains(text, "breakpoints are full")) << text;
}

// Runs diagkit against `pid` with standard input from a pipe.
struct Tool {
    pid_t pid = -1;
    int input = -1;
    std::string out;

    Tool(int target, const std::string &out_path) : out(out_path) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(fds[0], STDIN_FILENO);
            int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            close(fds[1]);
            std::string pid_text = std::to_string(target);
            execl(PC_TOOLS_DIR "/diagkit", "diagkit", pid_text.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        input = fds[1];
    }
    void send(const std::string &line) {
        std::string l = line + "\n";
        ASSERT_EQ(write(input, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    }
    // Waits for the n-th prompt.
    std::string prompt(int n) {
        std::string text;
        pc::test::wait_until(
            [&] {
                text = read_file(out);
                size_t count = 0;
                for (size_t at = text.find("dk>"); at != std::string::npos; at = text.find("dk>", at + 1))
                    ++count;
                return count >= static_cast<size_t>(n);
            },
            std::chrono::seconds(30), std::chrono::milliseconds(20));
        return text;
    }
};

TEST(Debugger, ToolSetsAndHitsABreakpointAndChangesMemory) {
    PC_SKIP_UNDER_EMULATOR("qemu-user has no ptrace");
    std::string target_out = "/tmp/dk_target.txt";
    pid_t target = pc::test::spawn_program(PC_TEST_HELPER_DIR "/dk_target_helper", {}, {}, target_out);
    std::string text = wait_for_text(target_out, "ready\n");
    unsigned long tick = 0, value = 0;
    ASSERT_EQ(sscanf(text.c_str(), "tick 0x%lx\nvalue 0x%lx", &tick, &value), 2) << text;

    Tool tool(target, "/tmp/dk_tool.txt");
    ASSERT_GT(tool.pid, 0);
    char line[64];
    int prompts = 1;
    auto run = [&](const std::string &command) {
        tool.prompt(prompts++);
        tool.send(command);
    };
    snprintf(line, sizeof line, "x:0x%lx:4", value);
    run(line);
    snprintf(line, sizeof line, "set:0x%lx:42", value);
    run(line);
    run("i");
    run("ir");
    run("ia:dk_initation");
    run("?");
    snprintf(line, sizeof line, "b:0x%lx", tick);
    run(line);
    std::string target_text = wait_for_text(target_out, "breakpoint ");
    snprintf(line, sizeof line, " at 0x%08lx in thread(LWP)", tick);
    EXPECT_TRUE(contains(target_text, line)) << target_text;
    EXPECT_TRUE(contains(target_text, "value now 42\n")) << target_text;
    run("ib");
    run("c");
    run("ib");
    run("q");
    EXPECT_EQ(pc::test::wait_child_for(tool.pid, 30000), 0);
    close(tool.input);

    // The target runs on past the breakpoint, its instruction back in place.
    std::string before = read_file(target_out);
    snprintf(line, sizeof line, "set:0x%lx:7", value);
    Tool again(target, "/tmp/dk_tool2.txt");
    again.prompt(1);
    again.send(line);
    again.send("q");
    EXPECT_EQ(pc::test::wait_child_for(again.pid, 30000), 0);
    close(again.input);
    target_text = wait_for_text(target_out, "value now 7\n");
    EXPECT_TRUE(contains(target_text, "value now 7\n")) << target_text;
    EXPECT_EQ(waitpid(target, nullptr, WNOHANG), 0);  // still alive
    kill(target, SIGKILL);
    pc::test::wait_child(target);

    std::string tool_text = read_file("/tmp/dk_tool.txt");
    char expect[96];
    snprintf(expect, sizeof expect, "<0x%08lx>: ", value);
    EXPECT_TRUE(contains(tool_text, expect)) << tool_text;
    EXPECT_TRUE(contains(tool_text, "unknown cmd, input '?' for help\n")) << tool_text;
    EXPECT_TRUE(contains(tool_text, "r00: ")) << tool_text;                                             // ir
    EXPECT_TRUE(contains(tool_text, "  ia    info of address of symbol, eg: ia:symbol")) << tool_text;  // ?
    EXPECT_TRUE(contains(read_file(target_out), "symbol dk_initation at 0x"));  // ia, in the target
    snprintf(expect, sizeof expect, "set point 0x%lx sucess, press 'c' to continue\n", tick);
    EXPECT_TRUE(contains(tool_text, expect)) << tool_text;
    snprintf(expect, sizeof expect, "breakpoint 0: 0x%08lx\n", tick);
    EXPECT_TRUE(contains(tool_text, expect)) << tool_text;
    EXPECT_TRUE(contains(tool_text, "no breakpoint\n")) << tool_text;  // removed by c
}

TEST(Debugger, ToolArguments) {
    struct Case {
        std::vector<std::string> args;
        const char *expect;
    };
    const Case cases[] = {
        {{},
         "Usage: diagkit <pid> - process id to be traced.\n                ps   - show process "
         "information.\n\n"},
        {{"0"}, "pid is invalid.\n"},
        {{"12x"}, "pid is invalid.\n"},
    };
    for (const Case &c : cases) {
        std::string out = "/tmp/dk_args.txt";
        pid_t pid = pc::test::spawn_program(PC_TOOLS_DIR "/diagkit", c.args, {}, out);
        EXPECT_EQ(pc::test::wait_child_for(pid, 30000), 1);
        EXPECT_TRUE(contains(read_file(out), c.expect)) << read_file(out);
    }
}

}  // namespace
