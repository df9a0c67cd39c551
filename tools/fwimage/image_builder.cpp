#include "image_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform_core/crypto.h"
#include "platform_core/firmware.h"
#include "test_signing_key.h"

namespace pc::tools {

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 24);
    b[at + 1] = static_cast<uint8_t>(v >> 16);
    b[at + 2] = static_cast<uint8_t>(v >> 8);
    b[at + 3] = static_cast<uint8_t>(v);
}

void put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

size_t round_up(size_t v, size_t to) { return (v + to - 1) / to * to; }

std::vector<uint8_t> unhex(const char *text) {
    std::vector<uint8_t> out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        out.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    return out;
}

}  // namespace

Id16 id16(const std::string &text) {
    Id16 id{};
    std::memcpy(id.data(), text.data(), std::min<size_t>(text.size(), id.size()));
    return id;
}

std::vector<uint8_t> build_head(const ImageSpec &spec) {
    std::vector<uint8_t> head(FW_HEAD_COPY_LEN, 0);
    std::memcpy(head.data() + 4, axHeaderMagicNumber, FW_MAGIC_LEN);
    put16(head, 32, spec.vendorId);
    std::memcpy(head.data() + 176, spec.fwId.data(), FW_ID_LEN);
    if (spec.backward.size() > FW_LOCAL_BACKWARD_MAX) throw std::invalid_argument("backward list too long");
    put32(head, 204, static_cast<uint32_t>(spec.backward.size()));
    for (size_t i = 0; i < spec.backward.size(); ++i)
        std::memcpy(head.data() + 208 + 16 * i, spec.backward[i].data(), 16);
    return head;
}

std::vector<uint8_t> build_plain_image(const ImageSpec &spec) {
    if (688 + 16 * (spec.hwIds.size() + spec.forward.size()) > FW_HEADER_LEN || spec.forward.size() > 96) {
        throw std::invalid_argument("identifier lists do not fit the header");
    }
    std::array<std::vector<uint8_t>, 5> sections = spec.sections;
    if (sections[0].empty()) sections[0].assign(16, 0x5a);
    // Where the items would start without padding, to size section 1.
    size_t end = FW_BODY_OFFSET;
    for (const auto &s : sections) end = round_up(end + s.size(), 4);
    size_t itemsLen = 0;
    if (spec.withInnerItems) {
        itemsLen = 4;
        for (const auto &[type, value] : spec.innerItems) itemsLen += 8 + round_up(value.size(), 4);
    }
    size_t total = spec.withInnerItems ? end + itemsLen : round_up(end, 16);
    if (total < spec.minLength) {
        size_t grow = round_up(spec.minLength - total, 16);
        sections[0].resize(sections[0].size() + grow, 0x5a);
    }

    std::vector<uint8_t> img(FW_BODY_OFFSET, 0);
    std::memcpy(img.data() + 16, spec.productId.data(), 16);
    std::memcpy(img.data() + 32, spec.name.data(), std::min<size_t>(spec.name.size(), 199));
    std::vector<uint8_t> head = build_head(spec);
    put32(img, 232, FW_HEAD_COPY_LEN);
    for (size_t i = 0; i < 5; ++i) put32(img, 236 + 4 * i, static_cast<uint32_t>(sections[i].size()));
    for (size_t i = 0; i < 12; ++i) {
        std::memcpy(img.data() + 260 + 16 * i, spec.layout[i].data(),
                    std::min<size_t>(spec.layout[i].size(), 16));
    }
    std::memcpy(img.data() + 516, upgradeHeaderMagicNumber, FW_MAGIC_LEN);
    put16(img, 538, spec.vendorId);
    put16(img, 672, static_cast<uint16_t>(spec.hwIds.size()));
    put16(img, 674, static_cast<uint16_t>(spec.forward.size()));
    for (size_t i = 0; i < spec.forward.size(); ++i)
        img[676 + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    size_t at = 688;
    for (const auto &id : spec.hwIds) {
        std::memcpy(img.data() + at, id.data(), 16);
        at += 16;
    }
    for (const auto &id : spec.forward) {
        std::memcpy(img.data() + at, id.data(), 16);
        at += 16;
    }
    std::memcpy(img.data() + FW_HEAD_OFFSET, head.data(), head.size());
    for (const auto &s : sections) {
        img.insert(img.end(), s.begin(), s.end());
        img.resize(round_up(img.size(), 4), 0);
    }
    if (spec.withInnerItems) {
        size_t n = img.size();
        img.resize(n + 4);
        put32(img, n, static_cast<uint32_t>(spec.innerItems.size()));
        for (const auto &[type, value] : spec.innerItems) {
            n = img.size();
            img.resize(n + 8);
            put32(img, n, type);
            put32(img, n + 4, static_cast<uint32_t>(value.size()));
            img.insert(img.end(), value.begin(), value.end());
            img.resize(round_up(img.size(), 4), 0);
        }
    } else {
        img.resize(round_up(img.size(), 16), 0);
    }
    seal_md5(img);
    return img;
}

void seal_md5(std::vector<uint8_t> &plain) {
    std::fill(plain.begin(), plain.begin() + 16, 0);
    uint8_t digest[16];
    md5_calc(digest, plain.data(), static_cast<unsigned>(plain.size()));
    std::memcpy(plain.data(), digest, 16);
}

std::vector<uint8_t> encrypt_image(const std::vector<uint8_t> &plain) {
    std::vector<uint8_t> out(plain.size());
    sysDesEncode(plain.data(), static_cast<int>(plain.size()), out.data());
    return out;
}

void sign_image(std::vector<uint8_t> &image) {
    uint8_t md5[16], sha[20];
    md5_calc(md5, image.data(), static_cast<unsigned>(image.size()));
    RSA_SHA_Simple(md5, sizeof md5, sha);
    // PKCS#1 v1.5 type 1 block with the SHA-1 DigestInfo.
    static const uint8_t kInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                    0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    std::vector<uint8_t> em(FW_SIGNATURE_LEN, 0xff);
    em[0] = 0;
    em[1] = 1;
    size_t t = sizeof kInfo + sizeof sha;
    em[FW_SIGNATURE_LEN - t - 1] = 0;
    std::memcpy(&em[FW_SIGNATURE_LEN - t], kInfo, sizeof kInfo);
    std::memcpy(&em[FW_SIGNATURE_LEN - sizeof sha], sha, sizeof sha);
    auto n = unhex(kTestKeyModulus), d = unhex(kTestKeyPrivateExponent);
    RSA_Bignum bn = RSA_bignum_from_bytes(n.data(), static_cast<int>(n.size()));
    RSA_Bignum bd = RSA_bignum_from_bytes(d.data(), static_cast<int>(d.size()));
    RSA_Bignum bm = RSA_bignum_from_bytes(em.data(), static_cast<int>(em.size()));
    RSA_Bignum bs = RSA_modpow(bm, bd, bn);
    // Little-endian, as the verifier takes it.
    for (int i = 0; i < static_cast<int>(FW_SIGNATURE_LEN); ++i)
        image.push_back(static_cast<uint8_t>(RSA_bignum_byte(bs, i)));
    for (RSA_Bignum b : {bn, bd, bm, bs}) RSA_freebn(b);
}

std::vector<uint8_t> build_image(const ImageSpec &spec, bool sign) {
    std::vector<uint8_t> image = encrypt_image(build_plain_image(spec));
    if (sign) sign_image(image);
    return image;
}

}  // namespace pc::tools
