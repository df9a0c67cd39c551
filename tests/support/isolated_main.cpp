// Test main: isolate the program, then run GoogleTest.
//
// Fixed System V keys, the hub's port, message queue names and /tmp paths
// are system-wide. Each test program therefore runs in new IPC, network and
// mount namespaces, with the loopback interface up and a private /tmp, so
// programs can run in parallel and leave nothing behind.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "support/isolation.h"

namespace pc::test {

namespace {

bool bring_loopback_up() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(fd);
    return ok;
}

bool private_tmp() {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    return mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
}

}  // namespace

bool enter_isolated_namespaces() {
    if (std::getenv("PC_TEST_NO_ISOLATION")) return false;
    if (unshare(CLONE_NEWIPC | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
    bool ok = bring_loopback_up();
    ok = private_tmp() && ok;
    return ok;
}

}  // namespace pc::test

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    bool listing = testing::GTEST_FLAG(list_tests);
    if (!listing && !pc::test::enter_isolated_namespaces())
        std::fprintf(stderr, "note: running without private namespaces\n");
    // Child processes inherit these; keep their output ordered with ours.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return RUN_ALL_TESTS();
}
