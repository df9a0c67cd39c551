// An application process for the stack callback tests: connects to the hub
// as process argv[1], registers two update handlers through the callback
// client and removes the first (so the second moves to another slot here),
// prints "ready", and exits 0 once the core has run the second handler with
// the flags 1, 0, 1 (printing "ran" and the flags), or 2 when it ran with
// other flags. Exits 1 when setting up failed.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axrpc.h"
#include "platform_core/stack_cb.h"
#include "platform_sim/sim.h"
#include "su_cb_client/su_cb_client.h"

namespace {

constexpr uint32_t kModFirst = 50, kModSecond = 51;
std::atomic<int> g_result{-1};

int first_handler(su_cb_update_t *) {
    g_result.store(3);  // must never run: it was removed
    return -1;
}

int second_handler(su_cb_update_t *f) {
    std::printf("ran %u %u %u\n", f->roleChg, f->mastChg, f->isFirst);
    std::fflush(stdout);
    g_result.store(f->roleChg == 1 && f->mastChg == 0 && f->isFirst == 1 ? 0 : 2);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 1;
    int pid = std::atoi(argv[1]);
    if (pc::test::peer::connect(pid) != 0 || suCbClientInit() != 0) return 1;
    if (suCbClientUpdateCbReg(kModFirst, 5, first_handler) != 0 ||
        suCbClientUpdateCbReg(kModSecond, 6, second_handler) != 0 ||
        suCbClientCbUnreg(SU_CBHND_UPDATE, kModFirst, 5) != 0)
        return 1;
    pc::test::peer::ready_line("ready");
    for (int i = 0; i < 600 && g_result.load() < 0; ++i) usleep(100000);
    usleep(500000);  // the reply reaches the core
    return g_result.load() < 0 ? 4 : g_result.load();
}
