// This process's attachment to the two shared blocks of the unit and port
// model, and locked copies in and out of them.
//
// "sys_propt" holds one sys_property_t and "valid_uplsit" one up_list. The
// block references are set by attach_blocks() during up_core_init or
// up_mod_init and only read afterwards. Blocks are laid out back to back in
// the shared area without alignment, so the records are always copied
// (memcpy) rather than accessed in place. Lock order: "sys_propt" before
// "valid_uplsit".
#pragma once

#include <cstring>

#include "ipc/shm/shm.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"

namespace pc::up {

struct SharedBlocks {
    const pc::ipc::ShmAttachment *area = nullptr;
    pc::ipc::ShmBlockRef propt;  // "sys_propt"
    pc::ipc::ShmBlockRef valid;  // "valid_uplsit"
};

// Looks both blocks up; 0 or -1.
int attach_propt_block();
int attach_valid_block();
// The attachment, or null before both blocks were attached.
const SharedBlocks *shared_blocks();

// Copies the whole record / list out under the read lock.
bool propt_read(sys_property_t *out);
bool valid_list_read(up_list *out);

// Read-modify-write under the write lock: `fn(record&)` returns false to
// write nothing back.
template <class T, class Fn>
bool block_update(const pc::ipc::ShmBlockRef &block, Fn &&fn) {
    const SharedBlocks *s = shared_blocks();
    if (s == nullptr) return false;
    pc::ipc::ShmBlockGuard guard(*s->area, block, pc::ipc::ShmLockMode::Write);
    if (!guard.held()) return false;
    T value;
    std::memcpy(&value, block.addr, sizeof value);
    if (!fn(value)) return false;
    std::memcpy(block.addr, &value, sizeof value);
    return true;
}

template <class Fn>
bool propt_update(Fn &&fn) {
    const SharedBlocks *s = shared_blocks();
    return s != nullptr && block_update<sys_property_t>(s->propt, fn);
}

template <class Fn>
bool valid_list_update(Fn &&fn) {
    const SharedBlocks *s = shared_blocks();
    return s != nullptr && block_update<up_list>(s->valid, fn);
}

}  // namespace pc::up
