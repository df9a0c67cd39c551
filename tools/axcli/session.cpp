#include "session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "axmsg_client/axmsg_client.h"
#include "output.h"
#include "platform_core/aximi.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"

namespace axcli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kAcceptWait{1500};  // the hub's answer to our first message

std::mutex g_terminal;                  // prints and questions come from RPC worker threads
std::atomic<bool> g_answering{false};   // the user is being asked: the deadline waits
std::atomic<long long> g_answer_ms{0};  // time spent answering in the running command

// One answer line from the terminal, without its line end.
std::string read_answer() {
    g_answering.store(true);
    const auto from = Clock::now();
    std::fflush(out());
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n = getline(&line, &cap, stdin);
    std::string answer = n > 0 ? std::string(line, static_cast<size_t>(n)) : std::string();
    std::free(line);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    g_answer_ms += std::chrono::duration_cast<milliseconds>(Clock::now() - from).count();
    g_answering.store(false);
    return answer;
}

bool g_pending_cr = false;  // a piece of output ended in '\r'; guarded by g_terminal

// Management output ends its lines with "\r\n"; written as plain line
// ends, the output of a command diffs and greps like any text file.
void write_output(const char *text) {
    if (g_pending_cr && text[0] != '\n') std::fputc('\r', out());
    g_pending_cr = false;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p != '\r') {
            std::fputc(*p, out());
        } else if (p[1] == '\0') {
            g_pending_cr = true;
        } else if (p[1] != '\n') {
            std::fputc('\r', out());
        }
    }
}

int print_hook(int flag, void *, const char *text, AXRPC_PARA_T *reply) {
    std::lock_guard<std::mutex> guard(g_terminal);
    write_output(text);
    switch (flag) {
        case AXIMI_PRINT_FLAG_CHAR: {
            std::string answer = read_answer();
            return axImiPutChar(reply, answer.empty() ? '\n' : answer[0]);
        }
        case AXIMI_PRINT_FLAG_YESNO: {
            std::string answer = read_answer();
            const bool yes = answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
            return axImiPutInt(reply, yes ? 1 : 0);
        }
        case AXIMI_PRINT_FLAG_STRING:
            return axImiPutString(reply, read_answer().c_str());
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

// ---- Taking a process id ---------------------------------------------------

// The hub says nothing to a hello: it closes the connection of a refused
// one. A message that only an accepted connection gets answered (the hub's
// echo) tells the two apart.
std::mutex g_echo_mu;
std::condition_variable g_echo_cv;
bool g_echoed = false;  // guarded by g_echo_mu

int on_echo(AXMSG_T *) {
    std::lock_guard<std::mutex> guard(g_echo_mu);
    g_echoed = true;
    g_echo_cv.notify_all();
    return 0;
}

// True when the hub listens (a core is up), whether or not it takes us.
bool hub_listens() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(AXMSG_SERV_PORT);
    inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return up;
}

enum class Take { kTaken, kRefused, kUnreachable };

Take take_id(int pid, unsigned timeout_ms, bool first) {
    if (!first) axmsg_client_close();
    simProcessSetPid(pid);
    {
        std::lock_guard<std::mutex> guard(g_echo_mu);
        g_echoed = false;
    }
    // A hub that listens answers an accepted hello at once; only a core
    // that is not up yet is worth the rest of the time.
    const unsigned first_wait = std::min<unsigned>(timeout_ms, kAcceptWait.count());
    const int rc = axmsg_client_init(pid, first_wait);
    if (rc < 0) return Take::kUnreachable;
    if (rc != 0) {
        if (hub_listens()) return Take::kRefused;
        if (timeout_ms <= first_wait || axmsg_client_wait_connected(timeout_ms - first_wait) != 0)
            return hub_listens() ? Take::kRefused : Take::kUnreachable;
    }
    axmsg_reg(AXMSG_ECHO_REPLY_MID, on_echo);
    uint8_t ask[2] = {AXMSG_DBG_ECHO, 0};
    iovec piece{ask, sizeof ask};
    AXMSG_T msg{};
    msg.dst_unit = UNIT_1;
    msg.dst_proc = PID_CORE;
    msg.msg_type = MID_AXMSG;
    msg.iov = &piece;
    msg.iov_num = 1;
    const unsigned connects = axmsg_client_connect_count();
    axmsg_send(&msg);
    std::unique_lock<std::mutex> lock(g_echo_mu);
    const auto until = Clock::now() + kAcceptWait;
    while (!g_echoed && Clock::now() < until) {
        g_echo_cv.wait_for(lock, milliseconds(20));
        if (!g_echoed && (axmsg_client_connected() == 0 || axmsg_client_connect_count() != connects)) break;
    }
    if (g_echoed) return Take::kTaken;
    lock.unlock();
    return hub_listens() ? Take::kRefused : Take::kUnreachable;
}

// Which session ids are free now: each is tried in turn (and let go).
std::string free_session_ids(unsigned timeout_ms) {
    std::string list;
    for (int pid = kSessionPidFirst; pid <= kSessionPidLast; ++pid)
        if (take_id(pid, timeout_ms, false) == Take::kTaken)
            list += (list.empty() ? "" : ", ") + std::to_string(pid);
    axmsg_client_close();
    return list.empty() ? "none" : list;
}

void report_unreachable() {
    std::fprintf(stderr, "axcli: the core process is not reachable (no hub at %s:%d)\n", AXMSG_SERV_ADDR,
                 AXMSG_SERV_PORT);
}

}  // namespace

int connect(Options *options) {
    Take got = Take::kUnreachable;
    if (options->pid != 0) {
        got = take_id(options->pid, options->timeout_ms, true);
        if (got == Take::kRefused) {
            std::fprintf(stderr, "axcli: process id %d is taken by another process; free session ids: %s\n",
                         options->pid, free_session_ids(options->timeout_ms).c_str());
            return kExitIdTaken;
        }
    } else {
        for (int pid = kSessionPidFirst; pid <= kSessionPidLast; ++pid) {
            got = take_id(pid, options->timeout_ms, pid == kSessionPidFirst);
            if (got != Take::kRefused) {
                options->pid = pid;
                break;
            }
        }
        if (got == Take::kRefused) {
            std::fprintf(stderr,
                         "axcli: every session process id (%d-%d) is taken; close a session or give --pid\n",
                         kSessionPidFirst, kSessionPidLast);
            return kExitIdTaken;
        }
    }
    if (got == Take::kUnreachable) {
        report_unreachable();
        return kExitUnreachable;
    }
    // The shared blocks (debug switches, port ranges) exist once the core is up.
    if (axshm_init() != 0 || debugFlagInit() != 0 || up_mod_init() != 0)
        std::fprintf(stderr,
                     "axcli: shared data of the core is not available; debug and port commands will fail\n");
    if (axrpcInit() != 0 || axImiInitForUI(print_hook, user_info_hook) != 0) {
        std::fprintf(stderr, "axcli: cannot start the management client (RPC message queues)\n");
        return kExitUnreachable;
    }
    return kExitOk;
}

bool process_answers(int pid) {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    const int rc = axrpcCallFunctionSync(1u << UNIT_1, pid, AXIMI_CLI_LIST_FUNC, &in, 1, 0, &reply);
    const bool answered = rc == 0 && reply.isUsed;
    axrpcParaGroupFree(&reply);
    axrpcParaFree(&in);
    return answered;
}

int execute(int pid, const std::string &name, const std::vector<Argument> &args, const Options &options,
            const char *gone_hint) {
    // The call runs on its own thread so that this one keeps the deadline;
    // what it shares with us lives as long as either needs it.
    struct Call {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
        int rc = -1;
        bool served = false;  // the function's result came back
        AXRPC_PARA_T para;
    };
    auto call = std::make_shared<Call>();
    axrpcParaInit(&call->para);
    for (const Argument &arg : args) {
        int rc = !arg.text && is_integer(arg.value)
                     ? axrpcAddInt(&call->para, arg.name.c_str(),
                                   static_cast<int>(std::strtol(arg.value.c_str(), nullptr, 0)))
                     : axrpcAddStringPtr(&call->para, arg.name.c_str(), arg.value.c_str());
        if (rc != 0) {
            std::fprintf(stderr, "axcli: argument '%s' cannot be sent (a name is at most %d characters)\n",
                         arg.name.c_str(), AXRPC_PARA_NAME_MAX);
            axrpcParaFree(&call->para);
            return kExitUsage;
        }
    }
    g_answer_ms.store(0);
    std::thread([call, pid, name] {
        int32_t session = static_cast<int32_t>(getpid());
        int rc = axImiExecute(pid, name.c_str(), &session, sizeof session, &call->para);
        int ret = 0;
        const bool served = axrpcGetInt(&call->para, AXIMI_SERVER_RET, &ret) == 0;
        axrpcParaFree(&call->para);
        std::lock_guard<std::mutex> guard(call->mu);
        call->rc = rc;
        call->served = served;
        call->done = true;
        call->cv.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(call->mu);
    const auto start = Clock::now();
    while (!call->done) {
        call->cv.wait_for(lock, milliseconds(50));
        if (call->done || g_answering.load()) continue;
        const long long spent =
            std::chrono::duration_cast<milliseconds>(Clock::now() - start).count() - g_answer_ms.load();
        if (spent >= static_cast<long long>(options.timeout_ms)) {
            std::fflush(out());
            if (gone_hint != nullptr)
                std::fprintf(stderr, "axcli: %s\n", gone_hint);
            else
                std::fprintf(stderr, "axcli: process %d (%s) did not answer %s within %u ms\n", pid,
                             pidNameGet(pid), name.c_str(), options.timeout_ms);
            finish_output();
            _exit(kExitNoAnswer);  // the call's thread still waits; the core sees us leave
        }
    }
    std::fflush(out());
    if (call->rc == 0) return kExitOk;
    if (!call->served) {
        std::fprintf(stderr, "axcli: %s could not be sent to process %d (%s)\n", name.c_str(), pid,
                     pidNameGet(pid));
        return kExitUnreachable;
    }
    std::fprintf(stderr, "axcli: %s failed (%d)\n", name.c_str(), call->rc);
    return kExitFailed;
}

}  // namespace axcli
