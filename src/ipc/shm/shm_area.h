// The calling process's attachment to the shared data area, and block
// lookup for the library's own users.
//
// The attachment (both segment addresses and the semaphore set id) is
// written once by axshm_init under a process-local mutex and read without a
// lock afterwards. Lookups hold the table lock (pair 0) only while they scan
// the records; a block's index never changes once registered, so callers on
// a hot path may keep a ShmBlockRef and lock its pair directly.
#pragma once

#include <cstdint>

#include "ipc/shm/shm_layout.h"
#include "ipc/shm/shm_rwlock.h"

namespace pc::ipc {

struct ShmAttachment {
    ShmInfoArea *info = nullptr;  // information segment, key 4209
    uint8_t *data = nullptr;      // data segment, key 4210
    int semid = -1;               // semaphore set, key 4215
    uint32_t *seq = nullptr;      // write sequence words, behind the table (shm_layout.h)
};

struct ShmBlockRef {
    int index = -1;           // record position; lock pair is block_pair(index)
    uint8_t *addr = nullptr;  // start of the block in this process
    int32_t length = 0;       // bytes
};

// The attachment when this process is attached and the area carries the
// magic, else null.
const ShmAttachment *shm_attachment();

// Finds block `name` (exact match); false when absent or not attached.
bool shm_find_block(const char *name, ShmBlockRef *out);

// RAII read or write lock of one block.
class ShmBlockGuard {
public:
    ShmBlockGuard(const ShmAttachment &area, const ShmBlockRef &block, ShmLockMode mode)
        : lock_(area.semid, block_pair(block.index), mode) {}
    bool held() const { return lock_.held(); }

private:
    ShmLockGuard lock_;
};

}  // namespace pc::ipc
