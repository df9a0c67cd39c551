// The messaging client: this test program is an application process; the
// core runs as a helper process that can be killed and started again.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/test_process.h"

namespace {

constexpr int kSelfPid = 30;
constexpr uint32_t kLocalMid = 60;
constexpr unsigned kWaitMs = 10000;

struct Replies {
    std::mutex lock;
    std::condition_variable cv;
    int count = 0;
    std::vector<uint8_t> last;
    std::thread::id thread;
};
Replies g_replies;

int on_message(AXMSG_T *msg) {
    std::lock_guard<std::mutex> guard(g_replies.lock);
    auto *p = static_cast<uint8_t *>(msg->data);
    g_replies.last.assign(p, p + msg->data_len);
    g_replies.thread = std::this_thread::get_id();
    ++g_replies.count;
    g_replies.cv.notify_all();
    return 0;
}

AXMSG_T message_to(uint32_t proc, uint32_t mid, iovec *piece) {
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = proc;
    m.msg_type = mid;
    m.iov = piece;
    m.iov_num = 1;
    return m;
}

// Sends a debug echo to the core and waits for it to come back.
bool echo_round_trip(uint8_t tag, bool multicast = false) {
    int before;
    {
        std::lock_guard<std::mutex> guard(g_replies.lock);
        before = g_replies.count;
    }
    uint8_t payload[] = {AXMSG_DBG_ECHO, tag};
    iovec piece{payload, sizeof payload};
    AXMSG_T m = message_to(PID_CORE, MID_AXMSG, &piece);
    if (multicast) m.dst_unit = 1u << 1;
    if ((multicast ? axmsg_mcast_send(&m) : axmsg_send(&m)) != 0) return false;
    std::unique_lock<std::mutex> lock(g_replies.lock);
    return g_replies.cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
        return g_replies.count > before;
    }) && g_replies.last == std::vector<uint8_t>(payload, payload + sizeof payload);
}

bool wait_disconnected() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (axmsg_client_connected()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void stop_core(pid_t core, int sig) {
    kill(core, sig);
    pc::test::wait_child(core);
}

TEST(AxmsgClient, InitRefusesWrongIdentity) {
    simProcessSetPid(kSelfPid);
    EXPECT_EQ(axmsg_client_init(PID_CORE, 0), -1);
    EXPECT_EQ(axmsg_client_init(64, 0), -1);
    EXPECT_EQ(axmsg_client_init(kSelfPid + 1, 0), -1);  // not this process's id
}

TEST(AxmsgClient, TalksThroughTheHubAndReconnectsAfterCoreRestart) {
    simProcessSetPid(kSelfPid);
    ASSERT_EQ(axmsg_reg(AXMSG_ECHO_REPLY_MID, on_message), 0);
    ASSERT_EQ(axmsg_reg(kLocalMid, on_message), 0);

    // Without a hub: init reports that it is still trying, sends fail.
    ASSERT_EQ(axmsg_client_init(kSelfPid, 0), 1);
    EXPECT_EQ(axmsg_client_init(kSelfPid, 0), -1);  // already running
    EXPECT_FALSE(echo_round_trip(1));

    pid_t core = pc::test::spawn_helper("axmsg_core_helper", {});
    ASSERT_EQ(axmsg_client_wait_connected(kWaitMs), 0);
    EXPECT_TRUE(echo_round_trip(2));
    EXPECT_TRUE(echo_round_trip(3, /*multicast=*/true));

    // A message to this process itself is delivered on the caller's thread.
    uint8_t local[] = {9, 8, 7};
    iovec piece{local, sizeof local};
    AXMSG_T m = message_to(kSelfPid, kLocalMid, &piece);
    ASSERT_EQ(axmsg_send(&m), 0);
    {
        std::lock_guard<std::mutex> guard(g_replies.lock);
        EXPECT_EQ(g_replies.thread, std::this_thread::get_id());
        EXPECT_EQ(g_replies.last, std::vector<uint8_t>(local, local + sizeof local));
    }

    stop_core(core, SIGKILL);
    ASSERT_TRUE(wait_disconnected());
    EXPECT_FALSE(echo_round_trip(4));

    unsigned connects = axmsg_client_connect_count();
    core = pc::test::spawn_helper("axmsg_core_helper", {});
    ASSERT_EQ(axmsg_client_wait_connected(kWaitMs), 0);
    EXPECT_EQ(axmsg_client_connect_count(), connects + 1);
    EXPECT_TRUE(echo_round_trip(5));

    EXPECT_EQ(axmsg_client_close(), 0);
    EXPECT_FALSE(axmsg_client_connected());
    EXPECT_FALSE(echo_round_trip(6));
    stop_core(core, SIGTERM);
}

}  // namespace
