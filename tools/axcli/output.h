// Where the command-line client writes. Command output goes to the
// program's standard output alone, so that `axcli show running-config >
// file` holds just the configuration; the library's own log lines (which
// it prints to file descriptor 1) are moved away at start: off, or to
// standard error with --verbose, without colour when standard error is not
// a terminal.
#pragma once

#include <cstdio>

namespace axcli {

// The stream of command output (the original standard output).
FILE *out();

// Takes standard output over for command output and moves descriptor 1
// (the library's logs) to /dev/null, or to standard error when `verbose`.
// Returns false when the descriptors cannot be set up.
bool take_over_stdout(bool verbose);

// Flushes command output and the logs; call before the program ends.
void finish_output();

// Copies `text` to `to`, dropping ANSI escape sequences; `state` carries a
// sequence cut between two calls (start with 0).
void strip_escapes(const char *text, size_t len, FILE *to, int *state);

}  // namespace axcli
