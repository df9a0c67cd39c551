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

// The segment is written by other processes (and, at a breakpoint, by this
// one's trap handler) with no lock between them: a reader may see a command
// half written, which the terminated text copy keeps harmless. Word and
// byte copies through volatile, outside the thread sanitizer's view, which
// cannot see the other processes anyway.
__attribute__((no_sanitize("thread"))) void write_segment(CommandSegment *seg, int code, const char *text) {
    volatile CommandSegment *v = seg;
    v->code = code;
    size_t i = 0;
    for (; text != nullptr && text[i] != '\0' && i < DK_CMD_TEXT_LEN - 1; ++i) v->text[i] = text[i];
    for (; i < DK_CMD_TEXT_LEN; ++i) v->text[i] = '\0';
}

__attribute__((no_sanitize("thread"))) void read_segment(const CommandSegment *seg, int *code, char *text) {
    const volatile CommandSegment *v = seg;
    if (code != nullptr) *code = v->code;
    if (text == nullptr) return;
    for (size_t i = 0; i < DK_CMD_TEXT_LEN; ++i) text[i] = v->text[i];
    text[DK_CMD_TEXT_LEN - 1] = '\0';  // whatever another process left there
}

}  // namespace

extern "C" {

PC_API int dk_regSigCmd(void) { return shmget(DK_CMD_SHM_KEY, sizeof(CommandSegment), IPC_CREAT | kMode); }

PC_API int dk_setSigCmd(int code, const char *text) {
    CommandSegment *seg = attach(true);
    if (seg == nullptr) return -1;
    write_segment(seg, code, text);
    shmdt(seg);
    return 0;
}

PC_API int dk_getSigCmd(int *code, char *text) {
    CommandSegment *seg = attach(false);
    if (seg == nullptr) return -1;
    read_segment(seg, code, text);
    shmdt(seg);
    return 0;
}

}  // extern "C"
