// An application process with a packet registration: registers module 40
// and the owned registration "peer_echo" for EtherType 0x88B6 through the
// core's "axpacketRegManage", then answers the first frame it receives by
// sending it back out of the port it came in on with EtherType 0x88B7.
// Creates /tmp/packet_peer_ready once registered; exits 0 after answering.
// Usage: packet_client_peer PID
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axmsg_client/axmsg_client.h"
#include "axpacket_client/axpacket_client.h"
#include "frame_echo.h"
#include "peer_start.h"
#include "platform_core/axrpc.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint32_t kMid = 40;
constexpr const char *kName = "peer_echo";
std::atomic<int> g_answered{0};

int on_frame(AX_PACKET_T *pkt, uint32_t mid, const char *name) {
    // A short frame is not the one the test sends: wait for that one.
    if (mid != kMid || std::strcmp(name, kName) != 0 || pkt->len < 14) return -1;
    int rc = pc::test::send_back_as(pkt, 0x88B7);
    g_answered = rc == 0 ? 1 : -1;
    return rc;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const int pid = std::atoi(argv[1]);
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (axpacketClientInit() != 0) return 4;
    if (axpacketClientRegisterModule(kMid, 10, 0, 0) != 0) return 5;
    if (axpacketClientRegisterPacket(kMid, kName, AX_RX_OWNED, 5, on_frame) != 0) return 6;
    // A second registration of the name replaces the first.
    if (axpacketClientRegisterPacket(kMid, kName, AX_RX_OWNED, 5, on_frame) != 0) return 7;
    if (axpacketClientRegisterField(kMid, kName, LEN_TYPE, 0x88B6, 0xFFFF) != 0) return 8;
    if (axpacketClientRegisterEnable(kMid, kName, 1) != 0) return 9;
    pc::test::peer::ready_file("/tmp/packet_peer_ready");
    for (int i = 0; i < 3000 && g_answered == 0; ++i) usleep(10000);
    std::fflush(stdout);
    _exit(g_answered == 1 ? 0 : 10);
}
