// The command segment between the debugging tool and its target: System V
// shared memory with key 0x1234 holding a 32-bit command code and 128
// bytes of text, in the CPU's byte order. The tool writes a command and
// sends SIGUSR2; the target reads it. The segment is readable and writable
// by its owner only: what it holds makes the target call functions.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform_core/diag.h"

namespace {

using CommandSegment = DK_CMD_SEGMENT_T;
static_assert(sizeof(CommandSegment) == DK_CMD_SHM_SIZE);

constexpr int kMode = 0600;

// Attaches the segment (creating it when asked); null on failure.
CommandSegment *attach(bool create) {
    int id = shmget(DK_CMD_SHM_KEY, sizeof(CommandSegment), create ? (IPC_CREAT | kMode) : 0);
    if (id < 0) return nullptr;
    void *addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) {
        perror("shmat");
        return nullptr;
    }
    return static_cast<CommandSegment *>(addr);
}

}  // namespace

extern "C" {

PC_API int dk_regSigCmd(void) { return shmget(DK_CMD_SHM_KEY, sizeof(CommandSegment), IPC_CREAT | kMode); }

PC_API int dk_setSigCmd(int code, const char *text) {
    CommandSegment *seg = attach(true);
    if (seg == nullptr) return -1;
    seg->code = code;
    std::memset(seg->text, 0, sizeof seg->text);
    if (text != nullptr) std::strncpy(seg->text, text, sizeof seg->text - 1);
    shmdt(seg);
    return 0;
}

PC_API int dk_getSigCmd(int *code, char *text) {
    CommandSegment *seg = attach(false);
    if (seg == nullptr) return -1;
    if (code != nullptr) *code = seg->code;
    if (text != nullptr) {
        std::memcpy(text, seg->text, sizeof seg->text);
        text[sizeof seg->text - 1] = '\0';  // whatever another process left there
    }
    shmdt(seg);
    return 0;
}

}  // extern "C"
