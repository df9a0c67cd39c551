// The NIC driver's buffer pool: a buddy system over the driver's DMA
// region (region 3 of chip unit 0), 8192 units of 128 bytes.
//
// A complete binary tree of 16383 nodes, node i having children 2i+1 and
// 2i+2, holds in each node the largest free block (in units) below it; an
// allocated block's node holds 0. Allocation descends from the root to a
// node of the wanted size, preferring the left child; freeing climbs from
// the leaf of the block's first unit to the node marked 0 and merges
// buddies on the way up. Both are O(log n). The mutex "sdk_axpacket"
// guards the tree.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "platform_core/axpacket.h"
#include "platform_core/platform.h"

namespace {

constexpr uint32_t kUnits = AXNIC_POOL_UNITS;
constexpr uint32_t kUnitBytes = AXNIC_POOL_UNIT;
constexpr uint32_t kNodes = 2 * kUnits - 1;
constexpr uint32_t kRequestOverhead = 128 + 3;
constexpr const char *kTag = "AXPacket_core";

struct Pool {
    pal_mutex_t lock = nullptr;  // "sdk_axpacket"
    uint16_t *tree = nullptr;    // kNodes entries (osal_alloc)
    uint8_t *base = nullptr;     // the DMA region
};
Pool g_pool;

struct PoolLock {
    PoolLock() {
        if (pal_mutex_take(g_pool.lock, PAL_WAIT_FOREVER) != 0) std::printf("semaphore lock failed\n");
    }
    ~PoolLock() {
        if (pal_mutex_give(g_pool.lock) != 0) std::printf("semaphore unlock failed\n");
    }
    PoolLock(const PoolLock &) = delete;
    PoolLock &operator=(const PoolLock &) = delete;
};

uint32_t left(uint32_t i) { return 2 * i + 1; }
uint32_t parent(uint32_t i) { return (i - 1) / 2; }

// Offset (bytes) of a block; -1 when none of `units` is free.
int64_t buddy_alloc(uint32_t units) {
    uint16_t *t = g_pool.tree;
    if (t[0] < units) return -1;
    uint32_t i = 0;
    for (uint32_t size = kUnits; size != units; size /= 2) i = t[left(i)] >= units ? left(i) : left(i) + 1;
    t[i] = 0;
    int64_t offset = (static_cast<int64_t>(i + 1) * units - kUnits) * kUnitBytes;
    while (i != 0) {
        i = parent(i);
        t[i] = std::max(t[left(i)], t[left(i) + 1]);
    }
    return offset;
}

int buddy_free(uint64_t offset) {
    if (offset % kUnitBytes != 0 || offset / kUnitBytes >= kUnits) return -1;
    uint16_t *t = g_pool.tree;
    uint32_t i = static_cast<uint32_t>(offset / kUnitBytes) + kUnits - 1;
    uint32_t size = 1;
    while (t[i] != 0) {
        if (i == 0) return -1;  // not allocated
        i = parent(i);
        size *= 2;
    }
    t[i] = static_cast<uint16_t>(size);
    while (i != 0) {
        i = parent(i);
        size *= 2;
        uint16_t l = t[left(i)], r = t[left(i) + 1];
        t[i] = (l + r == size) ? static_cast<uint16_t>(size) : std::max(l, r);
    }
    return 0;
}

}  // namespace

namespace pc::packet {

// Builds the pool once; 0 or -1.
int pool_init() {
    if (g_pool.tree != nullptr) return 0;
    uint8_t *base = nullptr;
    uint32_t size = 0;
    if (ioal_init_memRegion_get(0, IOAL_MEM_DMA, &base, &size) != 0 || base == nullptr ||
        size < kUnits * kUnitBytes)
        return -1;
    auto *tree = static_cast<uint16_t *>(osal_alloc(kNodes * sizeof(uint16_t)));
    if (tree == nullptr) return -1;
    for (uint32_t i = 0, size_at = kUnits, level_end = 1; i < kNodes; ++i) {
        if (i == level_end) {
            size_at /= 2;
            level_end = 2 * level_end + 1;
        }
        tree[i] = static_cast<uint16_t>(size_at);
    }
    g_pool.lock = pal_mutex_create("sdk_axpacket");
    if (g_pool.lock == nullptr) {
        osal_free(tree);
        return -1;
    }
    g_pool.base = base;
    g_pool.tree = tree;
    return 0;
}

}  // namespace pc::packet

extern "C" {

PC_API uint32_t axnic_pool_units_for(uint32_t size) {
    uint64_t units = (static_cast<uint64_t>(size) + kRequestOverhead) / kUnitBytes;
    units = std::bit_ceil(std::max<uint64_t>(units, 1));
    return units > kUnits ? 0 : static_cast<uint32_t>(units);
}

PC_API uint32_t axnic_pool_free_units(void) {
    if (g_pool.tree == nullptr) return 0;
    PoolLock g;
    return g_pool.tree[0];
}

PC_API int axnic_pkt_alloc(uint32_t unit, int32_t size, uint32_t flags, drv_nic_pkt_t **ppPacket) {
    (void)unit;
    (void)flags;
    if (ppPacket == nullptr || size < 0 || g_pool.tree == nullptr) return -1;
    *ppPacket = nullptr;
    uint32_t units = axnic_pool_units_for(static_cast<uint32_t>(size));
    if (units == 0) return -1;  // larger than the whole pool
    auto *pkt = static_cast<drv_nic_pkt_t *>(pal_calloc(1, sizeof(drv_nic_pkt_t), kTag));
    if (pkt == nullptr) return -1;
    int64_t offset;
    {
        PoolLock g;
        offset = buddy_alloc(units);
    }
    if (offset < 0) {
        pal_free(pkt);
        return -1;
    }
    pkt->head = g_pool.base + offset;
    pkt->data = pkt->head;
    pkt->tail = pkt->head;
    pkt->end = pkt->head + static_cast<size_t>(units) * kUnitBytes;
    pkt->length = 0;
    pkt->buf_id = static_cast<uintptr_t>(offset);
    *ppPacket = pkt;
    return 0;
}

PC_API int axnic_pkt_free(uint32_t unit, drv_nic_pkt_t *pPacket) {
    (void)unit;
    if (pPacket == nullptr || g_pool.tree == nullptr) return -1;
    int rc;
    {
        PoolLock g;
        rc = buddy_free(pPacket->buf_id);
    }
    pal_free(pPacket);
    return rc;
}

}  // extern "C"
