// A feature process that registers one of everything the core keeps for
// another process, then serves until it is killed: packet module 42 with
// the owned registration "life_echo" (EtherType 0x88B5; registered twice,
// the second replacing the first), the configuration printer "life_cfg"
// (the line "lifecycle peer MARK" in the pre section), a stack update
// callback, a subscription to notification type 3, the management
// functions "lifeShowMark" (prints "life mark MARK") and "lifeNotifyProbe"
// (raises notification type 3, or the type of its argument "type", and
// prints "notification delivered" once its own subscription of that type
// saw it, "notification lost" if not within 5 s) and the CLI command "show
// life mark" (runs "lifeShowMark"). Every frame it receives goes back out
// of its port with EtherType 0x88B4.
// Creates /tmp/life_peer_ready once registered; after a reconnection to the
// hub it creates /tmp/life_peer_reregistered once its own reconnect
// callback has run.
// On SIGUSR1 it waits until it has lost its connection to the hub (the test
// has killed the core), subscribes to notification type 4 and writes what
// notify_reg returned to /tmp/life_peer_late_sub.
// Usage: lifecycle_peer PID MARK; exit status names a failed step.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "axmsg_client/axconfig_client.h"
#include "axmsg_client/axmsg_client.h"
#include "axmsg_client/feature_process.h"
#include "axpacket_client/axpacket_client.h"
#include "frame_echo.h"
#include "peer_start.h"
#include "platform_core/aximi.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"
#include "su_cb_client/su_cb_client.h"

namespace {

constexpr uint32_t kMid = 42;
constexpr const char *kName = "life_echo";
constexpr int kNotifyType = 3;
constexpr int kLateNotifyType = 4;
constexpr const char *kLateSubFile = "/tmp/life_peer_late_sub";
std::string g_mark;

int on_frame(AX_PACKET_T *pkt, uint32_t mid, const char *name) {
    if (mid != kMid || std::strcmp(name, kName) != 0) return -1;
    return pc::test::send_back_as(pkt, 0x88B4);
}

int printer(int type, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    if (type != AXCFG_TYPE_PRE) return 0;
    std::string line = "lifecycle peer " + g_mark;
    return out(env, line.c_str());
}

int on_update(su_cb_update_t *) { return 0; }

std::atomic<unsigned> g_events{0}, g_late_events{0};
int on_event(void *, int) {
    ++g_events;
    return 0;
}
int on_late_event(void *, int) {
    ++g_late_events;
    return 0;
}

int show_mark(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    return axImiPrintf(ctx, "life mark %s\r\n", g_mark.c_str()) == 0 ? 0 : -1;
}

int notify_probe(AXIMI_CTX_T *ctx, AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    using namespace std::chrono_literals;
    int type = kNotifyType;
    if (in != nullptr) axrpcGetInt(in, "type", &type);
    const std::atomic<unsigned> &events = type == kLateNotifyType ? g_late_events : g_events;
    const unsigned before = events.load();
    char arg[] = "probe";
    notify_call(type, arg, sizeof arg);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = events.load() != before;
        if (!seen) std::this_thread::sleep_for(50ms);
    }
    axImiPrintf(ctx, "notification %s\r\n", seen ? "delivered" : "lost");
    return 0;
}

// The subscription a process makes while the core is gone.
void subscribe_late() {
    using namespace std::chrono_literals;
    for (int i = 0; i < 200 && axmsg_client_connected(); ++i) std::this_thread::sleep_for(50ms);
    const int rc = notify_reg(kMid, kLateNotifyType, on_late_event, 9);
    if (FILE *f = std::fopen(kLateSubFile, "w")) {
        std::fprintf(f, "%d\n", rc);
        std::fclose(f);
    }
}

int reregistered(void *) {
    pc::test::peer::ready_file("/tmp/life_peer_reregistered");
    return 0;
}

int register_all() {
    if (axpacketClientRegisterModule(kMid, 10, 0, 0) != 0) return 5;
    if (axpacketClientRegisterPacket(kMid, kName, AX_RX_OWNED, 5, on_frame) != 0) return 6;
    if (axpacketClientRegisterField(kMid, kName, LEN_TYPE, 0x1234, 0xFFFF) != 0) return 7;
    // The same registration again replaces the first, field and all.
    if (axpacketClientRegisterPacket(kMid, kName, AX_RX_OWNED, 5, on_frame) != 0) return 8;
    if (axpacketClientRegisterField(kMid, kName, LEN_TYPE, 0x88B5, 0xFFFF) != 0) return 9;
    if (axpacketClientRegisterEnable(kMid, kName, 1) != 0) return 10;
    if (axConfigClientRegister("life_cfg", printer, nullptr, 50) != 0) return 11;
    if (suCbClientUpdateCbReg(kMid, 7, on_update) != 0) return 12;
    if (notify_reg(kMid, kNotifyType, on_event, 9) != 0) return 13;
    if (axImiRegisterFunc("lifeNotifyProbe", notify_probe, 0) != 0) return 14;
    const AXIMI_CLI_CMD_T mark = {"show life mark", nullptr, "the mark of the life-cycle peer",
                                  "lifeShowMark"};
    if (axImiCliRegister(&mark, show_mark) != 0) return 15;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    g_mark = argv[2];
    // Blocked before any thread starts, so that every thread leaves it to sigwait.
    sigset_t late;
    sigemptyset(&late);
    sigaddset(&late, SIGUSR1);
    if (pthread_sigmask(SIG_BLOCK, &late, nullptr) != 0) return 2;
    simProcessSetPid(pid);
    if (axFeatureProcessInit(pid, 10000) != 0) return 3;
    if (axpacketClientInit() != 0 || axConfigClientInit() != 0 || suCbClientInit() != 0) return 4;
    // Added after the libraries' own: runs once they have registered again.
    if (axmsg_client_reconnect_cb_add(reregistered, nullptr) != 0) return 4;
    if (int rc = register_all(); rc != 0) return rc;
    pc::test::peer::ready_file("/tmp/life_peer_ready");
    for (int sig = 0;;)
        if (sigwait(&late, &sig) == 0) subscribe_late();
}
