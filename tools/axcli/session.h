// The command-line client's connection to the core process: it is a user
// interface process of its own (its own platform process id) that runs
// management functions through the management interface and shows their
// output and questions on the terminal.
#pragma once

#include <string>
#include <vector>

namespace axcli {

// Exit codes of the program (the README's table lists them).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the function or command failed
inline constexpr int kExitUsage = 2;        // bad command line or command
inline constexpr int kExitUnreachable = 3;  // the core process cannot be reached
inline constexpr int kExitNoAnswer = 4;     // a process did not answer within the deadline
inline constexpr int kExitIdTaken = 5;      // no free session process id

// Session process ids: a client takes the first free one unless --pid names one.
inline constexpr int kSessionPidFirst = 30;
inline constexpr int kSessionPidLast = 39;
inline constexpr unsigned kDefaultTimeoutMs = 5000;

struct Options {
    int pid = 0;     // this process's platform process id; 0: the first free session id
    int target = 1;  // process that runs management functions
    unsigned timeout_ms = kDefaultTimeoutMs;  // connecting, and each command as a whole
    bool verbose = false;                     // the library's logs on standard error
};

// Connects to the hub as options->pid (or the first free session id, which
// is stored there) and starts RPC and the UI role; prints why not and
// returns the exit code.
int connect(Options *options);

// A named argument of a management function: integers travel as int,
// everything else as a string.
struct Argument {
    std::string name;
    std::string value;
    bool text = false;  // sent as a string even when it reads as a number
};

// Runs management function `name` in `pid` within the deadline; its output
// and questions go to the terminal. Returns an exit code. When `pid` does
// not answer in time the program ends with kExitNoAnswer after saying so;
// `gone_hint` words that message for a command whose process may be gone.
int execute(int pid, const std::string &name, const std::vector<Argument> &args, const Options &options,
            const char *gone_hint = nullptr);

// True when `pid` answers an RPC call within a second (it is running).
bool process_answers(int pid);

}  // namespace axcli
