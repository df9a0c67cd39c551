// SHA-1 and SHA-512 (FIPS 180).
#include <cstring>

#include "platform_core/crypto.h"

namespace {

constexpr uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr uint64_t rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

void sha1_block(uint32_t h[5], const unsigned char *p) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 |
               uint32_t(p[4 * i + 3]);
    }
    for (int i = 16; i < 80; ++i) w[i] = rotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5a827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ed9eba1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8f1bbcdc;
        } else {
            f = b ^ c ^ d;
            k = 0xca62c1d6;
        }
        uint32_t t = rotl32(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl32(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

constexpr uint64_t kK512[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL};

void sha512_block(uint64_t h[8], const unsigned char *p) {
    uint64_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = 0;
        for (int j = 0; j < 8; ++j) w[i] = (w[i] << 8) | p[8 * i + j];
    }
    for (int i = 16; i < 80; ++i) {
        uint64_t s0 = rotr64(w[i - 15], 1) ^ rotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
        uint64_t s1 = rotr64(w[i - 2], 19) ^ rotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 80; ++i) {
        uint64_t S1 = rotr64(e, 14) ^ rotr64(e, 18) ^ rotr64(e, 41);
        uint64_t ch = (e & f) ^ (~e & g);
        uint64_t t1 = hh + S1 + ch + kK512[i] + w[i];
        uint64_t S0 = rotr64(a, 28) ^ rotr64(a, 34) ^ rotr64(a, 39);
        uint64_t maj = (a & b) ^ (a & c) ^ (b & c);
        uint64_t t2 = S0 + maj;
        hh = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
}

}  // namespace

extern "C" {

void SHA_Init(SHA_State *s) {
    s->h[0] = 0x67452301;
    s->h[1] = 0xefcdab89;
    s->h[2] = 0x98badcfe;
    s->h[3] = 0x10325476;
    s->h[4] = 0xc3d2e1f0;
    s->blkused = 0;
    s->lenhi = s->lenlo = 0;
}

void SHA_Bytes(SHA_State *s, const void *data, int len) {
    if (len <= 0) return;
    auto *p = static_cast<const unsigned char *>(data);
    uint32_t ulen = static_cast<uint32_t>(len);
    s->lenlo += ulen;
    if (s->lenlo < ulen) ++s->lenhi;
    while (ulen > 0) {
        uint32_t take = 64 - static_cast<uint32_t>(s->blkused);
        if (take > ulen) take = ulen;
        std::memcpy(s->block + s->blkused, p, take);
        s->blkused += static_cast<int>(take);
        p += take;
        ulen -= take;
        if (s->blkused == 64) {
            sha1_block(s->h, s->block);
            s->blkused = 0;
        }
    }
}

void SHA_Final(SHA_State *s, unsigned char *digest20) {
    uint32_t hi = (s->lenhi << 3) | (s->lenlo >> 29), lo = s->lenlo << 3;
    unsigned char pad[72] = {0x80};
    int padlen = s->blkused < 56 ? 56 - s->blkused : 120 - s->blkused;
    SHA_Bytes(s, pad, padlen);
    unsigned char tail[8];
    for (int i = 0; i < 4; ++i) {
        tail[i] = static_cast<unsigned char>(hi >> (24 - 8 * i));
        tail[4 + i] = static_cast<unsigned char>(lo >> (24 - 8 * i));
    }
    SHA_Bytes(s, tail, 8);
    for (int i = 0; i < 20; ++i) digest20[i] = static_cast<unsigned char>(s->h[i / 4] >> (24 - 8 * (i % 4)));
}

void RSA_SHA_Simple(const void *data, int len, unsigned char *digest20) {
    SHA_State s;
    SHA_Init(&s);
    SHA_Bytes(&s, data, len);
    SHA_Final(&s, digest20);
}

void RSA_SHA512_Init(SHA512_State *s) {
    static constexpr uint64_t kInit[8] = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL,
                                          0xa54ff53a5f1d36f1ULL, 0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                                          0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
    std::memcpy(s->h, kInit, sizeof kInit);
    s->blkused = 0;
    s->lenlo = s->lenhi = 0;
}

void RSA_SHA512_Bytes(SHA512_State *s, const void *data, int len) {
    if (len <= 0) return;
    auto *p = static_cast<const unsigned char *>(data);
    uint64_t ulen = static_cast<uint64_t>(len);
    s->lenlo += ulen;
    if (s->lenlo < ulen) ++s->lenhi;
    while (ulen > 0) {
        uint64_t take = 128 - static_cast<uint64_t>(s->blkused);
        if (take > ulen) take = ulen;
        std::memcpy(s->block + s->blkused, p, static_cast<size_t>(take));
        s->blkused += static_cast<int>(take);
        p += take;
        ulen -= take;
        if (s->blkused == 128) {
            sha512_block(s->h, s->block);
            s->blkused = 0;
        }
    }
}

void RSA_SHA512_Final(SHA512_State *s, unsigned char *digest64) {
    uint64_t hi = (s->lenhi << 3) | (s->lenlo >> 61), lo = s->lenlo << 3;
    unsigned char pad[136] = {0x80};
    int padlen = s->blkused < 112 ? 112 - s->blkused : 240 - s->blkused;
    RSA_SHA512_Bytes(s, pad, padlen);
    unsigned char tail[16];
    for (int i = 0; i < 8; ++i) {
        tail[i] = static_cast<unsigned char>(hi >> (56 - 8 * i));
        tail[8 + i] = static_cast<unsigned char>(lo >> (56 - 8 * i));
    }
    RSA_SHA512_Bytes(s, tail, 16);
    for (int i = 0; i < 64; ++i) digest64[i] = static_cast<unsigned char>(s->h[i / 8] >> (56 - 8 * (i % 8)));
}

}  // extern "C"
