// Holding Ctrl-C back in the main thread while it holds any PAL mutex.
//
// The nesting depth counts the PAL mutexes the main thread holds (all of
// them together); only the main thread changes it, so it needs no lock.
#include <csignal>

#include "pal/main_thread.h"
#include "pal/mutex_record.h"
#include "platform_core/pal.h"

namespace {

sigset_t ctrl_c_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}

const sigset_t g_ctrl_c_set = ctrl_c_set();
int g_ctrl_c_depth = 0;         // main thread only
bool g_ctrl_c_blocked = false;  // main thread only

}  // namespace

namespace pc::pal {

void ctrl_c_block_for_take() {
    if (g_ctrl_c_depth++ == 0) {
        pthread_sigmask(SIG_BLOCK, &g_ctrl_c_set, nullptr);
        g_ctrl_c_blocked = true;
    }
}

}  // namespace pc::pal

extern "C" {

PC_API unsigned ctrl_c_unblock(void) {
    if (!pc::pal::in_main_thread() || g_ctrl_c_depth < 1) return 0;
    if (--g_ctrl_c_depth == 0) {
        pthread_sigmask(SIG_UNBLOCK, &g_ctrl_c_set, nullptr);
        g_ctrl_c_blocked = false;
    }
    return static_cast<unsigned>(g_ctrl_c_depth);
}

}  // extern "C"
