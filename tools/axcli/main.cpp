// axcli: the command-line client of the switch's management interface.
//
//   axcli [--pid N] [--target PID] [--timeout MS] [--verbose] [COMMAND ...]
//
// With a command it runs that one command and exits (for scripts); without
// one it reads commands interactively. --help lists the options, the
// commands and the exit codes.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "line_editor.h"
#include "numbers.h"
#include "output.h"
#include "session.h"

namespace {

void usage(FILE *to) {
    std::fprintf(to,
                 "usage: axcli [OPTION ...] [COMMAND ...]\n"
                 "  Runs COMMAND in the switch's core process and exits, or reads commands\n"
                 "  interactively (TAB completes, '?' lists what may come next, Ctrl-C drops\n"
                 "  the line, Ctrl-D or quit ends the session).\n"
                 "Options:\n"
                 "  --pid N        platform process id of this session (2..63; default: the\n"
                 "                 first free one of %d..%d)\n"
                 "  --target PID   process that runs the commands (default 1, the core)\n"
                 "  --timeout MS   deadline of connecting and of each command (default %u)\n"
                 "  --verbose      the library's log lines on standard error\n"
                 "  --help         this text\n"
                 "Exit status:\n"
                 "  0 success; 1 the command failed; 2 bad command line or command;\n"
                 "  3 the core process is not reachable; 4 a process did not answer within\n"
                 "  the deadline (or is gone); 5 the session process id is taken\n",
                 axcli::kSessionPidFirst, axcli::kSessionPidLast, axcli::kDefaultTimeoutMs);
    axcli::print_help(to);
}

// The last status of an interactive session is that of its last command.
int interactive(const axcli::Options &options) {
    std::signal(SIGINT, SIG_IGN);  // while a command runs; the editor takes Ctrl-C as a key
    axcli::load_feature_commands(options);
    axcli::LineEditor editor("axcli> ");
    int last = axcli::kExitOk;
    std::string line;
    while (editor.read(&line)) {
        const size_t end = line.find_last_not_of(" \t");
        if (end == std::string::npos) continue;
        // Feature processes come and go while the session lasts: each line
        // sees the commands the core knows now.
        axcli::load_feature_commands(options);
        if (line[end] == '?') {  // piped input asks the same way
            axcli::show_help_for(line.substr(0, end));
            continue;
        }
        const auto words = axcli::split_words(line);
        if (words[0] == "quit" || words[0] == "exit") break;
        last = axcli::run_command(line, options);
        std::fflush(axcli::out());
    }
    return last;
}

// Parses the options; returns the index of the first command word, or -1
// after a usage error (`*status` is then the exit code).
int parse_options(int argc, char **argv, axcli::Options *options, int *status) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            usage(axcli::out());
            *status = axcli::kExitOk;
            return -1;
        }
        if (opt == "--verbose") {
            options->verbose = true;
            continue;
        }
        if (opt == "--") return i + 1;
        long value = 0;
        const bool known = opt == "--pid" || opt == "--target" || opt == "--timeout";
        if (!known) {
            std::fprintf(stderr, "axcli: unknown option '%s' (try --help)\n", opt.c_str());
            *status = axcli::kExitUsage;
            return -1;
        }
        const char *text = i + 1 < argc ? argv[++i] : nullptr;
        const bool ok =
            text != nullptr &&
            (opt == "--timeout" ? axcli::parse_number(text, 1, 3600000, &value)
                                : axcli::parse_number(text, 2, 63, &value) ||
                                      (opt == "--target" && axcli::parse_number(text, 1, 1, &value)));
        if (!ok) {
            std::fprintf(stderr, "axcli: %s needs %s, not '%s'\n", opt.c_str(),
                         opt == "--timeout" ? "milliseconds (1..3600000)"
                         : opt == "--pid"   ? "a process id 2..63"
                                            : "a process id 1..63",
                         text != nullptr ? text : "nothing");
            *status = axcli::kExitUsage;
            return -1;
        }
        if (opt == "--pid")
            options->pid = static_cast<int>(value);
        else if (opt == "--target")
            options->target = static_cast<int>(value);
        else
            options->timeout_ms = static_cast<unsigned>(value);
    }
    return i;
}

}  // namespace

int main(int argc, char **argv) {
    axcli::Options options;
    // --verbose is needed before anything else prints.
    for (int k = 1; k < argc && argv[k][0] == '-'; ++k)
        if (std::strcmp(argv[k], "--verbose") == 0) options.verbose = true;
    if (!axcli::take_over_stdout(options.verbose)) {
        std::fprintf(stderr, "axcli: cannot set up standard output\n");
        return axcli::kExitFailed;
    }
    int status = axcli::kExitOk;
    const int first = parse_options(argc, argv, &options, &status);
    if (first < 0) {
        axcli::finish_output();
        return status;
    }
    status = axcli::connect(&options);
    if (status == axcli::kExitOk) {
        if (first < argc) {
            std::string line;
            for (int i = first; i < argc; ++i) line += std::string(argv[i]) + " ";
            const size_t end = line.find_last_not_of(" ");
            if (end != std::string::npos && line[end] == '?') {
                axcli::load_feature_commands(options);
                axcli::show_help_for(line.substr(0, end));
            } else {
                if (axcli::split_words(line).empty() == false) axcli::load_feature_commands(options);
                status = axcli::run_command(line, options);
            }
        } else {
            status = interactive(options);
        }
    }
    axcli::finish_output();
    _exit(status);  // the client's threads are not joined
}
