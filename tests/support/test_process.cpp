#include "support/test_process.h"

#include "support/emulation.h"
#include "support/test_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#ifndef PC_TEST_HELPER_DIR
#define PC_TEST_HELPER_DIR "."
#endif
// Cross builds run their programs under an emulator (e.g. "qemu-mips -L
// /usr/mips-linux-gnu", words separated by spaces); helpers are started
// through it as well, since the kernel cannot run them directly.
#ifndef PC_TEST_EMULATOR
#define PC_TEST_EMULATOR ""
#endif

namespace pc::test {

namespace {

// As long as CTest gives one test.
constexpr int kAloneTimeoutMs = 300000;

// A child never outlives its test program: a test that fails half-way must
// not leave helpers behind holding queues, ports or shared blocks.
void die_with_parent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent is already gone
}

}  // namespace

bool under_emulator() { return PC_TEST_EMULATOR[0] != '\0'; }

pid_t fork_child(const std::function<int()> &body) {
    std::fflush(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        die_with_parent(parent);
        int rc = body();
        std::fflush(nullptr);
        _exit(rc);
    }
    return pid;
}

pid_t spawn_helper(const std::string &name, const std::vector<std::string> &args,
                   const std::vector<std::string> &env) {
    return spawn_program(std::string(PC_TEST_HELPER_DIR) + "/" + name, args, env);
}

pid_t spawn_program(const std::string &path, const std::vector<std::string> &args,
                    const std::vector<std::string> &env, const std::string &stdout_path) {
    // The command line is built before fork: the child only execs.
    std::vector<std::string> words;
    std::string emulator = PC_TEST_EMULATOR;
    for (size_t at = 0; at < emulator.size();) {
        size_t end = emulator.find(' ', at);
        if (end == std::string::npos) end = emulator.size();
        if (end > at) words.push_back(emulator.substr(at, end - at));
        at = end + 1;
    }
    words.push_back(path);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        die_with_parent(parent);
        if (!stdout_path.empty()) {
            int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(127);
        }
        for (const auto &kv : env) putenv(const_cast<char *>(kv.c_str()));
        execvp(argv[0], argv.data());
        std::perror("execvp");
        _exit(127);
    }
    return pid;
}

bool runs_alone() {
    const ::testing::UnitTest &unit = *::testing::UnitTest::GetInstance();
    if (unit.test_to_run_count() <= 1) return true;
    const ::testing::TestInfo &test = *unit.current_test_info();
    const std::string name = std::string(test.test_suite_name()) + "." + test.name();
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        ADD_FAILURE() << "cannot find this program to run " << name << " alone";
        return false;
    }
    const pid_t copy = spawn_program(std::string(exe, static_cast<size_t>(n)), {"--gtest_filter=" + name});
    EXPECT_EQ(wait_child_for(copy, kAloneTimeoutMs), 0) << name << " run alone in a new copy of this program";
    return false;
}

namespace {
int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace

pid_t start_helper_until_ready(const std::string &name, const std::vector<std::string> &args,
                               const std::string &log, const std::string &ready) {
    constexpr int kAttempts = 40;
    constexpr int kShortOfQueues = 75;  // EX_TEMPFAIL: the helper could not get its queues
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        pid_t pid = spawn_program(std::string(PC_TEST_HELPER_DIR) + "/" + name, args, {}, log);
        int status = 0;
        bool ended = false;
        wait_until(
            [&] {
                if (file_has(log, ready)) return true;
                ended = waitpid(pid, &status, WNOHANG) == pid;
                return ended;
            },
            std::chrono::seconds(60), std::chrono::milliseconds(50));
        if (!ended && file_has(log, ready)) return pid;
        if (!ended) {  // never got ready
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != kShortOfQueues) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return -1;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return decode_status(status);
}

int wait_child_for(pid_t pid, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return decode_status(status);
        if (r < 0 && errno != EINTR) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

}  // namespace pc::test
