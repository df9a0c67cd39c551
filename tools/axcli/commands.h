// The commands of the command-line client: a table of word sequences, each
// with its help text and its action. Words are matched by unique prefix.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace axcli {

// Runs one command line; returns a program exit code.
int run_command(const std::string &line, const Options &options);

// Completion candidates for the word being typed (`words` are the words
// before it); port arguments get the port model's completion help, whose
// hint lines are added to `hints`.
std::vector<std::string> complete(const std::vector<std::string> &words, const std::string &partial,
                                  std::vector<std::string> *hints);

// Splits a line into words (blanks separate; no quoting).
std::vector<std::string> split_words(const std::string &line);

// The help listing.
void print_help();

}  // namespace axcli
