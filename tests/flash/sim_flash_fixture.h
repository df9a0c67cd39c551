// A fresh simulated flash chip per test: the partition files of the default
// geometry in a temporary directory, the library pointed at them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_core/flash.h"
#include "platform_sim/sim_flash.h"

namespace pc::test {

// The chip offset of an offset inside MTD partition mtd.
inline uint32_t chip_offset(int mtd, uint32_t offset) {
    static const char *const names[] = {"boot", "env",    "usrimg2", "usrimg1",
                                        "sys",  "usrapp", "ax_head", "para"};
    uint32_t at = 0;
    for (int i = 0; i < mtd && i < 8; ++i) at += static_cast<uint32_t>(sysGetMtdpartsInfo(names[i]));
    return at + offset;
}

class SimFlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/simflash.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(simFlashCreate(dir_.c_str(), 1), 0);
        flashDrvLibInit();
        ASSERT_EQ(flashMtdSetDevicePrefix((dir_ + "/mtd").c_str()), 0);
    }
    void TearDown() override {
        flashMtdSetWriteHook(nullptr);
        std::filesystem::remove_all(dir_);
    }

    // What a restarted process sees: every cached view forgotten.
    void restart() { flashMtdSetDevicePrefix((dir_ + "/mtd").c_str()); }

    std::vector<uint8_t> chip(uint32_t addr, uint32_t len) {
        std::vector<uint8_t> b(len);
        EXPECT_EQ(l_readFlash(b.data(), len, addr), 0);
        return b;
    }

    static constexpr uint32_t kSector = FLASH_DFT_SECTOR_SIZE;
    static constexpr uint32_t kChip = FLASH_DFT_SECTOR_SIZE * FLASH_DFT_SECTOR_COUNT;
    std::string dir_;
};

// Counts the erases and writes that reach the devices.
struct WriteCounter {
    static inline int erases = 0;
    static inline int writes = 0;
    static int hook(int, uint32_t, uint32_t, int isErase) {
        (isErase ? erases : writes)++;
        return 0;
    }
    WriteCounter() {
        erases = writes = 0;
        flashMtdSetWriteHook(&hook);
    }
    ~WriteCounter() { flashMtdSetWriteHook(nullptr); }
};

// Records the chip offset of every erase and write that reaches the devices.
struct WriteRecorder {
    static inline std::vector<uint32_t> offsets;
    static int hook(int mtd, uint32_t offset, uint32_t, int) {
        offsets.push_back(chip_offset(mtd, offset));
        return 0;
    }
    WriteRecorder() {
        offsets.clear();
        flashMtdSetWriteHook(&hook);
    }
    ~WriteRecorder() { flashMtdSetWriteHook(nullptr); }
    uint32_t lowest() const {
        uint32_t low = UINT32_MAX;
        for (uint32_t o : offsets) low = o < low ? o : low;
        return low;
    }
};

}  // namespace pc::test
