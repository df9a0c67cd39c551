// Power loss during the writes that the switch boots from. A simulated flash
// stops after N sector operations (erase or write); for every N short of the
// operation's total the test asks two questions:
//   boots:   does a boot loader that scans the inner items from the top find
//            an environment that is valid (both image names, every layout
//            variable)?
//   kept:    after the library's own start-up repair, are the settings
//            still those of before or after the operation (not the
//            defaults), and is the profile intact?
// It prints one row per operation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "platform_core/profile.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;

int g_budget = -1;  // operations still allowed; negative: no limit

int power_cut_hook(int, uint32_t, uint32_t, int) {
    if (g_budget < 0) return 0;
    if (g_budget == 0) return -1;
    --g_budget;
    return 0;
}

int g_count = 0;
int counting_hook(int, uint32_t, uint32_t, int) {
    ++g_count;
    return 0;
}

uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

class PowerLoss : public pc::test::SimFlashTest {
protected:
    static constexpr uint32_t kTop = FLASH_INNER_AREA_MAX + 2 * FLASH_DFT_SECTOR_SIZE;

    void SetUp() override {
        SimFlashTest::SetUp();
        CaptureStdout quiet;
        std::vector<uint8_t> profile(PROFILE_LEN, 0x5c);
        ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, profile.data(), PROFILE_LEN, 0), 0);
        ASSERT_EQ(setEnvItem("MARK", "before"), 0);
        std::vector<uint8_t> extra(3000, 0x3e);
        ASSERT_EQ(flashAppInnerSet(3, extra.data(), 3000, 0), 0);
    }

    std::vector<uint8_t> snapshot() { return chip(kChip - kTop, kTop); }
    void restore(const std::vector<uint8_t> &s) {
        flashMtdSetWriteHook(nullptr);
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

    static bool env_valid(const std::vector<uint8_t> &v) {
        std::map<std::string, std::string> vars;
        for (size_t slot = 0; slot < GEV_ITEM_MAX; ++slot) {
            if (v[GEV_FLAGS_OFFSET + slot] != GEV_FLAG_ACTIVE) continue;
            const char *rec = reinterpret_cast<const char *>(&v[GEV_SLOTS_OFFSET + slot * GEV_SLOT_LEN]);
            vars[std::string(rec, strnlen(rec, 255))] = std::string(rec + 256, strnlen(rec + 256, 255));
        }
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

    // After a restart and the library's repair.
    bool kept(const std::vector<std::string> &marks) {
        restart();
        char value[GEV_VALUE_LEN];
        if (getEnvItem("MARK", value) != 0) return false;
        bool markOk = false;
        for (const auto &m : marks) markOk = markOk || m == value;
        unsigned char id[16];
        return markOk && sysGetProductId(id) == 0 && id[0] == 0x5c;
    }

    struct Row {
        std::string op;
        int cuts = 0, booted = 0, keptCount = 0;
    };

    Row run(const std::string &name, const std::function<void()> &prepare, const std::function<int()> &op,
            const std::vector<std::string> &marks) {
        CaptureStdout quiet;
        prepare();
        auto before = snapshot();
        // How many sector operations the whole operation takes.
        restart();
        prepare_loaded();
        g_count = 0;
        flashMtdSetWriteHook(&counting_hook);
        EXPECT_EQ(op(), 0) << name;
        flashMtdSetWriteHook(nullptr);
        Row row{name};
        row.cuts = g_count;
        for (int n = 0; n < g_count; ++n) {
            restore(before);
            prepare_loaded();
            g_budget = n;
            flashMtdSetWriteHook(&power_cut_hook);
            op();
            flashMtdSetWriteHook(nullptr);
            g_budget = -1;
            row.booted += boots() ? 1 : 0;
            row.keptCount += kept(marks) ? 1 : 0;
        }
        restore(before);
        return row;
    }

    // What a running process has in memory before it starts the operation.
    void prepare_loaded() {
        char value[GEV_VALUE_LEN];
        getEnvItem("MARK", value);
    }
};

TEST_F(PowerLoss, every_sector_boundary_of_the_boot_critical_writes) {
    std::vector<Row> rows;
    rows.push_back(run(
        "setEnvItem, new variable", [] {}, [] { return setEnvItem("NEWVAR", "1"); }, {"before"}));
    rows.push_back(run(
        "setEnvItem, changed value", [] {}, [] { return setEnvItem("MARK", "after"); }, {"before", "after"}));
    rows.push_back(run(
        "setEnvItem, compaction",
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
        [] { return setEnvItem("MARK", "after"); }, {"before", "after"}));
    rows.push_back(run(
        "flashAppInnerSet, new item", [] {},
        [] {
            std::vector<uint8_t> v(5000, 0x77);
            return flashAppInnerSet(4, v.data(), 5000, 0);
        },
        {"before"}));
    rows.push_back(run(
        "flashAppInnerSet, item grows", [] {},
        [] {
            std::vector<uint8_t> v(kSector + 100, 0x78);
            return flashAppInnerSet(3, v.data(), kSector + 100, 0);
        },
        {"before"}));
    rows.push_back(run(
        "flashAppInnerUnset", [] {}, [] { return flashAppInnerUnset(3); }, {"before"}));

    std::printf("\n%-32s %6s %6s %6s\n", "operation", "cuts", "boots", "kept");
    for (const auto &r : rows)
        std::printf("%-32s %6d %6d %6d\n", r.op.c_str(), r.cuts, r.booted, r.keptCount);
    for (const auto &r : rows) {
        // Slot updates never erase: the device boots and keeps its settings
        // wherever the power goes.
        if (r.op.rfind("setEnvItem, new", 0) == 0 || r.op.rfind("setEnvItem, changed", 0) == 0) {
            EXPECT_EQ(r.booted, r.cuts) << r.op;
        }
        // Elsewhere only the one erase of a sector that holds a live trailer
        // leaves the boot loader without an environment.
        EXPECT_GE(r.booted, r.cuts - 1) << r.op;
        // The library's repair always ends with the settings of before or
        // after the operation.
        EXPECT_EQ(r.keptCount, r.cuts) << r.op;
    }
}

}  // namespace
