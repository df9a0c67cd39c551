// The identity profile's fields on the simulated flash.
#include <gtest/gtest.h>

#include <cstring>
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

class Profile : public pc::test::SimFlashTest {
protected:
    void store(const std::vector<uint8_t> &p) {
        ASSERT_EQ(flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, p.data(), static_cast<uint32_t>(p.size()), 0),
                  0);
    }
    static std::vector<uint8_t> sample() {
        std::vector<uint8_t> p(PROFILE_LEN, 0);
        for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i);
        return p;
    }
};

TEST_F(Profile, no_profile_leaves_buffers_untouched) {
    unsigned char mac[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(sysGetMac(mac, 6), 0);
    EXPECT_EQ(mac[0], 9);
    EXPECT_EQ(sysGetMac(nullptr, 6), -1);
    unsigned char id[16];
    CaptureStdout out;
    EXPECT_EQ(sysGetProductId(id), -1);
    EXPECT_EQ(out.text(), "Failed to get productID.\r\n");
}

TEST_F(Profile, mac_defaults_for_blank_and_multicast) {
    auto p = sample();
    const struct {
        uint8_t first;
        bool useDefault;
    } cases[] = {{0xff, true}, {0x01, true}, {0x00, false}};
    for (const auto &c : cases) {
        std::fill(p.begin(), p.begin() + 6, c.first);
        ASSERT_EQ(flashAppInnerUnset(FLASH_INNER_TYPE_PROFILE), 0);  // the MAC of a rewrite is kept
        store(p);
        unsigned char mac[6];
        ASSERT_EQ(sysGetMacFromFlash(mac), 0);
        EXPECT_EQ(mac[0] == c.first, !c.useDefault) << int(c.first);
        EXPECT_EQ(mac[0] & 1, 0);
    }
    const unsigned char mine[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    ASSERT_EQ(sysSetMacToFlash(mine), 0);
    restart();
    unsigned char mac[6];
    ASSERT_EQ(sysGetMacFromFlash(mac), 0);
    EXPECT_EQ(std::memcmp(mac, mine, 6), 0);
}

TEST_F(Profile, fields_by_table_and_device_id_digest) {
    auto p = sample();
    store(p);
    unsigned char id[16];
    ASSERT_EQ(sysGetProductId(id), 0);
    EXPECT_EQ(std::memcmp(id, p.data() + 384, 16), 0);
    EXPECT_EQ(sysFirmwareCheckProduct(p.data() + 384), 0);
    EXPECT_EQ(sysFirmwareCheckProduct(p.data()), -1);
    ASSERT_EQ(sysGetHwIdFromFlash(id), 0);
    EXPECT_EQ(std::memcmp(id, p.data() + 780, 16), 0);
    ASSERT_EQ(sysGetFirmwareVer(id), 0);
    EXPECT_EQ(std::memcmp(id, p.data() + 796, 16), 0);

    unsigned char devId[40];
    std::memset(devId, 'D', sizeof devId);
    ASSERT_EQ(sysSetDevIdToFlash(devId), 0);
    unsigned char stored[40], digest[16], want[16];
    ASSERT_EQ(sysGetDevId(stored, 40), 0);
    EXPECT_EQ(std::memcmp(stored, devId, 40), 0);
    ASSERT_EQ(sysGetDevIdMd5(digest, 16), 0);
    md5_calc(want, devId, 40);
    EXPECT_EQ(std::memcmp(digest, want, 16), 0);
    ASSERT_EQ(eraseDeviceidMD5(), 0);
    ASSERT_EQ(sysGetDevIdMd5(digest, 16), 0);
    EXPECT_EQ(digest[0] | digest[15], 0);
    ASSERT_EQ(eraseDeviceId(), 0);
    const unsigned char zeros[40] = {};
    md5_calc(want, zeros, 40);
    ASSERT_EQ(sysGetDevIdMd5(digest, 16), 0);
    EXPECT_EQ(std::memcmp(digest, want, 16), 0);
    EXPECT_EQ(sysGetDevIdOffset(), 724);
    EXPECT_EQ(sysGetDevIdSize(), 40);

    // Reads stop at the stored profile's end.
    unsigned char big[64];
    EXPECT_EQ(sysGetHardwareId(big, 40), -1);
}

TEST_F(Profile, signature_key_firmware_id_and_listings) {
    store(sample());
    unsigned char sign[PROFILE_SIGN_LEN], back[PROFILE_SIGN_LEN], key[250];
    std::memset(sign, 0x3c, sizeof sign);
    ASSERT_EQ(sysSetFlashSign(sign), 0);
    ASSERT_EQ(sysGetFlashSign(back, sizeof back), 0);
    EXPECT_EQ(std::memcmp(sign, back, sizeof sign), 0);
    ASSERT_EQ(sysGetFlashPubLicKey(key, sizeof key), 0);
    EXPECT_EQ(key[0], 134);  // the sample's byte at 134
    // Rewriting the whole profile keeps the signature.
    store(sample());
    ASSERT_EQ(sysGetFlashSign(back, sizeof back), 0);
    EXPECT_EQ(back[0], 0x3c);

    // The running image's firmware identifier from its head copy; image 2's
    // copy lies two sectors further.
    std::vector<uint8_t> head(1024, 0);
    std::memcpy(head.data() + 176, "FW-ONE", 6);
    ASSERT_EQ(l_writeFlash(head.data(), 1024, 0x1ec0000, 0), 0);
    std::memcpy(head.data() + 176, "FW-TWO", 6);
    ASSERT_EQ(l_writeFlash(head.data(), 1024, 0x1ec0000 + 2 * kSector, 0), 0);
    unsigned char fw[16];
    ASSERT_EQ(sysGetFirmwareId(fw, 16), 0);
    EXPECT_EQ(std::memcmp(fw, "FW-ONE", 6), 0);
    ASSERT_EQ(setStartUpIndex(2), 0);
    ASSERT_EQ(sysGetFirmwareId(fw, 16), 0);
    EXPECT_EQ(std::memcmp(fw, "FW-TWO", 6), 0);
    EXPECT_EQ(sysGetFirmwareId(fw, 900), -1);  // beyond the head copy

    unsigned char devId[40];
    std::memset(devId, 'Q', sizeof devId);
    ASSERT_EQ(sysSetDevIdToFlash(devId), 0);
    CaptureStdout out;
    ASSERT_EQ(dumpDeviceId(), 0);
    ASSERT_EQ(sysProfilePrint(), 0);
    std::string text = out.text();
    EXPECT_EQ(text.rfind("Device ID:\r\n" + std::string(40, 'Q') + "\r\nMD5:\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("Profile:\n00 01 02 "), std::string::npos);
    EXPECT_NE(text.find("MAC 00:01:02:03:04:05\n"), std::string::npos);
    EXPECT_NE(text.find("Sign \r\n3c 3c "), std::string::npos);
}

}  // namespace
