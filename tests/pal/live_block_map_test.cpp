// The allocator's map of live payloads, on its own. The map never reads the
// memory an address names, so the addresses here are only numbers, chosen
// at the edges of granules and bitmap words.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pal/live_map.h"

namespace {

using pc::pal::LiveBlockMap;

constexpr uintptr_t kUnit = LiveBlockMap::kUnit;
constexpr uintptr_t kGranule = uintptr_t{1} << LiveBlockMap::kGranuleShift;

const void *at(uintptr_t address) { return reinterpret_cast<const void *>(address); }

TEST(LiveBlockMap, payloads_at_granule_and_word_edges_are_told_apart) {
    LiveBlockMap map;
    ASSERT_TRUE(map.init());
    const uintptr_t base = 5 * kGranule;
    // First and last unit of a granule, the first of the next, and the units
    // on either side of a bitmap word's boundary.
    const uintptr_t word_edge = base + kUnit * sizeof(uintptr_t) * 8;
    const std::vector<uintptr_t> live{base, base + kGranule - kUnit, base + kGranule, word_edge - kUnit,
                                      word_edge};
    for (uintptr_t a : live) ASSERT_TRUE(map.insert(at(a))) << std::hex << a;
    for (uintptr_t a : live) {
        EXPECT_TRUE(map.contains(at(a))) << std::hex << a;
        EXPECT_FALSE(map.contains(at(a + kUnit / 2))) << "misaligned " << std::hex << a;
    }
    // Neighbours that were never inserted, in granules that have a bitmap
    // and in one that never had a payload.
    for (uintptr_t a : {base + kUnit, base + kGranule - 2 * kUnit, word_edge + kUnit, 9 * kGranule})
        EXPECT_FALSE(map.contains(at(a))) << std::hex << a;

    // Erased once, refused the second time; a freed address can live again.
    for (uintptr_t a : live) {
        EXPECT_TRUE(map.erase(at(a))) << std::hex << a;
        EXPECT_FALSE(map.erase(at(a))) << std::hex << a;
        EXPECT_FALSE(map.contains(at(a))) << std::hex << a;
    }
    ASSERT_TRUE(map.insert(at(base)));
    EXPECT_TRUE(map.contains(at(base)));
    EXPECT_FALSE(map.erase(at(base + kUnit / 2)));
    EXPECT_TRUE(map.contains(at(base)));
}

TEST(LiveBlockMap, addresses_it_cannot_hold_are_refused) {
    LiveBlockMap map;
    ASSERT_TRUE(map.init());
    EXPECT_FALSE(map.insert(at(3 * kGranule + 4)));  // not a payload's alignment
    EXPECT_FALSE(map.contains(at(3 * kGranule + 4)));
    if constexpr (sizeof(void *) == 8) {
        const uintptr_t beyond = uintptr_t{1} << 48;  // past the directory
        EXPECT_FALSE(map.insert(at(beyond)));
        EXPECT_FALSE(map.contains(at(beyond)));
        EXPECT_FALSE(map.erase(at(beyond)));
    }
    const uintptr_t top = ~uintptr_t{0} & ~(kUnit - 1);
    EXPECT_FALSE(map.contains(at(top)));
    EXPECT_FALSE(map.erase(at(top)));
}

}  // namespace
