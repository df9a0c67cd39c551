// The allocator's map of live payloads (see live_map.h).
#include "pal/live_map.h"

#include <sys/mman.h>

namespace pc::pal {

namespace {

// Address space only: pages are backed when first written, and a page that
// is only read maps the shared zero page.
void *map_zeroed(size_t bytes) {
    void *p =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

bool LiveBlockMap::init() {
    if (dir() != nullptr) return true;
    constexpr size_t kDirBytes = kGranules * sizeof(Word *);
    auto **fresh = static_cast<Word **>(map_zeroed(kDirBytes));
    if (fresh == nullptr) return false;
    Word **expected = nullptr;
    if (!dir_.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) munmap(fresh, kDirBytes);
    return true;
}

LiveBlockMap::Word *LiveBlockMap::map_granule(uintptr_t granule) {
    auto *bits = static_cast<Word *>(map_zeroed(kUnitsPerGranule / 8));
    if (bits != nullptr) dir()[granule] = bits;
    return bits;
}

}  // namespace pc::pal
