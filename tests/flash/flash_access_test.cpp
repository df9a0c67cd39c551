// Sector and partition arithmetic, read-modify-write, the mtdparts map and
// the security code service on the simulated flash.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "platform_core/flash.h"
#include "platform_sim/sim_flash.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;
using pc::test::WriteCounter;

class FlashAccess : public pc::test::SimFlashTest {};

TEST_F(FlashAccess, mtdparts_sizes_and_partition_addresses) {
    const std::pair<const char *, int> sizes[] = {
        {"boot", 0xe0000}, {"env", 0x20000},     {"usrimg2", 0x900000}, {"usrimg1", 0x900000},
        {"sys", 0x800000}, {"usrapp", 0x3c0000}, {"ax_head", 0x40000},  {"para", 0x100000},
    };
    for (const auto &[name, size] : sizes) EXPECT_EQ(sysGetMtdpartsInfo(name), size) << name;
    const std::pair<const char *, int> addrs[] = {{"usrimg2", 0x100000}, {"env", -1},
                                                  {"usrimg1", 0xa00000}, {"sys", 0x1300000},
                                                  {"usrapp", 0x1b00000}, {"para", 0x1f00000}};
    for (const auto &[name, addr] : addrs) {
        CaptureStdout out;
        EXPECT_EQ(sysGetFlAddr(name), addr) << name;
        if (addr == -1) {
            EXPECT_EQ(out.text(), "error input\n");
        }
    }
}

TEST_F(FlashAccess, mtdparts_text_rules) {
    ASSERT_EQ(simFlashWriteBootEnv(dir_.c_str(), "mtdparts=spi0.0:2M(boot),512K(env),7(usrimg2),3M(sys)"), 0);
    restart();
    EXPECT_EQ(sysGetMtdpartsInfo("boot"), 0xe0000);  // whatever the text says
    EXPECT_EQ(sysGetMtdpartsInfo("env"), 524288);
    EXPECT_EQ(sysGetMtdpartsInfo("usrimg2"), 0);  // no K or M suffix
    CaptureStdout out;
    EXPECT_EQ(sysGetMtdpartsInfo("usrapp"), 0);
    EXPECT_EQ(out.text(), "strstr return NULL!\n");

    std::filesystem::remove(dir_ + "/mtd1");
    restart();
    EXPECT_EQ(sysGetMtdpartsInfo("env"), -1);
}

TEST_F(FlashAccess, sector_translation) {
    struct Case {
        int sector;
        unsigned off;
        int rc, mtd;
        unsigned mtdOffset;
    } cases[] = {
        {0, 0x10, 0, 0, 0x10},   {13, 0xffff, 0, 0, 0xdffff}, {14, 0, 0, 1, 0},
        {16, 0x20, 0, 2, 0x20},  {159, 0, 0, 2, 0x8f0000},    {160, 0, 0, 3, 0},
        {511, 5, 0, 7, 0xf0005}, {512, 0, -1, -1, 0},         {-1, 0, -1, -1, 0},
        {3, 0x10000, -1, -1, 0},
    };
    for (const auto &c : cases) {
        int mtd = -1;
        unsigned off = 0;
        EXPECT_EQ(flashOffset2mtdOffset(c.sector, c.off, &mtd, &off), c.rc) << c.sector;
        EXPECT_EQ(mtd, c.mtd) << c.sector;
        if (c.rc == 0) {
            EXPECT_EQ(off, c.mtdOffset) << c.sector;
        }
    }
}

TEST_F(FlashAccess, range_checks_at_the_last_sector) {
    unsigned char b[4];
    {
        // Equal to the count passes the range check and fails in translation.
        CaptureStdout out;
        EXPECT_EQ(flashBlkRead(512, b, 0, 0), -1);
        EXPECT_EQ(out.text(), "flashOffset2mtdOffset failed\n");
    }
    {
        CaptureStdout out;
        EXPECT_EQ(flashErase(512, 1), -1);
        EXPECT_EQ(out.text(), "flashErase(): Count 0x1 invalid\n");
    }
    CaptureStdout out;
    EXPECT_EQ(flashBlkRead(511, b, 0xfffe, 4), -1);
    EXPECT_EQ(flashErase(510, 3), -1);
    EXPECT_EQ(flashEraseBank(500, 13), -1);
    EXPECT_EQ(flashEraseBank(500, 12), 0);
    EXPECT_EQ(l_readFlash(b, 4, kChip - 2), -1);
}

TEST_F(FlashAccess, write_across_three_sectors_keeps_the_rest) {
    const uint32_t base = 0x1b00000;  // usrapp
    std::vector<uint8_t> before(4 * kSector);
    for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(l_writeFlash(before.data(), static_cast<unsigned>(before.size()), base, 0), 0);

    // From the middle of the first sector to the middle of the third.
    std::vector<uint8_t> piece(kSector + 0x2000, 0x5a);
    const uint32_t at = base + kSector / 2 + 0x10;
    {
        WriteCounter count;
        ASSERT_EQ(l_writeFlash(piece.data(), static_cast<unsigned>(piece.size()), at, 0), 0);
        EXPECT_EQ(count.erases, 2);  // the tail of sector 1 and the head of sector 2 ...
        EXPECT_EQ(count.writes, 2);
    }
    std::vector<uint8_t> expect = before;
    std::memcpy(expect.data() + (at - base), piece.data(), piece.size());
    EXPECT_EQ(chip(base, 4 * kSector), expect);

    piece.assign(kSector * 2 + 0x100, 0xa5);
    {
        WriteCounter count;
        ASSERT_EQ(l_writeFlash(piece.data(), static_cast<unsigned>(piece.size()), at, 0), 0);
        EXPECT_EQ(count.erases, 3);  // ... or three sectors when the range spans three
    }
    std::memcpy(expect.data() + (at - base), piece.data(), piece.size());
    EXPECT_EQ(chip(base, 4 * kSector), expect);
}

TEST_F(FlashAccess, erase_writes_ff_over_every_touched_sector) {
    const uint32_t base = 0x1300000;  // sys
    std::vector<uint8_t> data(3 * kSector, 0x11);
    ASSERT_EQ(l_writeFlash_noErase(data.data(), static_cast<unsigned>(data.size()), base, 0), 0);
    ASSERT_EQ(l_eraseFlash(base + kSector + 5, 10, 0), 0);
    auto got = chip(base, 3 * kSector);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + kSector), std::vector<uint8_t>(kSector, 0x11));
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + kSector, got.begin() + 2 * kSector),
              std::vector<uint8_t>(kSector, 0xff));
    EXPECT_EQ(got.back(), 0x11);
}

TEST_F(FlashAccess, progress_writes_tell_the_web_page) {
    std::vector<uint8_t> data(2 * kSector + 1, 0x22);
    unsigned before = simFlashUpgradeProgress();
    CaptureStdout out;
    ASSERT_EQ(l_writeFlash_noErase(data.data(), static_cast<unsigned>(data.size()), 0x1300000, 1), 0);
    EXPECT_EQ(simFlashUpgradeProgress() - before, 3u);
    EXPECT_NE(out.text().find("######################"), std::string::npos);
}

TEST_F(FlashAccess, mac_write_stays_in_its_sector) {
    const uint32_t base = 0x1300000;
    std::vector<uint8_t> data(2 * kSector, 0x33);
    ASSERT_EQ(l_writeFlash(data.data(), static_cast<unsigned>(data.size()), base, 0), 0);
    std::vector<uint8_t> field(kSector, 0x44);  // exactly one whole sector
    ASSERT_EQ(l_writeFlash_mac(field.data(), kSector, base), 0);
    EXPECT_EQ(chip(base + kSector, kSector), std::vector<uint8_t>(kSector, 0x33));
    EXPECT_EQ(l_writeFlash_mac(field.data(), 16, base + kSector - 8), -1);  // crosses a boundary
    EXPECT_EQ(l_writeFlash_mac(nullptr, 16, base), -1);
}

TEST_F(FlashAccess, whole_partition_operations) {
    std::vector<uint8_t> cfg(100, 0x66);
    CaptureStdout out;
    ASSERT_EQ(sysUpdateCfg(cfg.data(), static_cast<unsigned>(cfg.size())), 0);
    EXPECT_EQ(chip(0x1b00000, 100), cfg);
    std::vector<uint8_t> tooBig(0x3c0001);
    EXPECT_EQ(sysUpdateCfg(tooBig.data(), static_cast<unsigned>(tooBig.size())), -1);
    EXPECT_EQ(sysUpdateUboot(tooBig.data(), FLASH_BOOT_PART_SIZE + 1), -1);  // would reach the environment
    ASSERT_EQ(sysEraseCfg(), 0);
    EXPECT_EQ(chip(0x1b00000, 100), std::vector<uint8_t>(100, 0xff));
    std::vector<uint8_t> boot(FLASH_BOOT_PART_SIZE, 0x77);
    ASSERT_EQ(writeBootrom(boot.data()), 0);
    EXPECT_EQ(chip(FLASH_BOOT_PART_SIZE - 4, 4), std::vector<uint8_t>(4, 0x77));
    EXPECT_EQ(sysGetMtdpartsInfo("env"), 0x20000);  // the environment partition is intact
    ASSERT_EQ(sysEraseImage(1), 0);
    EXPECT_NE(out.text().find("ERR: the configure too big: 3932161 > 3932160"), std::string::npos);
}

TEST_F(FlashAccess, firmware_writer_and_boot_loader_update) {
    // The firmware writer's kept scratch sector serves writes of any shape.
    std::vector<uint8_t> a(kSector + 10, 0x12), b(300, 0x34);
    ASSERT_EQ(l_writeFlashWithErase(a.data(), static_cast<unsigned>(a.size()), 0x1300005, 0), 0);
    ASSERT_EQ(l_writeFlashWithErase(b.data(), static_cast<unsigned>(b.size()), 0x1300100, 0), 0);
    auto got = chip(0x1300000, kSector + 20);
    EXPECT_EQ(got[4], 0xff);
    EXPECT_EQ(got[5], 0x12);
    EXPECT_EQ(got[0x100], 0x34);
    EXPECT_EQ(got[0x100 + 300], 0x12);
    EXPECT_EQ(got[kSector + 15], 0xff);
    std::vector<uint8_t> same(16);
    ASSERT_EQ(readFlash(same.data(), 16, 0x1300100), 0);
    EXPECT_EQ(same, std::vector<uint8_t>(16, 0x34));

    std::vector<uint8_t> boot(0x20000, 0x9b);
    CaptureStdout out;
    ASSERT_EQ(sysUpdateUboot(boot.data(), static_cast<unsigned>(boot.size())), 0);
    EXPECT_EQ(chip(0x1fffe, 4), (std::vector<uint8_t>{0x9b, 0x9b, 0xff, 0xff}));
}

TEST_F(FlashAccess, default_fs_size_follows_the_chip_size) {
    char buf[16];
    ASSERT_EQ(flashGetDftGevFsSize(buf), 0);
    EXPECT_STREQ(buf, "0x1c00000");
    flashSectorCount = 256;
    ASSERT_EQ(flashGetDftGevFsSize(buf), 0);
    flashDrvLibInit();
    EXPECT_STREQ(buf, "0xc00000");
}

TEST_F(FlashAccess, missing_device_reports_its_path) {
    std::filesystem::remove(dir_ + "/mtd4");
    unsigned char b[4];
    CaptureStdout out;
    EXPECT_EQ(flashMtdRead(4, b, 0, 4), -1);
    EXPECT_NE(out.text().find("open " + dir_ + "/mtd4 failed\n"), std::string::npos);
}

TEST_F(FlashAccess, security_code_through_the_stand_in) {
    CaptureStdout out;
    unsigned char code[8];
    EXPECT_EQ(flashReadSecurityCode(code), -1);  // nobody answers: fails, does not hang
    const unsigned char want[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(simFlashSecurityStart(want), 0);
    ASSERT_EQ(flashApiInit(), 0);
    ASSERT_EQ(flashReadSecurityCode(code), 0);
    EXPECT_EQ(std::memcmp(code, want, 8), 0);
    simFlashSecurityStop();
}

}  // namespace
