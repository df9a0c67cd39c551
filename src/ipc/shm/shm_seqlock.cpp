// Sequence words of the shared blocks (see shm_seqlock.h).
#include "ipc/shm/shm_seqlock.h"

#include <atomic>
#include <cstring>

#include "ipc/shm/shm.h"
#include "ipc/shm/shm_layout.h"

namespace pc::ipc {

namespace {

constexpr int kOptimisticTries = 2;

uint32_t *seq_word(int pair) {
    const ShmAttachment *area = shm_attachment();
    if (area == nullptr || area->seq == nullptr || pair < 0 || pair > AXSHM_BLOCK_MAX) return nullptr;
    return &area->seq[pair];
}

// The copy may overlap a writer's stores: the sequence check afterwards
// throws such a copy away. The thread sanitizer cannot see that, so it is
// told not to look at this one function.
__attribute__((no_sanitize("thread"))) void racy_copy(void *out, const uint8_t *from, size_t len) {
    std::memcpy(out, from, len);
}

// The sequence word again, read only after the copy's loads. The thread
// sanitizer has no fences, so there a read-modify-write with a release half
// does the ordering instead.
uint32_t load_after_copy(const uint32_t *w) {
#if defined(__SANITIZE_THREAD__)
    return __atomic_fetch_add(const_cast<uint32_t *>(w), 0u, __ATOMIC_ACQ_REL);
#else
    std::atomic_thread_fence(std::memory_order_acquire);
    return __atomic_load_n(w, __ATOMIC_RELAXED);
#endif
}

}  // namespace

void seq_write_begin(int pair) {
    uint32_t *w = seq_word(pair);
    if (w == nullptr) return;
    uint32_t v = __atomic_load_n(w, __ATOMIC_RELAXED);
    // Odd already: a writer died inside; stay odd, but move on. The
    // exchange's acquire half keeps the writer's stores behind it.
    __atomic_exchange_n(w, (v & 1u) ? v + 2u : v + 1u, __ATOMIC_ACQ_REL);
}

void seq_write_end(int pair) {
    uint32_t *w = seq_word(pair);
    if (w == nullptr) return;
    uint32_t v = __atomic_load_n(w, __ATOMIC_RELAXED);
    __atomic_store_n(w, (v | 1u) + 1u, __ATOMIC_RELEASE);
}

bool seq_read(const ShmAttachment &area, const ShmBlockRef &block, void *out, size_t len) {
    if (area.seq == nullptr || block.index < 0 || block.index >= AXSHM_BLOCK_MAX) return false;
    const uint32_t *w = &area.seq[block_pair(block.index)];
    for (int i = 0; i < kOptimisticTries; ++i) {
        uint32_t before = __atomic_load_n(w, __ATOMIC_ACQUIRE);
        if (before & 1u) return false;
        racy_copy(out, block.addr, len);
        if (load_after_copy(w) == before) return true;
    }
    return false;
}

}  // namespace pc::ipc
