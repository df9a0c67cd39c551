// Shared data blocks: named blocks of one System V shared memory area that
// every process of the switch reads quickly (debug switches, unit and port
// properties, the valid port list); platform_core/axshm.h describes the
// area, its keys and the C API.
//
// What it does. axshm_init creates the area (the first process of the
// machine) or attaches to it (shm_area.cpp); blocks are registered and then
// read and written by name (shm_access.cpp); the table's byte layout is
// fixed (shm_layout.h) because every process shares it.
//
// Threads: none. Every operation runs on its caller's thread.
//
// Locks:
//   semaphore pair 0           the block table (readers-writer,
//                              shm_rwlock.h), shared by every process
//   semaphore pair i + 1       block i; its writers also bump the block's
//                              sequence word, so that readers can copy
//                              without a system call (shm_seqlock.h)
//   the attach lock            axshm_init in this process (a std::mutex)
// Every semaphore change uses SEM_UNDO: a process that dies holding a lock
// gives it back through the kernel.
//
// This header is what the other components of the library (the unit/port
// model, the debug switches) use of the shared blocks: the calling
// process's attachment, block lookup, a block's lock and the read without a
// system call. Shared blocks stand beside the hub: neither uses the other.
//
// The attachment (both segment addresses and the semaphore set id) is
// written once by axshm_init under a process-local mutex and read without a
// lock afterwards. Lookups hold the table lock (pair 0) only while they scan
// the records; a block's index never changes once registered, so callers on
// a hot path may keep a ShmBlockRef and lock its pair directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pc::ipc {

struct ShmInfoArea;  // the information segment's layout (shm_layout.h)

enum class ShmLockMode { Read, Write };

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

// RAII read or write lock of one block: its semaphore pair (shm_rwlock.h).
class ShmBlockGuard {
public:
    ShmBlockGuard(const ShmAttachment &area, const ShmBlockRef &block, ShmLockMode mode);
    ~ShmBlockGuard();
    ShmBlockGuard(const ShmBlockGuard &) = delete;
    ShmBlockGuard &operator=(const ShmBlockGuard &) = delete;

    bool held() const { return held_; }

private:
    int semid_;
    int pair_;
    ShmLockMode mode_;
    bool held_ = false;
};

// Copies `len` bytes of `block` into `out` when that can be done without a
// writer inside (shm_seqlock.h); false when the caller must take the read
// lock instead.
bool seq_read(const ShmAttachment &area, const ShmBlockRef &block, void *out, size_t len);

}  // namespace pc::ipc
