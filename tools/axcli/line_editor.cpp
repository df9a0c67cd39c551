#include "line_editor.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "output.h"

#ifdef AXCLI_HAVE_LIBEDIT
#include <histedit.h>
#endif

namespace axcli {

namespace {

// The typed text split into the finished words and the word being typed.
void split_typed(const std::string &typed, Words *words, std::string *partial) {
    const size_t last_blank = typed.find_last_of(" \t");
    *partial = last_blank == std::string::npos ? typed : typed.substr(last_blank + 1);
    *words = split_words(typed.substr(0, typed.size() - partial->size()));
}

#ifdef AXCLI_HAVE_LIBEDIT
const char *g_prompt = "";  // the prompt of the one editor

char *prompt_of(EditLine *) { return const_cast<char *>(g_prompt); }

std::string typed_before_cursor(EditLine *el) {
    const LineInfo *li = el_line(el);
    return std::string(li->buffer, static_cast<size_t>(li->cursor - li->buffer));
}

// TAB: complete the word as far as the choices agree; when they agree no
// further, list them and redraw the line.
unsigned char on_tab(EditLine *el, int) {
    Words words;
    std::string partial;
    split_typed(typed_before_cursor(el), &words, &partial);
    std::vector<Hint> hints = next_hints(words, partial, false);
    std::vector<std::string> choices;
    for (const Hint &h : hints)
        if (h.word.compare(0, partial.size(), partial) == 0 &&
            h.word.find_first_of("<>") == std::string::npos)
            choices.push_back(h.word);
    if (!choices.empty()) {
        std::string common = choices[0];
        for (const std::string &c : choices) {
            size_t n = 0;
            while (n < common.size() && n < c.size() && common[n] == c[n]) ++n;
            common.resize(n);
        }
        if (common.size() > partial.size() || (choices.size() == 1 && hints.size() == 1)) {
            std::string insert = common.substr(partial.size());
            if (choices.size() == 1 && hints.size() == 1) insert += " ";
            el_insertstr(el, insert.c_str());
            return CC_REFRESH;
        }
    }
    if (hints.empty()) return CC_REFRESH_BEEP;
    std::fputc('\n', out());
    print_hints(out(), hints);
    std::fflush(out());
    return CC_REDISPLAY;
}

// '?': what may come next, then the line again (the '?' is not inserted).
unsigned char on_question(EditLine *el, int) {
    std::fputs("?\n", out());
    show_help_for(typed_before_cursor(el));
    return CC_REDISPLAY;
}

// Ctrl-C: the typed text is dropped and a new prompt follows.
unsigned char on_interrupt(EditLine *el, int) {
    const LineInfo *li = el_line(el);
    el_cursor(el, static_cast<int>(li->lastchar - li->cursor));
    li = el_line(el);
    el_deletestr(el, static_cast<int>(li->cursor - li->buffer));
    std::fputs("^C\n", out());
    std::fflush(out());
    return CC_REDISPLAY;
}
#endif

}  // namespace

#ifdef AXCLI_HAVE_LIBEDIT
struct LineEditor::Editing {
    EditLine *el = nullptr;
    History *history = nullptr;
};
#else
struct LineEditor::Editing {};
#endif

void show_help_for(const std::string &typed) {
    Words words;
    std::string partial;
    split_typed(typed, &words, &partial);
    std::vector<Hint> hints = next_hints(words, partial, true);
    if (hints.empty())
        std::fprintf(out(), "  (nothing may follow '%s')\n", typed.c_str());
    else
        print_hints(out(), hints);
    std::fflush(out());
}

LineEditor::LineEditor(const char *prompt) : prompt_(prompt) {
#ifdef AXCLI_HAVE_LIBEDIT
    if (isatty(STDIN_FILENO) == 0 || isatty(fileno(out())) == 0) return;
    editing_ = new Editing;
    g_prompt = prompt;
    editing_->el = el_init("axcli", stdin, out(), stderr);
    editing_->history = history_init();
    HistEvent ev;
    history(editing_->history, &ev, H_SETSIZE, 500);
    EditLine *el = editing_->el;
    el_set(el, EL_EDITOR, "emacs");
    el_set(el, EL_PROMPT, prompt_of);
    el_set(el, EL_HIST, history, editing_->history);
    // Ctrl-C reaches the editor as a key while a line is edited.
    el_set(el, EL_SETTY, "-d", "-isig", nullptr);
    el_set(el, EL_ADDFN, "axcli-complete", "complete the word or list the choices", on_tab);
    el_set(el, EL_ADDFN, "axcli-help", "list what may come next", on_question);
    el_set(el, EL_ADDFN, "axcli-interrupt", "drop the line", on_interrupt);
    el_set(el, EL_BIND, "^I", "axcli-complete", nullptr);
    el_set(el, EL_BIND, "?", "axcli-help", nullptr);
    el_set(el, EL_BIND, "^C", "axcli-interrupt", nullptr);
#endif
}

LineEditor::~LineEditor() {
#ifdef AXCLI_HAVE_LIBEDIT
    if (editing_ != nullptr) {
        history_end(editing_->history);
        el_end(editing_->el);
    }
#endif
    delete editing_;
}

bool LineEditor::read(std::string *line) {
#ifdef AXCLI_HAVE_LIBEDIT
    if (editing_ != nullptr) {
        // The terminal goes to the editor's mode before the prompt shows, not
        // at the first key: a key typed in between would otherwise meet the
        // line discipline (echoed twice; Ctrl-D kept as a NUL byte).
        el_set(editing_->el, EL_PREP_TERM, 1);
        int count = 0;
        const char *text = el_gets(editing_->el, &count);
        if (text == nullptr || count <= 0) return false;
        *line = text;
        while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
        if (line->find_first_not_of(" \t") != std::string::npos) {
            HistEvent ev;
            history(editing_->history, &ev, H_ENTER, line->c_str());
        }
        return true;
    }
#endif
    if (isatty(STDIN_FILENO)) {
        std::fputs(prompt_, out());
        std::fflush(out());
    }
    char *buf = nullptr;
    size_t cap = 0;
    const ssize_t n = getline(&buf, &cap, stdin);
    if (n < 0) {
        std::free(buf);
        return false;
    }
    line->assign(buf, static_cast<size_t>(n));
    std::free(buf);
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    return true;
}

}  // namespace axcli
