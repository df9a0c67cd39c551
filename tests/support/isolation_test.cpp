// The test main's isolation and the child-process support, as every test
// program relies on them, on the host and under the target's emulator.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "support/isolation.h"
#include "support/test_process.h"

namespace {

constexpr long kTmpfsMagic = 0x01021994;

class Isolation : public testing::Test {
protected:
    void SetUp() override {
        if (!pc::test::isolated()) GTEST_SKIP() << "no private namespaces (needs root)";
    }
};

TEST_F(Isolation, LoopbackIsUpAndCarriesTheHubPort) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    ASSERT_EQ(ioctl(s, SIOCGIFFLAGS, &ifr), 0);
    EXPECT_TRUE(ifr.ifr_flags & IFF_UP);
    close(s);

    int lsn = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(lsn, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3600);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(lsn, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << std::strerror(errno);
    ASSERT_EQ(listen(lsn, 1), 0);
    int c = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << std::strerror(errno);
    int srv = accept(lsn, nullptr, nullptr);
    ASSERT_GE(srv, 0);
    const uint32_t word = 0x0A0B0C0Du;
    ASSERT_EQ(write(c, &word, sizeof word), static_cast<ssize_t>(sizeof word));
    uint32_t got = 0;
    ASSERT_EQ(read(srv, &got, sizeof got), static_cast<ssize_t>(sizeof got));
    EXPECT_EQ(got, word);
    close(srv);
    close(c);
    close(lsn);
}

TEST_F(Isolation, TmpIsPrivateAndSystemVKeysAreFree) {
    struct statfs fs;
    ASSERT_EQ(statfs("/tmp", &fs), 0);
    EXPECT_EQ(static_cast<long>(fs.f_type), kTmpfsMagic);

    int id = shmget(4209, 64, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_GE(id, 0) << std::strerror(errno);
    EXPECT_EQ(shmctl(id, IPC_RMID, nullptr), 0);
}

TEST(TestProcess, HelperGetsItsArgumentsAndEnvironment) {
    pid_t pid = pc::test::spawn_helper("exit_status_helper", {"7"}, {"PC_HELPER_ADD=3"});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(pc::test::wait_child_for(pid, 30000), 10);

    pid = pc::test::fork_child([] { return 42; });
    ASSERT_GT(pid, 0);
    EXPECT_EQ(pc::test::wait_child(pid), 42);
}

}  // namespace
