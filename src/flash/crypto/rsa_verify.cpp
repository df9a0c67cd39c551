// RSA signature verification against a public-key blob.
//
// Blob: an 8-byte blob header, then "RSA1", the modulus length in bits and
// the public exponent (both 32-bit little-endian), then the modulus,
// little-endian. The signature is little-endian too. s^e mod n must be a
// PKCS#1 v1.5 type 1 block holding the SHA-1 DigestInfo of the data.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flash/crypto/bignum.h"
#include "platform_core/crypto.h"

namespace {

constexpr int kBlobHeader = 20;
constexpr int kMaxSigLen = 256;
constexpr int kMaxKeyText = 256;
constexpr unsigned char kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                             0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};

uint32_t le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

extern "C" {

int rsaVerifySign(const unsigned char *blob, int blobLen, const unsigned char *data, int dataLen,
                  const unsigned char *sig, int sigLen) {
    using namespace pc::flash::bn;
    if (blob == nullptr || sig == nullptr || (data == nullptr && dataLen != 0) || dataLen < 0) return 0;
    if (sigLen <= 0 || sigLen >= kMaxSigLen + 1 || blobLen < kBlobHeader) return 0;
    if (std::memcmp(blob + 8, "RSA1", 4) != 0) return 0;
    uint32_t bits = le32(blob + 12);
    uint32_t exponent = le32(blob + 16);
    uint32_t modBytes = (bits + 7) / 8;
    // The blob must hold the modulus it announces.
    if (bits == 0 || modBytes > uint32_t(blobLen - kBlobHeader) || exponent == 0) return 0;
    if (uint32_t(sigLen) > modBytes) return 0;

    std::vector<uint8_t> be(blob + kBlobHeader, blob + kBlobHeader + modBytes);
    std::reverse(be.begin(), be.end());
    Num n = from_be_bytes(be.data(), be.size());
    std::vector<uint8_t> sbe(sig, sig + sigLen);
    std::reverse(sbe.begin(), sbe.end());
    Num s = from_be_bytes(sbe.data(), sbe.size());
    if (n.empty() || cmp(s, n) >= 0) return 0;
    Num e;
    for (uint32_t x = exponent; x; x >>= 16) e.push_back(static_cast<uint16_t>(x));
    std::vector<uint8_t> em = to_be_bytes(modpow(s, e, n), modBytes);

    unsigned char digest[20];
    RSA_SHA_Simple(data, dataLen, digest);
    const size_t tLen = sizeof kSha1DigestInfo + sizeof digest;
    if (em.size() < tLen + 11) return 0;
    size_t padEnd = em.size() - tLen - 1;
    if (em[0] != 0x00 || em[1] != 0x01 || em[padEnd] != 0x00) return 0;
    for (size_t i = 2; i < padEnd; ++i) {
        if (em[i] != 0xff) return 0;
    }
    if (std::memcmp(&em[padEnd + 1], kSha1DigestInfo, sizeof kSha1DigestInfo) != 0) return 0;
    return std::memcmp(&em[padEnd + 1 + sizeof kSha1DigestInfo], digest, sizeof digest) == 0 ? 1 : 0;
}

int rsaVerifySignByBase64EncodePublicKeyBlob(const char *keyText, int keyLen, const unsigned char *data,
                                             int dataLen, const unsigned char *sig, int sigLen) {
    if (keyText == nullptr || keyLen < 0 || keyLen >= kMaxKeyText + 1) return 0;
    if (keyLen >= 2 && keyText[0] == '+' && keyText[1] == ' ') {
        keyText += 2;
        keyLen -= 2;
    }
    unsigned char blob[kMaxKeyText];
    int blobLen = base64_decode(keyText, keyLen, blob, sizeof blob);
    if (blobLen < 0) return 0;
    return rsaVerifySign(blob, blobLen, data, dataLen, sig, sigLen);
}

}  // extern "C"
