#include "support/test_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifndef PC_TEST_HELPER_DIR
#define PC_TEST_HELPER_DIR "."
#endif

namespace pc::test {

pid_t fork_child(const std::function<int()> &body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int rc = body();
        std::fflush(nullptr);
        _exit(rc);
    }
    return pid;
}

pid_t spawn_helper(const std::string &name, const std::vector<std::string> &args,
                   const std::vector<std::string> &env) {
    std::string path = std::string(PC_TEST_HELPER_DIR) + "/" + name;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto &kv : env) putenv(const_cast<char *>(kv.c_str()));
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        std::perror("execv");
        _exit(127);
    }
    return pid;
}

namespace {
int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace

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
