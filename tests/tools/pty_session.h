// A program run with a pseudo-terminal as its terminal, driven like a user
// at a keyboard: keys are written to the terminal, and what the program
// shows is read back and searched. Host only (the target's emulator is
// started through the test support's spawn, which a terminal cannot be
// handed to).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_process.h"

namespace pc::test {

class PtySession {
public:
    PtySession(const std::string &path, const std::vector<std::string> &args) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const std::string slave_name = ptsname(master_);
        winsize ws{};
        ws.ws_row = 24;
        ws.ws_col = 200;  // wide: no line of the tests wraps
        ioctl(master_, TIOCSWINSZ, &ws);
        std::vector<std::string> words{path};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int slave = open(slave_name.c_str(), O_RDWR);
            if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) _exit(127);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
            if (slave > 2) close(slave);
            setenv("TERM", "vt100", 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~PtySession() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            wait_child(pid_);
        }
        if (master_ >= 0) close(master_);
    }
    PtySession(const PtySession &) = delete;
    PtySession &operator=(const PtySession &) = delete;

    bool started() const { return pid_ > 0; }

    // Writes keys as typed.
    void send(const std::string &keys) {
        for (char c : keys) {
            if (write(master_, &c, 1) != 1) return;
            usleep(2000);  // a typist, not a paste: each key is its own read
        }
    }

    // Reads until `text` shows after the point of the last match; true when
    // it did within `timeout_ms`. The point moves past the match.
    bool expect(const std::string &text, int timeout_ms = 15000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            const size_t at = screen_.find(text, mark_);
            if (at != std::string::npos) {
                mark_ = at + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return false;
        }
    }

    // Everything shown since the point of the last match (read for `ms` first).
    std::string since_mark(int ms = 300) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until && read_some(50)) {
        }
        return screen_.substr(mark_);
    }

    // Waits for the program to end; its exit status, or -1.
    int wait_exit(int timeout_ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < until) {
            read_some(20);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }

    const std::string &screen() const { return screen_; }

private:
    bool read_some(int timeout_ms) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return false;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        screen_.append(buf, static_cast<size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    std::string screen_;  // all the program wrote to its terminal
    size_t mark_ = 0;
};

}  // namespace pc::test
