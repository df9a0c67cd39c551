// The simulated chip is one per switch (one IPC namespace): its tables live
// in shared segments under robust locks. A process killed while it works
// on the chip must not leave it locked for the others, and a segment left
// by another build is made again rather than read as this build's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstring>

#include "platform_core/chip_sdk.h"
#include "platform_core/up.h"
#include "platform_sim/sim_chip.h"
#include "support/emulation.h"
#include "support/test_process.h"

namespace {

constexpr key_t kChipKey = 0x53494D43;  // the chip's segment
constexpr int kSettleMs = 20000;

int front_port() { return simChipPortOf(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1)); }

// The chip answers within the deadline: run in a child, which a held lock
// would keep waiting.
bool chip_answers() {
    pid_t probe = pc::test::fork_child([] {
        uint32_t link = 0;
        sdk_portmask_t m{};
        SDK_PORTMASK_SET(m, front_port());
        simChipVlanSet(200, m, m);
        return sdk_port_link_get(0, static_cast<uint32_t>(front_port()), &link) == 0 && link == 1 ? 0 : 1;
    });
    return pc::test::wait_child_for(probe, kSettleMs) == 0;
}

TEST(SharedChip, a_process_killed_while_it_holds_the_chip_does_not_lock_out_the_others) {
    PC_SKIP_UNDER_EMULATOR("qemu-user has no robust futexes");
    simChipReset();
    // Each round kills a process that does nothing but change the chip, so
    // most kills land inside its lock.
    for (int round = 0; round < 40; ++round) {
        pid_t worker = pc::test::fork_child([] {
            sdk_portmask_t m{};
            SDK_PORTMASK_SET(m, front_port());
            for (uint16_t vid = 2;; vid = static_cast<uint16_t>(vid % 4000 + 2)) {
                simChipVlanSet(vid, m, m);
                simChipLinkSet(front_port(), 1);
            }
            return 0;
        });
        usleep(static_cast<useconds_t>(1000 + 250 * round));
        kill(worker, SIGKILL);
        ASSERT_EQ(pc::test::wait_child(worker), 128 + SIGKILL);
        ASSERT_TRUE(chip_answers()) << "round " << round;
    }
}

// A segment of the chip's key that this build did not make: too small for
// its chip, or of its size but not its own. Each case starts a new program,
// whose first chip call finds it (a forked child would keep this process's
// chip, attached by an earlier test).
TEST(SharedChip, a_segment_left_by_another_build_is_made_again) {
    struct Case {
        const char *what;
        size_t size;
    };
    const Case cases[] = {{"smaller", 4096}, {"larger, foreign", 16u << 20}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (int old = shmget(kChipKey, 0, 0); old >= 0) shmctl(old, IPC_RMID, nullptr);
        int id = shmget(kChipKey, c.size, IPC_CREAT | 0600);
        ASSERT_GE(id, 0) << std::strerror(errno);
        void *p = shmat(id, nullptr, 0);
        ASSERT_NE(p, reinterpret_cast<void *>(-1));
        std::memset(p, 0x5A, c.size);  // a "ready" state word and no magic of ours
        shmdt(p);
        EXPECT_EQ(pc::test::wait_child_for(pc::test::spawn_helper("chip_link_probe", {}), kSettleMs), 0);
        int left = shmget(kChipKey, 0, 0);
        if (left >= 0) shmctl(left, IPC_RMID, nullptr);
    }
}

}  // namespace
