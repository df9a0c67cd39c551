// The resource monitors: option ranges, start and stop refusals, the
// reports of each monitor, and a real dead-lock between two threads.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform_core/diag.h"
#include "platform_core/pal.h"
#include "support/capture_stdout.h"
#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using pc::test::CaptureStdout;

using pc::test::read_file;

// A monitor checks once a second; on a loaded machine its first checks
// come late. A usage above 0 means a check has compared two samples and
// printed what it had to (under the monitor's lock, which the getter takes).
constexpr auto kMonitorPatience = std::chrono::seconds(20);

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The thread sanitizer holds signals back from a thread blocked in a lock,
// so there a dead-locked thread cannot print its own stack.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSignalsDeferred = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSignalsDeferred = true;
#else
constexpr bool kSignalsDeferred = false;
#endif
#else
constexpr bool kSignalsDeferred = false;
#endif
// The last line of a report: the owner's stack, or the note that it gave none.
const std::string kReportEnd = kSignalsDeferred ? "did not print its stack" : "Stack information:";

TEST(Monitors, OptionsAreCheckedAgainstTheirRanges) {
    struct Case {
        int (*set)(int, int);
        int option;
        int value;
        int rc;
        const char *message;  // printed on refusal
    };
    const Case cases[] = {
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_HIGH_WATER, 101, -1,
         "Set cpu monitor failed, invalid value!\n"},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_HIGH_WATER, 100, 0, nullptr},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_HIGH_WATER, -1, -1,
         "Set cpu monitor failed, invalid value!\n"},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_INTERVAL, 0, -1, "Set cpu monitor failed, invalid value!\n"},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_TOP_NUM, 0, -1, "Set cpu monitor failed, invalid value!\n"},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_TASK_KIND, 3, -1, "Set cpu monitor failed, invalid value!\n"},
        {dk_mon_cpu_options_set, DK_MON_CPU_OPT_TASK_KIND, DK_MON_TASK_PROCESS, 0, nullptr},
        {dk_mon_cpu_options_set, 5, 1, -1, "Set cpu monitor failed, invalid option!\n"},
        {dk_mon_mem_options_set, DK_MON_MEM_OPT_HIGH_WATER, 101, -1,
         "Set memory monitor failed, invalid value!\n"},
        {dk_mon_mem_options_set, DK_MON_MEM_OPT_HIGH_WATER, 0, 0, nullptr},
        {dk_mon_mem_options_set, DK_MON_MEM_OPT_TOP_NUM, 0, -1,
         "Set memory monitor failed, invalid value!\n"},
        {dk_mon_mem_options_set, DK_MON_MEM_OPT_INTERVAL, -5, -1,
         "Set memory monitor failed, invalid value!\n"},
        {dk_mon_mem_options_set, 0, 1, -1, "Set memory monitor failed, invalid option!\n"},
        {dk_mon_stack_options_set, DK_MON_STACK_OPT_HIGH_WATER, 101, -1, nullptr},
        {dk_mon_lock_options_set, DK_MON_LOCK_OPT_INTERVAL, 0, -1, nullptr},
    };
    for (const Case &c : cases) {
        CaptureStdout capture;
        EXPECT_EQ(c.set(c.option, c.value), c.rc) << c.option << "=" << c.value;
        std::string text = capture.text();
        if (c.message != nullptr) {
            EXPECT_EQ(text, c.message);
        } else {
            EXPECT_EQ(text, "");
        }
    }
    dk_mon_cpu_options_set(DK_MON_CPU_OPT_TASK_KIND, DK_MON_TASK_THREAD);
    dk_mon_cpu_options_set(DK_MON_CPU_OPT_HIGH_WATER, 90);
    dk_mon_mem_options_set(DK_MON_MEM_OPT_HIGH_WATER, 80);
}

TEST(Monitors, StartingTwiceAndStoppingTwiceAreRefused) {
    struct Case {
        int (*init)();
        int (*deinit)();
        int (*restart)();
        const char *twice_on;
        const char *off;
        const char *twice_off;
    };
    const Case cases[] = {
        {dk_mon_cpu_init, dk_mon_cpu_deinit, dk_mon_cpu_restart,
         "DO NOT open cpu monitor twice, it's on already!\n", "CPU monitor is off.\n",
         "DO NOT close cpu monitor twice, it's off already!\n"},
        {dk_mon_mem_init, dk_mon_mem_deinit, dk_mon_mem_restart,
         "DO NOT open memory monitor twice, it's on already!\n", "Memory monitor is off.\n",
         "DO NOT close memory monitor twice, it's off already!\n"},
        {dk_mon_stack_init, dk_mon_stack_deinit, dk_mon_stack_restart,
         "DO NOT open stack monitor twice, it's on already!\n", "Stack monitor is off.\n",
         "DO NOT close stack monitor twice, it's off already!\n"},
        {dk_mon_lock_init, dk_mon_lock_deinit, dk_mon_lock_restart,
         "DO NOT open lock monitor twice, it's on already!\n", "Lock monitor is off.\n",
         "DO NOT close lock monitor twice, it's off already!\n"},
    };
    for (const Case &c : cases) {
        CaptureStdout capture;
        EXPECT_EQ(c.init(), 0);
        EXPECT_EQ(c.init(), -1);
        EXPECT_EQ(c.deinit(), 0);
        EXPECT_EQ(c.deinit(), -1);
        EXPECT_EQ(c.init(), 0);  // on again after a stop
        EXPECT_EQ(c.restart(), 0);
        EXPECT_EQ(c.deinit(), 0);
        EXPECT_EQ(c.restart(), 0);  // a restart of a monitor that is off starts it
        EXPECT_EQ(c.deinit(), 0);
        std::string text = capture.text();
        EXPECT_TRUE(contains(text, c.twice_on)) << text;
        EXPECT_TRUE(contains(text, c.off)) << text;
        EXPECT_TRUE(contains(text, c.twice_off)) << text;
    }
    CaptureStdout capture;
    EXPECT_EQ(dk_mon_cpu_printusage(), -1);
    EXPECT_EQ(dk_mon_mem_printtop(), -1);
    EXPECT_EQ(dk_mon_stack_printall(), -1);
    EXPECT_LT(dk_mon_cpu_usage_get(), 0);
    std::string text = capture.text();
    EXPECT_TRUE(contains(text, "CPU monitor is off, can NOT get cpu usage!\n"));
    EXPECT_TRUE(contains(text, "Memory monitor is off, can NOT get memory usage!\n"));
    EXPECT_TRUE(contains(text, "Stack monitor is off, can NOT get stack infos!\n"));
}

TEST(Monitors, CpuAndMemoryReportAboveTheirHighWater) {
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load()) {
        }
    });
    CaptureStdout capture;
    ASSERT_EQ(dk_mon_cpu_options_set(DK_MON_CPU_OPT_INTERVAL, 1), 0);
    ASSERT_EQ(dk_mon_cpu_options_set(DK_MON_CPU_OPT_HIGH_WATER, 0), 0);
    ASSERT_EQ(dk_mon_mem_options_set(DK_MON_MEM_OPT_HIGH_WATER, 0), 0);
    ASSERT_EQ(dk_mon_cpu_init(), 0);
    ASSERT_EQ(dk_mon_mem_init(), 0);
    EXPECT_TRUE(pc::test::wait_until([] { return dk_mon_cpu_usage_get() > 0 && dk_mon_mem_usage_get() > 0; },
                                     kMonitorPatience));
    EXPECT_EQ(dk_mon_cpu_printtop(), 0);
    EXPECT_EQ(dk_mon_mem_printusage(), 0);
    dk_mon_cpu_deinit();
    dk_mon_mem_deinit();
    // The same with the processes of the machine listed.
    ASSERT_EQ(dk_mon_cpu_options_set(DK_MON_CPU_OPT_TASK_KIND, DK_MON_TASK_PROCESS), 0);
    ASSERT_EQ(dk_mon_cpu_init(), 0);
    EXPECT_TRUE(pc::test::wait_until([] { return dk_mon_cpu_usage_get() > 0; }, kMonitorPatience));
    dk_mon_cpu_deinit();
    dk_mon_cpu_options_set(DK_MON_CPU_OPT_TASK_KIND, DK_MON_TASK_THREAD);
    stop = true;
    busy.join();
    dk_mon_cpu_options_set(DK_MON_CPU_OPT_HIGH_WATER, 90);
    dk_mon_mem_options_set(DK_MON_MEM_OPT_HIGH_WATER, 80);
    std::string text = capture.text();
    EXPECT_TRUE(contains(text, "> cpu usage overflow, current usage: ")) << text;
    EXPECT_TRUE(contains(text, " in process ")) << text;
    char own[64];
    snprintf(own, sizeof own, "> process %d(", static_cast<int>(getpid()));
    // This process, busy, is among the ten busiest; the emulator shows its
    // own process's stat file with no times in it, so there any will do.
    EXPECT_TRUE(contains(text, pc::test::under_emulator() ? std::string("> process ") : std::string(own)))
        << text;
    EXPECT_TRUE(contains(text, "> memory usage overflow, total: ")) << text;
    EXPECT_TRUE(contains(text, "KB(")) << text;
    EXPECT_TRUE(contains(text, "<diagKit: 20")) << text;  // the date prefix

    int tid = static_cast<int>(syscall(SYS_gettid));
    EXPECT_GE(dk_mon_cpu_gettasktime(tid, DK_MON_TASK_THREAD), 0);
    EXPECT_GE(dk_mon_cpu_gettasktime(getpid(), DK_MON_TASK_PROCESS), 0);
    EXPECT_EQ(dk_mon_cpu_gettasktime(tid, 3), -1);
    EXPECT_EQ(dk_mon_cpu_gettasktime(-1, DK_MON_TASK_PROCESS), -1);
}

// A thread that goes deep into its stack, then waits.
std::atomic<int> g_deep_tid{0};
std::atomic<bool> g_deep_release{false};
constexpr unsigned kDeepStack = 1024 * 1024;

__attribute__((noinline)) void use_stack(size_t bytes) {
    volatile char *area = static_cast<volatile char *>(__builtin_alloca(bytes));
    for (size_t i = 0; i < bytes; i += 64) area[i] = 1;
    g_deep_tid = static_cast<int>(syscall(SYS_gettid));
    while (!g_deep_release.load()) pal_usleep(10000);
}

void deep_thread(void *) {
    pthread_attr_t attr;
    void *addr = nullptr;
    size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    // Down to 96% of the stack, counted from its high end.
    char here;
    auto used = static_cast<size_t>(static_cast<char *>(addr) + size - &here);
    use_stack(size * 96 / 100 - used);
}

TEST(Monitors, StackMonitorReportsAThreadDeepInItsStack) {
    CaptureStdout capture;
    pal_thread_t t = pal_thread_create("deep_stack", kDeepStack, 40, deep_thread, nullptr);
    ASSERT_NE(t, PAL_THREAD_INVALID);
    while (g_deep_tid.load() == 0) pal_usleep(10000);
    ASSERT_EQ(dk_mon_stack_init(), 0);  // the first check runs at once
    EXPECT_TRUE(
        pc::test::wait_until([] { return dk_mon_stack_getbytid(g_deep_tid.load()) == 0; }, kMonitorPatience));
    EXPECT_EQ(dk_mon_stack_printall(), 0);
    EXPECT_EQ(dk_mon_stack_getbytid(999999), -1);
    dk_mon_stack_deinit();
    g_deep_release = true;
    std::string text = capture.text();
    EXPECT_TRUE(contains(text, "> thread (deep_stack/")) << text;
    EXPECT_TRUE(contains(text, "has STACK OVERFLOW risk, usage: 9")) << text;
    EXPECT_FALSE(contains(text, "WARNING: stack base < stack top.")) << text;
}

// Two threads take two mutexes in opposite order and wait for ever; a third
// holds a mutex the whole time but keeps working; a fourth holds one and
// only wakes every 200 ms to look for something that never comes (which
// uses a few microseconds per wake-up, no whole clock tick). Runs in a
// child, whose dead-locked threads end with it.
struct DeadlockWorld {
    pal_mutex_t x, a, b, busy, poll;
};
DeadlockWorld g_world;

void first_thread(void *) {
    pal_mutex_take(g_world.x, PAL_WAIT_FOREVER);
    pal_mutex_take(g_world.a, PAL_WAIT_FOREVER);
    pal_usleep(300000);
    pal_mutex_take(g_world.b, PAL_WAIT_FOREVER);
}
void second_thread(void *) {
    pal_mutex_take(g_world.b, PAL_WAIT_FOREVER);
    pal_usleep(300000);
    pal_mutex_take(g_world.a, PAL_WAIT_FOREVER);
}
void busy_thread(void *) {
    pal_mutex_take(g_world.busy, PAL_WAIT_FOREVER);
    volatile unsigned long spin = 0;
    for (;;) spin = spin + 1;
}
void polling_thread(void *) {
    pal_mutex_take(g_world.poll, PAL_WAIT_FOREVER);
    for (;;) pal_usleep(200000);
}

TEST(Monitors, LockMonitorReportsARealDeadlock) {
    std::string out = "/tmp/lock_monitor_report.txt";
    pid_t child = pc::test::fork_child([&] {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        g_world = {pal_mutex_create("dl_lock_x"), pal_mutex_create("dl_lock_a"),
                   pal_mutex_create("dl_lock_b"), pal_mutex_create("busy_lock"),
                   pal_mutex_create("poll_lock")};
        constexpr unsigned kStack = 65536;  // room for the sanitizers too
        pal_thread_create("dl_one", kStack, 40, first_thread, nullptr);
        pal_thread_create("dl_two", kStack, 40, second_thread, nullptr);
        pal_thread_create("busy_holder", kStack, 40, busy_thread, nullptr);
        pal_thread_create("poll_holder", kStack, 40, polling_thread, nullptr);
        if (dk_mon_lock_options_set(DK_MON_LOCK_OPT_INTERVAL, 1) != 0 || dk_mon_lock_init() != 0) _exit(2);
        // Reported after about twelve checks; wait for the stack trace that ends a report.
        for (int i = 0; i < 1200; ++i) {
            usleep(100000);
            std::string text = read_file(out);
            // Four reports (x, a, b and poll), each ending with its owner's stack.
            if (count(text, kReportEnd) >= 4 && contains(text, "lock  name  : dl_lock_a\n") &&
                contains(text, "lock  name  : dl_lock_b\n") && contains(text, "lock  name  : poll_lock\n")) {
                usleep(500000);
                fflush(stdout);
                _exit(0);
            }
        }
        fflush(stdout);
        return 1;
    });
    EXPECT_EQ(pc::test::wait_child_for(child, 180000), 0);
    std::string text = read_file(out);
    EXPECT_TRUE(contains(text, "[ INFO: possible deadlock detected ]\n")) << text;
    EXPECT_TRUE(contains(text, "lock  name  : dl_lock_a\n")) << text;
    EXPECT_TRUE(contains(text, "owner thread: dl_one/")) << text;
    EXPECT_TRUE(contains(text, "Other locks held by thread dl_one(")) << text;
    EXPECT_TRUE(contains(text, ": dl_lock_x\n")) << text;
    EXPECT_TRUE(contains(text, "lock  name  : dl_lock_b\n")) << text;
    EXPECT_TRUE(contains(text, "  no other held locks.\n")) << text;  // dl_two holds only b
    EXPECT_TRUE(contains(text, "lock  name  : poll_lock\n")) << text;
    EXPECT_TRUE(contains(text, "owner thread: poll_holder/")) << text;
    if (!kSignalsDeferred) {
        EXPECT_TRUE(contains(text, "thread(LWP) ")) << text;  // the owner's own stack
    }
    EXPECT_FALSE(contains(text, "busy_lock")) << text;  // held, but its owner works
}

}  // namespace
