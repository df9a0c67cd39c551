// The command-line client's connection to the core process: it is a user
// interface process of its own (its own platform process id) that runs
// management functions through the management interface and shows their
// output and questions on the terminal.
#pragma once

#include <string>
#include <vector>

namespace axcli {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the function or command failed
inline constexpr int kExitUsage = 2;        // bad command line
inline constexpr int kExitUnreachable = 3;  // the core process cannot be reached

struct Options {
    int pid = 30;    // this process's platform process id
    int target = 1;  // process that runs management functions
    unsigned connect_ms = 3000;
};

// Connects to the hub and starts RPC and the UI role; prints why not.
int connect(const Options &options);

// A named argument of a management function: integers travel as int,
// everything else as a string.
struct Argument {
    std::string name;
    std::string value;
};

// Runs management function `name` in `pid`; its output and questions go to
// the terminal. Returns the function's result, or -1 when it could not run.
int execute(int pid, const std::string &name, const std::vector<Argument> &args);

}  // namespace axcli
