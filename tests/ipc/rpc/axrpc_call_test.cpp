// RPC calls within one process (messages to the own process are delivered
// locally): registry rules, round trips of every parameter type, results
// through envTls, time-outs and late replies, slots, and refusal of
// malformed messages handed to the messaging handler.
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"

namespace {

constexpr int kSelf = 2;
constexpr uint32_t kUnit1 = 1u << 1;

std::atomic<int> g_calls{0};
std::atomic<int> g_seen_pid{0};
std::atomic<int> g_seen_user_arg{0};
std::atomic<int> g_sleep_ms{0};
std::string g_thread_name;

int echo(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    ++g_calls;
    auto *env = static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls));
    if (env != nullptr) {
        g_seen_pid = env->pid;
        g_seen_user_arg = env->userArg;
    }
    int n = 0;
    int64_t l = 0;
    char *s = nullptr;
    uint32_t f = 0;
    void *p = nullptr;
    int plen = 0;
    axrpcGetInt(in, "n", &n);
    axrpcGetInt64(in, "l", &l);
    axrpcGetStringPtr(in, "s", &s);
    axrpcGetFlag(in, "f", &f);
    axrpcGetDataPtr(in, "p", &p, &plen);
    axrpcAddInt(out, "n2", n * 2);
    axrpcAddInt64(out, "l", l);
    axrpcAddStringPtr(out, "s", s != nullptr ? s : "");
    axrpcAddFlag(out, "f", f + 1);
    auto *copy = static_cast<char *>(pal_alloc(static_cast<unsigned>(plen), "test"));
    std::memcpy(copy, p, static_cast<size_t>(plen));
    axrpcAddDataPtr(out, "p", copy, plen, axrpcFreeBuf);
    return 0;
}

int failing(AXRPC_PARA_T *, AXRPC_PARA_T *out) {
    static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls))->ret = -1;
    axrpcAddInt(out, "partial", 7);
    return 0;
}

int sleeper(AXRPC_PARA_T *, AXRPC_PARA_T *out) {
    std::this_thread::sleep_for(std::chrono::milliseconds(g_sleep_ms.load()));
    axrpcAddInt(out, "slept", g_sleep_ms.load());
    return 0;
}

int note_thread(AXRPC_PARA_T *, AXRPC_PARA_T *) {
    char name[32] = {};
    prctl(PR_GET_NAME, name, 0, 0, 0);
    g_thread_name = name;
    ++g_calls;
    return 0;
}

class RpcLocal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(kSelf);
        ASSERT_EQ(axrpcInit(), 0);
        ASSERT_EQ(axrpcRegisterFunc("echo", echo), 0);
        ASSERT_EQ(axrpcRegisterFunc("failing", failing), 0);
        ASSERT_EQ(axrpcRegisterFunc("sleeper", sleeper), 0);
        ASSERT_EQ(axrpcRegisterFunc("note_thread", note_thread), 0);
    }
    static void TearDownTestSuite() { axrpcDestroy(); }
    void SetUp() override {
        ASSERT_EQ(axrpcParaInit(&in), 0);
        ASSERT_EQ(axrpcParaGroupInit(&group), 0);
        g_calls = 0;
    }
    void TearDown() override {
        axrpcParaFree(&in);
        axrpcParaGroupFree(&group);
    }
    AXRPC_PARA_T in{};
    AXRPC_PARA_GROUP_T group{};
};

TEST_F(RpcLocal, RegistryNames) {
    std::string name31(31, 'f'), name32(32, 'f');
    EXPECT_EQ(axrpcRegisterFunc(name31.c_str(), note_thread), 0);
    EXPECT_EQ(axrpcHashGetFunc(name31.c_str()), note_thread);
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, name31.c_str(), &in, 5, 0, &group), 0);
    EXPECT_EQ(g_calls, 1);
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(axrpcRegisterFunc(name32.c_str(), note_thread), -1);
        EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, name32.c_str(), &in, 5, 0, &group), -1);
        EXPECT_NE(out.text().find("Ensure AXRPC_FUNC_NAME_MAX >= strlen(funcName) failed."),
                  std::string::npos);
    }
    EXPECT_EQ(axrpcRegisterFunc("echo", note_thread), -1) << "a second registration is refused";
    EXPECT_EQ(axrpcHashGetFunc("echo"), echo);
    EXPECT_EQ(axrpcUnRegisterFunc(name31.c_str()), 0);
    EXPECT_EQ(axrpcHashGetFunc(name31.c_str()), nullptr);
}

TEST_F(RpcLocal, SyncRoundTripOfEveryType) {
    char block[3] = {'x', 'y', 'z'};
    ASSERT_EQ(axrpcAddInt(&in, "n", 21), 0);
    ASSERT_EQ(axrpcAddInt64(&in, "l", -5000000000LL), 0);
    ASSERT_EQ(axrpcAddStringPtr(&in, "s", "text"), 0);
    ASSERT_EQ(axrpcAddFlag(&in, "f", 41), 0);
    ASSERT_EQ(axrpcAddDataPtr(&in, "p", block, sizeof block, nullptr), 0);
    ASSERT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "echo", &in, 0, 1234, &group), 0);
    EXPECT_EQ(group.isUsed, 1);
    EXPECT_EQ(g_seen_pid, kSelf);
    EXPECT_EQ(g_seen_user_arg, 1234);
    int n = 0;
    int64_t l = 0;
    char *s = nullptr;
    uint32_t f = 0;
    void *p = nullptr;
    int plen = 0;
    AXRPC_PARA_T *out = &group.paraSet;
    EXPECT_EQ(axrpcGetInt(out, "n2", &n), 0);
    EXPECT_EQ(axrpcGetInt64(out, "l", &l), 0);
    EXPECT_EQ(axrpcGetStringPtr(out, "s", &s), 0);
    EXPECT_EQ(axrpcGetFlag(out, "f", &f), 0);
    ASSERT_EQ(axrpcGetDataPtr(out, "p", &p, &plen), 0);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(l, -5000000000LL);
    EXPECT_STREQ(s, "text");
    EXPECT_EQ(f, 42u);
    ASSERT_EQ(plen, 3);
    EXPECT_NE(p, static_cast<void *>(block)) << "the reply's block is the group's own copy";
    EXPECT_EQ(std::memcmp(p, block, 3), 0);
    EXPECT_EQ(out->paraSection[4].freeFunc, axrpcFreeBuf);
}

TEST_F(RpcLocal, FailureThroughEnvGivesTwoAndKeepsOutput) {
    pc::test::CaptureStdout capture;
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "failing", &in, 5, 0, &group), AXRPC_RET_FUNC_ERR);
    int partial = 0;
    EXPECT_EQ(axrpcGetInt(&group.paraSet, "partial", &partial), 0);
    EXPECT_EQ(partial, 7);
    EXPECT_EQ(group.isUsed, 1);
    // The failure names the function, the process and the callee's code.
    EXPECT_NE(capture.text().find("failing in process"), std::string::npos) << capture.text();
}

TEST_F(RpcLocal, EmptyUnitSetSendsNothing) {
    for (uint32_t units : {0u, 1u << 2, 1u << 0}) {
        EXPECT_EQ(axrpcCallFunctionSync(units, kSelf, "note_thread", &in, 5, 0, &group), 0);
        EXPECT_EQ(axrpcCallFunctionAsync(units, kSelf, "note_thread", &in, 0), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(group.isUsed, 0);
    EXPECT_EQ(group.paraSet.paraNum, 0);
}

TEST_F(RpcLocal, UnknownFunctionTimesOut) {
    pc::test::CaptureStdout capture;
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "nobody", &in, 1, 0, &group), AXRPC_RET_TIMEOUT);
    std::string text = capture.text();
    EXPECT_NE(text.find("Get function error: nobody"), std::string::npos);
    EXPECT_NE(text.find("Time out in rpcing to nobody"), std::string::npos);
    EXPECT_EQ(group.isUsed, 0);
}

TEST_F(RpcLocal, LateReplyIsDroppedAndNewerCallUnaffected) {
    pc::test::CaptureStdout capture;
    g_sleep_ms = 2500;
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "sleeper", &in, 1, 0, &group), AXRPC_RET_TIMEOUT);
    // The slot is free again; a newer call runs while the late reply is due.
    g_sleep_ms = 2000;
    AXRPC_PARA_GROUP_T newer{};
    ASSERT_EQ(axrpcParaGroupInit(&newer), 0);
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "sleeper", &in, AXRPC_WAIT_FOREVER, 0, &newer), 0);
    int slept = 0;
    EXPECT_EQ(axrpcGetInt(&newer.paraSet, "slept", &slept), 0);
    EXPECT_EQ(slept, 2000);
    axrpcParaGroupFree(&newer);
    // The reader takes the late reply on its own time.
    EXPECT_TRUE(
        pc::test::wait_until([&] { return capture.so_far().find("Wait queue expire") != std::string::npos; },
                             std::chrono::seconds(10)))
        << capture.text();
}

TEST_F(RpcLocal, AsyncCallRunsOnAnAsyncWorker) {
    EXPECT_EQ(axrpcCallFunctionAsync(kUnit1, kSelf, "note_thread", &in, 0), 0);
    for (int i = 0; i < 200 && g_calls == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(g_calls, 1);
    EXPECT_EQ(g_thread_name.rfind("rpcAT", 0), 0u) << g_thread_name;
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "note_thread", &in, 5, 0, &group), 0);
    EXPECT_EQ(g_thread_name.rfind("rpcST", 0), 0u) << g_thread_name;
}

TEST_F(RpcLocal, SlotsWrapAndRunOut) {
    std::vector<int> seqs;
    int seq = 0, id = 0, last_id = 0;
    for (int i = 0; i < AXRPC_WAIT_QUE_NUM; ++i) {
        ASSERT_EQ(axrpcGetSequence(&seq, &id), 0);
        EXPECT_GT(id, last_id);
        last_id = id;
        seqs.push_back(seq);
    }
    EXPECT_EQ(axrpcGetSequence(&seq, &id), -1) << "all slots held";
    {
        pc::test::CaptureStdout capture;
        EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "echo", &in, 1, 0, &group), -1);
        EXPECT_NE(capture.text().find("Get sequence error"), std::string::npos);
    }
    for (int s : seqs) EXPECT_EQ(axrpcReleaseSequence(s), 0);
    // The search goes on where it stopped and wraps after the last slot.
    ASSERT_EQ(axrpcGetSequence(&seq, &id), 0);
    const int first = seq;
    axrpcReleaseSequence(seq);
    ASSERT_EQ(axrpcGetSequence(&seq, &id), 0);
    EXPECT_EQ(seq, (first + 1) % AXRPC_WAIT_QUE_NUM);
    axrpcReleaseSequence(seq);
    EXPECT_EQ(axrpcGetWaitQue(AXRPC_WAIT_QUE_NUM), nullptr);
    EXPECT_EQ(axrpcReleaseSequence(AXRPC_WAIT_QUE_NUM), -1);
    EXPECT_EQ(axrpcGetDefaultTime(), 10);
}

// Builds a request message by hand, the way a peer would put it on the wire.
struct RawRequest {
    std::vector<uint8_t> bytes;
    explicit RawRequest(const char *func, int32_t callKind = AXRPC_CALL_ASYNC, int32_t depth = 0) {
        AXRPC_MSG_HEADER_T h{};
        std::strncpy(h.funcName, func, AXRPC_FUNC_NAME_MAX);
        h.callKind = callKind;
        AXRPC_ENV_T env{1, kSelf, AXRPC_DEFAULT_DEPTH, depth, 0, 0};
        append(&h, sizeof h);
        append(&env, sizeof env);
    }
    void append(const void *p, size_t n) {
        auto *b = static_cast<const uint8_t *>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void word(int32_t v) { append(&v, sizeof v); }
    // A set of `num` sections, `len` value bytes and `extra` block bytes.
    void set(int32_t num, int32_t len, int32_t extra) {
        for (int32_t v : {0, 0, num, len, len, 8, extra}) word(v);
    }
    void section(const char *name, int32_t type, int32_t length, uint32_t value, bool terminate = true) {
        char n[32];
        std::memset(n, 'A', sizeof n);
        if (terminate) {
            std::memset(n, 0, sizeof n);
            std::strncpy(n, name, 31);
        }
        append(n, sizeof n);
        word(type);
        word(length);
        word(static_cast<int32_t>(value));
        word(0);
    }
    int deliver() {
        AXMSG_T msg{};
        msg.dst_unit = 1;
        msg.dst_proc = kSelf;
        msg.src_unit = 1;
        msg.src_proc = kSelf;
        msg.msg_type = MID_AXRPC;
        msg.data = bytes.data();
        msg.data_len = static_cast<uint32_t>(bytes.size());
        return axrpcMsg_cb(&msg);
    }
};

TEST_F(RpcLocal, WellFormedHandMadeRequestIsServed) {
    RawRequest r("note_thread");
    r.set(2, 4, 3);
    r.section("v", AXRPC_PARA_TYPE_DATA, 4, 0);
    r.section("p", AXRPC_PARA_TYPE_PTR, 3, 0);
    r.word(5);
    r.append("abc", 3);
    EXPECT_EQ(r.deliver(), 0);
    for (int i = 0; i < 200 && g_calls == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(g_calls, 1);
}

TEST_F(RpcLocal, MalformedRequestsNeverReachTheFunction) {
    struct Case {
        const char *what;
        std::function<void(RawRequest &)> build;
    } cases[] = {
        {"section count beyond the message", [](RawRequest &r) { r.set(1000, 0, 0); }},
        {"negative count", [](RawRequest &r) { r.set(-1, 0, 0); }},
        {"value bytes beyond the message", [](RawRequest &r) { r.set(0, 64, 0); }},
        {"data offset outside the values",
         [](RawRequest &r) {
             r.set(1, 4, 0);
             r.section("v", AXRPC_PARA_TYPE_DATA, 4, 2);
             r.word(0);
         }},
        {"data length wraps",
         [](RawRequest &r) {
             r.set(1, 4, 0);
             r.section("v", AXRPC_PARA_TYPE_DATA, -4, 0);
             r.word(0);
         }},
        {"block outside part 4",
         [](RawRequest &r) {
             r.set(1, 0, 2);
             r.section("p", AXRPC_PARA_TYPE_PTR, 4, 0);
             r.append("ab", 2);
         }},
        {"name without NUL",
         [](RawRequest &r) {
             r.set(1, 0, 0);
             r.section("", AXRPC_PARA_TYPE_FLAG, 4, 0, false);
         }},
        {"unknown section type",
         [](RawRequest &r) {
             r.set(1, 0, 0);
             r.section("t", 7, 0, 0);
         }},
        {"too short for a set", [](RawRequest &r) { r.word(0); }},
    };
    for (const Case &c : cases) {
        RawRequest r("note_thread");
        c.build(r);
        pc::test::CaptureStdout capture;
        r.deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string text = capture.text();
        EXPECT_TRUE(text.find("refused") != std::string::npos || text.find("Size error") != std::string::npos)
            << c.what << "\n"
            << text;
    }
    // A function name that fills all 32 bytes, a call past the depth limit
    // and a message of another module are refused the same way.
    RawRequest unterminated("note_thread");
    std::memset(unterminated.bytes.data(), 'x', 32);
    unterminated.set(0, 0, 0);
    unterminated.deliver();
    RawRequest too_deep("note_thread", AXRPC_CALL_ASYNC, AXRPC_DEFAULT_DEPTH);
    too_deep.set(0, 0, 0);
    too_deep.deliver();
    RawRequest other("note_thread");
    other.set(0, 0, 0);
    AXMSG_T msg{};
    msg.msg_type = MID_NOTIFY;
    msg.data = other.bytes.data();
    msg.data_len = static_cast<uint32_t>(other.bytes.size());
    EXPECT_EQ(axrpcMsg_cb(&msg), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_calls, 0);
}

// Runs after RpcLocal has torn its service down. A caller still waiting
// when the service is destroyed is let go with an error instead of waiting
// on a condition that no longer exists; its late reply is dropped, and a
// call after the tear-down is refused.
TEST(RpcTearDown, DestroyLetsWaitingCallersGo) {
    simProcessSetPid(kSelf);
    ASSERT_EQ(axrpcInit(), 0);
    ASSERT_EQ(axrpcRegisterFunc("sleeper", sleeper), 0);
    g_sleep_ms = 600;
    AXRPC_PARA_T in{};
    ASSERT_EQ(axrpcParaInit(&in), 0);
    pc::test::CaptureStdout capture;
    std::atomic<int> result{99};
    std::atomic<long long> waited_ms{0};
    std::thread caller([&] {
        AXRPC_PARA_GROUP_T group{};
        axrpcParaGroupInit(&group);
        const auto start = std::chrono::steady_clock::now();
        result = axrpcCallFunctionSync(kUnit1, kSelf, "sleeper", &in, AXRPC_WAIT_FOREVER, 0, &group);
        waited_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        axrpcParaGroupFree(&group);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(axrpcDestroy(), 0);
    caller.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(waited_ms, 600) << "the caller left when the service went down, not with the reply";
    const std::string text = capture.text();
    EXPECT_NE(text.find("RPC service stopped while calling sleeper"), std::string::npos) << text;
    EXPECT_NE(text.find("RPC service not running, message dropped"), std::string::npos)
        << "the sleeper's late reply\n"
        << text;

    pc::test::CaptureStdout after;
    AXRPC_PARA_GROUP_T group{};
    axrpcParaGroupInit(&group);
    EXPECT_EQ(axrpcCallFunctionSync(kUnit1, kSelf, "sleeper", &in, 1, 0, &group), -1);
    axrpcParaGroupFree(&group);
    axrpcParaFree(&in);
    EXPECT_NE(after.text().find("RPC service not running\n"), std::string::npos) << after.text();
}

}  // namespace
