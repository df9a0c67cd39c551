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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

namespace pc::bench {

namespace {

constexpr int kListenBacklog = 4;
constexpr int kStopPolls = 100;
constexpr useconds_t kStopPollUs = 10000;
constexpr size_t kRelayBuffer = 64 * 1024;

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

int listen_loopback(int &port) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(lfd, kListenBacklog);
    socklen_t len = sizeof addr;
    getsockname(lfd, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
    return lfd;
}

int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    nodelay(fd);
    return fd;
}

// Copies what `from` brings to `to` until `from` ends, then ends `to`.
void copy_on(int from, int to) {
    std::vector<char> buf(kRelayBuffer);
    for (;;) {
        ssize_t n = read(from, buf.data(), buf.size());
        if (n <= 0 || !io_all(to, buf.data(), static_cast<size_t>(n), true)) break;
    }
    shutdown(to, SHUT_WR);
}

void serve_relay(int lfd, int echo_port) {
    for (;;) {
        int client = accept(lfd, nullptr, nullptr);
        if (client < 0) _exit(0);
        nodelay(client);
        int echo = connect_loopback(echo_port);
        if (echo < 0) {
            close(client);
            continue;
        }
        std::thread([client, echo] {
            std::thread back(copy_on, echo, client);
            copy_on(client, echo);
            back.join();
            close(client);
            close(echo);
        }).detach();
    }
}

// A new IPC namespace allows ten items per message queue; the switch (and
// the test programs) allow deeper queues, as the services ask for.
void raise_queue_limits() {
    FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "w");
    if (f == nullptr) return;
    std::fputs("1024", f);
    std::fclose(f);
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
    int lfd = listen_loopback(port);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        serve_echo(lfd, max_len);
    }
    close(lfd);
    return pid;
}

pid_t start_tcp_relay(int &port, int echo_port) {
    int lfd = listen_loopback(port);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        serve_relay(lfd, echo_port);
    }
    close(lfd);
    return pid;
}

TcpPingPong::TcpPingPong(int port, size_t size) : buf_(size, 1) {
    int fd = connect_loopback(port);
    if (fd < 0) return;
    auto announced = static_cast<uint32_t>(size);
    if (!io_all(fd, &announced, sizeof announced, true)) {
        close(fd);
        return;
    }
    fd_ = fd;
}

TcpPingPong::~TcpPingPong() {
    if (fd_ >= 0) close(fd_);
}

double TcpPingPong::batch(int trips) {
    using Clock = std::chrono::steady_clock;
    if (fd_ < 0 || trips <= 0) return -1;
    auto t0 = Clock::now();
    for (int i = 0; i < trips; ++i) {
        if (!io_all(fd_, buf_.data(), buf_.size(), true) || !io_all(fd_, buf_.data(), buf_.size(), false))
            return -1;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / trips;
}

void stop_child(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < kStopPolls; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        usleep(kStopPollUs);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
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
    raise_queue_limits();
}

}  // namespace pc::bench
