// The accounted allocator.
//
// Every block is a header, the payload, and a tail guard. The header holds
// the head guard, the owner's tag (a pointer to a constant string, not
// copied), the payload size rounded up to 4, the two links of its shard's
// block list (newest at the head) and a pointer to the payload; the word
// right before the payload points back to the header. The payload is
// aligned for any type.
//
// Where a block lives:
// - Small blocks (the whole block at most kMaxSlotBytes) take a slot of a
//   run carved from the allocator's own region (block_runs.h). They are
//   kept by the shard of the thread that allocates them: each thread is
//   given a shard in turn on its first block, so two threads on two CPUs
//   rarely share a lock, a run or a counter. A slot's run says which shard
//   holds it, and its live map says whether a payload is live.
// - Larger blocks, and small ones once the region is used up, are one
//   allocation each from the C library. Their shard is chosen from the
//   payload address, at the granule of the C library's per-thread heaps
//   (64 MiB, 1 MiB on 32-bit; live_map.h), and the map of live payloads
//   (live_map.h, one bit per payload address) says whether one is live.
// So pal_free finds a block's shard, and whether it is live, from the
// pointer alone.
//
// Locking: each shard has one lock, which guards its list, its counters,
// the runs it holds (their slots, free stacks and live maps) and the
// granules of the map of live payloads that belong to it. The shard locks
// are BiasedLocks (biased_lock.h): the thread a shard is used by takes it
// without any atomic read-modify-write; others, such as a thread freeing a
// block another thread allocated, take it as a ShortLock after withdrawing
// that thread's claim. The statistics, the guard check and the figures take
// every shard's lock, in index order, and walk the lists together, so they
// see one consistent picture. The region's pool of empty runs has its own
// lock, taken inside a shard's lock only.
//
// Bytes held: each shard keeps the change it has not yet published, and
// adds it to the process-wide total once it reaches kPublishBytes either
// way, so the hot path rarely touches a line other CPUs write. The bytes
// held now are the total plus every shard's unpublished change. After an
// allocation, the total plus the allocating shard's change is compared with
// the peak; only when it passes the peak is the exact figure summed up and
// the peak raised to it. The peak is thus never above a figure the bytes
// held really reached; it may miss a rise of less than kPublishBytes per
// other shard while several threads allocate at once.
//
// pal_free and pal_realloc first ask the live map, so a pointer that was
// freed before or never came from pal_alloc is reported and refused without
// reading a byte in front of it; a live block whose guard or links were
// overwritten is refused too instead of corrupting the list. A freed block
// is filled with 0xCC, guards included, before its slot is reused or it
// goes back to the system, so a stale pointer reads garbage, not plausible
// data.
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

#include "pal/asan_poison.h"
#include "pal/biased_lock.h"
#include "pal/block_runs.h"
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

using pc::pal::kSlotClasses;
using pc::pal::Run;

// A shard's runs of one size class.
struct ClassRuns {
    Run *current = nullptr;  // slots are taken from here; kept when it empties
    Run *partial = nullptr;  // the others with a free slot, linked by prev/next
};

struct alignas(64) Shard {
    pc::pal::BiasedLock lock;     // guards every field below
    BlockHeader *head = nullptr;  // newest first; each is live in its run or in g_live
    long alloc_bytes = 0;
    long free_bytes = 0;
    long alloc_calls = 0;
    long free_calls = 0;
    // Bytes held that are not yet in g_published: written under the lock,
    // read without it for the figures. Stays within +-kPublishBytes.
    std::atomic<long> unpublished{0};
    ClassRuns runs[kSlotClasses.count];
};

pal_mutex_t g_alloc_lock = nullptr;  // "pal_alloc"
Shard g_shards[kShards];
pc::pal::LiveBlockMap g_live;           // a granule's bits: guarded by the lock of shard_of(granule)
pc::pal::RunRegion g_runs;              // reserved by _pal_alloc_preinit
std::atomic<uint32_t> g_next_shard{0};  // the shard the next new thread is given
// The calling thread's shard for small blocks (index + 1; 0 until its first
// block). Initial-exec: one load at a fixed offset from the thread pointer.
[[gnu::tls_model("initial-exec")]] thread_local uint32_t t_shard = 0;
alignas(64) std::atomic<long> g_published{0};      // bytes held, less the shards' unpublished changes
alignas(64) std::atomic<unsigned> g_bytes_max{0};  // the peak of the bytes held

// The shard of a block from the C library.
Shard &shard_of(const void *payload) {
    const uintptr_t granule = pc::pal::LiveBlockMap::granule_of(payload);
    return g_shards[(granule ^ (granule >> 4) ^ (granule >> 8)) % kShards];
}

// Counts `delta` bytes held by the shard's blocks, publishing the shard's
// change once it is large. Under the shard's lock.
inline void count_held_locked(Shard &sh, long delta) {
    long change = sh.unpublished.load(std::memory_order_relaxed) + delta;
    if (change >= kPublishBytes || change <= -kPublishBytes) {
        g_published.fetch_add(change, std::memory_order_relaxed);
        change = 0;
    }
    sh.unpublished.store(change, std::memory_order_relaxed);
}

// The same, answering the bytes held as the shard sees them.
inline long account_locked(Shard &sh, long delta) {
    count_held_locked(sh, delta);
    return g_published.load(std::memory_order_relaxed) + sh.unpublished.load(std::memory_order_relaxed);
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

[[gnu::noinline]] void raise_peak_to_held(unsigned max) {
    const unsigned now = bytes_held();
    while (now > max && !g_bytes_max.compare_exchange_weak(max, now, std::memory_order_relaxed)) {
    }
}

// Raises the peak after an allocation. `seen` is the bytes held as the
// allocating shard sees them; other shards' unpublished changes may put it
// above or below the true figure, so only when it passes the peak are they
// all added up.
inline void raise_peak(long seen) {
    const unsigned max = g_bytes_max.load(std::memory_order_relaxed);
    if (clamp_bytes(seen) > max) raise_peak_to_held(max);
}

uint32_t round4(uint32_t n) { return (n + 3u) & ~3u; }

BlockHeader **back_pointer(void *payload) { return reinterpret_cast<BlockHeader **>(payload) - 1; }
// Where a payload's header is; the back pointer must agree.
BlockHeader *header_of(void *payload) {
    return reinterpret_cast<BlockHeader *>(static_cast<char *>(payload) - kHeaderArea);
}

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
[[gnu::always_inline]] inline bool links_agree_locked(const Shard &s, const BlockHeader *b) {
    if (b->prev == nullptr) {
        if (s.head != b) return false;
    } else if (s.head == b || b->prev->head_guard != kHeadGuard || b->prev->next != b) {
        return false;
    }
    if (b->next != nullptr && (b->next->head_guard != kHeadGuard || b->next->prev != b)) return false;
    return true;
}

[[gnu::always_inline]] inline void init_header(BlockHeader *b, uint32_t rounded, const char *tag) {
    void *const payload = reinterpret_cast<char *>(b) + kHeaderArea;
    b->head_guard = kHeadGuard;
    b->tag = tag ? tag : kUnknownTag;
    b->size = rounded;
    b->prev = nullptr;
    b->payload = payload;
    *back_pointer(payload) = b;
    set_tail_guard(b);
}

// Makes `b` the shard's newest block and counts it; answers the bytes held
// as the shard sees them. Under the shard's lock.
[[gnu::always_inline]] inline long link_locked(Shard &sh, BlockHeader *b) {
    b->next = sh.head;
    if (sh.head != nullptr) sh.head->prev = b;
    sh.head = b;
    sh.alloc_bytes += b->size;
    sh.alloc_calls++;
    return account_locked(sh, static_cast<long>(b->size));
}

// Why the live block at `payload` may not be freed: its header does not
// point back, its guard is gone or its links contradict the list. Null when
// it may. Under the shard's lock.
[[gnu::always_inline]] inline const char *damage_locked(const Shard &sh, void *payload) {
    const BlockHeader *b = header_of(payload);
    if (*back_pointer(payload) != b || b->payload != payload || b->head_guard != kHeadGuard ||
        !links_agree_locked(sh, b))
        return "its header is damaged";
    return nullptr;
}

[[gnu::always_inline]] inline void unlink_locked(Shard &sh, BlockHeader *b) {
    if (b->prev != nullptr)
        b->prev->next = b->next;
    else
        sh.head = b->next;
    if (b->next != nullptr) b->next->prev = b->prev;
    sh.free_bytes += b->size;
    sh.free_calls++;
    count_held_locked(sh, -static_cast<long>(b->size));
}

uint32_t my_shard_id() {
    uint32_t id = t_shard;
    if (id == 0) [[unlikely]] {
        id = g_next_shard.fetch_add(1, std::memory_order_relaxed) % kShards + 1;
        t_shard = id;
    }
    return id;
}

void list_run(ClassRuns &cr, Run *r) {
    r->prev = nullptr;
    r->next = cr.partial;
    if (cr.partial != nullptr) cr.partial->prev = r;
    cr.partial = r;
    r->listed = true;
}

void unlist_run(ClassRuns &cr, Run *r) {
    if (r->prev != nullptr)
        r->prev->next = r->next;
    else
        cr.partial = r->next;
    if (r->next != nullptr) r->next->prev = r->prev;
    r->listed = false;
}

// A free slot of class `cls` for shard `id`: from its current run, else
// from a part-used one, else from a run of the region. Null when the
// region is used up. Under the shard's lock.
[[gnu::always_inline]] inline char *take_slot_locked(Shard &sh, uint32_t id, unsigned cls) {
    ClassRuns &cr = sh.runs[cls];
    Run *r = cr.current;
    if (r == nullptr || pc::pal::run_full(*r)) {
        // A full current run is left unlisted; its first freed slot lists it.
        if (cr.partial != nullptr) {
            r = cr.partial;
            unlist_run(cr, r);
        } else if ((r = g_runs.take(id, cls)) == nullptr) {
            return nullptr;
        }
        cr.current = r;
    }
    return pc::pal::run_pop(*r);
}

// Puts a freed slot back in its run; a run other than the current one is
// listed once it has a free slot and handed back to the region once it has
// no live one. Under the lock of the shard that holds the run.
[[gnu::always_inline]] inline void put_slot_locked(Shard &sh, Run &r, const char *slot) {
    pc::pal::run_push(r, slot);
    ClassRuns &cr = sh.runs[r.cls];
    if (&r == cr.current) return;
    if (r.live == 0) {
        if (r.listed) unlist_run(cr, &r);
        g_runs.give_back(&r);
    } else if (!r.listed) {  // it was full: every run off the list but the current one is
        list_run(cr, &r);
    }
}

// Runs `f` with the lock of the shard that holds run `r` and that shard,
// or with null when no shard holds it. The run may move between shards
// only while empty, so once its owner is read again under that owner's
// lock it stays.
template <typename F>
void with_run_owner(Run *r, F &&f) {
    for (;;) {
        const uint32_t owner = r->owner_word().load(std::memory_order_acquire);
        if (owner == 0 || owner > kShards) {
            f(static_cast<Shard *>(nullptr));
            return;
        }
        Shard &sh = g_shards[owner - 1];
        ShardLock lock(sh);
        if (r->owner_word().load(std::memory_order_relaxed) != owner) continue;
        f(&sh);
        return;
    }
}

bool unit_aligned(const void *p) { return (reinterpret_cast<uintptr_t>(p) & (pc::pal::kRunUnit - 1)) == 0; }

// A small block in its thread's shard; null when the region is used up.
[[gnu::always_inline]] inline void *alloc_in_run(uint32_t rounded, size_t bytes, const char *tag) {
    const unsigned cls = kSlotClasses.class_of(bytes);
    const uint32_t id = my_shard_id();
    Shard &sh = g_shards[id - 1];
    void *payload;
    long held;
    {
        ShardLock lock(sh);
        char *slot = take_slot_locked(sh, id, cls);
        if (slot == nullptr) return nullptr;
        ASAN_UNPOISON_MEMORY_REGION(slot, bytes);
        auto *b = reinterpret_cast<BlockHeader *>(slot);
        init_header(b, rounded, tag);
        payload = b->payload;
        g_runs.run_of(slot)->set_live(payload);
        held = link_locked(sh, b);
    }
    raise_peak(held);
    return payload;
}

// A block from the C library, in the shard of its address.
void *alloc_from_system(uint32_t rounded, const char *tag) {
    auto *raw = static_cast<char *>(std::malloc(block_bytes(rounded)));
    if (raw == nullptr) return nullptr;
    auto *b = reinterpret_cast<BlockHeader *>(raw);
    init_header(b, rounded, tag);
    Shard &sh = shard_of(b->payload);
    long held = -1;
    {
        ShardLock lock(sh);
        if (g_live.insert(b->payload)) held = link_locked(sh, b);
    }
    if (held < 0) {  // out of memory, or an address the map cannot hold
        std::free(raw);
        return nullptr;
    }
    raise_peak(held);
    return b->payload;
}

[[gnu::always_inline]] inline void free_in_run(void *ptr) {
    Run *r = g_runs.run_of(ptr);
    const char *refusal = "not a live block";
    if (unit_aligned(ptr)) {
        with_run_owner(r, [&](Shard *sh) {
            if (sh == nullptr || !r->is_live(ptr)) return;
            if ((refusal = damage_locked(*sh, ptr)) != nullptr) return;  // live: ours to read
            BlockHeader *const b = header_of(ptr);
            char *const slot = reinterpret_cast<char *>(b);
            r->clear_live(ptr);
            unlink_locked(*sh, b);
            poison(b, block_bytes(b->size));
            ASAN_POISON_MEMORY_REGION(slot, kSlotClasses.classes[r->cls].slot_bytes);
            put_slot_locked(*sh, *r, slot);
        });
    }
    if (refusal != nullptr) report_refused(ptr, refusal);
}

void free_from_system(void *ptr) {
    BlockHeader *b = nullptr;
    const char *refusal = nullptr;
    {
        Shard &sh = shard_of(ptr);
        ShardLock lock(sh);
        if (!g_live.erase(ptr)) {
            refusal = "not a live block";
        } else if ((refusal = damage_locked(sh, ptr)) != nullptr) {  // live: its header is ours to read
            g_live.insert(ptr);  // stays live; its granule's bits exist, so this cannot fail
        } else {
            b = header_of(ptr);
            unlink_locked(sh, b);
        }
    }
    if (refusal != nullptr) {
        report_refused(ptr, refusal);
        return;
    }
    poison(b, block_bytes(b->size));
    std::free(b);
}

// The payload size of a live block with a sound header; otherwise null
// and why not.
const char *live_size(void *ptr, uint32_t &size) {
    const char *refusal = "not a live block";
    auto measure = [&](const Shard &sh) {
        if ((refusal = damage_locked(sh, ptr)) == nullptr) size = header_of(ptr)->size;
    };
    if (g_runs.holds(ptr)) {
        if (!unit_aligned(ptr)) return refusal;
        Run *r = g_runs.run_of(ptr);
        with_run_owner(r, [&](Shard *sh) {
            if (sh != nullptr && r->is_live(ptr)) measure(*sh);
        });
        return refusal;
    }
    Shard &sh = shard_of(ptr);
    ShardLock lock(sh);
    if (g_live.contains(ptr)) measure(sh);
    return refusal;
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
    // Without the region every block comes from the C library.
    static const bool region [[maybe_unused]] = g_runs.reserve();
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
    if (const size_t bytes = block_bytes(rounded); bytes <= pc::pal::kMaxSlotBytes) {
        if (void *p = alloc_in_run(rounded, bytes, tag)) return p;
    }
    return alloc_from_system(rounded, tag);
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
        if (const char *refusal = live_size(ptr, old_size)) {
            report_refused(ptr, refusal);
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
    if (g_runs.holds(ptr))
        free_in_run(ptr);
    else
        free_from_system(ptr);
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
