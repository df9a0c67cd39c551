// The memory pool of the web glue (see axhttp.h): best fit, splitting and
// merging, inside memory that may be shared by several processes.
#include <cstdio>
#include <cstring>

#include "mgmt/http_state.h"
#include "mgmt/shared_lock.h"

namespace pc::mgmt::http {

namespace {

constexpr uint32_t kCtrl = sizeof(AXMEM_BLOCK_T);

uint32_t round_up(uint32_t n) { return (n + AXMEMPOOL_ALIGN - 1u) & ~(AXMEMPOOL_ALIGN - 1u); }

}  // namespace

// The pool as this process sees it: links are translated between the
// creator's addresses (as stored) and this mapping.
PoolView::PoolView(AXMEM_POOL_T *pool)
    : pool_(pool),
      region_(reinterpret_cast<char *>(pool) + AXMEMPOOL_HEAD_SIZE),
      delta_(reinterpret_cast<uintptr_t>(region_) - reinterpret_cast<uintptr_t>(pool->first)) {}

AXMEM_BLOCK_T *PoolView::load(AXMEM_BLOCK_T *stored) const {
    return stored != nullptr ? reinterpret_cast<AXMEM_BLOCK_T *>(reinterpret_cast<uintptr_t>(stored) + delta_)
                             : nullptr;
}

AXMEM_BLOCK_T *PoolView::store(AXMEM_BLOCK_T *local) const {
    return local != nullptr ? reinterpret_cast<AXMEM_BLOCK_T *>(reinterpret_cast<uintptr_t>(local) - delta_)
                            : nullptr;
}

AXMEM_BLOCK_T *PoolView::first() const { return reinterpret_cast<AXMEM_BLOCK_T *>(region_); }
char *PoolView::end() const { return region_ + pool_->regionSize; }
AXMEM_BLOCK_T *PoolView::next(AXMEM_BLOCK_T *block) const { return load(block->next); }

int PoolView::check() const {
    if (pool_->first == nullptr) {
        PFM_ERR(kMid, "memPoolCheck: bad first block!");
        return -1;
    }
    uint32_t delimiter = 0;
    std::memcpy(&delimiter, end(), sizeof delimiter);
    if (delimiter != AXMEMPOOL_DELIMITER) {
        PFM_ERR(kMid, "memPoolCheck: end-of-pool overrun!");
        return -1;
    }
    for (AXMEM_BLOCK_T *block = first(); block != nullptr; block = next(block)) {
        if (reinterpret_cast<char *>(block) + kCtrl > end()) {
            PFM_ERR(kMid, "memPoolCheck: block outside the pool");
            return -1;
        }
        if (block->tag != AXMEMPOOL_TAG_FREE && block->tag != AXMEMPOOL_TAG_USED) {
            PFM_ERR(kMid, "memPoolCheck: bad block type");
            return -1;
        }
        char *following = reinterpret_cast<char *>(block) + kCtrl + block->size;
        AXMEM_BLOCK_T *link = next(block);
        if (block->size > pool_->regionSize || following > end() ||
            (link != nullptr && reinterpret_cast<char *>(link) != following) ||
            (link == nullptr && following != end())) {
            PFM_ERR(kMid, "memPoolCheck: bad block link");
            return -1;
        }
    }
    return 0;
}

uint32_t PoolView::free_sum(bool largest) const {
    uint32_t sum = 0;
    for (AXMEM_BLOCK_T *block = first(); block != nullptr; block = next(block)) {
        if (block->tag != AXMEMPOOL_TAG_FREE) continue;
        sum = largest ? (block->size > sum ? block->size : sum) : sum + block->size;
    }
    return sum;
}

void PoolView::format() {
    auto *block = first();
    block->tag = AXMEMPOOL_TAG_FREE;
    block->next = nullptr;
    block->size = pool_->regionSize - kCtrl;
    block->zero = 0;
    pool_->first = block;  // this process becomes the reference mapping
    delta_ = 0;
    pool_->used = 0;
    uint32_t delimiter = AXMEMPOOL_DELIMITER;
    std::memcpy(end(), &delimiter, sizeof delimiter);
}

void *PoolView::alloc(uint32_t size) {
    AXMEM_BLOCK_T *best = nullptr;
    for (AXMEM_BLOCK_T *block = first(); block != nullptr; block = next(block)) {
        if (block->tag != AXMEMPOOL_TAG_FREE || block->size < size) continue;
        if (best == nullptr || block->size < best->size) best = block;
        if (best->size == size) break;
    }
    if (best == nullptr) {
        PFM_ERR(kMid, "memPoolAlloc: size requested: %u available: %u\n", size, free_sum(true));
        PFM_ERR(kMid, "memPoolAlloc: insufficient memory");
        return nullptr;
    }
    const uint32_t n = round_up(size);
    if (n + kCtrl < best->size) {
        auto *rest = reinterpret_cast<AXMEM_BLOCK_T *>(reinterpret_cast<char *>(best) + kCtrl + n);
        rest->tag = AXMEMPOOL_TAG_FREE;
        rest->next = best->next;
        rest->size = best->size - kCtrl - n;
        rest->zero = 0;
        best->next = store(rest);
        best->size = n;
    }
    best->tag = AXMEMPOOL_TAG_USED;
    pool_->used += best->size;
    const uint32_t freeNow = free_sum(false);
    if (freeNow < pool_->lowestFree) pool_->lowestFree = freeNow;
    return reinterpret_cast<char *>(best) + kCtrl;
}

int PoolView::release(void *address) {
    auto *at = static_cast<char *>(address);
    if (at < region_ || at > region_ + pool_->regionSize + AXMEMPOOL_HEAD_SIZE) {
        PFM_ERR(kMid, "memPoolFree: can't find memory");
        return -1;
    }
    AXMEM_BLOCK_T *prev = nullptr;
    AXMEM_BLOCK_T *block = first();
    while (block != nullptr && reinterpret_cast<char *>(block) + kCtrl != at) {
        prev = block;
        block = next(block);
    }
    if (block == nullptr) {
        PFM_ERR(kMid, "memPoolFree: block not found!");
        return -1;
    }
    if (block->tag != AXMEMPOOL_TAG_USED) {
        PFM_ERR(kMid, "memPoolFree: invalid or already freed!");
        return -1;
    }
    block->tag = AXMEMPOOL_TAG_FREE;
    pool_->used -= block->size;
    AXMEM_BLOCK_T *after = next(block);
    if (after != nullptr && after->tag == AXMEMPOOL_TAG_FREE) {
        block->size += after->size + kCtrl;
        block->next = after->next;
    }
    if (prev != nullptr && prev->tag == AXMEMPOOL_TAG_FREE) {
        prev->size += block->size + kCtrl;
        prev->next = block->next;
    }
    return 0;
}

}  // namespace pc::mgmt::http

using pc::mgmt::SharedLockGuard;
using pc::mgmt::http::kMid;
using pc::mgmt::http::PoolView;

extern "C" {

PC_API AXMEM_POOL_T *axmemPoolNew(void *memory, unsigned size) {
    if (memory == nullptr) {
        PFM_ERR(kMid, "Input parameter is NULL!");
        return nullptr;
    }
    if (size < AXMEMPOOL_MIN_SIZE) {
        PFM_ERR(kMid, "Partition too small for admin data!");
        return nullptr;
    }
    if (reinterpret_cast<uintptr_t>(memory) % alignof(AXMEM_POOL_T) != 0) {
        PFM_ERR(kMid, "Partition not aligned!");
        return nullptr;
    }
    std::memset(memory, 0, size);
    auto *pool = static_cast<AXMEM_POOL_T *>(memory);
    pool->regionSize = size - static_cast<uint32_t>(AXMEMPOOL_HEAD_SIZE) - 4u;
    pool->first = reinterpret_cast<AXMEM_BLOCK_T *>(static_cast<char *>(memory) + AXMEMPOOL_HEAD_SIZE);
    PoolView(pool).format();
    pool->lowestFree = pool->regionSize;
    return pool;
}

PC_API int axmemPoolCleanup(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    SharedLockGuard guard(&pool->lock);
    PoolView(pool).format();
    return 0;
}

PC_API void *axmemPoolAlloc(AXMEM_POOL_T *pool, unsigned size) {
    PFM_ENSURE_RET(kMid, NULL != pool, nullptr);
    SharedLockGuard guard(&pool->lock);
    PoolView view(pool);
    if (view.check() != 0) return nullptr;
    return view.alloc(size);
}

PC_API int axmemPoolFree(AXMEM_POOL_T *pool, void *address) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    PFM_ENSURE_RET(kMid, NULL != address, -1);
    SharedLockGuard guard(&pool->lock);
    PoolView view(pool);
    if (view.check() != 0) return -1;
    return view.release(address);
}

PC_API unsigned axmemPoolAvail(AXMEM_POOL_T *pool, int mode) {
    PFM_ENSURE_RET(kMid, NULL != pool, 0);
    SharedLockGuard guard(&pool->lock);
    PoolView view(pool);
    if (view.check() != 0) return 0;
    switch (mode) {
        case AXMEMPOOL_AVAIL_FREE:
            return view.free_sum(false);
        case AXMEMPOOL_AVAIL_LARGEST:
            return view.free_sum(true);
        case AXMEMPOOL_AVAIL_PEAK:
            return pool->regionSize - pool->lowestFree;
        default:
            return 0;
    }
}

PC_API unsigned axmemPoolUsed(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, 0);
    SharedLockGuard guard(&pool->lock);
    return pool->used;
}

PC_API int axmemPoolCheck(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    SharedLockGuard guard(&pool->lock);
    return PoolView(pool).check();
}

PC_API int axmemPoolDelete(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    return axmemPoolCleanup(pool);
}

PC_API int axmemPoolLock(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    pc::mgmt::shared_lock(&pool->lock);
    return 0;
}

PC_API int axmemPoolUnlock(AXMEM_POOL_T *pool) {
    PFM_ENSURE_RET(kMid, NULL != pool, -1);
    pc::mgmt::shared_unlock(&pool->lock);
    return 0;
}

}  // extern "C"
