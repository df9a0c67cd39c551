// A second process for the shared data tests. It attaches to the area of
// its IPC namespace and does one thing, answering through its exit status
// (0 = as expected) and, for the lock holders, a byte on standard output.
//
//   shm_peer expect NAME BYTE LEN     block NAME holds LEN bytes equal to BYTE
//   shm_peer debug MID LEVEL [NEW]    debug level of MID is LEVEL; then set NEW
//   shm_peer hold-write NAME          take NAME's write lock, print 'w', wait
//   shm_peer hold-read NAME           take NAME's read lock, print 'r', wait
//   shm_peer lock-cycle NAME          take and give NAME's write and read locks
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"

namespace {

int expect_block(const char *name, int byte, int len) {
    std::vector<unsigned char> buf(static_cast<size_t>(len));
    if (axshm_get_data(name, buf.data(), len) != 0) return 2;
    for (unsigned char b : buf)
        if (b != static_cast<unsigned char>(byte)) return 3;
    return 0;
}

int hold(const char *name, bool write) {
    int rc = write ? axshm_write_data_take(name) : axshm_read_data_take(name);
    if (rc != 0) return 2;
    std::putchar(write ? 'w' : 'r');
    std::fflush(stdout);
    for (;;) pause();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3 || axshm_init() != 0) return 1;
    const char *cmd = argv[1];
    if (std::strcmp(cmd, "expect") == 0 && argc == 5)
        return expect_block(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (std::strcmp(cmd, "debug") == 0 && argc >= 4) {
        if (debugFlagInit() != 0) return 2;
        unsigned mid = static_cast<unsigned>(std::atoi(argv[2]));
        if (debugFlagGet(mid) != std::atoi(argv[3])) return 3;
        if (argc == 5 && debugFlagSet(mid, static_cast<unsigned>(std::atoi(argv[4]))) != 0) return 4;
        return 0;
    }
    if (std::strcmp(cmd, "hold-write") == 0) return hold(argv[2], true);
    if (std::strcmp(cmd, "hold-read") == 0) return hold(argv[2], false);
    if (std::strcmp(cmd, "lock-cycle") == 0) {
        if (axshm_write_data_take(argv[2]) != 0 || axshm_write_data_give(argv[2]) != 0) return 2;
        if (axshm_read_data_take(argv[2]) != 0 || axshm_read_data_give(argv[2]) != 0) return 3;
        return 0;
    }
    return 1;
}
