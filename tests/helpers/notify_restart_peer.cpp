// A process for the notification restart tests: it is killed with SIGKILL
// and started again under the same process id. Arguments:
//   notify_restart_peer PID TAG TYPE PRI RAISE COUNT [SINK]
// Connects to the hub as PID, subscribes TYPE at PRI (when TYPE >= 0), and
// its callback reports "got|TAG|<argument>" to the core with the RPC
// function "peer_saw". With SINK it then sends 512 KiB to process SINK, a
// peer that never reads, so the hub's reader of this process is busy
// writing for a while. It reports "ready|TAG"; when RAISE >= 0 it waits
// for SIGUSR1 (the test sends it once the core lists the subscription,
// which reaches the core as a message nobody waits on), raises type RAISE
// COUNT times with the arguments "TAG <n>", reporting "raised|TAG
// <n>|<rc of notify_call>" for each, and serves until killed.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"

namespace {

constexpr int kMid = 20;
constexpr uint32_t kSinkMid = 61;
constexpr size_t kBulkBytes = 512 * 1024;

std::string g_tag;

int report(const std::string &what, const std::string &arg) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    axrpcAddStringPtr(&in, "what", what.c_str());
    axrpcAddStringPtr(&in, "thread", g_tag.c_str());
    axrpcAddString(&in, "arg", arg.c_str(), static_cast<int>(arg.size()));
    int rc = axrpcCallFunctionSync(1u << 1, PID_CORE, "peer_saw", &in, 5, 0, &out);
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return rc;
}

int on_event(void *arg, int len) {
    if (arg == nullptr || len <= 0) return 0;
    return report("got", std::string(static_cast<const char *>(arg), static_cast<size_t>(len)));
}

void send_bulk(int sink) {
    std::vector<uint8_t> bulk(kBulkBytes, 0x5A);
    iovec piece{bulk.data(), bulk.size()};
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = static_cast<uint32_t>(sink);
    m.msg_type = kSinkMid;
    m.iov = &piece;
    m.iov_num = 1;
    axmsg_send(&m);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 7) return 2;
    const int pid = std::atoi(argv[1]);
    g_tag = argv[2];
    const int type = std::atoi(argv[3]);
    const int pri = std::atoi(argv[4]);
    const int raise = std::atoi(argv[5]);
    const int count = std::atoi(argv[6]);
    // Blocked before any thread starts, so that every thread leaves it to sigwait.
    sigset_t go;
    sigemptyset(&go);
    sigaddset(&go, SIGUSR1);
    if (pthread_sigmask(SIG_BLOCK, &go, nullptr) != 0) return 2;
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (notify_lib_init() != 0) return 4;
    if (type >= 0 && notify_reg(kMid, type, on_event, pri) != 0) return 5;
    if (argc > 7) send_bulk(std::atoi(argv[7]));
    report("ready", "");
    int sig = 0;
    if (raise >= 0 && sigwait(&go, &sig) != 0) return 6;
    for (int n = 0; raise >= 0 && n < count; ++n) {
        std::string arg = g_tag + " " + std::to_string(n);
        const int rc = notify_call(raise, arg.data(), static_cast<int>(arg.size()));
        report("raised", arg + "=" + std::to_string(rc));
    }
    for (;;) pause();
}
