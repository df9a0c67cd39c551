// The boot environment: defaults, slot updates, compaction, limits,
// validity reset and the layout record read from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;

class Gev : public pc::test::SimFlashTest {
protected:
    std::string get(const char *name) {
        char v[GEV_VALUE_LEN];
        return getEnvItem(name, v) == 0 ? std::string(v) : std::string("<absent>");
    }
    std::vector<uint8_t> flags() {
        uint32_t off = 0;
        EXPECT_EQ(flashAppInnerGetOffset(FLASH_INNER_TYPE_GEV, &off), 0);
        return chip(off + GEV_FLAGS_OFFSET, GEV_ITEM_MAX);
    }
    int count_flags(uint8_t v) {
        auto f = flags();
        return static_cast<int>(std::count(f.begin(), f.end(), v));
    }
};

TEST_F(Gev, fresh_chip_has_the_default_table) {
    EXPECT_EQ(get("START_IMAGE"), "flash:image1.bin");
    EXPECT_EQ(get("FL_OFFSET_USRAPP"), "0x1b00000");
    EXPECT_EQ(get("NEED_CHECK_FW_HEAD"), "1");
    EXPECT_EQ(get("NO_SUCH"), "<absent>");
    EXPECT_EQ(count_flags(GEV_FLAG_ACTIVE), 18);
    CaptureStdout out;
    ASSERT_EQ(printEnvItems(), 0);
    std::string text = out.text();
    EXPECT_EQ(text.rfind("Global environment variables:\r\n\t1 , START_CONFIG=flash:config1.cfg\r\n", 0), 0u);
    EXPECT_NE(text.find("\t18, NEED_CHECK_FW_HEAD=1\r\n\r\n"), std::string::npos);
    // The distribution record follows the environment.
    EXPECT_EQ(flashGetUsrAppOffset(), 0x1b00000);
    EXPECT_EQ(flashGetUsrImgOffset(2), 0x100000);
    EXPECT_EQ(flashGetAxHeadOffset(), 0x1ec0000);
    EXPECT_EQ(flashGetFlVer(), 0x10500);
    // The long form that refreshFlash stores reads the same on every build
    // (a 32-bit long would saturate it).
    ASSERT_EQ(setEnvItem("FL_VER", "0x010300010000"), 0);
    EXPECT_EQ(flashGetFlVer(), 0x10000);
}

TEST_F(Gev, changing_a_value_takes_new_slots_and_retires_the_old) {
    ASSERT_EQ(setEnvItem("FOO", "1"), 0);
    ASSERT_EQ(setEnvItem("FOO", "2"), 0);
    ASSERT_EQ(setEnvItem("FOO", "2"), 0);  // same value: nothing written
    auto f = flags();
    EXPECT_EQ(f[18], GEV_FLAG_INACTIVE);
    EXPECT_EQ(f[19], GEV_FLAG_ACTIVE);
    EXPECT_EQ(f[20], GEV_FLAG_BLANK);
    restart();
    EXPECT_EQ(get("FOO"), "2");
    ASSERT_EQ(delEnvItem("FOO"), 0);
    EXPECT_EQ(delEnvItem("FOO"), 0);  // absent: a warning, success
    restart();
    EXPECT_EQ(get("FOO"), "<absent>");
    EXPECT_EQ(copyEnvItem("BAR", "START_CONFIG"), 0);
    EXPECT_EQ(get("BAR"), "flash:config1.cfg");
}

TEST_F(Gev, name_and_value_lengths) {
    const std::string n255(255, 'n'), n256(256, 'n');
    EXPECT_EQ(setEnvItem(n256.c_str(), "v"), -1);
    EXPECT_EQ(setEnvItem("X", n256.c_str()), -1);
    EXPECT_EQ(setEnvItem("", "v"), -1);
    EXPECT_EQ(setEnvItem("X", ""), -1);
    ASSERT_EQ(setEnvItem(n255.c_str(), n255.c_str()), 0);
    restart();
    EXPECT_EQ(get(n255.c_str()), n255);
}

TEST_F(Gev, last_blank_slot_compacts_and_the_limit_holds) {
    // 18 defaults; churn one variable until the slots run out.
    for (int i = 0; count_flags(GEV_FLAG_BLANK) > 1; ++i) {
        ASSERT_EQ(setEnvItem("CHURN", std::to_string(i).c_str()), 0);
    }
    ASSERT_EQ(setEnvItem("CHURN", "last"), 0);  // takes the last blank slot
    EXPECT_EQ(count_flags(GEV_FLAG_ACTIVE), 19);
    EXPECT_EQ(count_flags(GEV_FLAG_BLANK), GEV_ITEM_MAX - 19);
    EXPECT_EQ(count_flags(GEV_FLAG_INACTIVE), 0);
    restart();
    EXPECT_EQ(get("CHURN"), "last");
    EXPECT_EQ(get("START_IMAGE"), "flash:image1.bin");

    // Fill up to 126 variables; the 127th is refused.
    for (int i = 19; i < GEV_ITEM_MAX; ++i) {
        ASSERT_EQ(setEnvItem(("V" + std::to_string(i)).c_str(), "x"), 0) << i;
    }
    CaptureStdout out;
    EXPECT_EQ(setEnvItem("ONE_TOO_MANY", "x"), -1);
    // Every slot now holds a live variable: a change has nowhere to go.
    EXPECT_EQ(setEnvItem("V20", "y"), -1);
    std::string text = out.text();
    EXPECT_NE(text.find("126 items at most"), std::string::npos);
    EXPECT_NE(text.find("Fatal error: Can't find a blank gev.\r\n"), std::string::npos);
    restart();
    EXPECT_EQ(get("V125"), "x");
    EXPECT_EQ(get("V20"), "x");
}

TEST_F(Gev, invalid_start_image_resets_the_table) {
    ASSERT_EQ(setEnvItem("MINE", "1"), 0);
    ASSERT_EQ(setEnvItem("START_IMAGE", "flash:image3.bin"), 0);
    restart();
    CaptureStdout out;
    EXPECT_EQ(get("START_IMAGE"), "flash:image1.bin");
    EXPECT_EQ(get("MINE"), "<absent>");
    EXPECT_NE(out.text().find("Gev is not valid, and The gev will be reset.\r\n"), std::string::npos);
}

TEST_F(Gev, start_up_index_and_update) {
    EXPECT_EQ(getStartUpIndex(), 1);
    EXPECT_EQ(setStartUpIndex(3), -1);
    EXPECT_EQ(getStartUpIndex(), 1);
    ASSERT_EQ(setStartUpIndex(2), 0);
    EXPECT_EQ(getStartUpIndex(), 2);
    EXPECT_EQ(get("BACKUP_IMAGE"), "flash:image1.bin");
    ASSERT_EQ(setEnvItem("EXTRA", "1"), 0);
    ASSERT_EQ(updateGevItem(), 0);
    EXPECT_EQ(get("EXTRA"), "<absent>");
    EXPECT_EQ(get("NEED_CHECK_FW_HEAD"), "<absent>");
    EXPECT_EQ(get("FL_SIZE_FW_HEAD"), "<absent>");
    EXPECT_EQ(get("START_IMAGE"), "flash:image2.bin");
}

TEST_F(Gev, boot_parameter_block_round_trip) {
    std::vector<unsigned char> block(GEV_BOOT_PARAM_LEN), back(GEV_BOOT_PARAM_LEN);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(sysSetBootToFlash(block.data()), 0);
    restart();
    ASSERT_EQ(sysGetBootFromFlash(back.data()), 0);
    EXPECT_EQ(back, block);
    EXPECT_EQ(get("START_IMAGE"), "flash:image1.bin");
}

TEST_F(Gev, short_environment_item_is_replaced_by_the_default) {
    std::vector<uint8_t> stub(100, 0);
    ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_GEV, stub.data(), 100, 0), 0);
    restart();
    CaptureStdout out;
    EXPECT_EQ(get("START_IMAGE"), "flash:image1.bin");
    uint32_t len = 0;
    free(flashAppInnerGet(FLASH_INNER_TYPE_GEV, &len));
    EXPECT_EQ(len, static_cast<uint32_t>(GEV_CONTENT_LEN));
}

}  // namespace
