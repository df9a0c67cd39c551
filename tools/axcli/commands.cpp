#include "commands.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"
#include "platform_core/up_text.h"

namespace axcli {

namespace {

using Words = std::vector<std::string>;
using Action = std::function<int(const Words &rest, const Options &options)>;

constexpr const char *kPortArg = "PORTS";  // marks an argument that takes port text

struct Command {
    Words words;       // fixed words
    const char *args;  // argument synopsis for the help
    const char *help;
    Action action;
};

// Runs a management function and turns its result into an exit code.
int run_function(int pid, const std::string &name, const std::vector<Argument> &args) {
    int rc = execute(pid, name, args);
    if (rc != 0) {
        std::fprintf(stderr, "axcli: %s failed (%d)\n", name.c_str(), rc);
        return kExitFailed;
    }
    return kExitOk;
}

Action function(const char *name) {
    return [name](const Words &rest, const Options &o) {
        if (!rest.empty()) {
            std::fprintf(stderr, "axcli: unexpected '%s'\n", rest.front().c_str());
            return kExitUsage;
        }
        return run_function(o.target, name, {});
    };
}

int flood_dport(int op, const Words &rest, const Options &o) {
    if (rest.size() != 1) {
        std::fprintf(stderr, "axcli: give the port range as START-END\n");
        return kExitUsage;
    }
    return run_function(o.target, "cliTcpUdpFloodDefendDport",
                        {{"op", std::to_string(op)}, {"dport", rest[0]}});
}

// A module by number or by name.
int module_id(const std::string &text) {
    char *end = nullptr;
    long mid = std::strtol(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0') return IS_MID_VALID(mid) ? static_cast<int>(mid) : -1;
    for (int m = 1; m < MID_MAX; ++m)
        if (strcasecmp(midNameGet(m), text.c_str()) == 0) return m;
    return -1;
}

int debug_set(const Words &rest, const Options &) {
    int mid = rest.size() == 2 ? module_id(rest[0]) : -1;
    char *end = nullptr;
    long level = rest.size() == 2 ? std::strtol(rest[1].c_str(), &end, 10) : -1;
    if (mid < 0 || end == nullptr || *end != '\0' || level < 0 || level > 3) {
        std::fprintf(stderr, "axcli: usage: debug MODULE LEVEL (MODULE a number or name, LEVEL 0..3)\n");
        return kExitUsage;
    }
    if (debugFlagSet(static_cast<unsigned>(mid), static_cast<unsigned>(level)) != 0) {
        std::fprintf(stderr, "axcli: the debug switches are not available\n");
        return kExitFailed;
    }
    std::printf("debug %s (%d): %ld\n", midNameGet(mid), mid, level);
    return kExitOk;
}

int debug_show(const Words &rest, const Options &) {
    const int only = rest.size() == 1 ? module_id(rest[0]) : 0;
    if (rest.size() > 1 || only < 0) {
        std::fprintf(stderr, "axcli: usage: show debug [MODULE] (MODULE a number or name)\n");
        return kExitUsage;
    }
    if (gDebugControlVaribles == nullptr) {
        std::fprintf(stderr, "axcli: the debug switches are not available\n");
        return kExitFailed;
    }
    std::printf("default level %d\n", getDefaultDbgSwitch());
    for (int m = 1; m < MID_MAX; ++m) {
        if (only != 0 && m != only) continue;
        if (only == 0 && debugFlagGet(static_cast<unsigned>(m)) == getDefaultDbgSwitch()) continue;
        std::printf("%3d %-16s %d\n", m, midNameGet(m), debugFlagGet(static_cast<unsigned>(m)));
    }
    return kExitOk;
}

int show_ports(const Words &rest, const Options &) {
    if (rest.empty()) {
        std::fprintf(stderr, "axcli: usage: show interface PORTS (for example Gi1/0/1-4,Po2)\n");
        return kExitUsage;
    }
    std::string text_in = rest[0];  // "gigabitEthernet 1/0/1" arrives as two words
    for (size_t i = 1; i < rest.size(); ++i) text_in += " " + rest[i];
    up_list ports{};
    if (usStr2UpList(-1, text_in.c_str(), &ports, nullptr) != 0) {
        std::fprintf(stderr, "axcli: '%s' is not a valid port list\n", text_in.c_str());
        return kExitFailed;
    }
    char text[UP_LIST_STR_LEN] = {};
    up_str_ctrl_t ctrl{};
    ctrl.str_type = UP_STR_TYPE_LONG;
    usUplist2Str(ports, text, &ctrl);
    std::printf("%s\n", text);
    return kExitOk;
}

int raw_execute(const Words &rest, const Options &o) {
    if (rest.empty()) {
        std::fprintf(stderr, "axcli: usage: execute NAME [ARG=VALUE ...] [pid=N]\n");
        return kExitUsage;
    }
    int pid = o.target;
    std::vector<Argument> args;
    for (size_t i = 1; i < rest.size(); ++i) {
        size_t eq = rest[i].find('=');
        if (eq == std::string::npos || eq == 0) {
            std::fprintf(stderr, "axcli: argument '%s' is not NAME=VALUE\n", rest[i].c_str());
            return kExitUsage;
        }
        std::string name = rest[i].substr(0, eq), value = rest[i].substr(eq + 1);
        if (name == "pid")
            pid = std::atoi(value.c_str());
        else
            args.push_back({name, value});
    }
    return run_function(pid, rest[0], args);
}

const std::vector<Command> &commands() {
    static const std::vector<Command> kCommands = {
        {{"show", "running-config"}, "", "the running configuration", function("imi_cli_axConfigShowRunCfg")},
        {{"show", "packet", "registry"},
         "",
         "packet receivers and their registrations",
         function("cliAxpacketShowRegister")},
        {{"show", "packet", "statistics"},
         "",
         "receive statistics of the packet service",
         function("cliAxpacketShowStat")},
        {{"show", "flood-defend"}, "", "TCP/UDP flood defence", function("cliTcpUdpFloodDefendShow")},
        {{"flood-defend", "add"},
         "START-END",
         "defend a destination port range",
         [](const Words &r, const Options &o) { return flood_dport(1, r, o); }},
        {{"flood-defend", "delete"},
         "START-END",
         "stop defending a destination port range",
         [](const Words &r, const Options &o) { return flood_dport(0, r, o); }},
        {{"show", "debug"}, "[MODULE]", "debug switches (all that differ from the default)", debug_show},
        {{"debug"}, "MODULE LEVEL", "set a module's debug switch (0..3)", debug_set},
        {{"show", "interface"}, kPortArg, "check port text and show it in long form", show_ports},
        {{"execute"}, "NAME [ARG=VALUE ...] [pid=N]", "run any management function by name", raw_execute},
        {{"help"}, "", "this list", [](const Words &, const Options &) { return print_help(), kExitOk; }},
    };
    return kCommands;
}

bool prefix_of(const std::string &typed, const std::string &word) {
    return !typed.empty() && word.compare(0, typed.size(), typed) == 0;
}

// The command whose fixed words the line's first words abbreviate
// uniquely; `used` receives how many words it took.
const Command *match(const Words &words, size_t *used, bool *ambiguous) {
    const Command *found = nullptr;
    *ambiguous = false;
    for (const Command &cmd : commands()) {
        if (words.size() < cmd.words.size()) continue;
        bool ok = true;
        for (size_t i = 0; i < cmd.words.size() && ok; ++i) ok = prefix_of(words[i], cmd.words[i]);
        if (!ok) continue;
        // An exact match of every word wins over abbreviations.
        bool exact = true;
        for (size_t i = 0; i < cmd.words.size(); ++i) exact = exact && words[i] == cmd.words[i];
        if (found != nullptr && !exact) {
            *ambiguous = true;
            continue;
        }
        found = &cmd;
        *used = cmd.words.size();
        if (exact) {
            *ambiguous = false;
            break;
        }
    }
    return found;
}

struct PortHelp {
    std::vector<std::string> *hints;
    std::vector<std::string> lines;
};

void port_help(void *env, const char *text, const char *desc) {
    static_cast<PortHelp *>(env)->hints->push_back(std::string(text) + "  " + desc);
}
void port_line(void *env, const char *text) { static_cast<PortHelp *>(env)->lines.emplace_back(text); }
int port_may_end(void *) { return 1; }

}  // namespace

Words split_words(const std::string &line) {
    Words words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

void print_help() {
    std::printf("Commands (words may be abbreviated):\n");
    for (const Command &cmd : commands()) {
        std::string synopsis;
        for (const std::string &w : cmd.words) synopsis += w + " ";
        synopsis += cmd.args == kPortArg ? "PORTS" : cmd.args;
        std::printf("  %-40s %s\n", synopsis.c_str(), cmd.help);
    }
    std::printf("  %-40s %s\n", "quit", "leave (interactive use)");
}

int run_command(const std::string &line, const Options &options) {
    Words words = split_words(line);
    if (words.empty()) return kExitOk;
    size_t used = 0;
    bool ambiguous = false;
    const Command *cmd = match(words, &used, &ambiguous);
    if (cmd == nullptr || ambiguous) {
        std::fprintf(stderr, "axcli: %s command '%s' (try help)\n", ambiguous ? "ambiguous" : "unknown",
                     line.c_str());
        return kExitUsage;
    }
    return cmd->action(Words(words.begin() + static_cast<long>(used), words.end()), options);
}

std::vector<std::string> complete(const Words &words, const std::string &partial,
                                  std::vector<std::string> *hints) {
    std::vector<std::string> out;
    for (const Command &cmd : commands()) {
        bool ok = words.size() <= cmd.words.size() || cmd.args == kPortArg;
        for (size_t i = 0; i < words.size() && i < cmd.words.size() && ok; ++i)
            ok = prefix_of(words[i], cmd.words[i]) || words[i] == cmd.words[i];
        if (!ok) continue;
        if (words.size() < cmd.words.size()) {
            const std::string &next = cmd.words[words.size()];
            if (next.compare(0, partial.size(), partial) == 0 && (out.empty() || out.back() != next))
                out.push_back(next);
        } else if (cmd.args == kPortArg && words.size() == cmd.words.size() &&
                   partial.find_first_of("0123456789") == std::string::npos) {
            // Before the first number: the interface prefixes, in their
            // short form so that the port text stays one word.
            static const char *const kPrefixes[][2] = {{"Fa", "fastEthernet"},
                                                       {"Gi", "gigabitEthernet"},
                                                       {"Te", "ten-gigabitEthernet"},
                                                       {"Po", "port-channel"}};
            for (const auto &p : kPrefixes)
                if (strncasecmp(p[0], partial.c_str(), partial.size()) == 0 ||
                    strncasecmp(p[1], partial.c_str(), partial.size()) == 0)
                    out.emplace_back(p[0]);
        } else if (cmd.args == kPortArg && words.size() == cmd.words.size()) {
            // The port model offers what may follow the text typed so far.
            PortHelp help{hints, {}};
            up_str_option_t opt{};
            opt.cli_env = &help;
            upStrCliParaSet(port_help, port_line, port_may_end);
            up_list ports{};
            usStr2UpList(-1, partial.c_str(), &ports, &opt);
            upStrCliParaSet(nullptr, nullptr, nullptr);
            for (const std::string &l : help.lines)
                if (l.compare(0, partial.size(), partial) == 0) out.push_back(l);
        }
    }
    return out;
}

}  // namespace axcli
