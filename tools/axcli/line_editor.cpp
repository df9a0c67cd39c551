#include "line_editor.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"

#ifdef AXCLI_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace axcli {

namespace {

#ifdef AXCLI_HAVE_LIBEDIT
std::vector<std::string> g_matches;  // candidates of the completion in progress

char *next_match(const char *, int state) {
    if (static_cast<size_t>(state) >= g_matches.size()) return nullptr;
    return strdup(g_matches[static_cast<size_t>(state)].c_str());
}

char **complete_line(const char *text, int start, int) {
    std::string before(rl_line_buffer, static_cast<size_t>(start));
    std::vector<std::string> hints;
    g_matches = complete(split_words(before), text, &hints);
    if (!hints.empty()) {
        std::printf("\n");
        for (const std::string &h : hints) std::printf("  %s\n", h.c_str());
        rl_on_new_line();
    }
    rl_attempted_completion_over = 1;  // no file names
    return g_matches.empty() ? nullptr : rl_completion_matches(text, next_match);
}
#endif

}  // namespace

LineEditor::LineEditor(const char *prompt) : prompt_(prompt), editing_(isatty(STDIN_FILENO) != 0) {
#ifdef AXCLI_HAVE_LIBEDIT
    if (editing_) {
        rl_readline_name = "axcli";
        rl_attempted_completion_function = complete_line;
        using_history();
    }
#else
    editing_ = false;
#endif
}

bool LineEditor::read(std::string *line) {
#ifdef AXCLI_HAVE_LIBEDIT
    if (editing_) {
        char *text = readline(prompt_);
        if (text == nullptr) return false;
        *line = text;
        if (text[0] != '\0') add_history(text);
        std::free(text);
        return true;
    }
#endif
    if (isatty(STDIN_FILENO)) {
        std::fputs(prompt_, stdout);
        std::fflush(stdout);
    }
    char buf[1024];
    if (std::fgets(buf, sizeof buf, stdin) == nullptr) return false;
    buf[std::strcspn(buf, "\r\n")] = '\0';
    *line = buf;
    return true;
}

}  // namespace axcli
