// Reading command lines. On a terminal, with libedit where the program was
// built with it: emacs-style editing and history; TAB completes the word
// (or lists the choices with their help and redraws the prompt and the
// typed text); '?' lists what may come next with one line of help each;
// Ctrl-C drops the typed text and gives a new prompt; Ctrl-D on an empty
// line ends the session. Elsewhere (a pipe, a file) whole lines are read,
// of any length.
#pragma once

#include <string>

namespace axcli {

class LineEditor {
public:
    explicit LineEditor(const char *prompt);
    ~LineEditor();
    LineEditor(const LineEditor &) = delete;
    LineEditor &operator=(const LineEditor &) = delete;

    // False at the end of input.
    bool read(std::string *line);

private:
    const char *prompt_;
    struct Editing;
    Editing *editing_ = nullptr;  // libedit's state on a terminal, owned
};

// The `?` listing for the text typed before the question mark.
void show_help_for(const std::string &typed);

}  // namespace axcli
