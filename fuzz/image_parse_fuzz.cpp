// Fuzzes the image parser past its checksum: the input is a decrypted image
// whose checksum and product passed, given to the structural check that
// sysParseImage runs next (sections, inner items, layout, identifier rules;
// the device asks for the rules, has a profile and a head copy). Every
// 4096th input also goes through the whole sysParseImage (padded to the smallest
// accepted size, product put in place, MD5 sealed, encrypted), and every
// input through the signature check. Nothing may crash or read out of
// bounds, and every inner item found must lie inside the image. Seeds in
// fuzz/seeds/image_parse_fuzz were made with
//   fwimage build SEED --plain --min-length 0 --product FUZZ-PRODUCT
//   --hw-id HW-FUZZ --vendor 1 --fw-id FW-NEW --from FW-FUZZ --item 2:FILE
// (and variants: backward list, old image); pass that folder after the corpus.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "flash/firmware_internal.h"
#include "fuzz_flash_chip.h"
#include "platform_core/crypto.h"
#include "platform_core/firmware.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"
#include "platform_core/profile.h"

namespace {

const unsigned char kProduct[16] = "FUZZ-PRODUCT";

void setup_device() {
    static bool done = false;
    if (done) return;
    done = true;
    pc::fuzz::fresh_para();
    std::vector<uint8_t> profile(PROFILE_LEN, 0);
    std::memcpy(profile.data() + 384, kProduct, 16);
    std::memcpy(profile.data() + 780, "HW-FUZZ", 7);
    flashAppInnerSet(FLASH_INNER_TYPE_PROFILE, profile.data(), PROFILE_LEN, 0);
    std::vector<uint8_t> head(FW_HEAD_COPY_LEN, 0);
    std::memcpy(head.data() + 4, axHeaderMagicNumber, FW_MAGIC_LEN);
    head[33] = 1;  // vendor 1
    std::memcpy(head.data() + 176, "FW-FUZZ", 7);
    head[207] = 2;  // two backward identifiers
    std::memcpy(head.data() + 208, "FW-B1", 5);
    std::memcpy(head.data() + 224, "FW-B2", 5);
    l_writeFlash(head.data(), FW_HEAD_COPY_LEN, 0x1ec0000, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FILE *sink = std::fopen("/dev/null", "w");
    FILE *saved = stdout;
    stdout = sink;
    setup_device();

    std::vector<uint8_t> raw(data, data + size);
    uint32_t len = static_cast<uint32_t>(raw.size());
    firmwareRsaSignVerify(raw.data(), &len);

    // Short inputs are the start of an image whose rest is zeros.
    std::vector<uint8_t> start(data, data + size);
    if (start.size() < FW_BODY_OFFSET + 4) start.resize(FW_BODY_OFFSET + 4, 0);
    IMAGE_INFO_T body{};
    pc::flash::parse_image_body(start, 1 + (size & 1), &body);
    for (const IMAGE_INNER_ITEM_T *it = body.innerItems; it; it = it->next) {
        if (static_cast<uint64_t>(it->offset) + it->length > start.size()) std::abort();
    }
    sysImageInfoFree(&body);
    static unsigned runs = 0;
    if (runs++ % 4096 != 0) {  // the whole path only now and then: two megabytes of DES and MD5
        stdout = saved;
        return 0;
    }

    std::vector<uint8_t> image(data, data + size);
    if (image.size() < FW_IMAGE_MIN_LEN) image.resize(FW_IMAGE_MIN_LEN, 0);
    if (image.size() > FW_IMAGE_MAX_LEN) image.resize(FW_IMAGE_MAX_LEN);
    std::memcpy(image.data() + 16, kProduct, 16);
    std::memset(image.data(), 0, 16);
    unsigned char digest[16];
    md5_calc(digest, image.data(), static_cast<unsigned>(image.size()));
    std::memcpy(image.data(), digest, 16);
    sysDesEncode(image.data(), static_cast<int>(image.size()), image.data());
    IMAGE_INFO_T info{};
    sysParseImage(image.data(), static_cast<uint32_t>(image.size()), 1 + (size & 1), &info);
    for (const IMAGE_INNER_ITEM_T *it = info.innerItems; it; it = it->next) {
        if (static_cast<uint64_t>(it->offset) + it->length > image.size()) std::abort();
    }
    sysImageInfoFree(&info);
    stdout = saved;
    return 0;
}
