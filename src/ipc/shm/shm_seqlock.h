// Reading a shared block without a system call.
//
// Every write lock of a block's semaphore pair bumps the pair's sequence
// word (shm_layout.h) to odd on entry and to even on exit. A reader loads
// the word, copies the block, and loads it again: an even word that did not
// change means no writer was inside during the copy, so the copy is whole.
// Otherwise (a writer active, or one that died inside) the reader falls
// back to the semaphore read lock. Readers that never meet a writer make
// no system call at all. The read (seq_read) is declared in shm.h, for the
// blocks' users outside this folder.
#pragma once

namespace pc::ipc {

// Called by the write lock of `pair` right after taking it / right before
// giving it back.
void seq_write_begin(int pair);
void seq_write_end(int pair);

}  // namespace pc::ipc
