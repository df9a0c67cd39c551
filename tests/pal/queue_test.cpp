// Message queues and process semaphores.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "platform_core/pal.h"
#include "support/test_process.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class MsgQ : public ::testing::Test {
protected:
    void SetUp() override {
        q_ = pal_msgQ_create(kName, 0, 0, PAL_MSGQ_RDWR);
        ASSERT_GE(q_, 0);
    }
    void TearDown() override {
        pal_msgQ_close(q_);
        pal_msgQ_destroy(kName);
    }
    static constexpr const char *kName = "/pc_test_q";
    int q_ = -1;
};

TEST_F(MsgQ, defaults_and_attributes) {
    EXPECT_EQ(pal_msgQ_getMaxMsgNum(q_), 30);
    EXPECT_EQ(pal_msgQ_getMaxMsgSize(q_), 128);
    EXPECT_EQ(pal_msgQ_getMaxMsgNum(-1), -1);
}

TEST_F(MsgQ, urgent_priority_is_received_first) {
    ASSERT_EQ(pal_msgQ_send(q_, "five-a", 7, 5, PAL_WAIT_FOREVER), 0);
    ASSERT_EQ(pal_msgQ_send(q_, "five-b", 7, 5, PAL_WAIT_FOREVER), 0);
    ASSERT_EQ(pal_msgQ_send(q_, "zero", 5, 0, PAL_WAIT_FOREVER), 0);
    EXPECT_EQ(pal_msgQ_send(q_, "bad", 4, 256, PAL_WAIT_FOREVER), -1);
    EXPECT_EQ(pal_msgQ_send(q_, nullptr, 4, 1, PAL_WAIT_FOREVER), -1);
    const char *order[] = {"zero", "five-a", "five-b"};
    const unsigned stored[] = {255, 250, 250};
    for (int i = 0; i < 3; ++i) {
        char buf[128];
        unsigned prio = 0;
        int n = pal_msgQ_receive(q_, buf, sizeof buf, PAL_NO_WAIT, &prio);
        ASSERT_GT(n, 0);
        EXPECT_STREQ(buf, order[i]);
        EXPECT_EQ(prio, stored[i]);
    }
    char buf[128];
    unsigned prio;
    EXPECT_EQ(pal_msgQ_receive(q_, buf, sizeof buf, PAL_NO_WAIT, &prio), -1);  // "bad" never sent
    EXPECT_EQ(pal_msgQ_receive(q_, buf, sizeof buf, PAL_NO_WAIT, nullptr), -1);
}

TEST_F(MsgQ, receive_time_outs) {
    char buf[128];
    unsigned prio;
    auto t0 = Clock::now();
    EXPECT_EQ(pal_msgQ_receive(q_, buf, sizeof buf, 0, &prio), -1);
    EXPECT_LT(elapsed_ms(t0), 15);
    t0 = Clock::now();
    EXPECT_EQ(pal_msgQ_receive(q_, buf, sizeof buf, 20000, &prio), -1);
    long ms = elapsed_ms(t0);
    EXPECT_GE(ms, 18);
    EXPECT_LT(ms, 2000);
}

TEST(MsgQNonBlocking, empty_receive_without_time_out_returns_at_once) {
    int q = pal_msgQ_create("/pc_test_nb", 4, 16, PAL_MSGQ_NONBLOCK | PAL_MSGQ_RDWR);
    ASSERT_GE(q, 0);
    char buf[16];
    unsigned prio;
    EXPECT_EQ(pal_msgQ_receive(q, buf, sizeof buf, PAL_WAIT_FOREVER, &prio), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(pal_msgQ_send(q, "x", 2, 0, PAL_WAIT_FOREVER), 0);  // opened for writing too
    EXPECT_EQ(pal_msgQ_getMaxMsgNum(q), 4);
    pal_msgQ_close(q);
    pal_msgQ_destroy("/pc_test_nb");
    EXPECT_EQ(pal_msgQ_create(nullptr, 0, 0, 0), -1);
}

TEST(ProcSem, names_are_checked) {
    EXPECT_EQ(pal_proc_sem_create("bad-name", 0), nullptr);
    EXPECT_EQ(pal_proc_sem_create(nullptr, 0), nullptr);
    EXPECT_EQ(pal_proc_sem_create("neg", -1), nullptr);
    EXPECT_EQ(pal_proc_sem_open("never_created"), nullptr);
    EXPECT_EQ(pal_proc_sem_close(nullptr), -1);
    EXPECT_EQ(pal_proc_sem_destroy(nullptr), -1);
}

TEST(ProcSem, polled_take_backs_off_and_times_out) {
    pal_proc_sem_t h = pal_proc_sem_create("poll_zero", 0);
    ASSERT_NE(h, nullptr);
    auto t0 = Clock::now();
    errno = 0;
    EXPECT_EQ(pal_proc_sem_take(h, 10), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(elapsed_ms(t0), 10);
    EXPECT_EQ(pal_proc_sem_take(h, 0), -1);
    EXPECT_EQ(pal_proc_sem_give(h), 0);
    EXPECT_EQ(pal_proc_sem_take(h, 0), 0);
    EXPECT_EQ(pal_proc_sem_destroy(h), 0);
}

TEST(ProcSem, two_processes_share_a_named_semaphore) {
    pal_proc_sem_t ping = pal_proc_sem_create("pc_ping", 0);
    pal_proc_sem_t pong = pal_proc_sem_create("pc_pong", 0);
    ASSERT_NE(ping, nullptr);
    ASSERT_NE(pong, nullptr);
    struct stat st {};
    EXPECT_EQ(stat(PAL_PROC_SEM_DIR "/pc_ping", &st), 0);
    pid_t child = pc::test::fork_child([] {
        pal_proc_sem_t a = pal_proc_sem_open("pc_ping");
        pal_proc_sem_t b = pal_proc_sem_open("pc_pong");
        if (!a || !b) return 1;
        for (int i = 0; i < 5; ++i) {
            if (pal_proc_sem_take(a, -1) != 0) return 2;
            if (pal_proc_sem_give(b) != 0) return 3;
        }
        pal_proc_sem_close(a);
        pal_proc_sem_close(b);
        return 0;
    });
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(pal_proc_sem_give(ping), 0);
        ASSERT_EQ(pal_proc_sem_take(pong, 10000), 0);
    }
    EXPECT_EQ(pc::test::wait_child_for(child, 10000), 0);

    // Creating an existing name again resets its value for every holder.
    pal_proc_sem_give(ping);
    pal_proc_sem_give(ping);
    pal_proc_sem_t again = pal_proc_sem_create("pc_ping", 1);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(pal_proc_sem_take(ping, 0), 0);
    EXPECT_EQ(pal_proc_sem_take(ping, 0), -1);
    pal_proc_sem_close(again);
    EXPECT_EQ(pal_proc_sem_destroy(ping), 0);
    EXPECT_EQ(pal_proc_sem_destroy(pong), 0);
}

}  // namespace
