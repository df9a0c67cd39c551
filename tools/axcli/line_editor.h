// Reading command lines: with libedit (line editing, history, tab
// completion through axcli::complete) when the program was built with it
// and standard input is a terminal, plain lines otherwise.
#pragma once

#include <string>

namespace axcli {

class LineEditor {
public:
    explicit LineEditor(const char *prompt);
    // False at the end of input.
    bool read(std::string *line);

private:
    const char *prompt_;
    bool editing_;
};

}  // namespace axcli
