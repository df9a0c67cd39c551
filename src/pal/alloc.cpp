// The accounted allocator.
//
// Every block is one system allocation: a header, the payload, and a tail
// guard. The header holds the head guard, the owner's tag (a pointer to a
// constant string, not copied), the payload size rounded up to 4, the two
// links of the process-wide block list (newest at the head) and a pointer
// to the payload; the word right before the payload points back to the
// header. The payload is aligned for any type.
//
// Live blocks are kept in kShards shards, each with its own lock, list
// (newest at the head), set of live payloads and counters. A block's shard
// is chosen from its payload address, so pal_free finds it from the pointer
// alone. The address is taken at the granule of the C library's per-thread
// heaps (64 MiB, 1 MiB on 32-bit; live_map.h), so the blocks of one thread
// mostly share one shard and two threads on two CPUs rarely touch the same
// lock or counters. The statistics, the guard check and the figures take every
// shard's lock, in index order, and walk them together, so they see one
// consistent picture. The shard locks are BiasedLocks (biased_lock.h): the
// thread a shard is used by takes it without any atomic read-modify-write,
// others take it as a ShortLock after withdrawing that thread's claim.
//
// Bytes held: each shard keeps the change it has not yet published, and
// adds it to the process-wide total once it reaches kPublishBytes either
// way, so the hot path rarely touches a line other CPUs write. The bytes
// held now are the total plus every shard's unpublished change. The peak is
// raised after an allocation from the total plus the allocating shard's
// change: exact in a single thread, and short by at most kPublishBytes per
// other shard while several threads allocate at once.
//
// pal_free and pal_realloc first look the pointer up in the map of live
// payloads (live_map.h, one bit per payload address; a granule's bits are
// guarded by its shard's lock), so a pointer that was freed before or never
// came from pal_alloc is reported and refused without reading a byte in
// front of it;
// a live block whose guard or links were overwritten is refused too instead
// of corrupting the list. A freed block is filled with 0xCC before it goes
// back to the system, so a stale pointer reads garbage, not plausible data.
//
// "pal_alloc", the PAL mutex made on first use, stays for the callers of
// _pal_alloc_preinit; the hot path does not take it.
//
// Sizes whose block (header, payload rounded to 4, tail guard) would not
// fit in a size_t are refused: on the 32-bit target that is anything above
// about 4 GiB less the header.
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pal/biased_lock.h"
#include "pal/live_map.h"
#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace {

constexpr uint32_t kHeadGuard = 0xAAAAAAAAu;
constexpr uint32_t kTailGuard = 0xBBBBBBBBu;
constexpr unsigned char kFreedFill = 0xCC;
constexpr const char *kUnknownTag = "UNKOWN";
constexpr size_t kStatBuckets = 1024;
constexpr uint32_t kStatBucketMask = kStatBuckets - 1;

struct BlockHeader {
    uint32_t head_guard;
    const char *tag;
    uint32_t size;      // payload bytes, a multiple of 4
    BlockHeader *prev;  // nearer the head (guarded by g_alloc_lock)
    BlockHeader *next;  // farther from the head (guarded by g_alloc_lock)
    void *payload;
};

// Header area: the fields, then the back pointer right before the payload,
// padded so the payload keeps the system allocator's alignment.
constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kHeaderArea = (sizeof(BlockHeader) + sizeof(void *) + kAlign - 1) / kAlign * kAlign;

// Largest payload whose whole block still fits in a size_t.
constexpr size_t kMaxPayload = SIZE_MAX - kHeaderArea - sizeof(uint32_t);

// Only a 32-bit size_t can overflow when the header and tail are added.
constexpr bool payload_fits(uint32_t rounded) {
    if constexpr (sizeof(size_t) > sizeof(uint32_t))
        return true;
    else
        return rounded <= kMaxPayload;
}
constexpr size_t kShards = 16;
constexpr long kPublishBytes = 16 * 1024;

struct alignas(64) Shard {
    pc::pal::BiasedLock lock;     // guards every field below
    BlockHeader *head = nullptr;  // newest first; their payloads are live in g_live
    long alloc_bytes = 0;
    long free_bytes = 0;
    long alloc_calls = 0;
    long free_calls = 0;
    // Bytes held that are not yet in g_published: written under the lock,
    // read without it for the figures. Stays within +-kPublishBytes.
    std::atomic<long> unpublished{0};
};

pal_mutex_t g_alloc_lock = nullptr;  // "pal_alloc"
Shard g_shards[kShards];
pc::pal::LiveBlockMap g_live;                  // a granule's bits: guarded by the lock of shard_of(granule)
alignas(64) std::atomic<long> g_published{0};  // bytes held, less the shards' unpublished changes
alignas(64) std::atomic<unsigned> g_bytes_max{0};  // the peak of the bytes held

Shard &shard_of(const void *payload) {
    const uintptr_t granule = pc::pal::LiveBlockMap::granule_of(payload);
    return g_shards[(granule ^ (granule >> 4) ^ (granule >> 8)) % kShards];
}

// Counts `delta` bytes held by the shard's blocks, publishing the shard's
// change once it is large; answers the bytes held as the shard sees them.
// Under the shard's lock.
inline long account_locked(Shard &sh, long delta) {
    long change = sh.unpublished.load(std::memory_order_relaxed) + delta;
    long published;
    if (change >= kPublishBytes || change <= -kPublishBytes) {
        published = g_published.fetch_add(change, std::memory_order_relaxed) + change;
        change = 0;
    } else {
        published = g_published.load(std::memory_order_relaxed);
    }
    sh.unpublished.store(change, std::memory_order_relaxed);
    return published + change;
}

// Held for the guard's scope; the hot paths decide under it and act after.
class ShardLock {
public:
    explicit ShardLock(Shard &s) : s_(s), way_(s.lock.lock()) {}
    ~ShardLock() { s_.lock.unlock(way_); }
    ShardLock(const ShardLock &) = delete;
    ShardLock &operator=(const ShardLock &) = delete;

private:
    Shard &s_;
    const pc::pal::BiasedLock::Way way_;
};

// Every shard's lock, in index order, for the walks over all blocks.
class AllShardsLock {
public:
    AllShardsLock() {
        bool withdrawn = false;
        for (auto &s : g_shards) withdrawn |= s.lock.take_for_walk();
        if (!withdrawn) return;
        pc::pal::process_barrier();
        for (auto &s : g_shards) s.lock.wait_owner_idle();
    }
    ~AllShardsLock() { release(); }
    AllShardsLock(const AllShardsLock &) = delete;
    AllShardsLock &operator=(const AllShardsLock &) = delete;
    void release() {
        if (!held_) return;
        for (size_t i = kShards; i-- > 0;) g_shards[i].lock.end_walk();
        held_ = false;
    }

private:
    bool held_ = true;
};

unsigned clamp_bytes(long bytes) {
    if (bytes <= 0) return 0;
    return static_cast<unsigned long>(bytes) > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(bytes);
}

// Bytes held by the process, clamped to what the figures can report.
unsigned bytes_held() {
    long sum = g_published.load(std::memory_order_relaxed);
    for (const Shard &s : g_shards) sum += s.unpublished.load(std::memory_order_relaxed);
    return clamp_bytes(sum);
}

void raise_peak(long held) {
    unsigned now = clamp_bytes(held);
    unsigned max = g_bytes_max.load(std::memory_order_relaxed);
    while (now > max && !g_bytes_max.compare_exchange_weak(max, now, std::memory_order_relaxed)) {
    }
}

uint32_t round4(uint32_t n) { return (n + 3u) & ~3u; }

BlockHeader **back_pointer(void *payload) { return reinterpret_cast<BlockHeader **>(payload) - 1; }

uint32_t tail_guard(const BlockHeader *b) {
    uint32_t v;
    std::memcpy(&v, static_cast<const char *>(b->payload) + b->size, sizeof v);
    return v;
}

void set_tail_guard(BlockHeader *b) {
    std::memcpy(static_cast<char *>(b->payload) + b->size, &kTailGuard, sizeof kTailGuard);
}

size_t block_bytes(uint32_t size) { return kHeaderArea + size + sizeof(uint32_t); }

// Fills a block that is about to be released. The empty asm tells the
// compiler the bytes are used, so the fill is not dropped as a dead store
// before free().
void poison(void *block, size_t len) {
    std::memset(block, kFreedFill, len);
    asm volatile("" : : "r"(block) : "memory");
}

void report_refused(const void *ptr, const char *why) {
    printf("pal_free: %p is not a live block, refused.\r\n", ptr);
    PFM_ERR(MID_PAL, "pal_free refused %p: %s", ptr, why);
}

// True when `b` is on its shard's list as its links claim. Under the
// shard's lock.
bool links_agree_locked(const Shard &s, const BlockHeader *b) {
    if (b->prev == nullptr) {
        if (s.head != b) return false;
    } else if (s.head == b || b->prev->head_guard != kHeadGuard || b->prev->next != b) {
        return false;
    }
    if (b->next != nullptr && (b->next->head_guard != kHeadGuard || b->next->prev != b)) return false;
    return true;
}

// The hot paths' form of _pal_alloc_preinit: one load once the lock exists.
inline bool allocator_ready() {
    return __atomic_load_n(&g_alloc_lock, __ATOMIC_ACQUIRE) != nullptr || _pal_alloc_preinit() == 0;
}

}  // namespace

extern "C" {

PC_API int _pal_alloc_preinit(void) {
    if (__atomic_load_n(&g_alloc_lock, __ATOMIC_ACQUIRE) != nullptr) return 0;
    // The map first: the lock's publication below is what tells the hot
    // paths that both exist.
    if (!g_live.init()) {
        printf("pal_alloc init live block map failed\r\n");
        return -1;
    }
    pal_mutex_t m = pal_mutex_create("pal_alloc");
    if (m == nullptr) {
        printf("pal_alloc init mutex failed\r\n");
        return -1;
    }
    pal_mutex_t expected = nullptr;
    if (!__atomic_compare_exchange_n(&g_alloc_lock, &expected, m, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        pal_mutex_destroy(m);  // another thread made it first
    return 0;
}

PC_API void *pal_alloc(unsigned size, const char *tag) {
    if (!allocator_ready()) return nullptr;
    uint32_t rounded = round4(size);
    if (rounded < size || !payload_fits(rounded)) return nullptr;  // the block would wrap
    auto *raw = static_cast<char *>(std::malloc(block_bytes(rounded)));
    if (raw == nullptr) return nullptr;
    auto *b = reinterpret_cast<BlockHeader *>(raw);
    void *const payload = raw + kHeaderArea;
    b->head_guard = kHeadGuard;
    b->tag = tag ? tag : kUnknownTag;
    b->size = rounded;
    b->prev = nullptr;
    b->payload = payload;
    *back_pointer(payload) = b;
    set_tail_guard(b);

    Shard &sh = shard_of(payload);
    long held = -1;
    {
        ShardLock lock(sh);
        if (g_live.insert(payload)) {
            b->next = sh.head;
            if (sh.head != nullptr) sh.head->prev = b;
            sh.head = b;
            sh.alloc_bytes += rounded;
            sh.alloc_calls++;
            held = account_locked(sh, static_cast<long>(rounded));
        }
    }
    if (held < 0) {  // out of memory, or an address the map cannot hold
        std::free(raw);
        return nullptr;
    }
    raise_peak(held);
    return payload;
}

PC_API void *pal_calloc(unsigned count, unsigned size, const char *tag) {
    uint64_t total = static_cast<uint64_t>(count) * size;
    if (total > UINT32_MAX - 3u) return nullptr;
    void *p = pal_alloc(static_cast<unsigned>(total), tag);
    if (p != nullptr) std::memset(p, 0, round4(static_cast<uint32_t>(total)));
    return p;
}

PC_API void *pal_realloc(void *ptr, unsigned size, const char *tag) {
    if (size == 0) {
        if (ptr != nullptr) pal_free(ptr);
        return nullptr;
    }
    uint32_t old_size = 0;
    if (ptr != nullptr) {
        if (!allocator_ready()) return nullptr;
        bool live;
        {
            ShardLock lock(shard_of(ptr));
            live = g_live.contains(ptr);
            if (live) old_size = (*back_pointer(ptr))->size;
        }
        if (!live) {
            report_refused(ptr, "realloc of a block that is not live");
            return nullptr;
        }
    }
    void *fresh = pal_alloc(size, tag);
    if (fresh == nullptr) return nullptr;
    if (ptr != nullptr) {
        std::memcpy(fresh, ptr, old_size < size ? old_size : size);
        pal_free(ptr);
    }
    return fresh;
}

PC_API void pal_free(void *ptr) {
    if (ptr == nullptr || !allocator_ready()) return;
    BlockHeader *b = nullptr;
    const char *refusal = nullptr;
    {
        Shard &sh = shard_of(ptr);
        ShardLock lock(sh);
        if (!g_live.erase(ptr)) {
            refusal = "not a live block";
        } else if (b = *back_pointer(ptr);  // live: the back pointer and the header are ours to read
                   b == nullptr || b->payload != ptr || b->head_guard != kHeadGuard ||
                   !links_agree_locked(sh, b)) {
            g_live.insert(ptr);  // stays live; its granule's bits exist, so this cannot fail
            refusal = "its header is damaged";
        } else {
            if (b->prev != nullptr)
                b->prev->next = b->next;
            else
                sh.head = b->next;
            if (b->next != nullptr) b->next->prev = b->prev;
            sh.free_bytes += b->size;
            sh.free_calls++;
            account_locked(sh, -static_cast<long>(b->size));
        }
    }
    if (refusal != nullptr) {
        report_refused(ptr, refusal);
        return;
    }
    poison(b, block_bytes(b->size));
    std::free(b);
}

PC_API int pal_alloc_memflow_detect(void) {
    if (_pal_alloc_preinit() != 0) return 0;
    int damaged = 0;
    AllShardsLock lock;
    for (const Shard &sh : g_shards) {
        for (BlockHeader *b = sh.head; b != nullptr; b = b->next) {
            uint32_t tail = tail_guard(b);
            if (b->head_guard == kHeadGuard && tail == kTailGuard && b->tag != nullptr) continue;
            damaged = 1;
            printf("memory overflow, size=%d, start=%#x, end=%#x.\r\n", static_cast<int>(b->size),
                   b->head_guard, tail);
            if (b->prev != nullptr)
                printf("previous is %s, size=%d, start=%#x, end=%#x.\r\n",
                       b->prev->tag ? b->prev->tag : "(null)", static_cast<int>(b->prev->size),
                       b->prev->head_guard, tail_guard(b->prev));
        }
    }
    return damaged;
}

PC_API void pal_alloc_resource_usage_get(unsigned *now, unsigned *max) {
    if (_pal_alloc_preinit() != 0) return;
    if (now) *now = bytes_held();
    if (max) *max = g_bytes_max.load(std::memory_order_relaxed);
}

}  // extern "C"

namespace {

// One line of the per-tag statistics; chained per bucket.
struct TagStat {
    const char *tag;
    long bytes;
    int count;
    TagStat *next;
};

uint32_t tag_hash(const char *tag) {
    uint32_t h = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(tag); *p; ++p) h = h * 31u + *p;
    return h;
}

void free_stats(TagStat **table) {
    for (size_t i = 0; i < kStatBuckets; ++i) {
        for (TagStat *e = table[i]; e != nullptr;) {
            TagStat *n = e->next;
            std::free(e);
            e = n;
        }
    }
    std::free(table);
}

// Finds or appends the entry of `tag` in its bucket; null when out of memory.
TagStat *stat_entry(TagStat **table, const char *tag) {
    TagStat **pp = &table[tag_hash(tag) & kStatBucketMask];
    for (; *pp != nullptr; pp = &(*pp)->next)
        if (std::strcmp((*pp)->tag, tag) == 0) return *pp;
    auto *e = static_cast<TagStat *>(std::calloc(1, sizeof(TagStat)));
    if (e == nullptr) return nullptr;
    e->tag = tag;
    *pp = e;
    return e;
}

}  // namespace

extern "C" {

PC_API int pal_alloc_stat(void) {
    if (_pal_alloc_preinit() != 0) return -1;
    AllShardsLock guard;
    auto **table = static_cast<TagStat **>(std::calloc(kStatBuckets, sizeof(TagStat *)));
    if (table == nullptr) {
        guard.release();
        printf("Failed to get the allocated stat\r\n");
        return -1;
    }
    long alloc_bytes = 0, free_bytes = 0, alloc_calls = 0, free_calls = 0;
    for (const Shard &sh : g_shards) {
        alloc_bytes += sh.alloc_bytes;
        free_bytes += sh.free_bytes;
        alloc_calls += sh.alloc_calls;
        free_calls += sh.free_calls;
    }
    for (const Shard &sh : g_shards)
        for (BlockHeader *b = sh.head; b != nullptr; b = b->next) {
            if (b->tag == nullptr) {
                printf("descption is null, skiped, p->size=%d,start=%#x,end=%#x.\r\n",
                       static_cast<int>(b->size), b->head_guard, tail_guard(b));
                if (b->prev != nullptr)
                    printf("Previous is %s, skiped, p->size=%d,start=%#x,end=%#x.\r\n",
                           b->prev->tag ? b->prev->tag : "(null)", static_cast<int>(b->prev->size),
                           b->prev->head_guard, tail_guard(b->prev));
                continue;
            }
            TagStat *e = stat_entry(table, b->tag);
            if (e == nullptr) {
                free_stats(table);
                guard.release();
                printf("Failed to get the allocated stat\r\n");
                return -1;
            }
            e->bytes += b->size;
            e->count++;
        }
    long total = 0;
    int modules = 0;
    printf("Detail of each module:\r\n");
    for (size_t i = 0; i < kStatBuckets; ++i) {
        for (TagStat *e = table[i]; e != nullptr; e = e->next) {
            printf("  %-35s: alloc %d times, alloc %#x bytes\r\n", e->tag, e->count,
                   static_cast<unsigned>(e->bytes));
            total += e->bytes;
            modules++;
        }
    }
    printf("\r\nSummary:\r\n  Grand total of %#x bytes allocated by %d modules\n",
           static_cast<unsigned>(total), modules);
    printf("  Alloc bytes %ld, Free bytes %ld\r\n", alloc_bytes, free_bytes);
    printf("  Alloc calls %ld, Free calls %ld\r\n", alloc_calls, free_calls);
    free_stats(table);
    return 0;
}

}  // extern "C"
