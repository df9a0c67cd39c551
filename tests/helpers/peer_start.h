// The start of a test peer: taking its process id, connecting to the hub
// with RPC, and telling the test it is ready. Peers of a test program that
// is only part of a core (hub and RPC, no shared blocks) start with
// connect(); peers of a whole core (axcored, platformInit) use
// axFeatureProcessInit instead.
#pragma once

#include <cstdio>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axrpc.h"
#include "platform_sim/sim.h"

namespace pc::test::peer {

// Exit statuses of a failed start-up.
inline constexpr int kNoHub = 3;           // the hub was not reached in time
inline constexpr int kNoSharedBlocks = 4;  // the core's shared blocks could not be attached
// No RPC queues: they come out of a per-user kernel budget that every
// program on the machine shares; the test starts the peer again.
inline constexpr int kTryAgain = 75;

inline constexpr unsigned kConnectTimeoutMs = 10000;

// Takes process id `pid`, connects to the hub and starts this process's RPC
// service: 0, or the exit status that names the failed step.
inline int connect(int pid) {
    simProcessSetPid(pid);
    if (axmsg_client_init(pid, kConnectTimeoutMs) != 0) return kNoHub;
    if (axrpcInit() != 0) return kTryAgain;
    return 0;
}

// Creates the file `path` that the test waits for.
inline void ready_file(const char *path) {
    if (FILE *f = std::fopen(path, "w")) std::fclose(f);
}

// Prints `line` for the test that reads this peer's output.
inline void ready_line(const char *line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

}  // namespace pc::test::peer
