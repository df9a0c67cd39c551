// A feature process that follows the links of the switch's ports: it
// subscribes to NOTIFY_TYPE_PORT_LINK and, for every event, prints the port,
// the link the event gives and the link the chip gives this process for
// that port: "event <port> link <0|1> chip <0|1>". At start it prints
// "start <port> chip <0|1>" for the port named on its command line and
// creates /tmp/port_link_peer_ready.
// Usage: port_link_peer PID PORT; exit status names a failed step.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axmsg_client/feature_process.h"
#include "peer_start.h"
#include "platform_core/chip_sdk.h"
#include "platform_core/notify.h"
#include "platform_core/pmp.h"
#include "platform_core/sibling.h"
#include "platform_core/up_text.h"
#include "platform_sim/sim.h"

namespace {

constexpr int kMid = 45;
constexpr int kPri = 20;

// The chip's link of `up` as this process reads it; -1 when it has none.
int chip_link(UP up) {
    int unit = 0, port = 0;
    uint32_t link = 0;
    if (adPmpUp2Bp(up, &unit, &port) != 0 ||
        sdk_port_link_get(static_cast<uint32_t>(unit), static_cast<uint32_t>(port), &link) != 0)
        return -1;
    return static_cast<int>(link);
}

int on_port_link(void *arg, int len) {
    if (arg == nullptr || len != static_cast<int>(sizeof(notify_port_link_t))) return -1;
    notify_port_link_t event;
    std::memcpy(&event, arg, sizeof event);
    char text[UP_STR_LEN] = {};
    usUp2Str(event.up, text, UP_STR_TYPE_NONE);
    std::printf("event %s link %u chip %d\n", text, event.link, chip_link(event.up));
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    simProcessSetPid(pid);
    if (axFeatureProcessInit(pid, 10000) != 0) return 3;
    UP up = 0;
    if (usStr2Up(-1, argv[2], &up, nullptr) != 0) return 4;
    if (notify_reg(kMid, NOTIFY_TYPE_PORT_LINK, on_port_link, kPri) != 0) return 5;
    std::printf("start %s chip %d\n", argv[2], chip_link(up));
    std::fflush(stdout);
    pc::test::peer::ready_file("/tmp/port_link_peer_ready");
    for (;;) pause();
}
