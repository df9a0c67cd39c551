// Attachment of the unit and port model to its shared blocks.
#include "up/up_shared.h"

#include <atomic>

#include "ipc/shm/shm.h"

namespace pc::up {

static_assert(sizeof(sys_property_t) == 352);
static_assert(offsetof(sys_property_t, slot_amount) == 12);
static_assert(offsetof(sys_property_t, port_range) == 13);
static_assert(offsetof(sys_property_t, stk_compatible_map) == 32);
static_assert(offsetof(sys_property_t, mode) == 36);
static_assert(sizeof(up_list) == 24);

namespace {

SharedBlocks g_blocks;                // written by the attach calls at start-up
std::atomic<int> g_attached_mask{0};  // bit 0: sys_propt, bit 1: valid list

int attach(const char *name, pc::ipc::ShmBlockRef *out, size_t size, int bit) {
    pc::ipc::ShmBlockRef ref;
    if (!pc::ipc::shm_find_block(name, &ref) || ref.length < static_cast<int32_t>(size)) return -1;
    g_blocks.area = pc::ipc::shm_attachment();
    *out = ref;
    g_attached_mask.fetch_or(bit);
    return 0;
}

}  // namespace

int attach_propt_block() { return attach(SHM_SYS_PROPT_NAME, &g_blocks.propt, sizeof(sys_property_t), 1); }
int attach_valid_block() { return attach(SHM_VALID_UPLIST_NAME, &g_blocks.valid, sizeof(up_list), 2); }

const SharedBlocks *shared_blocks() { return g_attached_mask.load() == 3 ? &g_blocks : nullptr; }

namespace {
template <class T>
bool block_read(const pc::ipc::ShmBlockRef SharedBlocks::*which, T *out) {
    const SharedBlocks *s = shared_blocks();
    if (s == nullptr) return false;
    const pc::ipc::ShmBlockRef &block = s->*which;
    // No writer around (the common case): no system call.
    if (pc::ipc::seq_read(*s->area, block, out, sizeof *out)) return true;
    pc::ipc::ShmBlockGuard guard(*s->area, block, pc::ipc::ShmLockMode::Read);
    if (!guard.held()) return false;
    std::memcpy(out, block.addr, sizeof *out);
    return true;
}
}  // namespace

bool propt_read(sys_property_t *out) { return block_read(&SharedBlocks::propt, out); }
bool valid_list_read(up_list *out) { return block_read(&SharedBlocks::valid, out); }

}  // namespace pc::up
