#include "support/tcp_anchor.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pc::bench {

namespace {

constexpr int kListenBacklog = 4;

void nodelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void serve_echo(int lfd, size_t max_len) {
    std::vector<char> buf(max_len);
    for (;;) {
        int fd = accept(lfd, nullptr, nullptr);
        if (fd < 0) _exit(0);
        nodelay(fd);
        uint32_t size = 0;
        if (io_all(fd, &size, sizeof size, false) && size <= max_len) {
            while (io_all(fd, buf.data(), size, false) && io_all(fd, buf.data(), size, true)) {
            }
        }
        close(fd);
    }
}

}  // namespace

bool io_all(int fd, void *buf, size_t len, bool writing) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = writing ? write(fd, static_cast<char *>(buf) + done, len - done)
                            : read(fd, static_cast<char *>(buf) + done, len - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

pid_t start_tcp_echo(int &port, size_t max_len) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(lfd, kListenBacklog);
    socklen_t len = sizeof addr;
    getsockname(lfd, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        serve_echo(lfd, max_len);
    }
    close(lfd);
    return pid;
}

std::vector<double> tcp_round_trips(int port, size_t size, const TripPlan &plan) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> batches;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return batches;
    }
    nodelay(fd);
    auto announced = static_cast<uint32_t>(size);
    io_all(fd, &announced, sizeof announced, true);
    std::vector<char> buf(size, 1);
    auto trip = [&] { return io_all(fd, buf.data(), size, true) && io_all(fd, buf.data(), size, false); };
    for (int i = 0; i < plan.warmup_trips; ++i) trip();
    for (int b = 0; b < plan.batches; ++b) {
        auto t0 = Clock::now();
        for (int i = 0; i < plan.trips_per_batch; ++i) trip();
        batches.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() /
                          plan.trips_per_batch);
    }
    close(fd);
    return batches;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void enter_private_namespaces() {
    if (unshare(CLONE_NEWNET | CLONE_NEWIPC) != 0) {
        std::printf("(no private namespaces: %s; port 3600 must be free)\n", std::strerror(errno));
        return;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ioctl(fd, SIOCSIFFLAGS, &ifr);
    }
    close(fd);
}

}  // namespace pc::bench
