// Power loss during the writes that the switch boots from. A simulated flash
// stops after N sector operations (erase or write); for every N short of the
// operation's total the test asks:
//   boots:    does a boot loader that scans the inner items from the top find
//             an environment that is valid (both image names, every layout
//             variable)?
//   kept:     after the library's own start-up repair, are the settings
//             still those of before or after the operation (not the
//             defaults, not an older copy)?
//   profile:  is the factory profile, byte for byte, the one of before or
//             after the operation?
//   in range: did every erase and write, of the operation and of the
//             repair, stay inside the area and its one erased sector
//             (before or after the operation, whichever reaches lower)?
//   others:   is every item that the operation does not change (types 0 and
//             2 to 7 but the touched ones) still there, byte for byte?
//   touched:  is each item the operation changes either as before or as
//             after it (absent where it was or becomes absent)?
// It prints one row per operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "platform_core/crypto.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "platform_core/profile.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;

int g_budget = -1;                // operations still allowed; negative: no limit
int g_count = 0;                  // operations that reached the device
std::vector<uint32_t> g_touched;  // chip offsets of every erase and write

int recording_hook(int mtd, uint32_t offset, uint32_t, int) {
    if (g_budget == 0) return -1;
    if (g_budget > 0) --g_budget;
    ++g_count;
    g_touched.push_back(pc::test::chip_offset(mtd, offset));
    return 0;
}

uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void put_be32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

class PowerLoss : public pc::test::SimFlashTest {
protected:
    static constexpr uint32_t kTop = FLASH_INNER_AREA_MAX + 2 * FLASH_DFT_SECTOR_SIZE;
    static constexpr unsigned char kNewMac[6] = {0x00, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e};

    void SetUp() override {
        SimFlashTest::SetUp();
        CaptureStdout quiet;
        std::vector<uint8_t> profile(PROFILE_LEN);
        for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(0x5c + i);
        ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, profile.data(), PROFILE_LEN, 0), 0);
        ASSERT_EQ(setEnvItem("MARK", "before"), 0);
        std::vector<uint8_t> extra(3000, 0x3e);
        ASSERT_EQ(flashAppInnerSet(3, extra.data(), 3000, 0), 0);
    }

    std::vector<uint8_t> snapshot() { return chip(kChip - kTop, kTop); }
    void restore(const std::vector<uint8_t> &s) {
        flashMtdSetWriteHook(nullptr);
        ASSERT_EQ(l_eraseFlash(kChip - kTop, kTop, 0), 0);
        ASSERT_EQ(l_writeFlash_noErase(s.data(), static_cast<uint32_t>(s.size()), kChip - kTop, 0), 0);
        restart();
    }

    // The boot loader's view: the first environment item from the top.
    bool boots() {
        uint32_t b = kChip;
        while (b > kChip - FLASH_INNER_AREA_MAX) {
            auto t = chip(b - 12, 12);
            if (be32(t, 8) != FLASH_INNER_KEY) return false;
            uint32_t len = be32(t, 0), type = be32(t, 4);
            if (len == 0 || len > b - 12 - (kChip - FLASH_INNER_AREA_MAX)) return false;
            if (type == FLASH_INNER_TYPE_GEV)
                return len == GEV_CONTENT_LEN && env_valid(chip(b - 12 - len, len));
            b = (b - 12 - len) / kSector * kSector;
        }
        return false;
    }

    static std::map<std::string, std::string> variables(const std::vector<uint8_t> &v) {
        std::map<std::string, std::string> vars;
        for (size_t slot = 0; slot < GEV_ITEM_MAX; ++slot) {
            if (v[GEV_FLAGS_OFFSET + slot] != GEV_FLAG_ACTIVE) continue;
            const char *rec = reinterpret_cast<const char *>(&v[GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN]);
            vars[std::string(rec, strnlen(rec, 255))] = std::string(rec + 256, strnlen(rec + 256, 255));
        }
        return vars;
    }

    static bool env_valid(const std::vector<uint8_t> &v) {
        auto vars = variables(v);
        auto image = [&](const char *n) {
            return vars.count(n) && (vars[n] == "flash:image1.bin" || vars[n] == "flash:image2.bin");
        };
        if (!image("START_IMAGE") || !image("BACKUP_IMAGE")) return false;
        for (const char *n :
             {"START_CONFIG", "BACKUP_CONFIG", "FL_VER", "FL_SIZE_BOOT", "FL_OFFSET_KERNEL", "FL_SIZE_KERNEL",
              "FL_OFFSET_USRIMG1", "FL_SIZE_USRIMG1", "FL_OFFSET_USRIMG2", "FL_SIZE_USRIMG2",
              "FL_OFFSET_USRAPP", "FL_SIZE_USRAPP", "FL_OFFSET_FW_HEAD", "FL_SIZE_FW_HEAD"}) {
            if (!vars.count(n)) return false;
        }
        return true;
    }

    std::vector<uint8_t> profile_now() {
        uint32_t len = 0;
        void *p = flashAppInnerGet(FLASH_INNER_TYPE_PROFILE, &len);
        if (p == nullptr) return {};
        std::vector<uint8_t> v(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + len);
        std::free(p);
        return v;
    }

    // The settings a restarted process finds: MARK's value, "" for none.
    std::string mark_now() {
        char value[GEV_VALUE_LEN];
        return getEnvItem("MARK", value) == 0 ? value : "";
    }

    struct Row {
        std::string op;
        int cuts = 0, booted = 0, kept = 0, profileKept = 0, inRange = 0, othersKept = 0, touchedKept = 0;
        int bootGap = 1;
        int touchedMayGo = 0;
        int touchedClean = 0;  // touched items as before, as after or absent
    };

    struct Case {
        std::string name;
        std::function<void()> prepare;  // brings the chip to the state before
        std::function<int()> op;
        std::vector<std::string> marks;  // MARK values that count as kept ("" for the defaults)
        std::set<uint32_t> touched;      // item types the operation changes (besides the environment)
        // Cuts that may leave the boot loader without an environment: the
        // erase of the one sector the chain runs through; a re-layout that
        // moves items breaks the chain while they move (nothing but the
        // first and last cut is asked of it then).
        int bootGap = 1;
        // A multi-sector item replaced by another multi-sector value: the
        // cuts between the erase of a sector that holds the old value's only
        // copy and the write of the new value's top sector (the range has
        // no room for both values, the journal none for a whole sector of
        // either) may lose it; it never comes back garbled.
        int touchedMayGo = 0;
    };

    // Every item but the environment, by type; a missing type is absent.
    std::map<uint32_t, std::vector<uint8_t>> items_now() {
        std::map<uint32_t, std::vector<uint8_t>> all;
        for (uint32_t type = 0; type < 8; ++type) {
            if (type == FLASH_INNER_TYPE_GEV) continue;
            uint32_t len = 0;
            void *p = flashAppInnerGet(type, &len);
            if (p == nullptr) continue;
            all[type].assign(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + len);
            std::free(p);
        }
        return all;
    }

    using Items = std::map<uint32_t, std::vector<uint8_t>>;
    static bool others_kept(const Case &c, const Items &before, const Items &now) {
        for (uint32_t type = 0; type < 8; ++type) {
            if (c.touched.count(type)) continue;
            auto b = before.find(type), n = now.find(type);
            if ((b == before.end()) != (n == now.end())) return false;
            if (b != before.end() && b->second != n->second) return false;
        }
        return true;
    }
    static bool touched_kept(const Case &c, const Items &before, const Items &after, const Items &now,
                             bool mayGo = false) {
        auto same = [](const Items &a, const Items &b, uint32_t type) {
            auto x = a.find(type), y = b.find(type);
            if (x == a.end() || y == b.end()) return x == a.end() && y == b.end();
            return x->second == y->second;
        };
        for (uint32_t type : c.touched) {
            if (mayGo && now.find(type) == now.end()) continue;
            if (!same(now, before, type) && !same(now, after, type)) return false;
        }
        return true;
    }

    Row run(const Case &c) {
        CaptureStdout quiet;
        c.prepare();
        restart();
        auto before = snapshot();
        // The area before and after a whole run, and the profiles allowed,
        // read without the start-up repair.
        flashAppInnerInit_patch();
        uint32_t edgeBefore = flashInnerEdgeOffset;
        auto profileBefore = profile_now();
        auto itemsBefore = items_now();
        restore(before);
        g_budget = -1;
        g_count = 0;
        flashMtdSetWriteHook(&recording_hook);
        EXPECT_EQ(c.op(), 0) << c.name;
        flashMtdSetWriteHook(nullptr);
        Row row{c.name};
        row.bootGap = c.bootGap;
        row.touchedMayGo = c.touchedMayGo;
        row.cuts = g_count;
        restart();
        flashAppInnerInit_patch();
        uint32_t lowest = std::min(edgeBefore, flashInnerEdgeOffset) - kSector;
        auto profileAfter = profile_now();
        auto itemsAfter = items_now();
        for (int n = 0; n < row.cuts; ++n) {
            restore(before);
            g_touched.clear();
            g_budget = n;
            flashMtdSetWriteHook(&recording_hook);
            c.op();
            g_budget = -1;
            row.booted += boots() ? 1 : 0;
            restart();  // the library's start-up repair runs on first use
            std::string mark = mark_now();
            auto profile = profile_now();
            auto itemsNow = items_now();
            flashMtdSetWriteHook(nullptr);
            row.othersKept += others_kept(c, itemsBefore, itemsNow) ? 1 : 0;
            row.touchedKept += touched_kept(c, itemsBefore, itemsAfter, itemsNow) ? 1 : 0;
            row.touchedClean += touched_kept(c, itemsBefore, itemsAfter, itemsNow, true) ? 1 : 0;
            row.kept += std::count(c.marks.begin(), c.marks.end(), mark) ? 1 : 0;
            row.profileKept += (profile == profileBefore || profile == profileAfter) ? 1 : 0;
            row.inRange += std::all_of(g_touched.begin(), g_touched.end(),
                                       [&](uint32_t at) { return at >= lowest && at < kChip; })
                               ? 1
                               : 0;
        }
        restore(before);
        return row;
    }

    // Writes a raw item (value under its trailer) with its top at boundary.
    void put_raw(uint32_t boundary, uint32_t type, const std::vector<uint8_t> &value) {
        std::vector<uint8_t> t(12);
        put_be32(t, 0, static_cast<uint32_t>(value.size()));
        put_be32(t, 4, type);
        put_be32(t, 8, FLASH_INNER_KEY);
        ASSERT_EQ(l_writeFlash(value.data(), static_cast<unsigned>(value.size()),
                               boundary - 12 - static_cast<uint32_t>(value.size()), 0),
                  0);
        ASSERT_EQ(l_writeFlash(t.data(), 12, boundary - 12, 0), 0);
    }
    std::vector<uint8_t> item(uint32_t type) {
        uint32_t len = 0;
        void *p = flashAppInnerGet(type, &len);
        std::vector<uint8_t> v(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + len);
        std::free(p);
        return v;
    }
    // An environment like the current one with MARK set to value.
    std::vector<uint8_t> env_with_mark(const char *value) {
        std::vector<uint8_t> env = item(FLASH_INNER_TYPE_GEV);
        for (size_t slot = 0; slot < GEV_ITEM_MAX; ++slot) {
            char *rec = reinterpret_cast<char *>(&env[GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN]);
            if (env[GEV_FLAGS_OFFSET + slot] == GEV_FLAG_ACTIVE && std::strcmp(rec, "MARK") == 0) {
                std::memset(rec + 256, 0, 256);
                std::strcpy(rec + 256, value);
            }
        }
        return env;
    }

    static void report(const std::vector<Row> &rows) {
        std::printf("\n%-40s %5s %6s %6s %8s %7s %8s %6s %9s\n", "operation", "cuts", "boots", "kept",
                    "profile", "others", "touched", "clean", "in range");
        for (const auto &r : rows)
            std::printf("%-40s %5d %6d %6d %8d %7d %8d %6d %9d\n", r.op.c_str(), r.cuts, r.booted, r.kept,
                        r.profileKept, r.othersKept, r.touchedKept, r.touchedClean, r.inRange);
        for (const auto &r : rows) {
            // Slot updates never erase: the device boots wherever the power goes.
            if (r.op.rfind("setEnvItem, new", 0) == 0 || r.op.rfind("setEnvItem, changed", 0) == 0) {
                EXPECT_EQ(r.booted, r.cuts) << r.op;
            }
            EXPECT_GE(r.booted, r.bootGap < 0 ? 2 : r.cuts - r.bootGap) << r.op;
            EXPECT_EQ(r.kept, r.cuts) << r.op;
            EXPECT_EQ(r.profileKept, r.cuts) << r.op;
            EXPECT_EQ(r.othersKept, r.cuts) << r.op;
            EXPECT_EQ(r.touchedClean, r.cuts) << r.op;
            EXPECT_GE(r.touchedKept, r.cuts - r.touchedMayGo) << r.op;
            EXPECT_EQ(r.inRange, r.cuts) << r.op;
        }
    }
};

TEST_F(PowerLoss, every_sector_operation_of_the_area_environment_and_profile_writes) {
    const uint32_t p1 = kChip - kSector, p2 = kChip - 2 * kSector, p3 = kChip - 3 * kSector;
    auto nothing = [] {};
    std::vector<Case> cases = {
        {"setEnvItem, new variable", nothing, [] { return setEnvItem("NEWVAR", "1"); }, {"before"}},
        {"setEnvItem, changed value",
         nothing,
         [] { return setEnvItem("MARK", "after"); },
         {"before", "after"}},
        {"setEnvItem, compaction",
         [] {
             uint32_t off = 0;
             flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &off);
             for (int i = 0;; ++i) {
                 std::vector<uint8_t> flags(GEV_ITEM_MAX);
                 l_readFlash(flags.data(), GEV_ITEM_MAX, off + GEV_FLAGS_OFFSET);
                 if (std::count(flags.begin(), flags.end(), GEV_FLAG_BLANK) == 1) break;
                 setEnvItem("CHURN", std::to_string(i).c_str());
             }
         },
         [] { return setEnvItem("MARK", "after"); },
         {"before", "after"}},
        {"flashAppInnerSet, new item",
         nothing,
         [] {
             std::vector<uint8_t> v(5000, 0x77);
             return flashAppInnerSet(4, v.data(), 5000, 0);
         },
         {"before"},
         {4}},
        {"flashAppInnerSet, item grows",
         nothing,
         [] {
             std::vector<uint8_t> v(kSector + 100, 0x78);
             return flashAppInnerSet(3, v.data(), kSector + 100, 0);
         },
         {"before"},
         {3},
         -1},
        {"flashAppInnerUnset", nothing, [] { return flashAppInnerUnset(3); }, {"before"}, {3}},
        {"sysSetMacToFlash", nothing, [] { return sysSetMacToFlash(kNewMac); }, {"before"}, {0}},
        {"profile replace",
         nothing,
         [] {
             std::vector<uint8_t> v(PROFILE_LEN, 0x6d);
             return flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, v.data(), PROFILE_LEN, 0);
         },
         {"before"},
         {0}},
        // [profile][environment][item 3] as an older writer left it: the
        // repair moves the environment below item 3.
        {"start-up repair, env moved down",
         [&] {
             auto env = item(FLASH_INNER_TYPE_GEV), three = item(3);
             ASSERT_EQ(l_eraseFlash(p3, 2 * kSector, 0), 0);
             put_raw(p1, FLASH_INNER_TYPE_GEV, env);
             put_raw(p2, 3, three);
         },
         [] { return flashAppInnerInit(); },
         {"before"}},
        // [environment][profile][item 3]: the profile moves up.
        {"start-up repair, env above profile",
         [&] {
             auto env = item(FLASH_INNER_TYPE_GEV), profile = item(FLASH_INNER_TYPE_PROFILE), three = item(3);
             ASSERT_EQ(l_eraseFlash(p3, 3 * kSector, 0), 0);
             put_raw(kChip, FLASH_INNER_TYPE_GEV, env);
             put_raw(p1, FLASH_INNER_TYPE_PROFILE, profile);
             put_raw(p2, 3, three);
         },
         [] { return flashAppInnerInit(); },
         {"before"}},
        // [profile][item 3], no environment; an older environment lies below
        // the erased sector. The repair writes the defaults.
        {"pre-check, no environment item",
         [&] {
             auto stale = env_with_mark("stale");
             ASSERT_EQ(l_eraseFlash(p3, kSector, 0), 0);
             put_raw(p3, FLASH_INNER_TYPE_GEV, stale);
         },
         [] { return flashAppInnerInit(); },
         {""}},
    };
    std::vector<Row> rows;
    for (const auto &c : cases) rows.push_back(run(c));
    report(rows);
}

// An area with items of several types and sizes: [profile][3: one
// sector][2: two sectors][5: small][environment]. A change to one item moves
// the items below it; a cut at any step must keep every item it moves.
TEST_F(PowerLoss, every_sector_operation_of_a_re_layout_that_moves_other_items) {
    auto pattern = [](uint32_t len, uint8_t seed) {
        std::vector<uint8_t> v(len);
        for (uint32_t i = 0; i < len; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 16));
        return v;
    };
    {
        CaptureStdout quiet;
        auto two = pattern(kSector + 4000, 0x21), five = pattern(100, 0x51);
        ASSERT_EQ(flashAppInnerSet(2, two.data(), static_cast<uint32_t>(two.size()), 0), 0);
        ASSERT_EQ(flashAppInnerSet(5, five.data(), static_cast<uint32_t>(five.size()), 0), 0);
    }
    auto set = [&](uint32_t type, uint32_t len, uint8_t seed) {
        return [=] {
            auto v = pattern(len, seed);
            return flashAppInnerSet(type, v.data(), len, 0);
        };
    };
    const auto initial = snapshot();
    auto set_first = [&](uint32_t type, uint32_t len, uint8_t seed) {
        return [=, this] {
            restore(initial);
            CaptureStdout quiet;
            auto v = pattern(len, seed);
            ASSERT_EQ(flashAppInnerSet(type, v.data(), len, 0), 0);
        };
    };
    auto nothing = [] {};
    std::vector<Case> cases = {
        {"item 3 grows to two sectors", nothing, set(3, kSector + 200, 0x33), {"before"}, {3}},
        {"item 3 removed", nothing, [] { return flashAppInnerUnset(3); }, {"before"}, {3}},
        {"item 2 shrinks to one sector", nothing, set(2, 20000, 0x22), {"before"}, {2}},
        // Item 2 (two sectors) replaced by values too big for the journal:
        // only the cut between the erase and the write of its top sector
        // loses it (both the old and the new top sector are full).
        {"item 2 grows to three sectors", nothing, set(2, 2 * kSector + 300, 0x23), {"before"}, {2}, -1, 1},
        {"item 2 grows to four sectors", nothing, set(2, 3 * kSector + 300, 0x27), {"before"}, {2}, -1, 1},
        {"item 2 replaced, same size", nothing, set(2, kSector + 4000, 0x24), {"before"}, {2}, -1, 1},
        {"item 2 replaced, same span, shorter", nothing, set(2, kSector + 100, 0x28), {"before"}, {2}, -1, 1},
        {"item 2 removed", nothing, [] { return flashAppInnerUnset(2); }, {"before"}, {2}},
        {"new item 4", nothing, set(4, 5000, 0x44), {"before"}, {4}},
        {"flashAppInnerReset",
         nothing,
         [] { return flashAppInnerReset("0x100000", "0x1300000", "0x800000", "0x10500"); },
         {"before", ""},  // the reset removes MARK with the other variables it does not keep
         {2, 3, 5}},
        // [profile][environment][3][2][5] as an older writer left it: the
        // repair moves the environment down and the items below it up.
        {"start-up repair, env above items",
         [&] {
             auto env = item(FLASH_INNER_TYPE_GEV), three = item(3), two = item(2), five = item(5);
             const uint32_t p1 = kChip - kSector;
             ASSERT_EQ(l_eraseFlash(kChip - 7 * kSector, 6 * kSector, 0), 0);
             put_raw(p1, FLASH_INNER_TYPE_GEV, env);
             put_raw(p1 - kSector, 3, three);
             put_raw(p1 - 2 * kSector, 2, two);
             put_raw(p1 - 4 * kSector, 5, five);
         },
         [] { return flashAppInnerInit(); },
         {"before"}},
        // [2][profile][5][environment] (last: it leaves item 3 out): an item
        // written before the profile lies above it; when it grows, the
        // profile moves down.
        {"item 2 above the profile grows",
         [&] {
             auto env = item(FLASH_INNER_TYPE_GEV), profile = item(FLASH_INNER_TYPE_PROFILE), five = item(5);
             ASSERT_EQ(l_eraseFlash(kChip - 7 * kSector, 7 * kSector, 0), 0);
             put_raw(kChip, 2, pattern(3000, 0x25));
             put_raw(kChip - kSector, FLASH_INNER_TYPE_PROFILE, profile);
             put_raw(kChip - 2 * kSector, 5, five);
             put_raw(kChip - 3 * kSector, FLASH_INNER_TYPE_GEV, env);
         },
         set(2, kSector + 200, 0x26),
         {"before"},
         {2}},
        // Last, as they start from the first layout with item 2 grown to
        // three sectors (the upper two full). Shrinking to two frees a
        // sector below the area, which holds the old full middle sector
        // while it is overwritten: only the cut at the top sector's erase
        // loses it. At the same size no sector is free: the cuts from the
        // erase of the middle sector to the write of the top lose it.
        {"item 2 (3 sectors) shrinks to two",
         set_first(2, 2 * kSector + 300, 0x29),
         set(2, kSector + 4000, 0x2a),
         {"before"},
         {2},
         -1,
         1},
        {"item 2 (3 sectors) replaced, same size",
         set_first(2, 2 * kSector + 300, 0x29),
         set(2, 2 * kSector + 300, 0x2b),
         {"before"},
         {2},
         -1,
         3},
    };
    std::vector<Row> rows;
    for (auto &c : cases) {
        c.bootGap = -1;  // every row but the new item moves items the chain runs through
        rows.push_back(run(c));
    }
    report(rows);
}

// A journal as the core wrote it before it described old bytes (no digests
// of them; the replaced one-sector item parked in it): the repair still
// finishes it as it did, keeping the old item where the new value, too large
// for the journal, never got written. Built by hand for item 3 (one sector)
// replaced by a two-sector value, the power cut once the journal was written
// and once after the environment's copy and the journalled sector.
TEST_F(PowerLoss, a_journal_without_old_digests_is_finished_as_before) {
    constexpr uint32_t kJournalKey = 0x55A5A55Au, kJournalMagic = 0x494E524Au, kOldBytes = 0x80000000u,
                       kFillerType = 0xFFFFFF00u;
    const uint32_t s0 = kChip - kSector, s1 = kChip - 2 * kSector, s2 = kChip - 3 * kSector,
                   s3 = kChip - 4 * kSector, journalAt = kChip - 5 * kSector;
    auto md5 = [](const std::vector<uint8_t> &b) {
        std::vector<uint8_t> d(16);
        md5_calc(d.data(), b.data(), static_cast<unsigned>(b.size()));
        return d;
    };
    auto piece = [](std::vector<uint8_t> &body, uint32_t index, const std::vector<uint8_t> &sector) {
        size_t first = 0, last = sector.size();
        while (first < last && sector[first] == 0xff) ++first;
        while (last > first && sector[last - 1] == 0xff) --last;
        for (uint32_t w : {index, static_cast<uint32_t>(first), static_cast<uint32_t>(last - first)}) {
            body.resize(body.size() + 4);
            put_be32(body, body.size() - 4, w);
        }
        body.insert(body.end(), sector.begin() + static_cast<long>(first),
                    sector.begin() + static_cast<long>(last));
    };
    const auto profileBefore = profile_now();
    const auto threeBefore = item(3);
    // The new item 3 in its two sectors, as the rewrite lays it out.
    std::vector<uint8_t> newThree(2 * kSector, 0xff);
    const uint32_t len = kSector + 200;
    std::fill(newThree.end() - 12 - len, newThree.end() - 12, 0x6a);
    put_be32(newThree, 2 * kSector - 12, len);
    put_be32(newThree, 2 * kSector - 8, 3);
    put_be32(newThree, 2 * kSector - 4, FLASH_INNER_KEY);
    const std::vector<uint8_t> newLow(newThree.begin(), newThree.begin() + kSector),
        newTop(newThree.begin() + kSector, newThree.end());
    const auto top = chip(s0, kSector), oldThree = chip(s1, kSector), env = chip(s2, kSector);

    std::vector<uint8_t> body;
    for (uint32_t b : {kChip, s0, s2, s3}) {  // item tops, then the new bottom
        body.resize(body.size() + 4);
        put_be32(body, body.size() - 4, b);
    }
    for (const auto *sector : {&env, &newLow, &newTop, &top}) {  // lowest sector first
        auto d = md5(*sector);
        body.insert(body.end(), d.begin(), d.end());
    }
    piece(body, 1, newLow);
    piece(body, 2 | kOldBytes, oldThree);
    std::vector<uint8_t> journal(kSector, 0xff);
    for (uint32_t i = 0, w[] = {kJournalMagic, 4, 4, 2, static_cast<uint32_t>(body.size())}; i < 5; ++i)
        put_be32(journal, i * 4, w[i]);
    auto bodyDigest = md5(body);
    std::copy(bodyDigest.begin(), bodyDigest.end(), journal.begin() + 20);
    std::copy(body.begin(), body.end(), journal.begin() + 36);
    put_be32(journal, kSector - 4, kJournalKey);

    const auto before = snapshot();
    for (bool copied : {false, true}) {
        SCOPED_TRACE(copied ? "environment copied, low sector written" : "journal written");
        restore(before);
        ASSERT_EQ(l_writeFlash(journal.data(), kSector, journalAt, 0), 0);
        if (copied) {
            ASSERT_EQ(l_writeFlash(env.data(), kSector, s3, 0), 0);
            ASSERT_EQ(l_writeFlash(newLow.data(), kSector, s2, 0), 0);
        }
        restart();
        {
            CaptureStdout quiet;
            EXPECT_EQ(mark_now(), "before");
        }
        EXPECT_EQ(item(3), threeBefore);
        EXPECT_EQ(profile_now(), profileBefore);
        EXPECT_EQ(chip(journalAt, kSector), std::vector<uint8_t>(kSector, 0xff));
        uint32_t fillerLen = 0;
        EXPECT_EQ(flashAppInnerGet(kFillerType, &fillerLen), nullptr);
    }
}

}  // namespace
