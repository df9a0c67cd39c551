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
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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

    // True while the terminal is in line mode (canonical input: the line
    // discipline echoes and edits), as a program's editor leaves it between
    // lines; a key typed then is not the editor's. Linux reports the
    // terminal's settings through the master.
    bool line_mode() const {
        termios t{};
        return tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) != 0;
    }

    // Writes keys as typed.
    void send(const std::string &keys) {
        for (char c : keys) {
            if (write(master_, &c, 1) != 1) return;
            usleep(2000);  // a typist, not a paste: each key is its own read
        }
    }

    // Reads until `text` shows on the screen after the point of the last
    // match; true when it did within `timeout_ms`. The point moves past the
    // match. The screen is what a terminal would show: the editor's cursor
    // movements and erasures are applied, so a redrawn line reads as the
    // user sees it.
    bool expect(const std::string &text, int timeout_ms = 15000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (find_after_mark(text)) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return false;
        }
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

    // The screen as text, one line per row.
    std::string screen() const {
        std::string all;
        for (const std::string &l : rows_) all += l + "\n";
        return all;
    }

private:
    bool find_after_mark(const std::string &text) {
        for (size_t r = mark_row_; r < rows_.size(); ++r) {
            const size_t from = r == mark_row_ ? mark_col_ : 0;
            const size_t at = rows_[r].find(text, from);
            if (at != std::string::npos) {
                mark_row_ = r;
                mark_col_ = at + text.size();
                return true;
            }
        }
        return false;
    }

    bool read_some(int timeout_ms) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return false;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) feed(buf[i]);
        return true;
    }

    std::string &row() {
        if (rows_.size() <= cur_row_) rows_.resize(cur_row_ + 1);
        return rows_[cur_row_];
    }

    // A terminal's handling of one byte: text, line controls and the
    // control sequences a line editor uses (cursor moves, erasures).
    void feed(char c) {
        if (esc_ == kEscape) {
            esc_ = c == '[' ? kCsi : kNone;
            params_.clear();
            return;
        }
        if (esc_ == kCsi) {
            if (c >= 0x40 && c <= 0x7e) {
                esc_ = kNone;
                csi(c);
            } else {
                params_ += c;
            }
            return;
        }
        switch (c) {
            case '\033':
                esc_ = kEscape;
                break;
            case '\r':
                cur_col_ = 0;
                break;
            case '\n':
                ++cur_row_;
                row();
                break;
            case '\b':
                if (cur_col_ > 0) --cur_col_;
                break;
            case '\a':
                break;
            default: {
                std::string &r = row();
                if (r.size() <= cur_col_) r.resize(cur_col_ + 1, ' ');
                r[cur_col_++] = c;
            }
        }
    }

    void csi(char final_byte) {
        const size_t n = params_.empty() || params_[0] == '?' ? 1 : std::max(1, std::atoi(params_.c_str()));
        std::string &r = row();
        switch (final_byte) {
            case 'C':
                cur_col_ += n;
                break;
            case 'D':
                cur_col_ = cur_col_ > n ? cur_col_ - n : 0;
                break;
            case 'A':
                cur_row_ = cur_row_ > n ? cur_row_ - n : 0;
                break;
            case 'B':
                cur_row_ += n;
                row();
                break;
            case 'K':
                if (params_.empty() || params_ == "0") {
                    if (r.size() > cur_col_) r.resize(cur_col_);
                } else {
                    r.clear();
                }
                break;
            case 'J':
                if (r.size() > cur_col_) r.resize(cur_col_);
                rows_.resize(cur_row_ + 1);
                break;
            case 'P': {  // delete characters at the cursor
                if (cur_col_ < r.size()) r.erase(cur_col_, std::min(n, r.size() - cur_col_));
                break;
            }
            case '@':  // insert blanks at the cursor
                if (cur_col_ <= r.size()) r.insert(cur_col_, n, ' ');
                break;
            default:
                break;  // modes and colours change nothing on the screen's text
        }
    }

    enum Escape { kNone, kEscape, kCsi };
    int master_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    std::vector<std::string> rows_;  // the screen's text, never scrolled away
    size_t cur_row_ = 0, cur_col_ = 0;
    size_t mark_row_ = 0, mark_col_ = 0;
    Escape esc_ = kNone;
    std::string params_;  // of the control sequence being read
};

}  // namespace pc::test
