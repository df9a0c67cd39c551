// The table of connections still saying hello (see axmsg_hello.h).
#include "ipc/hub/axmsg_hello.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform_core/platform.h"

namespace pc::ipc {

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

HelloGate::~HelloGate() {
    for (auto &w : waiters_)
        if (w.fd >= 0) close(w.fd);
}

void HelloGate::drop(Waiter &w, const char *why) {
    PFM_ERR(MID_AXMSG, "no hello from sock %d (%s)", w.fd, why);
    close(w.fd);
    w.fd = -1;
}

void HelloGate::add(int fd, int64_t now_ms) {
    auto free_slot = std::find_if(waiters_.begin(), waiters_.end(), [](const Waiter &w) { return w.fd < 0; });
    if (free_slot == waiters_.end()) {
        free_slot = std::min_element(waiters_.begin(), waiters_.end(), [](const Waiter &a, const Waiter &b) {
            return a.since_ms < b.since_ms;
        });
        drop(*free_slot, "too many connections waiting");
    }
    *free_slot = Waiter{};
    free_slot->fd = fd;
    free_slot->since_ms = now_ms;
    free_slot->deadline_ms = now_ms + kHelloTimeoutMs;
}

size_t HelloGate::poll_set(std::span<pollfd> fds) const {
    size_t n = 0;
    for (const auto &w : waiters_)
        if (w.fd >= 0 && n < fds.size()) fds[n++] = pollfd{w.fd, POLLIN, 0};
    return n;
}

int HelloGate::next_timeout(int64_t now_ms) const {
    int64_t nearest = -1;
    for (const auto &w : waiters_)
        if (w.fd >= 0 && (nearest < 0 || w.deadline_ms < nearest)) nearest = w.deadline_ms;
    if (nearest < 0) return -1;
    return static_cast<int>(std::max<int64_t>(0, nearest - now_ms));
}

size_t HelloGate::pending() const {
    return static_cast<size_t>(
        std::count_if(waiters_.begin(), waiters_.end(), [](const Waiter &w) { return w.fd >= 0; }));
}

void HelloGate::service(std::span<const pollfd> fds, int64_t now_ms, Complete done) {
    for (const pollfd &p : fds) {
        if (p.revents == 0) continue;
        auto it =
            std::find_if(waiters_.begin(), waiters_.end(), [&](const Waiter &w) { return w.fd == p.fd; });
        if (it == waiters_.end()) continue;
        Waiter &w = *it;
        // Never more than the hello: what follows it belongs to the reader.
        ssize_t n = read(w.fd, w.hello.data() + w.got, kHelloBytes - w.got);
        if (n > 0) {
            w.got += static_cast<size_t>(n);
            if (w.got == kHelloBytes) {
                int fd = w.fd;
                w.fd = -1;
                done(fd, w.hello);
            }
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            drop(w, n == 0 ? "closed" : "read error");
        }
    }
    for (auto &w : waiters_)
        if (w.fd >= 0 && now_ms >= w.deadline_ms) drop(w, "timed out");
}

}  // namespace pc::ipc
