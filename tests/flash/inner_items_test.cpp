// The inner item area: repair on first use, create, replace, remove, the
// environment kept lowest, the profile's protected fields, lying trailers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "platform_core/firmware.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;
using pc::test::WriteCounter;
using pc::test::WriteRecorder;

struct Trailer {
    uint32_t len, type, key;
};

class InnerItems : public pc::test::SimFlashTest {
protected:
    Trailer trailer_at(uint32_t boundary) {
        auto b = chip(boundary - 12, 12);
        auto be = [&](int i) {
            return uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3];
        };
        return {be(0), be(4), be(8)};
    }
    // Writes a raw item (value and trailer) with its top at boundary.
    void put_raw(uint32_t boundary, uint32_t type, const std::vector<uint8_t> &value,
                 uint32_t claimedLen = 0) {
        uint32_t len = claimedLen ? claimedLen : static_cast<uint32_t>(value.size());
        std::vector<uint8_t> t = {uint8_t(len >> 24),
                                  uint8_t(len >> 16),
                                  uint8_t(len >> 8),
                                  uint8_t(len),
                                  uint8_t(type >> 24),
                                  uint8_t(type >> 16),
                                  uint8_t(type >> 8),
                                  uint8_t(type),
                                  0xaa,
                                  0x55,
                                  0xaa,
                                  0x55};
        ASSERT_EQ(l_writeFlash(value.data(), static_cast<unsigned>(value.size()),
                               boundary - 12 - static_cast<uint32_t>(value.size()), 0),
                  0);
        ASSERT_EQ(l_writeFlash(t.data(), 12, boundary - 12, 0), 0);
    }
    std::vector<uint8_t> get(uint32_t type) {
        uint32_t len = 0;
        void *p = flashAppInnerGet(type, &len);
        if (p == nullptr) return {};
        std::vector<uint8_t> v(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + len);
        std::free(p);
        return v;
    }
    uint32_t offset_of(uint32_t type) {
        uint32_t off = 0;
        return flashAppInnerGetOffset(type, &off) == 0 ? off : 0;
    }
};

TEST_F(InnerItems, blank_chip_gets_the_default_environment_on_top) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    Trailer t = trailer_at(kChip);
    EXPECT_EQ(t.key, FLASH_INNER_KEY);
    EXPECT_EQ(t.type, FLASH_INNER_TYPE_GEV);
    EXPECT_EQ(t.len, static_cast<uint32_t>(GEV_CONTENT_LEN));
    EXPECT_EQ(flashInnerEdgeOffset, kChip - kSector);
    EXPECT_EQ(offset_of(1), kChip - kSector);
    EXPECT_EQ(chip(kChip - 2 * kSector, kSector), std::vector<uint8_t>(kSector, 0xff));
    uint32_t first = 0, last = 0;
    EXPECT_EQ(flashAppInnerEnum(&first, &last), 5);
    EXPECT_EQ(first, 2u);
    EXPECT_EQ(last, 5u);
}

TEST_F(InnerItems, create_replace_remove_keep_the_environment_lowest) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> env = get(1);
    std::vector<uint8_t> a(100, 0xa1), b(kSector, 0xb2);  // b takes two sectors
    ASSERT_EQ(flashAppInnerSet(2, a.data(), static_cast<uint32_t>(a.size()), 0), 0);
    ASSERT_EQ(flashAppInnerSet(3, b.data(), static_cast<uint32_t>(b.size()), 0), 0);
    // Each new item goes directly above the environment: 2, 3, env.
    EXPECT_EQ(trailer_at(kChip).type, 2u);
    EXPECT_EQ(trailer_at(kChip - kSector).type, 3u);
    EXPECT_EQ(trailer_at(kChip - 3 * kSector).type, 1u);
    EXPECT_EQ(flashAppInnerInit(), 0);
    EXPECT_EQ(flashInnerEdgeOffset, kChip - 4 * kSector);
    EXPECT_EQ(offset_of(2), kChip - 12 - 100);
    EXPECT_EQ(get(3), b);
    EXPECT_EQ(get(1), env);

    // Replace 3 with a one-sector value: everything below moves up.
    std::vector<uint8_t> b2(10, 0xb3);
    ASSERT_EQ(flashAppInnerSet(3, b2.data(), static_cast<uint32_t>(b2.size()), 0), 0);
    EXPECT_EQ(get(3), b2);
    EXPECT_EQ(get(2), a);
    EXPECT_EQ(get(1), env);
    EXPECT_EQ(offset_of(1), kChip - 3 * kSector);
    EXPECT_EQ(chip(kChip - 4 * kSector, kSector), std::vector<uint8_t>(kSector, 0xff));

    // Remove the top item.
    ASSERT_EQ(flashAppInnerUnset(2), 0);
    EXPECT_TRUE(get(2).empty());
    EXPECT_EQ(trailer_at(kChip).type, 3u);
    EXPECT_EQ(get(1), env);
    EXPECT_EQ(chip(kChip - 3 * kSector, kSector), std::vector<uint8_t>(kSector, 0xff));
    {
        WriteCounter count;
        EXPECT_EQ(flashAppInnerUnset(5), 0);  // absent: nothing written
        EXPECT_EQ(count.erases + count.writes, 0);
    }
}

TEST_F(InnerItems, value_of_a_sector_less_the_trailer_fits_one_sector) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> exact(kSector - 12, 1), over(kSector - 11, 2);
    ASSERT_EQ(flashAppInnerSet(2, exact.data(), static_cast<uint32_t>(exact.size()), 0), 0);
    ASSERT_EQ(flashAppInnerInit(), 0);
    EXPECT_EQ(flashInnerEdgeOffset, kChip - 2 * kSector);
    ASSERT_EQ(flashAppInnerSet(2, over.data(), static_cast<uint32_t>(over.size()), 0), 0);
    ASSERT_EQ(flashAppInnerInit(), 0);
    EXPECT_EQ(flashInnerEdgeOffset, kChip - 3 * kSector);
    EXPECT_EQ(get(2), over);
}

TEST_F(InnerItems, profile_rewrite_keeps_mac_keys_and_device_id) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> first(812, 0x10), second(812, 0x20);
    ASSERT_EQ(flashAppInnerSet(0, first.data(), 812, 0), 0);
    ASSERT_EQ(flashAppInnerSet(0, second.data(), 812, 0), 0);
    std::vector<uint8_t> want = second;
    std::fill(want.begin(), want.begin() + 384, 0x10);
    std::fill(want.begin() + 724, want.begin() + 764, 0x10);
    EXPECT_EQ(get(0), want);
    // A shorter new value keeps what overlaps and reads nothing beyond.
    std::vector<uint8_t> shortValue(100, 0x30);
    ASSERT_EQ(flashAppInnerSet(0, shortValue.data(), 100, 0), 0);
    EXPECT_EQ(get(0), std::vector<uint8_t>(100, 0x10));
}

// Identity pages and the CLI read items from several RPC workers at once
// while a write or a re-scan refills the cached list.
TEST_F(InnerItems, readers_on_several_threads_see_whole_items_while_the_list_is_rescanned) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> profile(812, 0x5a);
    ASSERT_EQ(flashAppInnerSet(0, profile.data(), 812, 0), 0);
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                uint32_t len = 0, off = 0;
                void *p = flashAppInnerGet(0, &len);
                if (p == nullptr || len != 812 || static_cast<uint8_t *>(p)[500] != 0x5a) ++bad;
                std::free(p);
                if (flashAppInnerGetOffset(0, &off) != 0) ++bad;
            }
        });
    for (int i = 0; i < 100; ++i) ASSERT_EQ(flashAppInnerInit_patch(), 0);
    for (auto &r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(InnerItems, precheck_moves_the_environment_to_the_bottom) {
    // Environment on top, item 2 of two sectors below it.
    std::vector<uint8_t> env(GEV_CONTENT_LEN);
    ASSERT_EQ(getDftGevContent(env.data(), GEV_CONTENT_LEN), 0);
    put_raw(kChip, 1, env);
    std::vector<uint8_t> two(kSector + 5, 0x42);
    put_raw(kChip - kSector, 2, two);
    ASSERT_EQ(flashAppInnerInit(), 0);
    EXPECT_EQ(trailer_at(kChip).type, 2u);
    EXPECT_EQ(trailer_at(kChip - 2 * kSector).type, 1u);
    EXPECT_EQ(get(2), two);
    EXPECT_EQ(get(1), env);
    EXPECT_EQ(flashInnerEdgeOffset, kChip - 3 * kSector);
}

TEST_F(InnerItems, lying_lengths_end_the_scan) {
    std::vector<uint8_t> env(GEV_CONTENT_LEN);
    ASSERT_EQ(getDftGevContent(env.data(), GEV_CONTENT_LEN), 0);
    put_raw(kChip, 2, std::vector<uint8_t>(16, 7));
    // Claims more than the whole area below it.
    put_raw(kChip - kSector, 3, std::vector<uint8_t>(16, 8), 0xfffffff0u);
    ASSERT_EQ(flashAppInnerInit_patch(), 0);
    EXPECT_EQ(flashInnerEdgeOffset, kChip - kSector);
    EXPECT_TRUE(get(3).empty());
    EXPECT_EQ(get(2), std::vector<uint8_t>(16, 7));
}

TEST_F(InnerItems, area_full_is_refused_without_writing) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> big(FLASH_INNER_AREA_MAX - 2 * kSector - 12, 1);  // env + this + blank = 3 MiB
    ASSERT_EQ(flashAppInnerSet(2, big.data(), static_cast<uint32_t>(big.size()), 0), 0);
    WriteCounter count;
    CaptureStdout out;
    std::vector<uint8_t> more(10, 2);
    EXPECT_EQ(flashAppInnerSet(3, more.data(), 10, 0), -1);
    EXPECT_EQ(count.erases + count.writes, 0);
    EXPECT_NE(out.text().find("inner area is full"), std::string::npos);
}

TEST_F(InnerItems, reset_keeps_profile_and_environment) {
    ASSERT_EQ(flashAppInnerInit(), 0);
    std::vector<uint8_t> v(20, 3);
    for (uint32_t type : {0u, 2u, 4u}) ASSERT_EQ(flashAppInnerSet(type, v.data(), 20, 0), 0);
    CaptureStdout out;
    EXPECT_EQ(flashAppInnerReset(nullptr, "a", "b", "c"), -1);
    ASSERT_EQ(flashAppInnerReset("0x100000", "0x1300000", "0x800000", "0x10500"), 0);
    EXPECT_FALSE(get(0).empty());
    EXPECT_TRUE(get(2).empty());
    EXPECT_TRUE(get(4).empty());
    char value[GEV_VALUE_LEN];
    EXPECT_EQ(getEnvItem("FL_OFFSET_FW_HEAD", value), -1);  // not among the kept variables
    EXPECT_EQ(getEnvItem("FL_VER", value), 0);
    EXPECT_EQ(flashAppInnerSet(2, nullptr, 1, 0), -1);
    EXPECT_EQ(flashAppInnerSet(2, v.data(), 0, 0), -1);
}

// A change that needs an erase writes the area and its one erased sector and
// nothing else: below the area lie the firmware head copies (image 1 at
// 0x1ec0000, image 2 two sectors higher).
TEST_F(InnerItems, writes_stay_inside_the_area_and_its_erased_sector) {
    constexpr uint32_t kHead1 = 0x1ec0000, kHead2 = kHead1 + 2 * kSector;
    const struct {
        uint32_t sectors;    // of the new item
        bool head2Survives;  // image 2's head copy lies below the new area
    } cases[] = {{14, true}, {16, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sectors);
        ASSERT_EQ(
            l_eraseFlash(kChip - FLASH_INNER_AREA_MAX - 4 * kSector, FLASH_INNER_AREA_MAX + 4 * kSector, 0),
            0);
        restart();
        std::vector<uint8_t> profile(812, 0x21);
        ASSERT_EQ(flashAppInnerSet(0, profile.data(), 812, 0), 0);  // [profile][environment]
        std::vector<uint8_t> head(FW_HEAD_COPY_LEN, 0);
        std::memcpy(head.data() + 4, axHeaderMagicNumber, FW_MAGIC_LEN);
        ASSERT_EQ(l_writeFlash(head.data(), FW_HEAD_COPY_LEN, kHead1, 0), 0);
        ASSERT_EQ(l_writeFlash(head.data(), FW_HEAD_COPY_LEN, kHead2, 0), 0);
        ASSERT_EQ(localInfoRead(2), 0);

        std::vector<uint8_t> value(c.sectors * kSector - 12, 0x99);
        WriteRecorder writes;
        ASSERT_EQ(flashAppInnerSet(2, value.data(), static_cast<uint32_t>(value.size()), 0), 0);
        // Profile, the new item and the environment, then the erased sector.
        const uint32_t erased = kChip - (c.sectors + 3) * kSector;
        EXPECT_GE(writes.lowest(), erased);
        EXPECT_EQ(chip(erased, kSector), std::vector<uint8_t>(kSector, 0xff));
        EXPECT_EQ(chip(kHead1, FW_HEAD_COPY_LEN), head);
        EXPECT_EQ(localInfoRead(1), 0);
        if (c.head2Survives) {
            EXPECT_EQ(chip(kHead2, FW_HEAD_COPY_LEN), head);
            EXPECT_EQ(localInfoRead(2), 0);
        }
        EXPECT_EQ(get(2), value);
        // Removing it again writes no lower than the erased sector either.
        WriteRecorder removal;
        ASSERT_EQ(flashAppInnerUnset(2), 0);
        EXPECT_GE(removal.lowest(), erased);
        EXPECT_EQ(chip(kHead1, FW_HEAD_COPY_LEN), head);
        EXPECT_EQ(get(0), profile);
    }
}

// The start-up repair takes a recovery copy only where an interrupted
// rewrite puts one: an in-place copy in the area's own erased sector (below
// the chain, or below the chain continued under the one sector the rewrite
// erased), a move copy only when it holds a whole environment. A sector of
// the partitions below the area that ends with a copy key is never written.
TEST_F(InnerItems, start_up_repair_takes_copies_only_where_a_rewrite_puts_them) {
    constexpr uint32_t kInPlace = 0x5AA55AA5u, kMove = 0xA55AA55Au;
    const uint32_t profileLow = kChip - kSector, envLow = kChip - 2 * kSector, erased = kChip - 3 * kSector;
    std::vector<uint8_t> profile(812, 0x21), env, otherProfile(812, 0x42);
    // [profile][environment][erased sector] and the values to copy.
    auto fresh = [&] {
        CaptureStdout quiet;
        ASSERT_EQ(l_eraseFlash(kChip - FLASH_INNER_AREA_MAX, FLASH_INNER_AREA_MAX, 0), 0);
        restart();
        ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, profile.data(), 812, 0), 0);
        env = get(FLASH_INNER_TYPE_GEV);
        restart();
    };
    auto put_copy = [&](uint32_t boundary, uint32_t type, const std::vector<uint8_t> &value, uint32_t key,
                        uint32_t claimedLen = 0) {
        put_raw(boundary, type, value, claimedLen);
        const uint8_t k[4] = {uint8_t(key >> 24), uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)};
        ASSERT_EQ(l_writeFlash(k, 4, boundary - 4, 0), 0);
    };
    auto changed_env = [&] {
        std::vector<uint8_t> e = env;
        e[GEV_FLAGS_OFFSET + GEV_ITEM_MAX - 1] = GEV_FLAG_INACTIVE;
        return e;
    };

    // Sectors of other partitions (ax_head and usrapp lie within 3 MiB of
    // the top): each must come through the repair byte for byte, and the
    // area as it was.
    const uint32_t below = kChip - 4 * kSector, axHead = kChip - 17 * kSector, usrapp = kChip - 40 * kSector;
    const struct {
        const char *what;
        uint32_t at, type, key, claimedLen;
        bool envValue;
    } foreign[] = {
        {"in place, item 3, under the erased sector", below, 3, kInPlace, 0, false},
        {"in place, environment, under the erased sector", below, 1, kInPlace, 0, true},
        {"in place, item 3, in usrapp", usrapp, 3, kInPlace, 0, false},
        {"in place, lying length, in ax_head", axHead, 3, kInPlace, 0x20000, false},
        {"move, not an environment, in usrapp", usrapp, 2, kMove, 0, false},
        {"move, environment of a wrong length, in ax_head", axHead, 1, kMove, 100, false},
    };
    for (const auto &f : foreign) {
        SCOPED_TRACE(f.what);
        fresh();
        std::vector<uint8_t> value = f.envValue ? changed_env() : std::vector<uint8_t>(100, 0x3c);
        std::vector<uint8_t> other(kSector, 0x5d);
        ASSERT_EQ(l_writeFlash(other.data(), kSector, f.at, 0), 0);
        put_copy(f.at + kSector, f.type, value, f.key, f.claimedLen);
        auto before = chip(f.at, kSector);
        {
            CaptureStdout quiet;
            ASSERT_EQ(flashAppInnerInit(), 0);
        }
        EXPECT_EQ(chip(f.at, kSector), before);
        EXPECT_EQ(get(FLASH_INNER_TYPE_GEV), env);
        EXPECT_EQ(get(FLASH_INNER_TYPE_PROFILE), profile);
        EXPECT_EQ(get(3), std::vector<uint8_t>{});
        EXPECT_EQ(flashInnerEdgeOffset, envLow);
    }

    // Copies that a cut rewrite left: used, then erased.
    const struct {
        const char *what;
        uint32_t wipe;  // the sector the rewrite had erased, or 0
        uint32_t at, type, key;
        bool wantNewEnv, wantOtherProfile;
    } real[] = {
        {"in place, environment, chain whole", 0, erased, 1, kInPlace, true, false},
        {"in place, environment erased", envLow, erased, 1, kInPlace, true, false},
        {"in place, profile erased above the environment", profileLow, erased, 0, kInPlace, false, true},
        {"move, environment erased", envLow, erased, 1, kMove, true, false},
    };
    for (const auto &r : real) {
        SCOPED_TRACE(r.what);
        fresh();
        if (r.wipe != 0) {
            ASSERT_EQ(l_eraseFlash(r.wipe, kSector, 0), 0);
        }
        put_copy(r.at + kSector, r.type, r.type == 0 ? otherProfile : changed_env(), r.key);
        {
            CaptureStdout quiet;
            ASSERT_EQ(flashAppInnerInit(), 0);
        }
        EXPECT_EQ(get(FLASH_INNER_TYPE_GEV), r.wantNewEnv ? changed_env() : env);
        EXPECT_EQ(get(FLASH_INNER_TYPE_PROFILE), r.wantOtherProfile ? otherProfile : profile);
        EXPECT_EQ(flashInnerEdgeOffset, envLow);
        EXPECT_EQ(chip(erased, kSector), std::vector<uint8_t>(kSector, 0xff));
    }
}

// Without an environment item the pre-check writes the defaults: an older
// environment left anywhere below the area never comes back.
TEST_F(InnerItems, a_missing_environment_comes_back_as_the_defaults) {
    {
        CaptureStdout quiet;
        ASSERT_EQ(flashAppInnerInit(), 0);
        ASSERT_EQ(setStartUpIndex(2), 0);
        ASSERT_EQ(setEnvItem("OLDVAR", "stale2"), 0);
        std::vector<uint8_t> three(3000, 3);
        ASSERT_EQ(flashAppInnerSet(3, three.data(), 3000, 0), 0);
        ASSERT_EQ(flashAppInnerUnset(3), 0);
        ASSERT_EQ(setEnvItem("OLDVAR", "current"), 0);
        ASSERT_EQ(flashAppInnerUnset(FLASH_INNER_TYPE_GEV), 0);
        restart();
    }
    char value[GEV_VALUE_LEN];
    EXPECT_EQ(getEnvItem("OLDVAR", value), -1) << value;
    EXPECT_EQ(getStartUpIndex(), 1);

    // An environment item below the erased sector, as older writers left
    // their staging copies, is not taken either.
    std::vector<uint8_t> env = get(1);
    {
        CaptureStdout quiet;
        ASSERT_EQ(flashAppInnerUnset(FLASH_INNER_TYPE_GEV), 0);
        put_raw(kChip - 2 * kSector, FLASH_INNER_TYPE_GEV, env);
        ASSERT_EQ(setEnvItem("FRESH", "1"), 0);  // the defaults, written on first use
        restart();
    }
    EXPECT_EQ(getEnvItem("FRESH", value), 0);
    EXPECT_EQ(offset_of(1), kChip - 12 - GEV_CONTENT_LEN);
}

}  // namespace
