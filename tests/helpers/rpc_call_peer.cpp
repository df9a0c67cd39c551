// An application process for the RPC tests: connects to the hub as process
// argv[1], serves "peer_echo" and runs scenario argv[2] against the core:
//   serve  - only serve until killed
//   calls  - a round trip, a failure reported through envTls (2), a time-out
//            whose late reply is dropped, then a fresh round trip; prints
//            "calls done" and waits for SIGTERM, so that the test sees the
//            late reply dropped before the process goes
//   flood  - 128 calls held outstanding in the core, the 129th refused,
//            then all 128 complete
//   crowd  - many threads calling at once: replies come back in any order,
//            some calls make the core call this process back and send it a
//            message of another module first, and one call times out while
//            the others' replies flow
// Exits 0 when every result was as expected, else the number of the first
// failed check.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "peer_start.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint32_t kUnit1 = 1u << 1;

int peer_echo(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int n = 0;
    axrpcGetInt(in, "n", &n);
    axrpcAddInt(out, "n", n + 1000);
    return 0;
}

int call(const char *func, int n, unsigned short wait, int *result) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    axrpcAddInt(&in, "n", n);
    int rc = axrpcCallFunctionSync(kUnit1, PID_CORE, func, &in, wait, 0, &out);
    if (result != nullptr && axrpcGetInt(&out.paraSet, "n", result) != 0) *result = -1;
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return rc;
}

int scenario_calls() {
    int got = 0;
    if (call("core_echo", 5, 5, &got) != 0 || got != 6) return 10;
    if (call("core_fail", 0, 5, nullptr) != AXRPC_RET_FUNC_ERR) return 11;
    if (call("core_slow", 0, 1, nullptr) != AXRPC_RET_TIMEOUT) return 12;
    if (call("core_echo", 7, AXRPC_WAIT_FOREVER, &got) != 0 || got != 8) return 13;
    sleep(2);  // the late reply of core_slow arrives meanwhile
    if (call("core_echo", 9, 5, &got) != 0 || got != 10) return 14;
    return 0;
}

constexpr unsigned short kHeldCallWaitS = 90;  // the held calls outlast the slow start below
constexpr int kSlotsFullPolls = 4000;          // 10 ms each: up to 40 s
constexpr int kRefusedRetries = 10000;
constexpr useconds_t kRetryPauseUs = 1000;

int scenario_flood() {
    std::atomic<int> ok{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < AXRPC_WAIT_QUE_NUM; ++i)
        callers.emplace_back([&ok, i] {
            // The probe below holds a slot for a moment: a caller that meets
            // it is refused and tries again. Once all 128 slots are held by
            // callers, no caller is refused any more.
            int got = 0;
            int rc = -1;
            for (int tries = 0; tries < kRefusedRetries && rc == -1; ++tries) {
                rc = call("core_block", i, kHeldCallWaitS, &got);
                if (rc == -1) usleep(kRetryPauseUs);
            }
            if (rc == 0 && got == i + 1) ++ok;
        });
    // Wait until every slot is held, then the next call is refused. Starting
    // 128 calling threads takes a while on an emulated, loaded machine.
    for (int i = 0; i < kSlotsFullPolls; ++i) {
        int seq = 0, id = 0;
        if (axrpcGetSequence(&seq, &id) != 0) break;
        axrpcReleaseSequence(seq);
        usleep(10000);
    }
    int rc129 = call("core_echo", 0, 5, nullptr);
    AXRPC_PARA_T none;
    axrpcParaInit(&none);
    axrpcCallFunctionAsync(kUnit1, PID_CORE, "core_release", &none, 0);
    axrpcParaFree(&none);
    for (auto &t : callers) t.join();
    if (rc129 != -1) return 20;
    if (ok.load() != AXRPC_WAIT_QUE_NUM) return 21;
    return 0;
}

constexpr int kCrowdCallers = 8;
constexpr int kCrowdCalls = 40;
constexpr int kCallBackEvery = 5;  // every 5th call makes the core call back
constexpr uint32_t kNoteMid = 90;  // the core's note before it calls back
std::atomic<int> g_notes{0};

int on_note(AXMSG_T *) { return ++g_notes, 0; }

int scenario_crowd() {
    std::atomic<int> wrong{0}, call_backs{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCrowdCallers; ++i)
        callers.emplace_back([&, i] {
            for (int j = 0; j < kCrowdCalls; ++j) {
                const int n = i * 1000 + j;
                const bool back = j % kCallBackEvery == 0;
                int got = 0;
                int rc = call(back ? "core_call_back" : "core_jitter", n, 10, &got);
                if (back) ++call_backs;
                if (rc != 0 || got != (back ? n + 1000 : n + 1)) ++wrong;
            }
        });
    // One caller gives up while the replies of the others keep coming.
    int slow = call("core_slow", 0, 1, nullptr);
    for (auto &t : callers) t.join();
    if (slow != AXRPC_RET_TIMEOUT) return 30;
    if (wrong.load() != 0) return 31;
    for (int i = 0; i < 500 && g_notes.load() < call_backs.load(); ++i) usleep(10000);
    if (g_notes.load() != call_backs.load()) return 32;
    int got = 0;
    if (call("core_echo", 3, 5, &got) != 0 || got != 4) return 33;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const int pid = std::atoi(argv[1]);
    // Blocked before any thread starts, so that only sigwait takes it.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    if (std::strcmp(argv[2], "calls") == 0 && pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) return 2;
    if (int rc = pc::test::peer::connect(pid); rc != 0) return rc;
    if (axrpcRegisterFunc("peer_echo", peer_echo) != 0) return 4;
    if (axmsg_reg(kNoteMid, on_note) != 0) return 5;
    int rc = 0;
    if (std::strcmp(argv[2], "calls") == 0) {
        rc = scenario_calls();
        std::printf("calls done\n");
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stop, &sig);
    }
    if (std::strcmp(argv[2], "flood") == 0) rc = scenario_flood();
    if (std::strcmp(argv[2], "crowd") == 0) rc = scenario_crowd();
    if (std::strcmp(argv[2], "serve") == 0)
        for (;;) pause();
    std::fflush(stdout);
    _exit(rc);
}
