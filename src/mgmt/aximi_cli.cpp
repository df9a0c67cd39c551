// Registering CLI commands with the core and reading them back (see
// platform_core/aximi_cli.h). In the core process itself the table is
// used directly; elsewhere through the RPC functions of aximi_cli_table,
// and the process keeps what it registered so that it can register it
// again with a core that started anew (axImiCliRegisterAgain).
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mgmt/aximi_cli_table.h"
#include "mgmt/aximi_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

using namespace pc::mgmt::imi;

constexpr unsigned short kRegWaitS = 5;  // a registration the core does not answer in this time fails

bool in_core() { return pidGetCurrent() == PID_CORE; }

// One call of "aximiCliCmdReg" in the core; its "cliRet", or -1.
int call_register(AXRPC_PARA_T *in) {
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    int rc = axrpcCallFunctionSync(pc::mgmt::current_unit_bits(), PID_CORE, AXIMI_CLI_REG_FUNC, in, kRegWaitS,
                                   0, &reply);
    int ret = -1;
    if (rc == 0 && reply.isUsed) axrpcGetInt(&reply.paraSet, cli::kParaRet, &ret);
    axrpcParaGroupFree(&reply);
    return rc == 0 ? ret : -1;
}

int add_text(AXRPC_PARA_T *in, const char *name, const char *text) {
    if (text == nullptr) return 0;
    return axrpcAddString(in, name, text, static_cast<int>(std::strlen(text) + 1));
}

// One registration with the core process; "cliRet", or -1.
int register_remote(const AXIMI_CLI_CMD_T &cmd) {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    int rc = add_text(&in, cli::kParaWords, cmd.words);
    if (rc == 0) rc = add_text(&in, cli::kParaSynopsis, cmd.synopsis);
    if (rc == 0) rc = add_text(&in, cli::kParaHelp, cmd.help);
    if (rc == 0) rc = add_text(&in, cli::kParaFunc, cmd.funcName);
    if (rc == 0) rc = call_register(&in);
    axrpcParaFree(&in);
    return rc;
}

// The commands this process (other than the core) registered, oldest
// first, one per words: what the core must learn again after it restarts.
// (An absent synopsis or help is kept as "", which the core stores alike.)
struct Registered {
    std::string words, synopsis, help, func;

    explicit Registered(const AXIMI_CLI_CMD_T &cmd)
        : words(cmd.words),
          synopsis(cmd.synopsis != nullptr ? cmd.synopsis : ""),
          help(cmd.help != nullptr ? cmd.help : ""),
          func(cmd.funcName) {}
    AXIMI_CLI_CMD_T cmd() const { return {words.c_str(), synopsis.c_str(), help.c_str(), func.c_str()}; }
};

std::mutex gRegisteredLock;           // guards gRegistered
std::vector<Registered> gRegistered;  // guarded by gRegisteredLock

void forget(const char *words) {
    std::lock_guard<std::mutex> guard(gRegisteredLock);
    std::erase_if(gRegistered, [&](const Registered &r) { return r.words == words; });
}

void remember(const AXIMI_CLI_CMD_T &cmd) {
    std::lock_guard<std::mutex> guard(gRegisteredLock);
    std::erase_if(gRegistered, [&](const Registered &r) { return r.words == cmd.words; });
    gRegistered.emplace_back(cmd);
}

const char *indexed_text(const AXRPC_PARA_T *set, const char *name, int i) {
    char key[AXRPC_PARA_NAME_MAX + 1];
    std::snprintf(key, sizeof key, "%s%d", name, i);
    const char *text = pc::mgmt::para_text(set, key);
    return text != nullptr ? text : "";
}

}  // namespace

extern "C" {

PC_API int axImiCliRegister(const AXIMI_CLI_CMD_T *cmd, AXIMI_FUNC hook) {
    PFM_ENSURE_RET(kMid, NULL != cmd, -1);
    PFM_ENSURE_RET(kMid, cli::words_valid(cmd->words), -1);
    PFM_ENSURE_RET(kMid, cli::text_valid(cmd->synopsis, AXIMI_CLI_SYNOPSIS_MAX), -1);
    PFM_ENSURE_RET(kMid, cli::text_valid(cmd->help, AXIMI_CLI_HELP_MAX), -1);
    PFM_ENSURE_RET(kMid, NULL != cmd->funcName && IMI_FUNC_NAME_MAX >= strlen(cmd->funcName), -1);
    if (hook != nullptr) {
        if (int rc = axImiRegisterFunc(cmd->funcName, hook, IMI_EXEC_MASTER_ONLY); rc != 0) return rc;
    }
    int rc = -1;
    if (in_core()) {
        rc = cli::table_add(PID_CORE, cmd->words, cmd->synopsis, cmd->help, cmd->funcName);
    } else {
        rc = register_remote(*cmd);
        if (rc == 0) remember(*cmd);
    }
    if (rc != 0) {
        PFM_ERR(kMid, "CLI command '%s' not registered with the core\n", cmd->words);
        if (hook != nullptr) axImiUnregisterFunc(cmd->funcName);
        return -1;
    }
    return 0;
}

PC_API int axImiCliUnregister(const char *words, const char *funcName) {
    PFM_ENSURE_RET(kMid, cli::words_valid(words), -1);
    int rc = -1;
    if (in_core()) {
        rc = cli::table_remove(PID_CORE, words);
    } else {
        forget(words);  // not registered again, whatever the core answers now
        AXRPC_PARA_T in;
        axrpcParaInit(&in);
        rc = add_text(&in, cli::kParaWords, words);
        if (rc == 0) rc = axrpcAddFlag(&in, cli::kParaDelete, 1);
        if (rc == 0) rc = call_register(&in);
        axrpcParaFree(&in);
    }
    if (funcName != nullptr && axImiUnregisterFunc(funcName) != 0) rc = -1;
    return rc;
}

PC_API int axImiCliRegisterAgain(void) {
    if (in_core()) return 0;
    std::vector<Registered> all;
    {
        std::lock_guard<std::mutex> guard(gRegisteredLock);
        all = gRegistered;
    }
    // Every command is tried, so one the core refuses does not keep the
    // others out; a failure makes the caller try again later.
    int result = 0;
    for (const Registered &r : all)
        if (int rc = register_remote(r.cmd()); rc != 0) {
            PFM_ERR(kMid, "CLI command '%s' not registered again with the core (%d)\n", r.words.c_str(), rc);
            result = -1;
        }
    return result;
}

PC_API int axImiCliList(AXIMI_CLI_VISIT visit, void *arg, unsigned short waitSeconds) {
    PFM_ENSURE_RET(kMid, NULL != visit, -1);
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    int count = -1;
    AXRPC_PARA_T *set = nullptr;
    AXRPC_PARA_T local;
    axrpcParaInit(&local);
    if (in_core()) {
        cli::serve_list(&in, &local);
        set = &local;
    } else if (axrpcCallFunctionSync(pc::mgmt::current_unit_bits(), PID_CORE, AXIMI_CLI_LIST_FUNC, &in,
                                     waitSeconds, 0, &reply) == 0 &&
               reply.isUsed) {
        set = &reply.paraSet;
    }
    if (set != nullptr && axrpcGetInt(set, cli::kParaCount, &count) == 0 && count >= 0) {
        count = count > AXIMI_CLI_CMD_MAX ? AXIMI_CLI_CMD_MAX : count;
        for (int i = 0; i < count; ++i) {
            char key[AXRPC_PARA_NAME_MAX + 1];
            std::snprintf(key, sizeof key, "%s%d", cli::kParaPid, i);
            int pid = 0;
            const char *words = indexed_text(set, cli::kParaWords, i);
            // What the core sends is checked like anything from outside.
            if (axrpcGetInt(set, key, &pid) != 0 || !IS_PID_VALID(pid) || !cli::words_valid(words)) continue;
            const char *synopsis = indexed_text(set, cli::kParaSynopsis, i);
            const char *help = indexed_text(set, cli::kParaHelp, i);
            const char *func = indexed_text(set, cli::kParaFunc, i);
            if (!cli::text_valid(synopsis, AXIMI_CLI_SYNOPSIS_MAX) ||
                !cli::text_valid(help, AXIMI_CLI_HELP_MAX) || !cli::text_valid(func, IMI_FUNC_NAME_MAX) ||
                func[0] == '\0')
                continue;
            if (visit(arg, pid, words, synopsis, help, func) != 0) break;
        }
    } else {
        count = -1;
    }
    axrpcParaFree(&local);
    axrpcParaGroupFree(&reply);
    axrpcParaFree(&in);
    return count;
}

}  // extern "C"
