// Event notification across restarts of real processes: a process killed
// with SIGKILL while the hub's reader of it is busy, and started again at
// once under the same id, takes its place in the core's table. Events
// raised by the new incarnation reach every subscriber, and a subscriber
// that subscribed again gets each event exactly once.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

constexpr int kType = 11;
constexpr int kPri = 10;
constexpr const char *kSubscriberPid = "3";
constexpr const char *kRaiserPid = "4";
constexpr const char *kSinkPid = "9";
constexpr int kEvents = 20;

// What the peers reported, as "what|tag|argument". Never destroyed: RPC
// workers may still report while the program exits.
struct Seen {
    std::mutex lock;
    std::vector<std::string> list;
};
Seen &seen() {
    static Seen *s = new Seen;
    return *s;
}

int peer_saw(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    char *what = nullptr, *tag = nullptr;
    char arg[64] = {};
    int len = 0;
    axrpcGetStringPtr(in, "what", &what);
    axrpcGetStringPtr(in, "thread", &tag);
    axrpcGetString(in, "arg", sizeof arg - 1, arg, &len);
    std::lock_guard<std::mutex> guard(seen().lock);
    seen().list.push_back(std::string(what ? what : "") + "|" + (tag ? tag : "") + "|" + arg);
    return 0;
}

size_t count_of(const std::string &entry) {
    std::lock_guard<std::mutex> guard(seen().lock);
    return static_cast<size_t>(std::count(seen().list.begin(), seen().list.end(), entry));
}

size_t count_starting(const std::string &prefix) {
    std::lock_guard<std::mutex> guard(seen().lock);
    return static_cast<size_t>(std::count_if(seen().list.begin(), seen().list.end(),
                                             [&](const std::string &s) { return s.rfind(prefix, 0) == 0; }));
}

bool wait_for(const std::string &entry, int timeout_ms = 15000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (count_of(entry) > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class NotifyRestart : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axrpcInit(), 0);
        ASSERT_EQ(notify_init(), 0);
        ASSERT_EQ(axrpcRegisterFunc("peer_saw", peer_saw), 0);
    }

    void SetUp() override {
        std::lock_guard<std::mutex> guard(seen().lock);
        seen().list.clear();
    }

    void TearDown() override {
        for (pid_t p : children_) {
            kill(p, SIGKILL);
            pc::test::wait_child(p);
        }
    }

    // A peer that never reads: a peer started with `busy` sends it 512 KiB,
    // which holds the hub's reader of that peer in a write.
    void start_sink() {
        children_.push_back(pc::test::spawn_helper("soak_peer", {"sink", kSinkPid}));
        uint8_t byte = 0;
        iovec piece{&byte, 1};
        AXMSG_T m{};
        m.dst_unit = 1;
        m.dst_proc = static_cast<uint32_t>(std::stoi(kSinkPid));
        m.msg_type = MID_NOTIFY;
        m.iov = &piece;
        m.iov_num = 1;
        for (int waited = 0; axmsg_send(&m) != 0; waited += 10) {
            ASSERT_LT(waited, 15000) << "the sink did not connect";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Starts a notify_restart_peer (see the helper) and waits until it is
    // subscribed. With `busy` it is given time to hand the hub its bulk
    // message, so that the hub's reader of it is writing to the sink.
    pid_t start_peer(const char *pid, const std::string &tag, int raise, int count, bool busy) {
        std::vector<std::string> args{pid,
                                      tag,
                                      std::to_string(kType),
                                      std::to_string(kPri),
                                      std::to_string(raise),
                                      std::to_string(count)};
        if (busy) args.push_back(kSinkPid);
        pid_t p = pc::test::spawn_helper("notify_restart_peer", args);
        children_.push_back(p);
        EXPECT_TRUE(wait_for("ready|" + tag + "|")) << tag;
        if (busy) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return p;
    }

    static void kill_peer(pid_t p) {
        kill(p, SIGKILL);
        pc::test::wait_child(p);
    }

    // The core's table holds one node of `pid` for the type.
    static void expect_one_node(const char *pid) {
        pc::test::CaptureStdout out;
        NOTIFY_REG_MSG_T print{NOTIFY_CMD_PRINT, 0, 0, 0};
        AXMSG_T msg{};
        msg.src_proc = PID_CORE;
        msg.data = &print;
        msg.data_len = sizeof print;
        ASSERT_EQ(notify_axmsg_callback(&msg), 0);
        const std::string text = out.text();
        const std::string node =
            "Type " + std::to_string(kType) + ", Proc " + pid + ", Pri " + std::to_string(kPri) + ",";
        const size_t first = text.find(node);
        ASSERT_NE(first, std::string::npos) << text;
        EXPECT_EQ(text.find(node, first + 1), std::string::npos) << text;
    }

    std::vector<pid_t> children_;
};

// The raiser is itself a subscriber: its death switches its node off in
// the core, and its next incarnation switches it on again.
TEST_F(NotifyRestart, EventsOfARestartedRaiserReachEverySubscriberOnce) {
    start_sink();
    start_peer(kSubscriberPid, "s1", -1, 0, false);
    pid_t old_raiser = start_peer(kRaiserPid, "r1", -1, 0, true);
    kill_peer(old_raiser);
    start_peer(kRaiserPid, "r2", kType, kEvents, false);

    for (int n = 0; n < kEvents; ++n) {
        const std::string arg = "r2 " + std::to_string(n);
        ASSERT_TRUE(wait_for("raised|r2|" + arg + "=0")) << arg;
        ASSERT_TRUE(wait_for("got|s1|" + arg)) << arg;
        ASSERT_TRUE(wait_for("got|r2|" + arg)) << arg;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a second copy would be here by now
    for (int n = 0; n < kEvents; ++n) {
        const std::string arg = "r2 " + std::to_string(n);
        EXPECT_EQ(count_of("got|s1|" + arg), 1u) << arg;
        EXPECT_EQ(count_of("got|r2|" + arg), 1u) << arg;
    }
    EXPECT_EQ(count_starting("got|r1|"), 0u);
    expect_one_node(kSubscriberPid);
    expect_one_node(kRaiserPid);
}

TEST_F(NotifyRestart, RestartedSubscriberGetsEachEventOnce) {
    start_sink();
    pid_t old_subscriber = start_peer(kSubscriberPid, "s1", -1, 0, true);
    kill_peer(old_subscriber);
    start_peer(kSubscriberPid, "s2", -1, 0, false);

    // Raised in the core, the traversal calls each subscriber before
    // notify_call returns.
    for (int n = 0; n < kEvents; ++n) {
        std::string arg = "core " + std::to_string(n);
        ASSERT_EQ(notify_call(kType, arg.data(), static_cast<int>(arg.size())), 0);
        EXPECT_EQ(count_of("got|s2|" + arg), 1u) << arg;
    }
    EXPECT_EQ(count_starting("got|s1|"), 0u);
    EXPECT_EQ(count_starting("got|s2|"), static_cast<size_t>(kEvents));
    expect_one_node(kSubscriberPid);
}

}  // namespace
