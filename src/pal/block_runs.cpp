// The allocator's region of runs (see block_runs.h).
#include "pal/block_runs.h"

#include <sys/mman.h>

#include "pal/asan_poison.h"

namespace pc::pal {

namespace {

constexpr size_t kWantedBytes = sizeof(void *) == 8 ? size_t{16} << 30 : size_t{64} << 20;
constexpr size_t kLeastBytes = size_t{4} << 20;
// Pooled runs that keep their pages, so a run that empties and fills again
// does not fault its pages in each time.
constexpr size_t kBackedPoolRuns = sizeof(void *) == 8 ? 8 : 4;

}  // namespace

bool RunRegion::reserve() {
    // Address space only: a page is backed when a slot on it is first used.
    for (size_t want = kWantedBytes; want >= kLeastBytes; want /= 2) {
        void *p = mmap(nullptr, want + kRunBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) continue;
        const auto start = reinterpret_cast<uintptr_t>(p);
        base_ = (start + kRunBytes - 1) & ~uintptr_t{kRunBytes - 1};
        bytes_ = want;
        return true;
    }
    return false;
}

Run *RunRegion::take(uint32_t owner, unsigned cls) {
    Run *r = nullptr;
    lock_.lock();
    if (pool_ != nullptr) {
        r = pool_;
        pool_ = r->next;
        --pooled_;
    } else if (bytes_ - carved_ >= kRunBytes) {
        r = reinterpret_cast<Run *>(base_ + carved_);
        carved_ += kRunBytes;
    }
    lock_.unlock();
    if (r == nullptr) return nullptr;
    // The live map is clear: a fresh run is all zero, a pooled one was
    // emptied before it was given back. Under the address sanitizer, slots
    // are open only while handed out.
    const SlotClass &c = kSlotClasses.classes[cls];
    ASAN_UNPOISON_MEMORY_REGION(r->base(), c.first_unit * kRunUnit);
    ASAN_POISON_MEMORY_REGION(r->base() + c.first_unit * kRunUnit, kRunBytes - c.first_unit * kRunUnit);
    r->cls = static_cast<uint16_t>(cls);
    r->fresh = 0;
    r->free_count = 0;
    r->live = 0;
    r->listed = false;
    r->prev = r->next = nullptr;
    r->owner_word().store(owner, std::memory_order_release);
    return r;
}

void RunRegion::give_back(Run *r) {
    r->owner_word().store(0, std::memory_order_release);
    lock_.lock();
    const bool keep_backed = pooled_ < kBackedPoolRuns;
    lock_.unlock();
    // Beyond a few, pooled runs give their pages back to the system; the
    // run then reads as never carved (owner 0, live map clear) until taken.
    if (!keep_backed) madvise(r, kRunBytes, MADV_DONTNEED);
    lock_.lock();
    r->next = pool_;
    pool_ = r;
    ++pooled_;
    lock_.unlock();
}

}  // namespace pc::pal
