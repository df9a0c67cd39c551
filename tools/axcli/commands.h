// The commands of the command-line client: a table of word sequences, each
// with its argument synopsis, one line of help and its action. The table
// holds the client's own commands and those that feature processes
// registered with the core (load_feature_commands). Words are matched by
// unique prefix ("sh run"); an exact word wins over a longer one.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "session.h"

namespace axcli {

using Words = std::vector<std::string>;

// Asks the core for the commands of feature processes and puts them in
// place of those it listed last time (kept when the core does not answer).
void load_feature_commands(const Options &options);

// Runs one command line; returns a program exit code.
int run_command(const std::string &line, const Options &options);

// One thing that may come next in a line, with its help.
struct Hint {
    std::string word;  // a keyword, or "<...>" for an argument, or "<cr>"
    std::string help;
};

// What may follow `words` when the next word starts with `partial`:
// keywords, port text (through the port model's completion help) and, for
// `?`, the argument synopsis and <cr>. `for_help` selects the `?` listing.
std::vector<Hint> next_hints(const Words &words, const std::string &partial, bool for_help);

// Writes `hints` as a two-column listing.
void print_hints(FILE *to, const std::vector<Hint> &hints);

// Splits a line into words (blanks separate; no quoting).
Words split_words(const std::string &line);

// The list of commands, for `help` and --help.
void print_help(FILE *to);

}  // namespace axcli
