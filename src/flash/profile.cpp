// The device identity profile: fields of inner item type 0 read and written
// in place.
#include "platform_core/profile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flash/flash_internal.h"
#include "platform_core/crypto.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"

const PROFILE_MAP_T profileMap[PIT_MAX] = {
    {PIT_MAC, 0, PROFILE_MAC_LEN},
    {PIT_SIGN, 6, PROFILE_SIGN_LEN},
    {PIT_PUBKEY, 134, 250},
    {PIT_PRODUCT_ID, 384, PROFILE_ID_LEN},
    {PIT_FACTORY, 400, 324},
    {PIT_DEV_ID, 724, PROFILE_DEV_ID_LEN},
    {PIT_DEV_ID_MD5, 764, 16},
    {PIT_HW_ID, 780, PROFILE_ID_LEN},
    {PIT_FW_VER, 796, PROFILE_ID_LEN},
};
int profile_debug = 0;

namespace {

// A locally administered unicast address.
constexpr unsigned char kDefaultMac[PROFILE_MAC_LEN] = {0x02, 0x50, 0x43, 0x00, 0x00, 0x01};
constexpr unsigned kFirmwareIdHeadOffset = 176;
constexpr unsigned kHeadCopyLen = 1024;
constexpr int kPrintedKeyLen = 200;

// Where the profile's value lies; false when there is none.
bool profile_location(uint32_t &offset, uint32_t &length) {
    std::unique_ptr<void, decltype(&std::free)> copy(flashAppInnerGet(FLASH_INNER_TYPE_PROFILE, &length),
                                                     &std::free);
    return copy && flashAppInnerGetOffset(FLASH_INNER_TYPE_PROFILE, &offset) == 0;
}

int read_field(unsigned fieldOffset, unsigned char *buf, int len, const char *what) {
    if (buf == nullptr || len < 0) return -1;
    uint32_t offset = 0, length = 0;
    if (!profile_location(offset, length)) return 0;
    if (fieldOffset + static_cast<uint64_t>(len) > length) return -1;
    if (l_readFlash(buf, static_cast<unsigned>(len), offset + fieldOffset) != 0) {
        std::printf("%s flashBlkRead error\r\n", what);
        return -1;
    }
    return 0;
}

int write_field(unsigned fieldOffset, const unsigned char *buf, unsigned len, const char *failure) {
    if (buf == nullptr) return -1;
    uint32_t offset = 0, length = 0;
    unlockFlash();
    int rc = -1;
    if (profile_location(offset, length) && fieldOffset + static_cast<uint64_t>(len) <= length) {
        // Through the inner area's writer: the profile's sector is never
        // erased without a copy of it in the area.
        rc = pc::flash::inner_write(offset + fieldOffset, buf, len);
    }
    if (rc != 0) std::printf("%s", failure);
    if (flashSyncFilesystem() != 0) {
        std::printf("flashSyncFilesystem failed!\r\n");
        rc = -1;
    }
    lockFlash();
    return rc;
}

int get_profile_item(int pit, unsigned char *out) {
    if (pit < 0 || pit >= PIT_MAX) {
        if (profile_debug) std::printf("Unkown pit, pit=%d\r\n", pit);
        return -1;
    }
    if (out == nullptr) return -1;
    uint32_t length = 0;
    std::unique_ptr<unsigned char, decltype(&std::free)> copy(
        static_cast<unsigned char *>(flashAppInnerGet(FLASH_INNER_TYPE_PROFILE, &length)), &std::free);
    const PROFILE_MAP_T &row = profileMap[pit];
    if (!copy || row.offset + row.length > length) return -1;
    std::memcpy(out, copy.get() + row.offset, row.length);
    return 0;
}

int whole_field(int pit, unsigned char *out) {
    if (get_profile_item(pit, out) != 0) {
        std::printf("Failed to get productID.\r\n");
        return -1;
    }
    return 0;
}

void print_bytes(const unsigned char *p, int n) {
    for (int i = 0; i < n; ++i) std::printf("%02x ", p[i]);
    std::printf("\r\n");
}

}  // namespace

extern "C" {

int sysGetMac(unsigned char *buf, int len) { return read_field(0, buf, len, "sysGetMacFromFlash"); }
int sysGetFlashSign(unsigned char *buf, int len) { return read_field(6, buf, len, "sysGetFlashSign"); }
int sysGetFlashPubLicKey(unsigned char *buf, int len) {
    return read_field(134, buf, len, "sysGetFlashPubLicKey");
}
int sysGetDevId(unsigned char *buf, int len) { return read_field(724, buf, len, "sysGetDevId"); }
int sysGetDevIdMd5(unsigned char *buf, int len) { return read_field(764, buf, len, "sysGetDevIdMd5"); }
int sysGetHardwareId(unsigned char *buf, int len) { return read_field(780, buf, len, "sysGetHardwareId"); }
int sysGetDevIdOffset(void) { return static_cast<int>(profileMap[PIT_DEV_ID].offset); }
int sysGetDevIdSize(void) { return static_cast<int>(profileMap[PIT_DEV_ID].length); }

int sysGetProductId(unsigned char *id16) { return whole_field(PIT_PRODUCT_ID, id16); }
int sysGetHwIdFromFlash(unsigned char *id16) { return whole_field(PIT_HW_ID, id16); }
int sysGetFirmwareVer(unsigned char *ver16) { return whole_field(PIT_FW_VER, ver16); }

int sysFirmwareCheckProduct(const unsigned char *id16) {
    unsigned char stored[PROFILE_ID_LEN];
    if (id16 == nullptr || sysGetProductId(stored) != 0) return -1;
    return std::memcmp(stored, id16, PROFILE_ID_LEN) == 0 ? 0 : -1;
}

int sysGetMacFromFlash(unsigned char *mac6) {
    if (mac6 == nullptr) return -1;
    unsigned char mac[PROFILE_MAC_LEN];
    std::memset(mac, 0xff, sizeof mac);
    bool ok = sysGetMac(mac, PROFILE_MAC_LEN) == 0;
    bool blank = true;
    for (unsigned char b : mac) blank = blank && b == 0xff;
    if (!ok || blank || (mac[0] & 1)) {
        std::memcpy(mac6, kDefaultMac, PROFILE_MAC_LEN);
    } else {
        std::memcpy(mac6, mac, PROFILE_MAC_LEN);
    }
    return 0;
}

int sysSetMacToFlash(const unsigned char *mac6) {
    return write_field(0, mac6, PROFILE_MAC_LEN, "write mac error\r\n");
}

int sysSetFlashSign(const unsigned char *sign128) {
    return write_field(6, sign128, PROFILE_SIGN_LEN, "write sign error\r\n");
}

int sysSetDevIdToFlash(const unsigned char *id40) {
    if (id40 == nullptr) return -1;
    if (write_field(724, id40, PROFILE_DEV_ID_LEN, "write device ID error\r\n") != 0) return -1;
    unsigned char digest[16];
    md5_calc(digest, id40, PROFILE_DEV_ID_LEN);
    return write_field(764, digest, sizeof digest, "write device ID error\r\n");
}

int eraseDeviceId(void) {
    const unsigned char zeros[PROFILE_DEV_ID_LEN] = {};
    return sysSetDevIdToFlash(zeros);
}

int eraseDeviceidMD5(void) {
    const unsigned char zeros[16] = {};
    return write_field(764, zeros, sizeof zeros, "write device ID error\r\n");
}

int sysGetFirmwareId(unsigned char *buf, int len) {
    if (buf == nullptr || len < 0 || kFirmwareIdHeadOffset + static_cast<unsigned>(len) > kHeadCopyLen)
        return -1;
    int head = flashGetAxHeadOffset();
    if (head < 0) return -1;
    uint32_t addr = static_cast<uint32_t>(head) + (getStartUpIndex() == 2 ? 2 * flashGetSectorSize() : 0);
    if (l_readFlash(buf, static_cast<unsigned>(len), addr + kFirmwareIdHeadOffset) != 0) {
        std::printf("sysGetFirmwareId From Flash flashBlkRead error\r\n");
        return -1;
    }
    return 0;
}

int sysProfilePrint(void) {
    unsigned char head[134] = {}, sign[PROFILE_SIGN_LEN] = {}, key[kPrintedKeyLen] = {},
                  mac[PROFILE_MAC_LEN] = {};
    unsigned char uid[FLASH_SECURITY_CODE_LEN] = {};
    sysGetMac(head, sizeof head);
    std::printf("Profile:\n");
    for (unsigned char b : head) std::printf("%02x ", b);
    std::printf("\n");
    sysGetMacFromFlash(mac);
    std::printf("MAC %02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    std::printf("UID \r\n");
    flashReadSecurityCode(uid);
    print_bytes(uid, sizeof uid);
    std::printf("Sign \r\n");
    sysGetFlashSign(sign, sizeof sign);
    print_bytes(sign, sizeof sign);
    std::printf("Public key \r\n");
    sysGetFlashPubLicKey(key, sizeof key);
    print_bytes(key, sizeof key);
    return 0;
}

int dumpDeviceId(void) {
    unsigned char id[PROFILE_DEV_ID_LEN + 1] = {}, md5[16] = {};
    sysGetDevId(id, PROFILE_DEV_ID_LEN);
    sysGetDevIdMd5(md5, sizeof md5);
    std::printf("Device ID:\r\n%s\r\nMD5:\r\n", reinterpret_cast<char *>(id));
    for (unsigned char b : md5) std::printf("%#x ", b);
    std::printf("\r\n");
    return 0;
}

}  // extern "C"
