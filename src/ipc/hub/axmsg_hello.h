// Connections that have not finished their hello yet.
//
// The accept thread owns this table alone (no lock). Each accepted socket
// is non-blocking and waits here, next to the listening socket in one poll,
// until its 36-byte hello (header and AXMSG_HELLO_LEN bytes) has arrived:
// a slow or silent peer only ever holds its own slot, never the accept path.
// The whole hello must arrive within kHelloTimeoutMs of the accept; a peer
// that misses the deadline is closed. The table holds kMaxPendingHellos
// sockets; when it is full the oldest waiter is closed to make room, so a
// flood of silent connections cannot lock new processes out for good.
#pragma once

#include <poll.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform_core/axmsg.h"

namespace pc::ipc {

inline constexpr int kHelloTimeoutMs = 2000;
inline constexpr size_t kMaxPendingHellos = 32;
inline constexpr size_t kHelloBytes = AXMSG_HEADER_LEN + AXMSG_HELLO_LEN;

class HelloGate {
public:
    // Called with each socket whose hello is complete; the callee owns it.
    using Complete = void (*)(int fd, std::span<const uint8_t, kHelloBytes> hello);

    ~HelloGate();

    // Takes ownership of a freshly accepted, non-blocking socket.
    void add(int fd, int64_t now_ms);
    // Fills `fds` (room for kMaxPendingHellos) with the waiting sockets;
    // returns how many.
    size_t poll_set(std::span<pollfd> fds) const;
    // Milliseconds until the nearest deadline (0 when one passed), -1 if
    // nothing waits.
    int next_timeout(int64_t now_ms) const;
    // Reads what the polled sockets have for us, hands complete hellos to
    // `done`, and closes sockets that ended, failed or ran out of time.
    void service(std::span<const pollfd> fds, int64_t now_ms, Complete done);

    size_t pending() const;

private:
    struct Waiter {
        int fd = -1;              // -1: slot free
        int64_t deadline_ms = 0;  // the whole hello must have arrived by then
        int64_t since_ms = 0;     // when it was accepted (the oldest is evicted)
        size_t got = 0;           // bytes of `hello` read so far
        std::array<uint8_t, kHelloBytes> hello{};
    };
    void drop(Waiter &w, const char *why);

    std::array<Waiter, kMaxPendingHellos> waiters_{};
};

// Monotonic milliseconds.
int64_t monotonic_ms();

}  // namespace pc::ipc
