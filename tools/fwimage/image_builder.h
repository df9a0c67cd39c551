// Builds firmware images in the switch's format for tests and lab use:
// header, head section, five body sections, inner items, MD5, DES
// encryption and an RSA signature made with the test key pair.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pc::tools {

using Id16 = std::array<uint8_t, 16>;

// A 16-byte identifier from text (NUL-padded, cut at 16).
Id16 id16(const std::string &text);

struct ImageSpec {
    Id16 productId{};
    std::string name = "test image";
    // FL_SIZE_BOOT ... FL_VER, as hexadecimal texts.
    std::array<std::string, 12> layout{"0x100000", "0x1300000", "0x800000", "0xa00000",
                                       "0x900000", "0x100000",  "0x900000", "0x1b00000",
                                       "0x3c0000", "0x1ec0000", "0x40000",  "0x10500"};
    uint16_t vendorId = 1;
    std::vector<Id16> hwIds;
    std::vector<Id16> forward;  // firmware identifiers this image upgrades from
    Id16 fwId{};
    std::vector<Id16> backward;  // written into the head: what the image accepts later
    std::array<std::vector<uint8_t>, 5> sections;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> innerItems;
    bool withInnerItems = true;     // false: an "old" image ending after section 5
    uint32_t minLength = 0x200001;  // section 1 is padded so the image reaches it
};

// The 1024-byte head section (also what the device keeps as its head copy).
std::vector<uint8_t> build_head(const ImageSpec &spec);
// The decrypted image: MD5 filled in, not encrypted, not signed.
std::vector<uint8_t> build_plain_image(const ImageSpec &spec);
// Recomputes the MD5 at 0 (after a test changed a plain image).
void seal_md5(std::vector<uint8_t> &plain);
// Encrypts with the built-in DES key and IV.
std::vector<uint8_t> encrypt_image(const std::vector<uint8_t> &plain);
// Appends the RSA signature of the test key pair.
void sign_image(std::vector<uint8_t> &image);
std::vector<uint8_t> build_image(const ImageSpec &spec, bool sign = true);

}  // namespace pc::tools
