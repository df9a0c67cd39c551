// The flash image tool and the firmware image tool, run as programs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_core/firmware.h"
#include "support/test_process.h"

namespace {

class FlashTools : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/flashtools.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs a tool; returns its exit status and leaves its output in out_.
    int run(const std::string &tool, const std::vector<std::string> &args) {
        std::string log = dir_ + "/out.txt";
        pid_t pid = pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/" + tool, args, {}, log);
        int rc = pc::test::wait_child_for(pid, 120000);
        std::ifstream f(log);
        out_.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        return rc;
    }

    std::string dir_, out_;
};

TEST_F(FlashTools, flash_image_tool_prints_and_sets_the_environment) {
    const std::string chip = dir_ + "/chip";
    ASSERT_EQ(run("flashimg", {"create", chip}), 0);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(std::filesystem::exists(chip + "/mtd" + std::to_string(i)));
    ASSERT_EQ(run("flashimg", {"printenv", chip}), 0);
    EXPECT_NE(out_.find("START_IMAGE=flash:image1.bin"), std::string::npos);
    ASSERT_EQ(run("flashimg", {"setenv", chip, "START_IMAGE", "flash:image2.bin"}), 0);
    ASSERT_EQ(run("flashimg", {"setenv", chip, "START_NO_CONFIG"}), 0);
    ASSERT_EQ(run("flashimg", {"printenv", chip}), 0);
    EXPECT_NE(out_.find("START_IMAGE=flash:image2.bin"), std::string::npos);
    EXPECT_EQ(out_.find("START_NO_CONFIG"), std::string::npos);
    ASSERT_EQ(run("flashimg", {"items", chip}), 0);
    EXPECT_NE(out_.find("1      environment  0x1ff0000  65524"), std::string::npos) << out_;
    // Every item is listed, whatever its type.
    { std::ofstream(dir_ + "/value.bin") << "nine"; }
    ASSERT_EQ(run("flashimg", {"setitem", chip, "9", dir_ + "/value.bin"}), 0);
    ASSERT_EQ(run("flashimg", {"setitem", chip, "3", dir_ + "/value.bin"}), 0);
    ASSERT_EQ(run("flashimg", {"items", chip}), 0);
    EXPECT_NE(out_.find("9      other        0x1fffff0  4"), std::string::npos) << out_;
    EXPECT_NE(out_.find("3      image item   0x1fefff0  4"), std::string::npos) << out_;
    EXPECT_EQ(run("flashimg", {"bogus", chip}), 2);
}

TEST_F(FlashTools, firmware_image_tool_signs_what_the_library_verifies) {
    const std::string image = dir_ + "/fw.bin", plain = dir_ + "/plain.bin";
    ASSERT_EQ(run("fwimage", {"build", image, "--product", "P1", "--hw-id", "HW1", "--fw-id", "FW2"}), 0);
    ASSERT_EQ(run("fwimage", {"verify", image}), 0);
    std::ifstream f(image, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    uint32_t len = static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(firmwareRsaSignVerify(bytes.data(), &len), 0);
    EXPECT_GE(len, FW_IMAGE_MIN_LEN);
    ASSERT_EQ(run("fwimage", {"build", plain, "--unsigned"}), 0);
    EXPECT_EQ(run("fwimage", {"verify", plain}), 1);
}

}  // namespace
