// An application process for the notification tests. Connects to the hub
// as process argv[1], subscribes type argv[2] synchronously at priority
// argv[3] and asynchronously (module 21); each callback reports to the core
// with the RPC function "peer_saw" (the thread it ran on and the argument).
// Then raises type argv[4] itself (when >= 0) and serves until killed.
// With argv[5] "after-close" it raises type argv[4] after closing its
// connection instead, and exits 0 when notify_call reports the failed send.
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"

namespace {

int report(const char *what, void *arg, int len) {
    char thread[32] = {};
    prctl(PR_GET_NAME, thread, 0, 0, 0);
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    axrpcAddStringPtr(&in, "what", what);
    axrpcAddStringPtr(&in, "thread", thread);
    if (arg != nullptr && len > 0) axrpcAddString(&in, "arg", static_cast<const char *>(arg), len);
    int rc = axrpcCallFunctionSync(1u << 1, 1, "peer_saw", &in, 5, 0, &out);
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return rc;
}

int on_sync(void *arg, int len) { return report("peer sync", arg, len); }
int on_async(void *arg, int len) { return report("peer async", arg, len); }

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) return 2;
    const int pid = std::atoi(argv[1]);
    const int type = std::atoi(argv[2]);
    const int pri = std::atoi(argv[3]);
    const int raise = std::atoi(argv[4]);
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (notify_lib_init() != 0 || notify_asyn_init() != 0) return 4;
    if (notify_reg(20, type, on_sync, pri) != 0) return 5;
    if (notify_asyn_reg(21, type, 0, on_async) != 0) return 6;
    report("ready", nullptr, 0);
    if (argc > 5 && std::strcmp(argv[5], "after-close") == 0) {
        axmsg_client_close();
        return notify_call(raise, const_cast<char *>("lost"), 5) == -1 ? 0 : 7;
    }
    if (raise >= 0) notify_call(raise, const_cast<char *>("from peer"), 10);
    for (;;) pause();
}
