#include "output.h"

#include <fcntl.h>
#include <unistd.h>

#include <thread>

namespace axcli {

namespace {

FILE *g_out = stdout;      // set once by take_over_stdout, before any thread starts
std::thread g_log_copier;  // strips colour from the library's logs on their way to stderr

enum EscapeState { kText = 0, kEscape = 1, kCsi = 2 };

void copy_logs(int from) {
    char buf[4096];
    int state = kText;
    for (;;) {
        ssize_t n = read(from, buf, sizeof buf);
        if (n <= 0) break;
        strip_escapes(buf, static_cast<size_t>(n), stderr, &state);
        std::fflush(stderr);
    }
    close(from);
}

}  // namespace

FILE *out() { return g_out; }

void strip_escapes(const char *text, size_t len, FILE *to, int *state) {
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (*state) {
            case kText:
                if (c == 0x1b)
                    *state = kEscape;
                else
                    std::fputc(c, to);
                break;
            case kEscape:  // ESC '[' starts a control sequence; ESC and one byte otherwise
                *state = c == '[' ? kCsi : kText;
                break;
            default:  // parameters and intermediates up to the final byte 0x40..0x7e
                if (c >= 0x40 && c <= 0x7e) *state = kText;
                break;
        }
    }
}

bool take_over_stdout(bool verbose) {
    std::fflush(stdout);
    const int keep = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (keep < 0) return false;
    g_out = fdopen(keep, "w");
    if (g_out == nullptr) return false;
    setvbuf(g_out, nullptr, isatty(keep) ? _IOLBF : _IOFBF, 0);

    int logs = -1;
    if (!verbose) {
        logs = open("/dev/null", O_WRONLY | O_CLOEXEC);
    } else if (isatty(STDERR_FILENO)) {
        logs = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    } else {
        int pipe_fds[2];
        if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
        logs = pipe_fds[1];
        g_log_copier = std::thread(copy_logs, pipe_fds[0]);
    }
    if (logs < 0 || dup2(logs, STDOUT_FILENO) < 0) return false;
    close(logs);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return true;
}

void finish_output() {
    std::fflush(g_out);
    std::fflush(stdout);
    if (g_log_copier.joinable()) {
        // The copier ends when the last writer of its pipe is gone.
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
            g_log_copier.join();
        } else {
            g_log_copier.detach();
        }
    }
    std::fflush(stderr);
}

}  // namespace axcli
