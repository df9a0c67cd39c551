// Event notification across restarts of real processes: a process killed
// with SIGKILL while the hub's reader of it is busy, and started again at
// once under the same id, takes its place in the core's table. Events
// raised by the new incarnation reach every subscriber, and a subscriber
// that subscribed again gets each event exactly once.
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "notify_core_fixture.h"
#include "support/test_process.h"

namespace {

using pc::test::notify::kPatience;

constexpr int kType = 11;
constexpr int kPri = 10;
constexpr const char *kSubscriberPid = "3";
constexpr const char *kRaiserPid = "4";
constexpr const char *kSinkPid = "9";
constexpr int kEvents = 20;

class NotifyRestart : public pc::test::notify::NotifyCoreFixture {
protected:
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
        ASSERT_TRUE(pc::test::wait_until([&] { return axmsg_send(&m) == 0; }, kPatience))
            << "the sink did not connect";
    }

    // Starts a notify_restart_peer (see the helper) and waits until the core
    // lists its subscription; then a raiser is let raise. With `busy` it is
    // given time to hand the hub its bulk message, so that the hub's reader
    // of it is writing to the sink.
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
        EXPECT_TRUE(wait_for_entry("ready|" + tag + "|")) << tag;
        EXPECT_TRUE(wait_subscribed(kType, std::stoi(pid))) << tag << "\n" << table_text();
        if (raise >= 0) kill(p, SIGUSR1);
        if (busy) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return p;
    }

    static void kill_peer(pid_t p) {
        kill(p, SIGKILL);
        pc::test::wait_child(p);
    }

    // The core's table holds one node of `pid` for the type.
    static void expect_one_node(const char *pid) {
        const std::string text = table_text();
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
        ASSERT_TRUE(wait_for_entry("raised|r2|" + arg + "=0")) << arg;
        ASSERT_TRUE(wait_for_entry("got|s1|" + arg)) << arg;
        ASSERT_TRUE(wait_for_entry("got|r2|" + arg)) << arg;
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
