#include "commands.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>

#include "numbers.h"
#include "output.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"
#include "platform_core/up_text.h"

namespace axcli {

namespace {

using Action = std::function<int(const Words &rest, const Options &options)>;

enum class Args {
    kNone,      // nothing may follow the words
    kPorts,     // port text
    kOptPorts,  // port text, or nothing
    kOther,     // what the synopsis says, checked by the action
};

struct Command {
    Words words;           // fixed words
    std::string synopsis;  // what may follow, for the help
    std::string help;
    Args args;
    Action action;
    bool feature = false;  // registered by a feature process (from the core's list)
};

// Names of the core's management functions behind the client's own commands.
constexpr const char *kShowRunning = "imi_cli_axConfigShowRunCfg";
constexpr const char *kShowInterfaces = "coreShowInterfaces";
constexpr const char *kShowIntfStatus = "coreShowInterfacesStatus";
constexpr const char *kShowVersion = "coreShowVersion";
constexpr const char *kPortsArg = "ports";  // the port text parameter of the interface listings

int usage_error(const char *fmt, const std::string &what) {
    std::fprintf(stderr, "axcli: ");
    std::fprintf(stderr, fmt, what.c_str());
    std::fprintf(stderr, "\n");
    return kExitUsage;
}

std::string join(const Words &words, size_t from = 0) {
    std::string s;
    for (size_t i = from; i < words.size(); ++i) s += (i > from ? " " : "") + words[i];
    return s;
}

Action function(const char *name) {
    return [name](const Words &, const Options &o) { return execute(o.target, name, {}, o); };
}

// Port text as one string ("gigabitEthernet 1/0/1" arrives as two words),
// checked by the port model; false after saying why.
bool port_text(const Words &rest, std::string *text) {
    *text = join(rest);
    up_list ports{};
    if (usStr2UpList(-1, text->c_str(), &ports, nullptr) != 0) {
        usage_error("'%s' is not a valid port list (for example Gi1/0/1-4,Po2)", *text);
        return false;
    }
    return true;
}

int show_interfaces(const Words &rest, const Options &o) {
    std::vector<Argument> args;
    if (!rest.empty()) {
        std::string text;
        if (!port_text(rest, &text)) return kExitUsage;
        args.push_back({kPortsArg, text, true});
    }
    return execute(o.target, kShowInterfaces, args, o);
}

int flood_dport(int op, const Words &rest, const Options &o) {
    long from = 0, to = 0;
    const std::string range = rest.size() == 1 ? rest[0] : std::string();
    const size_t dash = range.find('-');
    if (dash == std::string::npos ||
        !parse_number(std::string_view(range).substr(0, dash), 0, 65535, &from) ||
        !parse_number(std::string_view(range).substr(dash + 1), 0, 65535, &to))
        return usage_error("give the port range as START-END (0-65535), not '%s'", join(rest));
    return execute(o.target, "cliTcpUdpFloodDefendDport",
                   {{"op", std::to_string(op)}, {"dport", range, true}}, o);
}

// A module by number or by name.
int module_id(const std::string &text) {
    long mid = 0;
    if (parse_number(text, 1, MID_MAX - 1, &mid)) return static_cast<int>(mid);
    for (int m = 1; m < MID_MAX; ++m)
        if (strcasecmp(midNameGet(m), text.c_str()) == 0) return m;
    return -1;
}

int debug_set(const Words &rest, const Options &) {
    const int mid = rest.size() == 2 ? module_id(rest[0]) : -1;
    long level = -1;
    if (mid < 0 || !parse_number(rest[1], 0, 3, &level))
        return usage_error("%s", "usage: debug MODULE LEVEL (MODULE a number or name, LEVEL 0..3)");
    if (debugFlagSet(static_cast<unsigned>(mid), static_cast<unsigned>(level)) != 0) {
        std::fprintf(stderr, "axcli: the debug switches are not available\n");
        return kExitFailed;
    }
    std::fprintf(out(), "debug %s (%d): %ld\n", midNameGet(mid), mid, level);
    return kExitOk;
}

int debug_show(const Words &rest, const Options &) {
    const int only = rest.size() == 1 ? module_id(rest[0]) : 0;
    if (rest.size() > 1 || only < 0)
        return usage_error("%s", "usage: show debug [MODULE] (MODULE a number or name)");
    if (gDebugControlVaribles == nullptr) {
        std::fprintf(stderr, "axcli: the debug switches are not available\n");
        return kExitFailed;
    }
    std::fprintf(out(), "default level %d\n", getDefaultDbgSwitch());
    for (int m = 1; m < MID_MAX; ++m) {
        if (only != 0 && m != only) continue;
        if (only == 0 && debugFlagGet(static_cast<unsigned>(m)) == getDefaultDbgSwitch()) continue;
        std::fprintf(out(), "%3d %-16s %d\n", m, midNameGet(m), debugFlagGet(static_cast<unsigned>(m)));
    }
    return kExitOk;
}

int raw_execute(const Words &rest, const Options &o) {
    if (rest.empty()) return usage_error("%s", "usage: execute NAME [ARG=VALUE ...] [pid=N]");
    if (rest[0].size() > IMI_FUNC_NAME_MAX)
        return usage_error("'%s' is longer than a management function's name may be", rest[0]);
    int pid = o.target;
    std::vector<Argument> args;
    for (size_t i = 1; i < rest.size(); ++i) {
        const size_t eq = rest[i].find('=');
        if (eq == std::string::npos || eq == 0)
            return usage_error("argument '%s' is not NAME=VALUE", rest[i]);
        std::string name = rest[i].substr(0, eq), value = rest[i].substr(eq + 1);
        long n = 0;
        if (name == "pid") {
            if (!parse_number(value, 1, PID_MAX - 1, &n))
                return usage_error("pid=%s is not a process id (1..63)", value);
            pid = static_cast<int>(n);
        } else {
            args.push_back({name, value});
        }
    }
    return execute(pid, rest[0], args, o);
}

int print_help_action(const Words &, const Options &) {
    print_help(out());
    return kExitOk;
}

std::vector<Command> &table() {
    static std::vector<Command> commands = {
        {{"show", "running-config"}, "", "the running configuration", Args::kNone, function(kShowRunning)},
        {{"show", "interfaces"},
         "[PORTS]",
         "ports: link, speed, VLAN and counters (all, or PORTS)",
         Args::kOptPorts,
         show_interfaces},
        {{"show", "interfaces", "status"},
         "",
         "one line per port: link, speed, VLAN",
         Args::kNone,
         function(kShowIntfStatus)},
        {{"show", "version"},
         "",
         "device identity and image information",
         Args::kNone,
         function(kShowVersion)},
        {{"show", "packet", "registry"},
         "",
         "packet receivers and their registrations",
         Args::kNone,
         function("cliAxpacketShowRegister")},
        {{"show", "packet", "statistics"},
         "",
         "receive statistics of the packet service",
         Args::kNone,
         function("cliAxpacketShowStat")},
        {{"show", "flood-defend"},
         "",
         "TCP/UDP flood defence",
         Args::kNone,
         function("cliTcpUdpFloodDefendShow")},
        {{"flood-defend", "add"},
         "START-END",
         "defend a destination port range",
         Args::kOther,
         [](const Words &r, const Options &o) { return flood_dport(1, r, o); }},
        {{"flood-defend", "delete"},
         "START-END",
         "stop defending a destination port range",
         Args::kOther,
         [](const Words &r, const Options &o) { return flood_dport(0, r, o); }},
        {{"show", "debug"},
         "[MODULE]",
         "debug switches (all that differ from the default)",
         Args::kOther,
         debug_show},
        {{"debug"}, "MODULE LEVEL", "set a module's debug switch (0..3)", Args::kOther, debug_set},
        {{"execute"},
         "NAME [ARG=VALUE ...] [pid=N]",
         "run any management function by name",
         Args::kOther,
         raw_execute},
        {{"help"}, "", "this list", Args::kNone, print_help_action},
        {{"quit"}, "", "end the session", Args::kNone, nullptr},
        {{"exit"}, "", "end the session", Args::kNone, nullptr},
    };
    return commands;
}

// ---- Commands of feature processes ------------------------------------------

int run_feature(int pid, const std::string &func, const std::string &words, const Words &rest,
                const Options &o) {
    const std::string gone = "'" + words + "' is served by process " + std::to_string(pid) + " (" +
                             pidNameGet(pid) + "), which is gone";
    if (!process_answers(pid)) {
        std::fprintf(stderr, "axcli: %s\n", gone.c_str());
        return kExitNoAnswer;
    }
    return execute(pid, func, {{AXIMI_CLI_ARGS, join(rest), true}}, o, gone.c_str());
}

// Collects the core's list into a vector of commands (the visit's `arg`).
int add_feature(void *arg, int pid, const char *words, const char *synopsis, const char *help,
                const char *func) {
    Words w = split_words(words);
    for (const Command &c : table())
        if (!c.feature && c.words == w) return 0;  // the client's own command stays
    const std::string words_text = words, func_name = func;
    static_cast<std::vector<Command> *>(arg)->push_back(
        {w, synopsis, help, Args::kOther,
         [pid, func_name, words_text](const Words &r, const Options &o) {
             return run_feature(pid, func_name, words_text, r, o);
         },
         true});
    return 0;
}

// ---- Matching -------------------------------------------------------------------

bool prefix_of(const std::string &typed, const std::string &word) {
    return !typed.empty() && word.compare(0, typed.size(), typed) == 0;
}

// The commands whose first words the typed `words` abbreviate, narrowed one
// word at a time (an exact word wins); `used` receives how many of the
// typed words were keywords, `ambiguous` the choices where one word
// abbreviates several.
std::vector<const Command *> narrow(const Words &words, size_t *used, std::vector<std::string> *ambiguous) {
    std::vector<const Command *> cands;
    for (const Command &c : table()) cands.push_back(&c);
    size_t i = 0;
    for (; i < words.size(); ++i) {
        std::vector<const Command *> next, exact;
        for (const Command *c : cands) {
            if (c->words.size() <= i || !prefix_of(words[i], c->words[i])) continue;
            next.push_back(c);
            if (c->words[i] == words[i]) exact.push_back(c);
        }
        if (!exact.empty()) next = exact;
        if (next.empty()) break;
        std::vector<std::string> distinct;
        for (const Command *c : next)
            if (std::find(distinct.begin(), distinct.end(), c->words[i]) == distinct.end())
                distinct.push_back(c->words[i]);
        if (distinct.size() > 1) {
            if (ambiguous != nullptr) *ambiguous = distinct;
            cands = next;
            ++i;
            break;
        }
        cands = next;
    }
    *used = i;
    return cands;
}

struct PortHelp {
    std::vector<Hint> *hints;
    std::vector<std::string> lines;
};

void port_help(void *env, const char *text, const char *desc) {
    static_cast<PortHelp *>(env)->hints->push_back({text, desc});
}
void port_line(void *env, const char *text) { static_cast<PortHelp *>(env)->lines.emplace_back(text); }
int port_may_end(void *) { return 1; }

// What port text may continue `partial` with.
void port_hints(const std::string &partial, std::vector<Hint> *hints) {
    if (partial.find_first_of("0123456789") == std::string::npos) {
        // Before the first number: the interface prefixes, in their short
        // form so that the port text stays one word.
        static const char *const kPrefixes[][2] = {{"Fa", "fastEthernet"},
                                                   {"Gi", "gigabitEthernet"},
                                                   {"Te", "ten-gigabitEthernet"},
                                                   {"Po", "port-channel"}};
        for (const auto &p : kPrefixes)
            if (strncasecmp(p[0], partial.c_str(), partial.size()) == 0 ||
                strncasecmp(p[1], partial.c_str(), partial.size()) == 0)
                hints->push_back({p[0], p[1]});
        return;
    }
    std::vector<Hint> help;
    PortHelp env{&help, {}};
    up_str_option_t opt{};
    opt.cli_env = &env;
    upStrCliParaSet(port_help, port_line, port_may_end);
    up_list ports{};
    usStr2UpList(-1, partial.c_str(), &ports, &opt);
    upStrCliParaSet(nullptr, nullptr, nullptr);
    for (const std::string &l : env.lines)
        if (l.compare(0, partial.size(), partial) == 0) hints->push_back({l, ""});
    // The model's help lines ("<1-24>  GigabitEthernet interface number") name what follows.
    for (Hint &h : help) hints->push_back({h.word, h.help});
}

}  // namespace

Words split_words(const std::string &line) {
    Words words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

void load_feature_commands(const Options &options) {
    const unsigned short wait_s =
        static_cast<unsigned short>(std::clamp(options.timeout_ms / 1000u, 1u, 254u));
    std::vector<Command> listed;
    if (axImiCliList(add_feature, &listed, wait_s) < 0) return;  // the core did not answer: keep what we had
    // The core's list replaces the last one: commands of processes that
    // went away are gone from it, those of new processes have come.
    std::vector<Command> &commands = table();
    std::erase_if(commands, [](const Command &c) { return c.feature; });
    std::move(listed.begin(), listed.end(), std::back_inserter(commands));
}

void print_help(FILE *to) {
    std::fprintf(to, "Commands (words may be abbreviated; '?' lists what may come next):\n");
    for (const Command &cmd : table()) {
        std::string synopsis = join(cmd.words);
        if (!cmd.synopsis.empty()) synopsis += " " + cmd.synopsis;
        std::fprintf(to, "  %-44s %s\n", synopsis.c_str(), cmd.help.c_str());
    }
}

void print_hints(FILE *to, const std::vector<Hint> &hints) {
    size_t width = 0;
    for (const Hint &h : hints) width = std::max(width, h.word.size());
    for (const Hint &h : hints) {
        if (h.help.empty())
            std::fprintf(to, "  %s\n", h.word.c_str());
        else
            std::fprintf(to, "  %-*s  %s\n", static_cast<int>(width), h.word.c_str(), h.help.c_str());
    }
}

std::vector<Hint> next_hints(const Words &words, const std::string &partial, bool for_help) {
    size_t used = 0;
    std::vector<std::string> ambiguous;
    std::vector<const Command *> cands = narrow(words, &used, &ambiguous);
    std::vector<Hint> hints;
    if (!ambiguous.empty()) return hints;
    if (used == words.size()) {
        // Keywords that may come next.
        for (const Command *c : cands) {
            if (c->words.size() <= used || c->words[used].compare(0, partial.size(), partial) != 0) continue;
            const std::string &w = c->words[used];
            auto same = [&](const Hint &h) { return h.word == w; };
            auto it = std::find_if(hints.begin(), hints.end(), same);
            const bool ends_here = c->words.size() == used + 1;
            if (it == hints.end())
                hints.push_back({w, ends_here ? c->help : "(more words follow)"});
            else if (ends_here)
                it->help = c->help;
        }
    }
    // Arguments of a command whose words are complete.
    for (const Command *c : cands) {
        if (c->words.size() != used) continue;
        const bool nothing_typed = words.size() == used && partial.empty();
        if ((c->args == Args::kPorts || c->args == Args::kOptPorts) && words.size() == used)
            port_hints(partial, &hints);
        if (for_help && c->args == Args::kOther && words.size() == used && !c->synopsis.empty())
            hints.push_back({c->synopsis, c->help});
        if (for_help && nothing_typed && (c->args == Args::kNone || c->args == Args::kOptPorts))
            hints.push_back({"<cr>", c->help});
    }
    return hints;
}

int run_command(const std::string &line, const Options &options) {
    const Words words = split_words(line);
    if (words.empty()) return kExitOk;
    size_t used = 0;
    std::vector<std::string> ambiguous;
    std::vector<const Command *> cands = narrow(words, &used, &ambiguous);
    if (!ambiguous.empty()) {
        std::string choices;
        for (const std::string &a : ambiguous) choices += (choices.empty() ? "" : ", ") + a;
        std::fprintf(stderr, "axcli: ambiguous command '%s': '%s' may be %s\n", join(words).c_str(),
                     words[used - 1].c_str(), choices.c_str());
        return kExitUsage;
    }
    const Command *cmd = nullptr;
    for (const Command *c : cands)
        if (c->words.size() == used) cmd = c;
    if (cmd == nullptr) {
        if (used == words.size() && used > 0)
            return usage_error("incomplete command '%s' ('?' after it lists what may follow)", join(words));
        return usage_error("unknown command '%s' (try help or ?)", join(words));
    }
    const Words rest(words.begin() + static_cast<long>(used), words.end());
    if (cmd->args == Args::kNone && !rest.empty()) return usage_error("unexpected '%s'", rest.front());
    if (cmd->args == Args::kPorts && rest.empty()) return usage_error("'%s' needs PORTS", join(cmd->words));
    if (!cmd->action) return kExitOk;  // quit and exit are the session's
    return cmd->action(rest, options);
}

}  // namespace axcli
