// Reading a shared block without a system call.
//
// Every write lock of a block's semaphore pair bumps the pair's sequence
// word (shm_layout.h) to odd on entry and to even on exit. A reader loads
// the word, copies the block, and loads it again: an even word that did not
// change means no writer was inside during the copy, so the copy is whole.
// Otherwise (a writer active, or one that died inside) the reader falls
// back to the semaphore read lock. Readers that never meet a writer make
// no system call at all.
#pragma once

#include <cstddef>

#include "ipc/shm/shm_area.h"

namespace pc::ipc {

// Called by the write lock of `pair` right after taking it / right before
// giving it back.
void seq_write_begin(int pair);
void seq_write_end(int pair);

// Copies `len` bytes of `block` into `out` when that can be done without a
// writer inside; false when the caller must take the read lock instead.
bool seq_read(const ShmAttachment &area, const ShmBlockRef &block, void *out, size_t len);

}  // namespace pc::ipc
