// The anchor of the messaging benchmarks: a raw loopback TCP ping-pong of
// the same bytes between two processes, measured in the same run as the
// figure it is compared with.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace pc::bench {

// Reads or writes exactly `len` bytes; false when the stream ends or fails.
bool io_all(int fd, void *buf, size_t len, bool writing);

// Forks an echo server on an ephemeral loopback port (stored in `port`). Each
// connection first names its message size (u32, at most `max_len`), then
// every message of that size is sent back. The child dies with its parent.
pid_t start_tcp_echo(int &port, size_t max_len);

// Forks a relay on an ephemeral loopback port (stored in `port`): each
// connection it accepts is joined to a new connection to the echo server on
// `echo_port`, and one thread per direction copies the bytes on as they
// come (one read, one write). A round trip through it crosses a third
// process twice, as a message between two processes through the hub does,
// with nothing else: no parsing, no routing, no locks. It is the floor of
// any such chain. The echo server serves one connection at a time, so the
// relay needs one of its own. The child dies with its parent.
pid_t start_tcp_relay(int &port, int echo_port);

// One connection to the echo server that stays open between batches, for
// benchmarks that alternate the anchor with their subject.
// (Or to a relay in front of one: it passes the announced size on.)
class TcpPingPong {
public:
    TcpPingPong(int port, size_t size);
    ~TcpPingPong();
    TcpPingPong(const TcpPingPong &) = delete;
    TcpPingPong &operator=(const TcpPingPong &) = delete;

    bool connected() const { return fd_ >= 0; }
    // Microseconds per round trip of `trips` round trips; -1 when the
    // connection failed.
    double batch(int trips);

private:
    int fd_ = -1;
    std::vector<char> buf_;
};

// Ends a forked child: SIGTERM first (a profiler running it then writes
// its profile), SIGKILL when it is still there after a second.
void stop_child(pid_t pid);

// Gives the benchmark its own network and IPC namespaces (loopback up) when
// it may, so the hub's fixed port and the queue names are private to it.
void enter_private_namespaces();

}  // namespace pc::bench
