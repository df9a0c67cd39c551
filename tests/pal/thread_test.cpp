// Threads: start-up handshake, registry, counters, TLS keys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <semaphore.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform_core/pal.h"
#include "support/test_files.h"

namespace {

using namespace std::chrono_literals;

// Threads started on a gate wait until it is given once per thread. The
// gate outlives them: its destructor waits until every thread it started
// has left the registry, so the next test starts from a quiet process.
void wait_on_gate(void *arg);

struct Gate {
    pal_sem_t go = pal_sem_create("gate", 0, 0);
    std::vector<pal_thread_t> ids;
    pal_thread_t start(const char *name, unsigned stack = 16384) {
        pal_thread_t id = pal_thread_create(name, stack, 0, wait_on_gate, this);
        if (id != PAL_THREAD_INVALID) ids.push_back(id);
        return id;
    }
    void open() {
        for (size_t i = 0; i < ids.size(); ++i) pal_sem_give(go);
    }
    ~Gate() {
        open();
        for (pal_thread_t id : ids)
            while (pal_thread_pid(id) != -1) std::this_thread::sleep_for(1ms);
        pal_sem_destroy(go);
    }
};

void wait_on_gate(void *arg) { pal_sem_take(static_cast<Gate *>(arg)->go, PAL_WAIT_FOREVER); }

unsigned registered_threads() {
    unsigned n = 0;
    pal_thread_resource_usage_get(&n, nullptr, nullptr, nullptr);
    return n;
}

bool eventually(const std::function<bool()> &cond) { return pc::test::wait_until(cond, 5s); }

TEST(Thread, created_thread_is_registered_at_once) {
    Gate gate;
    pal_thread_t id = gate.start("tStackFsm", 20480);
    ASSERT_NE(id, PAL_THREAD_INVALID);
    EXPECT_GT(pal_thread_pid(id), 0);
    EXPECT_NE(pal_thread_pid(id), getpid());
    char name[32];
    EXPECT_STREQ(pal_thread_name(id, name, sizeof name), "tStackFsm");
    char short_name[4];
    EXPECT_STREQ(pal_thread_name(id, short_name, sizeof short_name), "tSt");
    unsigned ss = 0;
    EXPECT_EQ(pal_thread_ss(id, &ss), 0);
    EXPECT_EQ(ss, 20480u + PAL_THREAD_STACK_EXTRA);
    EXPECT_EQ(pal_thread_ss(id, nullptr), -1);
    gate.open();
}

TEST(Thread, ended_thread_leaves_registry_and_counters_keep_peak) {
    unsigned num0 = 0, stack0 = 0;
    pal_thread_resource_usage_get(&num0, &stack0, nullptr, nullptr);
    Gate gate;
    std::vector<pal_thread_t> ids;
    for (int i = 0; i < 3; ++i) ids.push_back(gate.start("tWorker"));
    unsigned num = 0, stack = 0, max_num = 0, max_stack = 0;
    pal_thread_resource_usage_get(&num, &stack, &max_num, &max_stack);
    EXPECT_EQ(num, num0 + 3);
    EXPECT_EQ(stack, stack0 + 3 * (16384 + PAL_THREAD_STACK_EXTRA));
    gate.open();
    EXPECT_TRUE(eventually([&] { return registered_threads() == num0; }));
    for (auto id : ids) EXPECT_EQ(pal_thread_pid(id), -1);
    char name[8] = "x";
    EXPECT_EQ(pal_thread_name(ids[0], name, sizeof name), nullptr);
    EXPECT_EQ(name[0], '\0');
    unsigned after_max = 0;
    pal_thread_resource_usage_get(nullptr, nullptr, &after_max, nullptr);
    EXPECT_GE(after_max, num0 + 3);
}

TEST(Thread, destroy_of_a_live_thread_without_record_returns_zero) {
    std::atomic<bool> stop{false};
    pthread_t plain;
    ASSERT_EQ(pthread_create(
                  &plain, nullptr,
                  [](void *) -> void * {
                      for (;;) pause();
                      return nullptr;
                  },
                  &stop),
              0);
    EXPECT_EQ(pal_thread_destroy(plain), 0);
    pthread_join(plain, nullptr);
}

TEST(Thread, traverse_stops_at_the_first_non_zero_result) {
    Gate gate;
    for (int i = 0; i < 3; ++i) gate.start("tTrav");
    int visits = 0;
    int rc = pal_thread_traverse(
        [](pal_thread_t, const char *, unsigned, int, void *cookie) {
            int *v = static_cast<int *>(cookie);
            return ++*v == 2 ? 5 : 0;
        },
        &visits);
    EXPECT_EQ(rc, 5);
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(pal_thread_traverse(nullptr, nullptr), -1);
}

TEST(Thread, threads_block_ctrl_c) {
    static std::atomic<int> blocked{-1};
    pal_sem_t done = pal_sem_create("done", 0, 0);
    pal_thread_create(
        "tMask", 16384, 0,
        [](void *arg) {
            sigset_t cur;
            pthread_sigmask(SIG_BLOCK, nullptr, &cur);
            blocked = sigismember(&cur, SIGINT);
            pal_sem_give(static_cast<pal_sem_t>(arg));
        },
        done);
    ASSERT_EQ(pal_sem_take(done, 5000), 0);
    EXPECT_EQ(blocked.load(), 1);
    pal_sem_destroy(done);
}

TEST(Thread, bad_arguments_are_refused) {
    EXPECT_EQ(pal_thread_create(nullptr, 16384, 0, wait_on_gate, nullptr), PAL_THREAD_INVALID);
    EXPECT_EQ(pal_thread_create("x", 16384, 0, nullptr, nullptr), PAL_THREAD_INVALID);
}

// Run in a child: the key pool lasts for the life of the process.
TEST(Tls, pool_holds_eight_keys_for_the_life_of_the_process) {
    pid_t pid = fork();
    if (pid == 0) {
        pal_tls_key_t keys[PAL_TLS_KEY_NUM];
        if (pal_tls_key_get(nullptr) != nullptr || pal_tls_key_set(nullptr, &pid) != 0) _exit(1);
        for (auto &k : keys)
            if ((k = pal_tls_key_create(nullptr)) == nullptr) _exit(2);
        int value = 7;
        if (pal_tls_key_set(keys[0], &value) != 1 || pal_tls_key_get(keys[0]) != &value) _exit(3);
        if (pal_tls_key_delete(keys[1]) != 1) _exit(4);
        if (pal_tls_key_create(nullptr) != nullptr) _exit(5);  // deleted slots stay used
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Sleep, pal_sleep_waits_whole_seconds) {
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(pal_sleep(1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 990ms);
    EXPECT_EQ(pal_no_sleep(), 0);
}

// A thread destroyed while it holds the registry lock (here: inside a walk
// of the registry) ends only once it has let the lock go; every thread call
// goes on working.
sem_t g_in_walk;
sem_t g_leave_walk;

int block_in_walk(pal_thread_t, const char *, unsigned, int, void *) {
    sem_post(&g_in_walk);
    while (sem_wait(&g_leave_walk) != 0) {
    }
    return 1;  // one record is enough
}

void walk_registry(void *) {
    pal_thread_traverse(block_in_walk, nullptr);
    for (;;) pal_usleep(1000);
}

TEST(Thread, destroyed_while_holding_the_registry_lock_releases_it) {
    sem_init(&g_in_walk, 0, 0);
    sem_init(&g_leave_walk, 0, 0);
    pal_thread_t walker = pal_thread_create("walker", 16384, 0, walk_registry, nullptr);
    ASSERT_NE(walker, PAL_THREAD_INVALID);
    while (sem_wait(&g_in_walk) != 0) {
    }
    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        pal_thread_destroy(walker);
        destroyed = true;
    });
    std::this_thread::sleep_for(50ms);
    sem_post(&g_leave_walk);
    EXPECT_TRUE(eventually([&] { return destroyed.load(); }));
    std::atomic<bool> answered{false};
    std::thread asker([&] {
        registered_threads();
        answered = true;
    });
    EXPECT_TRUE(eventually([&] { return answered.load(); }));
    if (!destroyed || !answered) {
        // The registry lock was lost: nothing will ever answer.
        destroyer.detach();
        asker.detach();
        _exit(1);
    }
    destroyer.join();
    asker.join();
    sem_destroy(&g_in_walk);
    sem_destroy(&g_leave_walk);
}

}  // namespace
