// The priority-raising lock made on first use by threads that arrive
// together: they must all get the same lock. (This program is alone in its
// process so the lock does not exist yet when the test starts; the thread
// sanitizer build sees a racy first use as a data race.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform_core/pal.h"

namespace {

TEST(SplFirstUse, threads_arriving_together_share_one_lock) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::atomic<int> ready{0};
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            ready++;
            while (ready.load() < kThreads) {
            }
            for (int r = 0; r < kRounds; ++r) {
                pal_splhi();
                if (inside.fetch_add(1) != 0) overlaps++;
                inside.fetch_sub(1);
                pal_spl();
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(overlaps.load(), 0);
    unsigned now = 0;
    pal_mutex_resource_usage_get(&now, nullptr);
    EXPECT_GE(now, 1u);
}

}  // namespace
