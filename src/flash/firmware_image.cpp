// Firmware image checks: size, product, MD5, sections and inner items, the
// hardware and firmware identifier rules, and the RSA signature.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "flash/crypto/builtin_secrets.h"
#include "flash/firmware_internal.h"
#include "flash/flash_internal.h"
#include "platform_core/crypto.h"
#include "platform_core/firmware.h"
#include "platform_core/flash.h"
#include "platform_core/gev.h"
#include "platform_core/profile.h"

const unsigned char upgradeHeaderMagicNumber[FW_MAGIC_LEN] = {0x55, 0xaa, 0x4c, 0x5e, 0x83, 0x1f, 0x53,
                                                              0x4b, 0xa1, 0xf8, 0xf7, 0xc9, 0x18, 0xdf,
                                                              0x8f, 0xbf, 0x7d, 0xa1, 0xaa, 0x55};
const unsigned char axHeaderMagicNumber[FW_MAGIC_LEN] = {0x55, 0xaa, 0x9d, 0xd1, 0xa8, 0xc8, 0x83,
                                                         0x31, 0xc9, 0x69, 0xfb, 0xbf, 0xbc, 0xf0,
                                                         0xd4, 0x32, 0x70, 0xc7, 0xaa, 0x55};
LOCAL_INFO_T g_local_info;

namespace {

// Header offsets.
constexpr uint32_t kProductOffset = 16;
constexpr uint32_t kNameOffset = 32;
constexpr uint32_t kNameLen = 200;
constexpr uint32_t kHeadLenOffset = 232;
constexpr uint32_t kSectionLenOffset = 236;
constexpr uint32_t kLayoutOffset = 260;
constexpr uint32_t kUpgradeMagicOffset = 516;
constexpr uint32_t kVendorOffset = 538;
constexpr uint32_t kHwIdCountOffset = 672;
constexpr uint32_t kBitmapBitsOffset = 674;
constexpr uint32_t kBitmapOffset = 676;
constexpr uint32_t kBitmapMaxBits = (688 - kBitmapOffset) * 8;
constexpr uint32_t kHwIdsOffset = 688;
constexpr uint32_t kHeadMagicOffset = FW_HEAD_OFFSET + 4;
// Head offsets (inside the head section or the head copy on flash).
constexpr uint32_t kHeadVendorOffset = 32;
constexpr uint32_t kHeadFwIdOffset = 176;
constexpr uint32_t kHeadBackwardCountOffset = 204;
constexpr uint32_t kHeadBackwardOffset = 208;

constexpr uint64_t round_up(uint64_t v, uint64_t to) { return (v + to - 1) / to * to; }

void free_items(IMAGE_INFO_T *info) {
    IMAGE_INNER_ITEM_T *it = info->innerItems;
    while (it) {
        IMAGE_INNER_ITEM_T *next = it->next;
        std::free(it);
        it = next;
    }
    info->innerItems = nullptr;
}

void clear_record(IMAGE_INFO_T *info) {
    free_items(info);
    std::memset(reinterpret_cast<unsigned char *>(info) + sizeof info->caller, 0,
                sizeof *info - sizeof info->caller);
}

// The section table and the inner item descriptors, each checked against
// the image.
bool read_sections(std::span<const uint8_t> img, const uint8_t *header, IMAGE_INFO_T *info) {
    uint32_t headLen = pc::flash::get_be32(header + kHeadLenOffset);
    if (headLen > FW_BODY_OFFSET - FW_HEAD_OFFSET) {
        std::printf("Fatal error: Bad image, head length=%#x\r\n", headLen);
        return false;
    }
    info->sections[0] = {FW_HEAD_OFFSET, headLen};
    uint64_t start = FW_BODY_OFFSET;
    for (int i = 0; i < FW_SECTION_COUNT; ++i) {
        uint32_t l = pc::flash::get_be32(header + kSectionLenOffset + 4 * static_cast<uint32_t>(i));
        if (start + l > img.size()) {
            std::printf("Fatal error: Bad image, length=%#x, section %d ends at %#llx\r\n",
                        static_cast<unsigned>(img.size()), i + 1, static_cast<unsigned long long>(start + l));
            return false;
        }
        info->sections[1 + i] = {static_cast<uint32_t>(start), l};
        start = round_up(start + l, 4);
    }
    uint64_t e = start;  // the end of section 5 rounded up to 4
    if (img.size() == round_up(e, 16)) {
        std::printf("Old image, we don't read inner items.\r\n");
        return true;
    }
    if (img.size() < round_up(e, 16) || e + 4 > img.size()) {
        std::printf("Fatal error: Bad image, length=%#x, inneritemoffset=%#llx\r\n",
                    static_cast<unsigned>(img.size()), static_cast<unsigned long long>(e));
        return false;
    }
    uint32_t n = pc::flash::get_be32(img.data() + e);
    uint64_t at = e + 4;
    IMAGE_INNER_ITEM_T **tail = &info->innerItems;
    for (uint32_t i = 0; i < n; ++i) {
        if (at + 8 > img.size()) {
            std::printf("Fatal error: Bad image, inner item %u of %u beyond the image\r\n", i, n);
            return false;
        }
        uint32_t type = pc::flash::get_be32(img.data() + at),
                 length = pc::flash::get_be32(img.data() + at + 4);
        if (at + 8 + length > img.size()) {
            std::printf("Fatal error: Bad image, inner item type=%#x length=%#x beyond the image\r\n", type,
                        length);
            return false;
        }
        auto *item = static_cast<IMAGE_INNER_ITEM_T *>(std::calloc(1, sizeof(IMAGE_INNER_ITEM_T)));
        if (item == nullptr) return false;
        *item = {type, length, static_cast<uint32_t>(at + 8), nullptr};
        *tail = item;
        tail = &item->next;
        at = round_up(at + 8 + length, 4);
    }
    info->innerItemCount = n;
    info->innerItemsRead = 1;
    return true;
}

bool id_in(const uint8_t *id, const uint8_t *list, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (std::memcmp(id, list + i * FW_ID_LEN, FW_ID_LEN) == 0) return true;
    }
    return false;
}

bool check_identifiers(std::span<const uint8_t> img, const uint8_t *header, int index) {
    if (localInfoRead(index) != 0) return false;
    if (std::memcmp(header + kUpgradeMagicOffset, upgradeHeaderMagicNumber, FW_MAGIC_LEN) != 0) {
        std::printf("can't find AX UPGRADE HEADER!\n");
        return false;
    }
    if (img.size() < FW_BODY_OFFSET ||
        std::memcmp(img.data() + kHeadMagicOffset, axHeaderMagicNumber, FW_MAGIC_LEN) != 0) {
        std::printf("can't find AX HEADER!\n");
        return false;
    }
    uint32_t h = pc::flash::get_be16(header + kHwIdCountOffset);
    uint32_t bits = pc::flash::get_be16(header + kBitmapBitsOffset);
    // The bitmap has its own field; the hardware identifiers are read whole
    // and must lie in the header, a forward list entry only once its bit
    // says it is there (below).
    auto bad_header = [&] {
        std::printf("Bad upgrade header: %u hardware identifiers, %u list bits\n", h, bits);
        return false;
    };
    if (bits > kBitmapMaxBits || kHwIdsOffset + static_cast<uint64_t>(h) * FW_ID_LEN > FW_HEADER_LEN)
        return bad_header();
    if (!id_in(g_local_info.hwId, header + kHwIdsOffset, h)) {
        std::printf("firmware not support my HwID\n");
        std::printf("Hw ID not support\n");
        return false;
    }
    std::printf("firmware support my HwID\n");
    uint16_t vendor = pc::flash::get_be16(header + kVendorOffset);
    if (vendor != g_local_info.vendorId) {
        std::printf("firmware vendorId is 0x%08x and our vendorId is 0x%08x\n", vendor,
                    g_local_info.vendorId);
        return false;
    }
    const uint8_t *imageFwId = img.data() + FW_HEAD_OFFSET + kHeadFwIdOffset;
    if (std::memcmp(imageFwId, g_local_info.fwId, FW_ID_LEN) == 0) {
        std::printf("Check FwID Failed, same version\n");
        return false;
    }
    for (uint32_t i = 0; i < bits; ++i) {
        bool present = (header[kBitmapOffset + i / 8] >> (7 - i % 8)) & 1;
        if (!present) continue;
        uint64_t entry = kHwIdsOffset + (static_cast<uint64_t>(h) + i) * FW_ID_LEN;
        if (entry + FW_ID_LEN > FW_HEADER_LEN) return bad_header();
        if (std::memcmp(header + entry, g_local_info.fwId, FW_ID_LEN) == 0) {
            std::printf("My FwID is in firmware's FL\n");
            return true;
        }
    }
    if (id_in(imageFwId, &g_local_info.backward[0][0], g_local_info.backwardCount)) {
        std::printf("FwID of firmware is in my BL\n");
        return true;
    }
    std::printf("this firmware do not support forward or backward upgrade\n");
    return false;
}

}  // namespace

namespace pc::flash {

int parse_image_body(std::span<const uint8_t> img, int index, IMAGE_INFO_T *info) {
    if (img.size() < FW_BODY_OFFSET) return -1;
    const uint8_t *header = img.data();
    if (get_be32(header + kSectionLenOffset) == 0) {
        std::printf("Fatal error: Bad image, the first section is empty\r\n");
        return -1;
    }
    int rc = -1;
    if (read_sections(img, header, info)) {
        std::memcpy(info->layout, header + kLayoutOffset, sizeof info->layout);
        char need[GEV_VALUE_LEN];
        bool check = getEnvItem("NEED_CHECK_FW_HEAD", need) == 0 && std::strcmp(need, "1") == 0;
        if (check && !check_identifiers(img, header, index)) {
            std::printf("fw head check failed\r\n");
        } else {
            rc = 0;
        }
    }
    if (rc != 0) free_items(info);
    return rc;
}

}  // namespace pc::flash

extern "C" {

int localInfoRead(int index) {
    char value[GEV_VALUE_LEN];
    uint8_t head[FW_HEAD_COPY_LEN];
    uint32_t addr = 0;
    if (getEnvItem("FL_OFFSET_FW_HEAD", value) == 0) addr = pc::flash::parse_hex32(value);
    if (index == 2) addr += 2 * flashGetSectorSize();
    if (addr == 0 || l_readFlash(head, sizeof head, addr) != 0 ||
        std::memcmp(head + 4, axHeaderMagicNumber, FW_MAGIC_LEN) != 0) {
        std::printf("can't find AX HEAD in flash\n");
        return -1;
    }
    LOCAL_INFO_T info{};
    info.vendorId = pc::flash::get_be16(head + kHeadVendorOffset);
    std::memcpy(info.fwId, head + kHeadFwIdOffset, FW_ID_LEN);
    uint32_t b = pc::flash::get_be32(head + kHeadBackwardCountOffset);
    if (b > FW_LOCAL_BACKWARD_MAX) {
        std::printf("can't find AX HEAD in flash\n");
        return -1;
    }
    info.backwardCount = b;
    std::memcpy(info.backward, head + kHeadBackwardOffset, b * FW_ID_LEN);
    if (sysGetHwIdFromFlash(info.hwId) != 0) {
        std::printf("can't find hwId in flash\n");
        return -1;
    }
    g_local_info = info;
    return 0;
}

void sysImageInfoFree(IMAGE_INFO_T *info) {
    if (info) free_items(info);
}

int sysParseImage(unsigned char *image, uint32_t len, int index, IMAGE_INFO_T *info) {
    if (image == nullptr || info == nullptr) return -1;
    if (len < FW_IMAGE_MIN_LEN || len > FW_IMAGE_MAX_LEN) {
        std::printf("Invalid firmware size. It should be in range of %dM-%dM", 2, 18);
        info->valid = 0;
        return -1;
    }
    clear_record(info);
    sysDesDecode(image, static_cast<int>(len), image);
    if (sysFirmwareCheckProduct(image + kProductOffset) != 0) return -1;

    uint8_t header[FW_HEADER_LEN];
    std::memcpy(header, image, sizeof header);
    uint8_t stored[16], digest[16];
    std::memcpy(stored, image, 16);
    std::memset(image, 0, 16);
    md5_calc(digest, image, len);
    if (std::memcmp(stored, digest, 16) != 0) {
        std::printf("Error: MD5 checksum error\r\n");
        std::printf("Error: Failed to parse image\r\n");
        return -1;
    }
    std::memcpy(info->name, header + kNameOffset, kNameLen);
    info->name[kNameLen - 1] = '\0';
    if (sysFirmwareCheckProduct(header + kProductOffset) != 0) {
        std::printf("Error: Verifing productID error, image name is %s.\r\n", info->name);
        return -1;
    }
    int rc = pc::flash::parse_image_body(std::span<const uint8_t>(image, len), index, info);
    info->valid = rc == 0 ? 1 : 0;
    return rc;
}

int firmwareRsaSignVerify(const unsigned char *image, uint32_t *len) {
    if (image == nullptr || len == nullptr || *len <= FW_SIGNATURE_LEN) {
        std::printf("Failed to verify Rsa.\r\n");
        return -1;
    }
    uint32_t body = *len - FW_SIGNATURE_LEN;
    unsigned char digest[16];
    md5_calc(digest, image, body);
    const char *key = pc::flash::secrets::kFirmwarePublicKey;
    if (rsaVerifySignByBase64EncodePublicKeyBlob(key, static_cast<int>(std::strlen(key)), digest,
                                                 sizeof digest, image + body, FW_SIGNATURE_LEN) != 1) {
        std::printf("Failed to verify Rsa.\r\n");
        return -1;
    }
    *len = body;
    return 0;
}

int sysUpgradeVxFirmware(unsigned char *image, uint32_t len) {
    (void)image;
    (void)len;
    std::printf("IMAGE TYPE error\r\n");
    return -1;
}

}  // extern "C"
