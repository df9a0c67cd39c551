// RPC between real processes: this test program is the core (hub and RPC
// service); rpc_call_peer is an application process.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

constexpr uint32_t kUnit1 = 1u << 1;
std::atomic<bool> g_release{false};

int core_echo(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int n = 0;
    axrpcGetInt(in, "n", &n);
    return axrpcAddInt(out, "n", n + 1);
}
int core_fail(AXRPC_PARA_T *, AXRPC_PARA_T *) {
    static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls))->ret = 5;
    return 0;
}
int core_slow(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return core_echo(in, out);
}
int core_block(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return core_echo(in, out);
}
int core_release(AXRPC_PARA_T *, AXRPC_PARA_T *) { return g_release = true, 0; }
// Answers after a pause that differs from call to call, so replies overtake
// each other.
int core_jitter(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int n = 0;
    axrpcGetInt(in, "n", &n);
    std::this_thread::sleep_for(std::chrono::microseconds((n * 7 % 5) * 400));
    return core_echo(in, out);
}
// Sends the caller a message of another module, then calls its "peer_echo"
// and answers with that result: the caller's process gets a request and a
// message while its own call waits.
int core_call_back(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    constexpr uint32_t kNoteMid = 90;
    const auto *env = static_cast<const AXRPC_ENV_T *>(pal_tls_key_get(envTls));
    int n = 0;
    axrpcGetInt(in, "n", &n);
    uint8_t note = 1;
    iovec piece{&note, sizeof note};
    AXMSG_T m{};
    m.dst_unit = static_cast<uint32_t>(env->unit);
    m.dst_proc = static_cast<uint32_t>(env->pid);
    m.msg_type = kNoteMid;
    m.iov = &piece;
    m.iov_num = 1;
    axmsg_send(&m);
    AXRPC_PARA_T ask;
    AXRPC_PARA_GROUP_T answer;
    axrpcParaInit(&ask);
    axrpcParaGroupInit(&answer);
    axrpcAddInt(&ask, "n", n);
    int got = -1;
    if (axrpcCallFunctionSync(1u << env->unit, env->pid, "peer_echo", &ask, 5, 0, &answer) == 0)
        axrpcGetInt(&answer.paraSet, "n", &got);
    axrpcParaFree(&ask);
    axrpcParaGroupFree(&answer);
    return axrpcAddInt(out, "n", got);
}

class RpcProcesses : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axrpcInit(), 0);
        for (auto [name, f] : {std::pair<const char *, AXRPC_FUNC>{"core_echo", core_echo},
                               {"core_fail", core_fail},
                               {"core_slow", core_slow},
                               {"core_block", core_block},
                               {"core_release", core_release},
                               {"core_jitter", core_jitter},
                               {"core_call_back", core_call_back}})
            ASSERT_EQ(axrpcRegisterFunc(name, f), 0);
    }
};

TEST_F(RpcProcesses, PeerCallsTheCore) {
    pc::test::CaptureStdout out;
    pid_t peer = pc::test::spawn_helper("rpc_call_peer", {"6", "calls"});
    // The peer takes the late reply on its own time, and stays until told.
    EXPECT_TRUE(pc::test::wait_until(
        [&] {
            const std::string so_far = out.so_far();
            return so_far.find("calls done") != std::string::npos &&
                   so_far.find("Wait queue expire") != std::string::npos;
        },
        std::chrono::seconds(60), std::chrono::milliseconds(50)));
    kill(peer, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(peer, 60000), 0);
    std::string text = out.text();
    EXPECT_NE(text.find("Time out in rpcing to core_slow"), std::string::npos) << text;
    EXPECT_NE(text.find("Wait queue expire"), std::string::npos) << text;
}

TEST_F(RpcProcesses, HundredTwentyEightOutstandingThenRefused) {
    g_release = false;
    pc::test::CaptureStdout out;
    pid_t peer = pc::test::spawn_helper("rpc_call_peer", {"7", "flood"});
    int status = pc::test::wait_child_for(peer, 150000);
    std::string text = out.text();
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("Get sequence error"), std::string::npos);
}

TEST_F(RpcProcesses, CrowdOfCallersInOnePeer) {
    pc::test::CaptureStdout out;
    pid_t peer = pc::test::spawn_helper("rpc_call_peer", {"12", "crowd"});
    int status = pc::test::wait_child_for(peer, 120000);
    EXPECT_EQ(status, 0) << out.text();
}

TEST_F(RpcProcesses, CoreCallsThePeerSyncAndAsync) {
    pid_t peer = pc::test::spawn_helper("rpc_call_peer", {"8", "serve"});
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T group;
    axrpcParaInit(&in);
    axrpcAddInt(&in, "n", 1);
    int rc = -1;
    // Until the peer has connected and registered.
    pc::test::wait_until(
        [&] {
            axrpcParaGroupInit(&group);
            rc = axrpcCallFunctionSync(kUnit1, 8, "peer_echo", &in, 1, 0, &group);
            if (rc != 0) axrpcParaGroupFree(&group);
            return rc == 0;
        },
        std::chrono::seconds(60), std::chrono::milliseconds(50));
    ASSERT_EQ(rc, 0);
    int n = 0;
    EXPECT_EQ(axrpcGetInt(&group.paraSet, "n", &n), 0);
    EXPECT_EQ(n, 1001);
    axrpcParaGroupFree(&group);
    EXPECT_EQ(axrpcCallFunctionAsync(kUnit1, 8, "peer_echo", &in, 0), 0);
    EXPECT_EQ(axrpcCallFunctionAsync(kUnit1, 9, "peer_echo", &in, 0), -1) << "no such process";
    axrpcParaFree(&in);
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
}

}  // namespace
