// Test main: isolate the program, then run GoogleTest.
//
// Fixed System V keys, the hub's port, message queue names and /tmp paths
// are system-wide. Each test program therefore runs in new IPC, network and
// mount namespaces, with the loopback interface up and a private /tmp, so
// programs can run in parallel and leave nothing behind. A program that
// itself lives under /tmp keeps its tree visible there.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/isolation.h"

namespace pc::test {

namespace {

bool g_isolated = false;

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

// Top-level entries of /tmp this program still needs once /tmp is replaced:
// the tree holding the program (a build inside /tmp, e.g. a CI clone, with
// the helper programs beside it) and the working directory.
std::vector<std::string> kept_tmp_entries() {
    std::vector<std::string> paths;
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) paths.emplace_back(buf, static_cast<size_t>(n));
    if (getcwd(buf, sizeof buf) != nullptr) paths.emplace_back(buf);
    std::vector<std::string> entries;
    const std::string prefix = "/tmp/";
    for (const auto &p : paths) {
        if (p.compare(0, prefix.size(), prefix) != 0) continue;
        std::string entry = p.substr(prefix.size(), p.find('/', prefix.size()) - prefix.size());
        if (!entry.empty() && std::find(entries.begin(), entries.end(), entry) == entries.end())
            entries.push_back(entry);
    }
    return entries;
}

// A private tmpfs on /tmp, with the entries the program needs bound back in.
bool private_tmp() {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    std::vector<std::string> keep = kept_tmp_entries();
    int old_tmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (old_tmp < 0) return false;
    bool ok = mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
    for (const auto &entry : keep) {
        if (!ok) break;
        std::string from = "/proc/self/fd/" + std::to_string(old_tmp) + "/" + entry;
        std::string to = "/tmp/" + entry;
        ok = mkdir(to.c_str(), 0755) == 0 &&
             mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
    }
    close(old_tmp);
    return ok;
}

}  // namespace

// The switch allows deeper message queues than a stock kernel's default of
// ten messages; give the new IPC namespace the switch's limit.
void raise_queue_limits() {
    FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "w");
    if (f == nullptr) return;
    std::fputs("1024", f);
    std::fclose(f);
}

bool enter_isolated_namespaces() {
    if (std::getenv("PC_TEST_NO_ISOLATION")) return false;
    if (unshare(CLONE_NEWIPC | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
    raise_queue_limits();
    bool ok = bring_loopback_up();
    ok = private_tmp() && ok;
    g_isolated = ok;
    return ok;
}

bool isolated() { return g_isolated; }

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
