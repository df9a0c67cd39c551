// axcli: the command-line client of the switch's management interface.
//
//   axcli [--pid N] [--target PID] [--timeout MS] [COMMAND ...]
//
// With a command it runs that one command and exits (for scripts): 0 on
// success, 1 when the management function fails, 2 for a bad command line,
// 3 when the core process cannot be reached. Without one it reads commands
// interactively, with line editing, history and tab completion.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "line_editor.h"
#include "session.h"

namespace {

void usage() {
    std::printf(
        "usage: axcli [--pid N] [--target PID] [--timeout MS] [COMMAND ...]\n"
        "  Runs COMMAND in the core process and exits, or reads commands interactively.\n"
        "  --pid N       platform process id of this client (default 30)\n"
        "  --target PID  process that runs management functions (default 1, the core)\n"
        "  --timeout MS  how long to wait for the core process (default 3000)\n");
    axcli::print_help();
}

int interactive(const axcli::Options &options) {
    std::signal(SIGINT, SIG_IGN);  // Ctrl-C does not end the session; quit or Ctrl-D does
    axcli::LineEditor editor("axcli> ");
    int last = axcli::kExitOk;
    std::string line;
    while (editor.read(&line)) {
        auto words = axcli::split_words(line);
        if (words.empty()) continue;
        if (words[0] == "quit" || words[0] == "exit") break;
        last = axcli::run_command(line, options);
    }
    return last;
}

}  // namespace

int main(int argc, char **argv) {
    axcli::Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--pid") == 0 && hasValue) {
            options.pid = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--target") == 0 && hasValue) {
            options.target = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--timeout") == 0 && hasValue) {
            options.connect_ms = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            usage();
            return std::strcmp(argv[i], "--help") == 0 ? axcli::kExitOk : axcli::kExitUsage;
        }
    }
    if (options.pid <= 1 || options.pid >= 64) {
        std::fprintf(stderr, "axcli: --pid must be 2..63\n");
        return axcli::kExitUsage;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (int rc = axcli::connect(options); rc != axcli::kExitOk) return rc;

    int rc = axcli::kExitOk;
    if (i < argc) {
        std::string line;
        for (; i < argc; ++i) line += std::string(argv[i]) + " ";
        rc = axcli::run_command(line, options);
    } else {
        rc = interactive(options);
    }
    std::fflush(stdout);
    _exit(rc);  // the client's threads are not joined
}
