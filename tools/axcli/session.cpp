#include "session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/aximi.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"

namespace axcli {

namespace {

std::mutex g_terminal;  // prints and questions come from RPC worker threads

// One answer line from the terminal, without its line end.
std::string read_answer() {
    char line[512];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return {};
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

int print_hook(int flag, void *, const char *text, AXRPC_PARA_T *out) {
    std::lock_guard<std::mutex> guard(g_terminal);
    std::fputs(text, stdout);
    std::fflush(stdout);
    switch (flag) {
        case AXIMI_PRINT_FLAG_CHAR: {
            std::string answer = read_answer();
            return axImiPutChar(out, answer.empty() ? '\n' : answer[0]);
        }
        case AXIMI_PRINT_FLAG_YESNO: {
            std::string answer = read_answer();
            const bool yes = answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
            return axImiPutInt(out, yes ? 1 : 0);
        }
        case AXIMI_PRINT_FLAG_STRING:
            return axImiPutString(out, read_answer().c_str());
        default:
            return 0;
    }
}

int user_info_hook(int, AXIMI_USER_INFO_T *info) {
    std::memset(info, 0, sizeof *info);
    const char *user = std::getenv("USER");
    std::snprintf(info->userName, sizeof info->userName, "%s", user != nullptr ? user : "axcli");
    std::snprintf(info->userIp, sizeof info->userIp, "%s", "127.0.0.1");
    info->level = 15;
    return 0;
}

bool is_integer(const std::string &text) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 0);
    return *end == '\0' && errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
}

}  // namespace

int connect(const Options &options) {
    simProcessSetPid(options.pid);
    int rc = axmsg_client_init(options.pid, options.connect_ms);
    if (rc != 0) {
        std::fprintf(stderr,
                     rc == 1 ? "axcli: the core process is not reachable (no hub at 127.0.0.1:3600)\n"
                             : "axcli: cannot connect as process %d\n",
                     options.pid);
        return kExitUnreachable;
    }
    // The shared blocks (debug switches, port ranges) exist once the core is up.
    if (axshm_init() != 0 || debugFlagInit() != 0 || up_mod_init() != 0)
        std::fprintf(stderr,
                     "axcli: shared data of the core is not available; debug and port commands will fail\n");
    const int rpc = axrpcInit();
    if (rpc != 0 || axImiInitForUI(print_hook, user_info_hook) != 0) {
        std::fprintf(stderr, "axcli: cannot start the management client (RPC message queues)\n");
        return kExitUnreachable;
    }
    return kExitOk;
}

int execute(int pid, const std::string &name, const std::vector<Argument> &args) {
    AXRPC_PARA_T para;
    axrpcParaInit(&para);
    for (const Argument &arg : args) {
        int rc = is_integer(arg.value)
                     ? axrpcAddInt(&para, arg.name.c_str(),
                                   static_cast<int>(std::strtol(arg.value.c_str(), nullptr, 0)))
                     : axrpcAddStringPtr(&para, arg.name.c_str(), arg.value.c_str());
        if (rc != 0) {
            std::fprintf(stderr, "axcli: bad argument '%s'\n", arg.name.c_str());
            axrpcParaFree(&para);
            return -1;
        }
    }
    int32_t session = static_cast<int32_t>(getpid());
    int rc = axImiExecute(pid, name.c_str(), &session, sizeof session, &para);
    axrpcParaFree(&para);
    std::fflush(stdout);
    return rc;
}

}  // namespace axcli
