// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104).
#include <array>
#include <cstring>

#include "platform_core/crypto.h"

namespace {

constexpr std::array<uint32_t, 64> kSine{
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr std::array<int, 16> kShift{7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

constexpr uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + m[g], kShift[(i / 16) * 4 + i % 4]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

extern "C" {

void SWMD5Init(SW_MD5_CTX *ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->count[0] = ctx->count[1] = 0;
}

void SWMD5Update(SW_MD5_CTX *ctx, const unsigned char *data, unsigned int len) {
    unsigned used = (ctx->count[0] >> 3) & 63;
    uint32_t bits = uint32_t(len) << 3;
    ctx->count[0] += bits;
    if (ctx->count[0] < bits) ++ctx->count[1];
    ctx->count[1] += uint32_t(len) >> 29;
    if (used != 0) {
        unsigned take = 64 - used < len ? 64 - used : len;
        std::memcpy(ctx->buffer + used, data, take);
        data += take;
        len -= take;
        if (used + take < 64) return;
        transform(ctx->state, ctx->buffer);
    }
    for (; len >= 64; len -= 64, data += 64) transform(ctx->state, data);
    if (len != 0) std::memcpy(ctx->buffer, data, len);
}

void SWMD5Final(unsigned char digest[16], SW_MD5_CTX *ctx) {
    unsigned char tail[8];
    for (int i = 0; i < 4; ++i) {
        tail[i] = static_cast<unsigned char>(ctx->count[0] >> (8 * i));
        tail[4 + i] = static_cast<unsigned char>(ctx->count[1] >> (8 * i));
    }
    static const unsigned char pad[64] = {0x80};
    unsigned used = (ctx->count[0] >> 3) & 63;
    SWMD5Update(ctx, pad, used < 56 ? 56 - used : 120 - used);
    SWMD5Update(ctx, tail, 8);
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(ctx->state[i / 4] >> (8 * (i % 4)));
    std::memset(ctx, 0, sizeof *ctx);
}

void md5_calc(unsigned char *digest16, const unsigned char *data, unsigned int len) {
    SW_MD5_CTX ctx;
    SWMD5Init(&ctx);
    SWMD5Update(&ctx, data, len);
    SWMD5Final(digest16, &ctx);
}

void hmac_md5(const unsigned char *data, int dataLen, const unsigned char *key, int keyLen,
              unsigned char *digest16) {
    if (digest16 == nullptr || dataLen < 0 || keyLen < 0) return;
    unsigned char hashedKey[16];
    if (keyLen > 64) {
        md5_calc(hashedKey, key, static_cast<unsigned>(keyLen));
        key = hashedKey;
        keyLen = 16;
    }
    unsigned char ipad[64] = {}, opad[64] = {};
    if (keyLen > 0) {
        std::memcpy(ipad, key, static_cast<size_t>(keyLen));
        std::memcpy(opad, key, static_cast<size_t>(keyLen));
    }
    for (int i = 0; i < 64; ++i) {
        ipad[i] ^= 0x36;
        opad[i] ^= 0x5c;
    }
    SW_MD5_CTX ctx;
    SWMD5Init(&ctx);
    SWMD5Update(&ctx, ipad, 64);
    SWMD5Update(&ctx, data, static_cast<unsigned>(dataLen));
    unsigned char inner[16];
    SWMD5Final(inner, &ctx);
    SWMD5Init(&ctx);
    SWMD5Update(&ctx, opad, 64);
    SWMD5Update(&ctx, inner, 16);
    SWMD5Final(digest16, &ctx);
}

}  // extern "C"
