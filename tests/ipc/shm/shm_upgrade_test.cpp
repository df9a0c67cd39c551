// A shared data area left by an older build: its information segment has
// no room for the sequence words behind the table. Nothing here has
// attached to the area yet (this program's own IPC namespace).
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "platform_core/axshm.h"

namespace {

TEST(ShmUpgrade, UnusedSmallInfoSegmentIsMadeAnew) {
    int old = shmget(AXSHM_INFO_KEY, AXSHM_INFO_SIZE, IPC_CREAT | 0644);
    ASSERT_GE(old, 0);
    ASSERT_EQ(0, axshm_init());
    shmid_ds ds{};
    int now = shmget(AXSHM_INFO_KEY, 0, 0);
    ASSERT_GE(now, 0);
    ASSERT_EQ(0, shmctl(now, IPC_STAT, &ds));
    EXPECT_GT(ds.shm_segsz, static_cast<size_t>(AXSHM_INFO_SIZE));
    ASSERT_EQ(0, axshm_reg_data("upgrade", 8));
    const char in[8] = "written";
    char out[8] = {};
    ASSERT_EQ(0, axshm_set_data("upgrade", in, sizeof in));
    ASSERT_EQ(0, axshm_get_data("upgrade", out, sizeof out));
    EXPECT_EQ(0, std::memcmp(in, out, sizeof in));
}

}  // namespace
