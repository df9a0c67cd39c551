// Firmware image checks on real images built by the image tool's builder,
// good and bad, and refreshFlash's decisions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "flash/sim_flash_fixture.h"
#include "image_builder.h"
#include "platform_core/firmware.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "platform_core/profile.h"
#include "support/capture_stdout.h"

namespace {

using pc::test::CaptureStdout;
using pc::tools::id16;
using pc::tools::ImageSpec;

constexpr uint32_t kHeadCopy = 0x1ec0000;  // FL_OFFSET_FW_HEAD of the default table

class FirmwareImage : public pc::test::SimFlashTest {
protected:
    void SetUp() override {
        SimFlashTest::SetUp();
        std::vector<uint8_t> profile(PROFILE_LEN, 0);
        std::memcpy(profile.data() + 384, id16("PRODUCT-A").data(), 16);
        std::memcpy(profile.data() + 780, id16("HW-1").data(), 16);
        ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, profile.data(), PROFILE_LEN, 0), 0);
        // The running image's head copy: firmware FW-OLD of vendor 7, which
        // accepts FW-BACK later.
        ImageSpec running;
        running.vendorId = 7;
        running.fwId = id16("FW-OLD");
        running.backward = {id16("FW-BACK")};
        auto head = pc::tools::build_head(running);
        ASSERT_EQ(l_writeFlash(head.data(), static_cast<unsigned>(head.size()), kHeadCopy, 0), 0);
    }

    // An image the device accepts: its product, its hardware, vendor 7,
    // upgrading from FW-OLD.
    static ImageSpec good() {
        ImageSpec s;
        s.productId = id16("PRODUCT-A");
        s.hwIds = {id16("HW-0"), id16("HW-1")};
        s.vendorId = 7;
        s.fwId = id16("FW-NEW");
        s.forward = {id16("FW-X"), id16("FW-OLD")};
        s.innerItems = {{2, std::vector<uint8_t>(40, 0x22)}, {3, std::vector<uint8_t>(7, 0x33)}};
        return s;
    }

    int parse(std::vector<uint8_t> image, IMAGE_INFO_T &info, int index = 1) {
        return sysParseImage(image.data(), static_cast<uint32_t>(image.size()), index, &info);
    }

    int parse_spec(const ImageSpec &spec, std::string *out = nullptr) {
        IMAGE_INFO_T info{};
        CaptureStdout capture;
        int rc = parse(pc::tools::build_image(spec, false), info);
        if (out) *out = capture.text();
        sysImageInfoFree(&info);
        return rc;
    }

    // A plain image changed by fn, its MD5 sealed again, encrypted.
    static std::vector<uint8_t> mutated(const ImageSpec &spec,
                                        const std::function<void(std::vector<uint8_t> &)> &fn) {
        auto plain = pc::tools::build_plain_image(spec);
        fn(plain);
        pc::tools::seal_md5(plain);
        return pc::tools::encrypt_image(plain);
    }

    static void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
};

TEST_F(FirmwareImage, good_image_fills_the_record) {
    ImageSpec spec = good();
    spec.name = "switch-fw-1.2.3";
    auto image = pc::tools::build_image(spec, false);
    IMAGE_INFO_T info{};
    std::memset(info.caller, 0xcd, sizeof info.caller);
    CaptureStdout out;
    ASSERT_EQ(parse(image, info), 0) << out.text();
    EXPECT_EQ(info.valid, 1);
    EXPECT_STREQ(info.name, "switch-fw-1.2.3");
    EXPECT_EQ(info.caller[159], 0xcd);
    EXPECT_EQ(info.sections[0].offset, FW_HEAD_OFFSET);
    EXPECT_EQ(info.sections[0].length, FW_HEAD_COPY_LEN);
    EXPECT_EQ(info.sections[1].offset, FW_BODY_OFFSET);
    EXPECT_EQ(info.innerItemCount, 2u);
    EXPECT_EQ(info.innerItemsRead, 1);
    ASSERT_NE(info.innerItems, nullptr);
    EXPECT_EQ(info.innerItems->type, 2u);
    EXPECT_EQ(info.innerItems->length, 40u);
    ASSERT_NE(info.innerItems->next, nullptr);
    EXPECT_EQ(info.innerItems->next->length, 7u);
    EXPECT_EQ(std::string(info.layout[11]), "0x10500");
    EXPECT_NE(out.text().find("My FwID is in firmware's FL\n"), std::string::npos);
    sysImageInfoFree(&info);
}

TEST_F(FirmwareImage, size_rule_bounds) {
    for (uint32_t len : {0x200000u, 0x200001u}) {
        ImageSpec spec = good();
        spec.minLength = 0x1000;
        auto plain = pc::tools::build_plain_image(spec);
        plain.resize(len, 0);  // trailing bytes after the inner items
        pc::tools::seal_md5(plain);
        IMAGE_INFO_T info{};
        CaptureStdout out;
        EXPECT_EQ(parse(pc::tools::encrypt_image(plain), info), len == 0x200000u ? -1 : 0) << len;
        if (len == 0x200000u) {
            EXPECT_EQ(out.text(), "Invalid firmware size. It should be in range of 2M-18M");
        }
        sysImageInfoFree(&info);
    }
    IMAGE_INFO_T info{};
    std::vector<uint8_t> huge(FW_IMAGE_MAX_LEN + 1);
    CaptureStdout out;
    EXPECT_EQ(parse(huge, info), -1);
}

TEST_F(FirmwareImage, structural_checks_one_by_one) {
    const ImageSpec spec = good();
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> change;
        const char *message;
    } cases[] = {
        {"product", [](auto &p) { p[16] ^= 1; }, ""},
        {"first section empty", [](auto &p) { put32(p, 236, 0); }, "the first section is empty"},
        {"section beyond the image", [](auto &p) { put32(p, 244, 0x7ffffff0); }, "Fatal error: Bad image"},
        {"head longer than its space", [](auto &p) { put32(p, 232, 0x10000); }, "head length"},
        {"item count lies",
         [](auto &p) {
             size_t items = p.size() - (8 + 40) - (8 + 8) - 4;
             put32(p, items, 0x40000000);
         },
         "beyond the image"},
        {"item length lies",
         [](auto &p) {
             size_t items = p.size() - (8 + 40) - (8 + 8) - 4;
             put32(p, items + 8, 0xfffffff8);
         },
         "beyond the image"},
    };
    for (const auto &c : cases) {
        IMAGE_INFO_T info{};
        CaptureStdout out;
        EXPECT_EQ(parse(mutated(spec, c.change), info), -1) << c.what;
        EXPECT_NE(out.text().find(c.message), std::string::npos) << c.what << ": " << out.text();
        EXPECT_EQ(info.valid, 0);
        EXPECT_EQ(info.innerItems, nullptr);
    }
    // A changed byte that is not sealed again fails the checksum.
    auto plain = pc::tools::build_plain_image(spec);
    plain[5000] ^= 0x80;
    IMAGE_INFO_T info{};
    CaptureStdout out;
    EXPECT_EQ(parse(pc::tools::encrypt_image(plain), info), -1);
    EXPECT_EQ(out.text(), "Error: MD5 checksum error\r\nError: Failed to parse image\r\n");
}

TEST_F(FirmwareImage, old_images_and_short_ones) {
    ImageSpec spec = good();
    spec.withInnerItems = false;
    std::string text;
    EXPECT_EQ(parse_spec(spec, &text), 0);
    EXPECT_NE(text.find("Old image, we don't read inner items."), std::string::npos);

    // Sections that end 4 bytes past a 16-byte boundary: an image cut
    // between that end and the next boundary is too short to be old.
    spec.sections[1].assign(4, 1);
    auto plain = pc::tools::build_plain_image(spec);
    plain.resize(plain.size() - 8);
    pc::tools::seal_md5(plain);
    IMAGE_INFO_T info{};
    CaptureStdout out;
    EXPECT_EQ(parse(pc::tools::encrypt_image(plain), info), -1);
    EXPECT_NE(out.text().find("Fatal error: Bad image, length="), std::string::npos);
}

TEST_F(FirmwareImage, identifier_rules) {
    struct Case {
        const char *what;
        std::function<void(ImageSpec &)> change;
        int rc;
        const char *message;
    } cases[] = {
        {"hardware not listed", [](ImageSpec &s) { s.hwIds = {id16("HW-9")}; }, -1,
         "firmware not support my HwID\n"},
        {"other vendor", [](ImageSpec &s) { s.vendorId = 8; }, -1,
         "firmware vendorId is 0x00000008 and our vendorId is 0x00000007\n"},
        {"same firmware, even if in my backward list", [](ImageSpec &s) { s.fwId = id16("FW-OLD"); }, -1,
         "Check FwID Failed, same version\n"},
        {"in my backward list",
         [](ImageSpec &s) {
             s.forward.clear();
             s.fwId = id16("FW-BACK");
         },
         0, "FwID of firmware is in my BL\n"},
        {"neither list", [](ImageSpec &s) { s.forward = {id16("FW-X")}; }, -1,
         "this firmware do not support forward or backward upgrade\n"},
    };
    for (const auto &c : cases) {
        ImageSpec spec = good();
        c.change(spec);
        std::string text;
        EXPECT_EQ(parse_spec(spec, &text), c.rc) << c.what;
        EXPECT_NE(text.find(c.message), std::string::npos) << c.what << ": " << text;
        if (c.rc != 0) {
            EXPECT_NE(text.find("fw head check failed\r\n"), std::string::npos) << c.what;
        }
    }
    const struct {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> change;
        const char *message;
    } raw[] = {
        {"upgrade magic", [](auto &p) { p[516] ^= 1; }, "can't find AX UPGRADE HEADER!\n"},
        {"head magic", [](auto &p) { p[1540] ^= 1; }, "can't find AX HEADER!\n"},
        {"hardware count lies", [](auto &p) { p[672] = 0xff; }, "Bad upgrade header"},
        // A 96-bit bitmap whose set bit names an entry beyond the header.
        {"forward entry outside",
         [](auto &p) {
             p[675] = 96;
             p[676] = 0;
             p[687] = 1;
         },
         "Bad upgrade header"},
    };
    for (const auto &c : raw) {
        IMAGE_INFO_T info{};
        CaptureStdout out;
        EXPECT_EQ(parse(mutated(good(), c.change), info), -1) << c.what;
        EXPECT_NE(out.text().find(c.message), std::string::npos) << c.what;
    }
}

// Only the entries whose bits are set are read: a full 96-bit bitmap field
// with two hardware identifiers is valid while its set bits name entries
// inside the header.
TEST_F(FirmwareImage, wide_bitmap_with_low_bits_set) {
    IMAGE_INFO_T info{};
    CaptureStdout out;
    auto image = mutated(good(), [](auto &p) { p[675] = 96; });
    EXPECT_EQ(parse(image, info), 0) << out.text();
    EXPECT_NE(out.text().find("My FwID is in firmware's FL\n"), std::string::npos) << out.text();
    sysImageInfoFree(&info);
}

TEST_F(FirmwareImage, rules_apply_only_when_the_device_asks) {
    ImageSpec foreign = good();
    foreign.hwIds = {id16("HW-9")};
    ASSERT_EQ(setEnvItem("NEED_CHECK_FW_HEAD", "0"), 0);
    EXPECT_EQ(parse_spec(foreign), 0);
    ASSERT_EQ(delEnvItem("NEED_CHECK_FW_HEAD"), 0);
    EXPECT_EQ(parse_spec(foreign), 0);
    ASSERT_EQ(setEnvItem("NEED_CHECK_FW_HEAD", "1"), 0);
    EXPECT_EQ(parse_spec(foreign), -1);

    // Image 2's head copy lies two sectors further; there is none yet.
    IMAGE_INFO_T info{};
    CaptureStdout out;
    EXPECT_EQ(parse(pc::tools::build_image(good(), false), info, 2), -1);
    EXPECT_NE(out.text().find("can't find AX HEAD in flash\n"), std::string::npos);
}

TEST_F(FirmwareImage, signature_checks) {
    auto image = pc::tools::build_image(good(), true);
    uint32_t len = static_cast<uint32_t>(image.size());
    ASSERT_EQ(firmwareRsaSignVerify(image.data(), &len), 0);
    EXPECT_EQ(len, image.size() - FW_SIGNATURE_LEN);
    IMAGE_INFO_T info{};
    {
        CaptureStdout out;
        EXPECT_EQ(sysParseImage(image.data(), len, 1, &info), 0);
    }
    sysImageInfoFree(&info);

    CaptureStdout out;
    for (size_t at : {size_t{100}, image.size() - 1}) {
        auto bad = pc::tools::build_image(good(), true);
        bad[at] ^= 1;
        len = static_cast<uint32_t>(bad.size());
        EXPECT_EQ(firmwareRsaSignVerify(bad.data(), &len), -1) << at;
        EXPECT_EQ(len, bad.size());
    }
    auto unsignedImage = pc::tools::build_image(good(), false);
    len = static_cast<uint32_t>(unsignedImage.size());
    EXPECT_EQ(firmwareRsaSignVerify(unsignedImage.data(), &len), -1);
    len = FW_SIGNATURE_LEN;
    EXPECT_EQ(firmwareRsaSignVerify(image.data(), &len), -1);
    EXPECT_NE(out.text().find("Failed to verify Rsa.\r\n"), std::string::npos);
}

TEST_F(FirmwareImage, legacy_container_is_refused) {
    CaptureStdout out;
    unsigned char byte = 0;
    EXPECT_EQ(sysUpgradeVxFirmware(&byte, 1), -1);
    EXPECT_EQ(out.text(), "IMAGE TYPE error\r\n");
}

TEST(FirmwareVersion, parse_fl_ver_text) {
    const struct {
        const char *text;
        uint32_t fl, sw;
    } cases[] = {{"0x010300010000", 0x10300, 0x10000},
                 {"0x10500", 0x10500, 0x10000},
                 {"0x0105000200ff", 0x10500, 0x200ff}};
    for (const auto &c : cases) {
        uint32_t fl = 0, sw = 0;
        ASSERT_EQ(parseFlVerStr(c.text, &fl, &sw), 0);
        EXPECT_EQ(fl, c.fl) << c.text;
        EXPECT_EQ(sw, c.sw) << c.text;
    }
}

class RefreshFlash : public FirmwareImage {
protected:
    std::string env(const char *name) {
        char v[GEV_VALUE_LEN];
        return getEnvItem(name, v) == 0 ? std::string(v) : std::string("<absent>");
    }
    // Parses an image with this layout version and refreshes the flash.
    int refresh(const std::string &flVer, ImageSpec spec = good()) {
        spec.layout[11] = flVer;
        spec.layout[10] = "0x50000";  // FL_SIZE_FW_HEAD: shows whether the layout was written
        auto image = pc::tools::build_image(spec, false);
        IMAGE_INFO_T info{};
        CaptureStdout out;
        EXPECT_EQ(sysParseImage(image.data(), static_cast<uint32_t>(image.size()), 1, &info), 0)
            << out.text();
        int rc = refreshFlash(&info, image.data(), 1);
        sysImageInfoFree(&info);
        return rc;
    }
    bool item_present(uint32_t type) {
        uint32_t off = 0;
        return flashAppInnerGetOffset(type, &off) == 0;
    }
};

TEST_F(RefreshFlash, decisions_by_layout_version) {
    // The flash starts at the default "0x10500": major 1, minor 5, patch 0.
    const struct {
        const char *imageVer;
        int rc;
        bool layoutWritten;
    } cases[] = {
        {"0x10600", 0, true},    // newer minor: moves, layout and items
        {"0x10400", -1, false},  // older minor: refused
        {"0x10501", 0, true},    // newer patch
        {"0x20500", 0, false},   // other major: partitions only
    };
    for (const auto &c : cases) {
        TearDown();  // a fresh chip per case
        SetUp();
        EXPECT_EQ(refresh(c.imageVer), c.rc) << c.imageVer;
        EXPECT_EQ(env("FL_SIZE_FW_HEAD") == "0x50000", c.layoutWritten) << c.imageVer;
        EXPECT_EQ(item_present(2), c.layoutWritten) << c.imageVer;
        // A short stored version is replaced by the current form.
        EXPECT_EQ(env("FL_VER"), c.layoutWritten ? c.imageVer : "0x010300010000") << c.imageVer;
    }
}

TEST_F(RefreshFlash, same_version_without_software_upgrade_writes_nothing) {
    ASSERT_EQ(setEnvItem("FL_VER", "0x010500020000"), 0);
    software_upgrade_flag = 0;
    EXPECT_EQ(refresh("0x010500010000"), 0);
    EXPECT_EQ(env("FL_SIZE_FW_HEAD"), "0x40000");
    EXPECT_FALSE(item_present(2));
    EXPECT_EQ(software_upgrade_flag, 0);

    IMAGE_INFO_T invalid{};
    CaptureStdout out;
    unsigned char byte = 0;
    EXPECT_EQ(refreshFlash(&invalid, &byte, 1), -1);
    EXPECT_EQ(out.text(), "Fatal error: The start image is valid\r\n");
}

TEST_F(RefreshFlash, application_area_moves_to_its_new_place) {
    std::vector<uint8_t> config(0x1000, 0xc7);
    CaptureStdout out;
    ASSERT_EQ(sysUpdateCfg(config.data(), static_cast<unsigned>(config.size())), 0);
    ImageSpec spec = good();
    spec.layout[7] = "0x1a00000";  // FL_OFFSET_USRAPP, one MiB lower
    spec.layout[8] = "0x300000";   // FL_SIZE_USRAPP
    ASSERT_EQ(refresh("0x10600", spec), 0);
    EXPECT_EQ(chip(0x1a00000, 0x1000), config);
    EXPECT_EQ(env("FL_OFFSET_USRAPP"), "0x1a00000");
    EXPECT_EQ(flashGetUsrAppOffset(), 0x1a00000);
}

}  // namespace
