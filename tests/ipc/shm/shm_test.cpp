// Shared data blocks: registration, access, the semaphore locks across real
// processes, and recovery of the area.
//
// Every test runs its body in a child that has its own IPC namespace, so it
// starts from an empty area; the test program itself never attaches.
#include <sched.h>
#include <signal.h>
#include <sys/sem.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"
#include "support/capture_stdout.h"
#include "support/isolation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using pc::test::fork_child;
using pc::test::spawn_helper;
using pc::test::wait_child;
using pc::test::wait_child_for;

// Fails the child with the line number when `cond` does not hold.
#define REQUIRE(cond)                                                       \
    do {                                                                    \
        if (!(cond)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                       \
        }                                                                   \
    } while (0)

int run_in_fresh_area(const std::function<int()> &body, int timeout_ms = 60000) {
    pid_t pid = fork_child([&] {
        if (unshare(CLONE_NEWIPC) != 0) return 99;
        return body();
    });
    return wait_child_for(pid, timeout_ms);
}

int sem_value(int num, int cmd = GETVAL) { return semctl(semget(AXSHM_SEM_KEY, 0, 0), num, cmd); }

// Semaphores another process moves: polled closely, for up to 20 s.
bool wait_until(const std::function<bool()> &pred) {
    return pc::test::wait_until(pred, std::chrono::seconds(20), std::chrono::milliseconds(2));
}

// Semaphores of the pair of the block registered `index`-th.
int write_sem(int index) { return 2 * (index + 1); }
int reader_sem(int index) { return 2 * (index + 1) + 1; }

TEST(ShmArea, EveryCallFailsBeforeInit) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  char buf[4] = {};
                  void *addr = nullptr;
                  int len = 0;
                  REQUIRE(axshm_reg_data("x", 4) == -1);
                  REQUIRE(axshm_set_data("x", buf, 4) == -1);
                  REQUIRE(axshm_get_data("x", buf, 4) == -1);
                  REQUIRE(axshm_get_data_addr("x", &addr, &len) == -1);
                  REQUIRE(axshm_read_data_take("x") == -1);
                  REQUIRE(axshm_write_data_take("x") == -1);
                  REQUIRE(axshm_show_info() == -1);
                  return 0;
              }));
}

TEST(ShmArea, RegistrationLaysBlocksBackToBack) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_reg_data("first", 10) == 0);
                  REQUIRE(axshm_reg_data("second", 3) == 0);
                  REQUIRE(axshm_reg_data("first", 999) == 0);  // exists: unchanged
                  void *a = nullptr, *b = nullptr;
                  int la = 0, lb = 0;
                  REQUIRE(axshm_get_data_addr("first", &a, &la) == 0 && la == 10);
                  REQUIRE(axshm_get_data_addr("second", &b, &lb) == 0 && lb == 3);
                  REQUIRE(static_cast<char *>(b) == static_cast<char *>(a) + 10);
                  REQUIRE(axshm_get_data_addr("firs", &a, &la) == -1);  // exact names only
                  return 0;
              }));
}

TEST(ShmArea, RefusesBadNamesAndLengthsWithoutRegistering) {
    EXPECT_EQ(
        0, run_in_fresh_area([] {
            REQUIRE(axshm_init() == 0);
            const std::string name31(31, 'n');
            const std::string name32(32, 'n');
            REQUIRE(axshm_reg_data(name32.c_str(), 4) == -1);
            REQUIRE(axshm_reg_data("", 4) == -1);
            REQUIRE(axshm_reg_data(nullptr, 4) == -1);
            REQUIRE(axshm_reg_data("zero", 0) == -1);
            REQUIRE(axshm_reg_data("negative", -8) == -1);
            REQUIRE(axshm_reg_data(name31.c_str(), 4) == 0);
            // The refused calls took no record and no data: the 31-character
            // block is the first one, at offset 0.
            pc::test::CaptureStdout out;
            REQUIRE(axshm_show_info() == 0);
            std::string text = out.text();
            REQUIRE(text.find("block Num 1, used data Len 4, write lock:unlock, read sem:64\n") !=
                    std::string::npos);
            REQUIRE(text.find("Block 0, name " + name31 +
                              ", data offset 0, write lock:unlock, read sem:64\n") != std::string::npos);
            return 0;
        }));
}

TEST(ShmArea, SixtyFourBlocksFitTheSixtyFifthDoesNot) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  for (int i = 0; i < AXSHM_BLOCK_MAX; ++i)
                      REQUIRE(axshm_reg_data(("b" + std::to_string(i)).c_str(), 1) == 0);
                  REQUIRE(axshm_reg_data("one_more", 1) == -1);
                  REQUIRE(axshm_reg_data("b63", 1) == 0);
                  return 0;
              }));
}

TEST(ShmArea, DataAreaOverflowLeavesTheTableUnchanged) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_reg_data("big", AXSHM_DATA_SIZE - 100) == 0);
                  REQUIRE(axshm_reg_data("too_big", 101) == -1);
                  REQUIRE(axshm_reg_data("fits", 100) == 0);  // exactly the rest
                  REQUIRE(axshm_reg_data("nothing_left", 1) == -1);
                  void *addr = nullptr;
                  int len = 0;
                  REQUIRE(axshm_get_data_addr("fits", &addr, &len) == 0 && len == 100);
                  return 0;
              }));
}

TEST(ShmArea, GetNeedsTheExactLengthSetWritesAPrefix) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_reg_data("blk", 8) == 0);
                  const unsigned char all[8] = {1, 2, 3, 4, 5, 6, 7, 8};
                  const unsigned char head[3] = {9, 9, 9};
                  unsigned char big[9] = {};
                  unsigned char got[8] = {};
                  REQUIRE(axshm_set_data("blk", all, 8) == 0);
                  REQUIRE(axshm_set_data("blk", head, 3) == 0);
                  REQUIRE(axshm_set_data("blk", big, 9) == -1);
                  REQUIRE(axshm_set_data("blk", big, -1) == -1);
                  REQUIRE(axshm_get_data("blk", got, 7) == -1);
                  REQUIRE(axshm_get_data("blk", got, 9) == -1);
                  REQUIRE(axshm_get_data("blk", got, 8) == 0);
                  const unsigned char want[8] = {9, 9, 9, 4, 5, 6, 7, 8};
                  REQUIRE(std::memcmp(got, want, 8) == 0);
                  REQUIRE(axshm_get_data("missing", got, 8) == -1);
                  return 0;
              }));
}

TEST(ShmArea, SecondProcessSeesBlocksAndDebugLevels) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(debugFlagInit() == 0);
                  REQUIRE(debugFlagSet(MID_UP, 2) == 0);
                  REQUIRE(axshm_reg_data("peer_blk", 16) == 0);
                  unsigned char bytes[16];
                  std::memset(bytes, 0x5A, sizeof bytes);
                  REQUIRE(axshm_set_data("peer_blk", bytes, 16) == 0);

                  REQUIRE(wait_child(spawn_helper("shm_peer", {"expect", "peer_blk", "90", "16"})) == 0);
                  // The peer sees level 2 for module 6, then sets it to 3.
                  REQUIRE(wait_child(spawn_helper("shm_peer", {"debug", "6", "2", "3"})) == 0);
                  REQUIRE(debugFlagGet(MID_UP) == 3);
                  REQUIRE(wait_child(spawn_helper(
                              "shm_peer", {"debug", "7", std::to_string(getDefaultDbgSwitch())})) == 0);
                  // A second debugFlagInit keeps the levels in force.
                  REQUIRE(debugFlagInit() == 0);
                  REQUIRE(debugFlagGet(MID_UP) == 3);
                  return 0;
              }));
}

TEST(ShmLocks, WriterWaitsForReadersAndHoldsBackNewReaders) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_reg_data("order", 8) == 0);  // block 0
                  int pipe_fd[2];
                  REQUIRE(pipe(pipe_fd) == 0);
                  auto note = [&](char c) { return write(pipe_fd[1], &c, 1) == 1 ? 0 : 1; };

                  pid_t reader = spawn_helper("shm_peer", {"hold-read", "order"});
                  REQUIRE(wait_until([] { return sem_value(reader_sem(0)) == AXSHM_READER_SLOTS - 1; }));
                  pid_t writer = fork_child([&] {
                      if (axshm_write_data_take("order") != 0) return 1;
                      int rc = note('W');
                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
                      return axshm_write_data_give("order") | rc;
                  });
                  REQUIRE(wait_until([] { return sem_value(write_sem(0)) == 1; }));
                  pid_t late_reader = fork_child([&] {
                      if (axshm_read_data_take("order") != 0) return 1;
                      int rc = note('R');
                      return axshm_read_data_give("order") | rc;
                  });
                  // The late reader waits for the write semaphore to clear.
                  REQUIRE(wait_until([] { return sem_value(write_sem(0), GETZCNT) >= 1; }));
                  char first = 0;
                  REQUIRE(kill(reader, SIGTERM) == 0);
                  wait_child(reader);
                  REQUIRE(wait_child_for(writer, 20000) == 0);
                  REQUIRE(wait_child_for(late_reader, 20000) == 0);
                  char second = 0;
                  REQUIRE(read(pipe_fd[0], &first, 1) == 1 && read(pipe_fd[0], &second, 1) == 1);
                  REQUIRE(first == 'W' && second == 'R');
                  return 0;
              }));
}

TEST(ShmLocks, KilledHolderBlocksNoOne) {
    for (const char *mode : {"hold-write", "hold-read"}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(0, run_in_fresh_area([mode] {
                      REQUIRE(axshm_init() == 0);
                      REQUIRE(axshm_reg_data("victim", 4) == 0);
                      pid_t holder = spawn_helper("shm_peer", {mode, "victim"});
                      bool write = std::strcmp(mode, "hold-write") == 0;
                      REQUIRE(wait_until([write] {
                          return write ? sem_value(reader_sem(0)) == 0
                                       : sem_value(reader_sem(0)) == AXSHM_READER_SLOTS - 1;
                      }));
                      REQUIRE(kill(holder, SIGKILL) == 0);
                      wait_child(holder);
                      // The kernel undid the holder's changes: the pair is free again.
                      REQUIRE(sem_value(write_sem(0)) == 0 && sem_value(reader_sem(0)) == AXSHM_READER_SLOTS);
                      REQUIRE(wait_child_for(spawn_helper("shm_peer", {"lock-cycle", "victim"}), 20000) == 0);
                      return 0;
                  }));
    }
}

TEST(ShmRecovery, FailedInitIsRedoneNotAttachedTo) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  // A foreign set under the key with too few semaphores makes the
                  // first initialisation fail.
                  int bad = semget(AXSHM_SEM_KEY, 2, IPC_CREAT | 0666);
                  REQUIRE(bad >= 0);
                  REQUIRE(axshm_init() == -1);
                  REQUIRE(axshm_reg_data("x", 4) == -1);
                  REQUIRE(semctl(bad, 0, IPC_RMID) == 0);
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(sem_value(0) == 0 && sem_value(1) == AXSHM_READER_SLOTS);
                  REQUIRE(axshm_reg_data("x", 4) == 0);
                  return 0;
              }));
}

TEST(ShmRecovery, LostSemaphoreSetIsSetUpAgainKeepingBlocks) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  REQUIRE(axshm_reg_data("kept", 4) == 0);
                  const unsigned char v[4] = {7, 7, 7, 7};
                  REQUIRE(axshm_set_data("kept", v, 4) == 0);
                  REQUIRE(semctl(semget(AXSHM_SEM_KEY, 0, 0), 0, IPC_RMID) == 0);
                  // A process starting now recreates the set; without setting it up
                  // its reader counters would be 0 and every read lock would hang.
                  REQUIRE(wait_child_for(spawn_helper("shm_peer", {"lock-cycle", "kept"}), 20000) == 0);
                  REQUIRE(wait_child_for(spawn_helper("shm_peer", {"expect", "kept", "7", "4"}), 20000) == 0);
                  return 0;
              }));
}

TEST(ShmArea, SemaphoreListingShowsEveryPair) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  REQUIRE(axshm_init() == 0);
                  pc::test::CaptureStdout out;
                  axshm_show_sem();
                  std::string text = out.text();
                  REQUIRE(text.find("index = 0, value = 0\nindex = 1, value = 64\n") == 0);
                  REQUIRE(text.find("index = 129, value = 64\n") != std::string::npos);
                  return 0;
              }));
}

TEST(PlatformInitFlag, CorePublishesTheInitFlag) {
    EXPECT_EQ(0, run_in_fresh_area([] {
                  simProcessSetPid(PID_CORE);
                  pc::test::raise_queue_limits();
                  REQUIRE(simKernelPacketStart(nullptr) == 0);
                  REQUIRE(platformInit() == 0);
                  REQUIRE(isPfmInited() == 1);
                  int flag = 0;
                  REQUIRE(axshm_get_data(PLATFORM_INIT, &flag, sizeof flag) == 0 && flag == 1);
                  REQUIRE(gDebugControlVaribles != nullptr);
                  return 0;
              }));
}

}  // namespace
