// Starting the timer service: calls before the start, the threads it
// starts, and a second start refused.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform_core/pal.h"
#include "platform_core/timer.h"
#include "support/capture_stdout.h"

namespace {

void noop(uintptr_t) {}

int count_thread(pal_thread_t, const char *name, unsigned, int, void *cookie) {
    (*static_cast<std::map<std::string, int> *>(cookie))[name]++;
    return 0;
}

std::map<std::string, int> thread_names() {
    std::map<std::string, int> names;
    pal_thread_traverse(count_thread, &names);
    return names;
}

TEST(TimerStart, RefusesUseBeforeStartThenStartsOnce) {
    const timespec soon{0, 1000000};
    EXPECT_EQ(add_timer("early", &soon, noop, 0, TIMER_MODE_ONESHOT).name[0], '\0');
    timer_id_t id{};
    EXPECT_EQ(del_timer(id), -1);
    id.name[0] = 'x';
    EXPECT_EQ(del_timer(id), 0);
    EXPECT_EQ(timer_clear(), -1);
    {
        pc::test::CaptureStdout out;
        timer_dump();
        EXPECT_NE(out.text().find("not started"), std::string::npos);
    }

    ASSERT_EQ(timer_init(), 0);
    auto names = thread_names();
    EXPECT_EQ(names["sysTimerManage"], 1);
    for (int n = 1; n <= 8; ++n) EXPECT_EQ(names["sysTimerSub_" + std::to_string(n)], 1) << n;

    unsigned threads_before = 0;
    pal_thread_resource_usage_get(&threads_before, nullptr, nullptr, nullptr);
    EXPECT_EQ(timer_init(), -1);
    unsigned threads_after = 0;
    pal_thread_resource_usage_get(&threads_after, nullptr, nullptr, nullptr);
    EXPECT_EQ(threads_after, threads_before);
    EXPECT_EQ(thread_names(), names);
}

}  // namespace
