// PAL mutexes, semaphores, condition variables and the Ctrl-C hold-back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "support/capture_stdout.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class Locks : public ::testing::Test {
protected:
    void SetUp() override {
        debugFlagInit();
        debugFlagSet(MID_PAL, 3);
        m_ = pal_mutex_create("test mutex");
        ASSERT_NE(m_, nullptr);
    }
    void TearDown() override { pal_mutex_destroy(m_); }

    // Holds m_ from another thread for `hold`; returns once it is held.
    std::thread hold_elsewhere(std::chrono::milliseconds hold) {
        std::atomic<bool> held{false};
        std::thread t([this, hold, &held] {
            pal_mutex_take(m_, PAL_WAIT_FOREVER);
            held = true;
            std::this_thread::sleep_for(hold);
            pal_mutex_give(m_);
        });
        while (!held) std::this_thread::sleep_for(1ms);
        return t;
    }
    pal_mutex_t m_ = nullptr;
};

TEST_F(Locks, recursive_takes_need_as_many_gives) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pal_mutex_take(m_, PAL_WAIT_FOREVER), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pal_mutex_give(m_), 0);
    pc::test::CaptureStdout out;
    EXPECT_EQ(pal_mutex_give(m_), -1);
    EXPECT_NE(out.text().find("who has already been unlocked"), std::string::npos);
    // Free again: another thread can take it at once.
    std::thread([this] {
        EXPECT_EQ(pal_mutex_take(m_, PAL_NO_WAIT), 0);
        pal_mutex_give(m_);
    }).join();
}

TEST_F(Locks, give_by_another_thread_is_refused_and_mutex_stays_held) {
    ASSERT_EQ(pal_mutex_take(m_, PAL_WAIT_FOREVER), 0);
    std::thread([this] {
        pc::test::CaptureStdout out;
        EXPECT_EQ(pal_mutex_give(m_), -1);
        EXPECT_NE(out.text().find("owned by another thread"), std::string::npos);
        EXPECT_EQ(pal_mutex_take(m_, PAL_NO_WAIT), -1);
    }).join();
    EXPECT_EQ(pal_mutex_give(m_), 0);
}

TEST_F(Locks, busy_try_take_fails_at_once_with_the_error_line) {
    std::thread holder = hold_elsewhere(300ms);
    pc::test::CaptureStdout out;
    auto t0 = Clock::now();
    EXPECT_EQ(pal_mutex_take(m_, PAL_NO_WAIT), -1);
    EXPECT_LT(elapsed_ms(t0), 100);
    EXPECT_NE(out.text().find("\nERROR in taking mutex \"test mutex\".\n"), std::string::npos);
    holder.join();
}

TEST_F(Locks, timed_take_gives_up_after_its_time_out) {
    std::thread holder = hold_elsewhere(400ms);
    auto t0 = Clock::now();
    EXPECT_EQ(pal_mutex_take(m_, 50), -1);
    long ms = elapsed_ms(t0);
    EXPECT_GE(ms, 45);
    EXPECT_LT(ms, 350);
    // A longer wait gets it once the holder lets go.
    EXPECT_EQ(pal_mutex_take(m_, 5000), 0);
    EXPECT_EQ(pal_mutex_give(m_), 0);
    holder.join();
}

TEST_F(Locks, null_handles_are_refused) {
    EXPECT_EQ(pal_mutex_take(nullptr, 0), -1);
    EXPECT_EQ(pal_mutex_give(nullptr), -1);
    EXPECT_EQ(pal_sem_take(nullptr, 0), -1);
    EXPECT_EQ(pal_sem_give(nullptr), -1);
    EXPECT_EQ(pal_mutex_create(nullptr), nullptr);
    EXPECT_EQ(pal_sem_create(nullptr, 0, 0), nullptr);
    EXPECT_EQ(pal_cond_create(nullptr), nullptr);
    pc::test::CaptureStdout out;
    pal_mutex_destroy(nullptr);
    EXPECT_NE(out.text().find("Try to destroy NULL mutex"), std::string::npos);
}

TEST_F(Locks, destroying_a_held_mutex_is_reported) {
    pal_mutex_t m = pal_mutex_create("held at exit");
    unsigned before = 0;
    pal_mutex_resource_usage_get(&before, nullptr);
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    pc::test::CaptureStdout out;
    pal_mutex_destroy(m);
    EXPECT_NE(out.text().find("Mutex \"held at exit\" owned by"), std::string::npos);
    unsigned after = 0;
    pal_mutex_resource_usage_get(&after, nullptr);
    EXPECT_EQ(after, before - 1);
}

TEST_F(Locks, cond_wait_on_a_recursively_held_mutex_returns_at_once) {
    pal_cond_t c = pal_cond_create("cond");
    pal_mutex_take(m_, PAL_WAIT_FOREVER);
    pal_mutex_take(m_, PAL_WAIT_FOREVER);
    auto t0 = Clock::now();
    EXPECT_EQ(pal_cond_wait(c, m_, PAL_WAIT_FOREVER), 0);
    EXPECT_LT(elapsed_ms(t0), 100);
    EXPECT_EQ(pal_mutex_give(m_), 0);  // held once only
    EXPECT_EQ(pal_mutex_give(m_), -1);
    // Free again in every count: destroying it reports nothing.
    pal_mutex_t m = pal_mutex_create("waited once");
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    EXPECT_EQ(pal_cond_wait(c, m, PAL_WAIT_FOREVER), 0);
    EXPECT_EQ(pal_mutex_give(m), 0);
    pc::test::CaptureStdout out;
    pal_mutex_destroy(m);
    EXPECT_EQ(out.text().find("has NOT been unlocked"), std::string::npos) << out.text();
    pal_cond_destroy(c);
}

TEST_F(Locks, cond_wait_times_out_and_holds_the_mutex_again) {
    pal_cond_t c = pal_cond_create("cond");
    pal_mutex_take(m_, PAL_WAIT_FOREVER);
    auto t0 = Clock::now();
    EXPECT_EQ(pal_cond_wait(c, m_, 100), -1);
    long ms = elapsed_ms(t0);
    EXPECT_GE(ms, 95);
    EXPECT_LT(ms, 2000);
    std::thread([this] { EXPECT_EQ(pal_mutex_take(m_, PAL_NO_WAIT), -1); }).join();
    EXPECT_EQ(pal_mutex_give(m_), 0);
    pal_cond_destroy(c);
}

TEST_F(Locks, cond_signal_wakes_the_waiter) {
    pal_cond_t c = pal_cond_create("cond");
    std::atomic<bool> flag{false};
    pal_mutex_take(m_, PAL_WAIT_FOREVER);
    std::thread t([&] {
        pal_mutex_take(m_, PAL_WAIT_FOREVER);
        flag = true;
        pal_cond_signal(c);
        pal_mutex_give(m_);
    });
    int rc = 0;
    while (!flag && rc == 0) rc = pal_cond_wait(c, m_, 5000);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(flag);
    pal_mutex_give(m_);
    t.join();
    pal_cond_destroy(c);
}

TEST(Semaphore, try_take_and_timed_take) {
    pal_sem_t s = pal_sem_create("sem", 0, 0);
    EXPECT_EQ(pal_sem_take(s, PAL_NO_WAIT), -1);
    auto t0 = Clock::now();
    EXPECT_EQ(pal_sem_take(s, 30), -1);
    EXPECT_GE(elapsed_ms(t0), 25);
    EXPECT_EQ(pal_sem_give(s), 0);
    EXPECT_EQ(pal_sem_take(s, PAL_NO_WAIT), 0);
    pal_sem_destroy(s);
}

std::atomic<int> g_sigint_count{0};

TEST(CtrlC, held_back_in_the_main_thread_while_it_holds_a_mutex) {
    struct sigaction sa {};
    sa.sa_handler = [](int) { g_sigint_count++; };
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    sigaction(SIGINT, &sa, &old);
    pal_thread_main_set(pal_thread_self());
    pal_mutex_t a = pal_mutex_create("a");
    pal_mutex_t b = pal_mutex_create("b");

    pal_mutex_take(a, PAL_WAIT_FOREVER);
    pal_mutex_take(b, PAL_WAIT_FOREVER);
    pthread_kill(pthread_self(), SIGINT);
    EXPECT_EQ(g_sigint_count.load(), 0);
    pal_mutex_give(b);
    EXPECT_EQ(g_sigint_count.load(), 0);  // still holding a
    pal_mutex_give(a);
    EXPECT_EQ(g_sigint_count.load(), 1);  // delivered on the last give

    // A failed take undoes its hold-back.
    pal_mutex_take(a, PAL_WAIT_FOREVER);
    std::thread([&] { EXPECT_EQ(pal_mutex_take(a, PAL_NO_WAIT), -1); }).join();
    pal_mutex_give(a);
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        pal_mutex_take(b, PAL_WAIT_FOREVER);
        held = true;
        while (!release) std::this_thread::sleep_for(1ms);
        pal_mutex_give(b);
    });
    while (!held) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(pal_mutex_take(b, PAL_NO_WAIT), -1);
    pthread_kill(pthread_self(), SIGINT);
    EXPECT_EQ(g_sigint_count.load(), 2);
    release = true;
    holder.join();

    pal_thread_main_set(0);
    pal_mutex_destroy(a);
    pal_mutex_destroy(b);
    sigaction(SIGINT, &old, nullptr);
}

// A held mutex that the main thread destroys lets Ctrl-C through again.
TEST(CtrlC, destroying_a_mutex_the_main_thread_holds_lets_it_through) {
    pal_thread_main_set(pal_thread_self());
    pal_mutex_t m = pal_mutex_create("held by main");
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    pal_mutex_take(m, PAL_WAIT_FOREVER);
    {
        pc::test::CaptureStdout out;
        pal_mutex_destroy(m);
    }
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGINT), 0);
    EXPECT_EQ(ctrl_c_unblock(), 0u);  // nothing left held back
    pal_thread_main_set(0);
}

TEST(Spl, nests_and_excludes_other_threads) {
    ASSERT_EQ(pal_spl_init(), 0);
    EXPECT_EQ(pal_splhi(), 1);
    EXPECT_EQ(pal_splhi(), 2);
    std::atomic<bool> entered{false};
    std::thread t([&] {
        pal_splhi();
        entered = true;
        pal_spl();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered);
    EXPECT_EQ(pal_spl(), 0);
    EXPECT_EQ(pal_spl(), 0);
    t.join();
    EXPECT_TRUE(entered);
}

}  // namespace
