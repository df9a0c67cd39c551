// What the core library itself keeps for a process and must tell a new core
// (see axmsg_reconnect.h): notification subscriptions and CLI commands.
#include "axmsg_client/axmsg_client.h"
#include "axmsg_reconnect.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace pc::client {
namespace {

// Registered in a process by notify_lib_init: the process takes part in
// notification.
constexpr const char *kNotifyServed = "_notify_call_srv";
constexpr unsigned short kProbeWaitS = 1;

// True once the core answers "aximiCliCmdList". The core starts its
// management interface after its notification service, so by then the core
// handles subscription messages too.
bool core_serves_management() {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    const int rc =
        axrpcCallFunctionSync(1u << UNIT_1, PID_CORE, AXIMI_CLI_LIST_FUNC, &in, kProbeWaitS, 0, &reply);
    const bool answered = rc == 0 && reply.isUsed;
    axrpcParaGroupFree(&reply);
    axrpcParaFree(&in);
    return answered;
}

// Subscriptions travel as messages that the core does not answer: one that
// reaches a core whose hub is up but whose notification service is not yet
// would be lost without a word. So they are sent once the core is further
// on than that.
int subscribe_again(void *) {
    if (axrpcHashGetFunc(kNotifyServed) == nullptr) return 0;  // no notification in this process
    if (!core_serves_management()) return -1;                  // tried again shortly
    return notify_reg_resend();
}

int cli_commands_again(void *) { return axImiCliRegisterAgain(); }

}  // namespace

void add_library_reconnect_callbacks() {
    axmsg_client_reconnect_cb_add(subscribe_again, nullptr);
    axmsg_client_reconnect_cb_add(cli_commands_again, nullptr);
}

}  // namespace pc::client
