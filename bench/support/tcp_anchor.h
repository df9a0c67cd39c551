// The anchor of the messaging benchmarks: a raw loopback TCP ping-pong of
// the same bytes between two processes, measured in the same run as the
// figure it is compared with.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace pc::bench {

struct TripPlan {
    int warmup_trips;
    int batches;
    int trips_per_batch;
};

// Reads or writes exactly `len` bytes; false when the stream ends or fails.
bool io_all(int fd, void *buf, size_t len, bool writing);

// Forks an echo server on an ephemeral loopback port (stored in `port`). Each
// connection first names its message size (u32, at most `max_len`), then
// every message of that size is sent back. The child dies with its parent.
pid_t start_tcp_echo(int &port, size_t max_len);

// Round trips of `size` bytes against the echo server: the microseconds per
// trip of each batch, after the warm-up. Empty when the server is not there.
std::vector<double> tcp_round_trips(int port, size_t size, const TripPlan &plan);

// The median of the values (0 for none).
double median(std::vector<double> values);

// Gives the benchmark its own network and IPC namespaces (loopback up) when
// it may, so the hub's fixed port and the queue names are private to it.
void enter_private_namespaces();

}  // namespace pc::bench
