// DES and triple DES (FIPS 46) with a CBC context.
//
// The permutations are the standard's tables, applied through byte lookup
// tables built once from them (each input byte contributes a fixed set of
// output bits); the S-boxes are merged with the P permutation into eight
// 64-entry tables. Bits are numbered as in the standard: bit 1 is the most
// significant bit of the block.
#include <array>
#include <cstring>
#include <mutex>

#include "platform_core/crypto.h"

namespace {

constexpr std::array<uint8_t, 56> kPC1{57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                       10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                       63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                       14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::array<uint8_t, 48> kPC2{14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                       26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                       51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::array<uint8_t, 16> kShifts{1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::array<uint8_t, 64> kIP{58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                      62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                      57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                      61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::array<uint8_t, 64> kFP{40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                                      38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                                      36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                                      34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr std::array<uint8_t, 48> kE{32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                                     12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                                     22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr std::array<uint8_t, 32> kP{16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                     2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// out bit k (1-based, of n) = in bit table[k-1] (1-based, of inBits).
template <size_t N>
uint64_t permute(uint64_t in, int inBits, const std::array<uint8_t, N> &table) {
    uint64_t out = 0;
    for (size_t k = 0; k < N; ++k) {
        uint64_t bit = (in >> (inBits - table[k])) & 1;
        out |= bit << (N - 1 - k);
    }
    return out;
}

struct Tables {
    uint64_t ip[8][256];
    uint64_t fp[8][256];
    uint64_t e[4][256];
    uint32_t sp[8][64];
};

Tables g_tables;
std::once_flag g_once;

template <size_t N>
void build_lut(uint64_t (*lut)[256], int inBytes, const std::array<uint8_t, N> &table) {
    for (int b = 0; b < inBytes; ++b) {
        for (int v = 0; v < 256; ++v) {
            uint64_t in = uint64_t(v) << (8 * (inBytes - 1 - b));
            lut[b][v] = permute(in, inBytes * 8, table);
        }
    }
}

void build_tables() {
    build_lut(g_tables.ip, 8, kIP);
    build_lut(g_tables.fp, 8, kFP);
    build_lut(g_tables.e, 4, kE);
    for (int i = 0; i < 8; ++i) {
        for (int v = 0; v < 64; ++v) {
            int row = ((v >> 4) & 2) | (v & 1);
            int col = (v >> 1) & 15;
            uint64_t s = uint64_t(kS[i][row * 16 + col]) << (28 - 4 * i);
            g_tables.sp[i][v] = static_cast<uint32_t>(permute(s, 32, kP));
        }
    }
}

const Tables &tables() {
    std::call_once(g_once, build_tables);
    return g_tables;
}

uint64_t lut_apply(const uint64_t (*lut)[256], uint64_t in, int inBytes) {
    uint64_t out = 0;
    for (int b = 0; b < inBytes; ++b) out |= lut[b][(in >> (8 * (inBytes - 1 - b))) & 0xff];
    return out;
}

uint64_t load64(const unsigned char *p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

void store64(unsigned char *p, uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

uint64_t des_block(const DES_KEY_SCHEDULE *ks, uint64_t block) {
    const Tables &t = tables();
    uint64_t x = lut_apply(t.ip, block, 8);
    uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
    for (int round = 0; round < 16; ++round) {
        uint64_t e = lut_apply(t.e, r, 4) ^ ks->k[round];
        uint32_t f = 0;
        for (int i = 0; i < 8; ++i) f |= t.sp[i][(e >> (42 - 6 * i)) & 63];
        uint32_t next = l ^ f;
        l = r;
        r = next;
    }
    uint64_t pre = uint64_t(r) << 32 | l;  // the halves swap before FP
    return lut_apply(t.fp, pre, 8);
}

}  // namespace

extern "C" {

void deskey(const unsigned char key[8], int decrypt, DES_KEY_SCHEDULE *ks) {
    uint64_t cd = permute(load64(key), 64, kPC1);
    uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0fffffff, d = static_cast<uint32_t>(cd) & 0x0fffffff;
    uint64_t sub[16];
    for (int i = 0; i < 16; ++i) {
        for (int s = 0; s < kShifts[i]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffff;
            d = ((d << 1) | (d >> 27)) & 0x0fffffff;
        }
        sub[i] = permute(uint64_t(c) << 28 | d, 56, kPC2);
    }
    for (int i = 0; i < 16; ++i) ks->k[i] = decrypt ? sub[15 - i] : sub[i];
}

void des(const DES_KEY_SCHEDULE *ks, const unsigned char in[8], unsigned char out[8]) {
    store64(out, des_block(ks, load64(in)));
}

void des3(const DES_KEY_SCHEDULE *ks1, const DES_KEY_SCHEDULE *ks2, const DES_KEY_SCHEDULE *ks3,
          const unsigned char in[8], unsigned char out[8]) {
    store64(out, des_block(ks3, des_block(ks2, des_block(ks1, load64(in)))));
}

void descbc_init_context(DES_CBC_CTX *ctx, const unsigned char key8[8], int decrypt) {
    std::memset(ctx, 0, sizeof *ctx);
    deskey(key8, decrypt, &ctx->ks[0]);
    ctx->decrypt = decrypt ? 1 : 0;
}

void des3cbc_init_context(DES_CBC_CTX *ctx, const unsigned char key24[24], int decrypt) {
    std::memset(ctx, 0, sizeof *ctx);
    ctx->decrypt = decrypt ? 1 : 0;
    ctx->triple = 1;
    if (decrypt) {  // D(k3), E(k2), D(k1)
        deskey(key24 + 16, 1, &ctx->ks[0]);
        deskey(key24 + 8, 0, &ctx->ks[1]);
        deskey(key24, 1, &ctx->ks[2]);
    } else {  // E(k1), D(k2), E(k3)
        deskey(key24, 0, &ctx->ks[0]);
        deskey(key24 + 8, 1, &ctx->ks[1]);
        deskey(key24 + 16, 0, &ctx->ks[2]);
    }
}

void descbc_iv_context(DES_CBC_CTX *ctx, const unsigned char iv8[8]) { std::memcpy(ctx->iv, iv8, 8); }

void descbc_crypt(DES_CBC_CTX *ctx, const unsigned char *in, unsigned char *out, unsigned int len) {
    uint64_t chain = load64(ctx->iv);
    unsigned whole = len & ~7u;
    for (unsigned off = 0; off < whole; off += 8) {
        uint64_t block = load64(in + off);
        uint64_t result;
        if (ctx->decrypt) {
            uint64_t plain =
                ctx->triple ? des_block(&ctx->ks[2], des_block(&ctx->ks[1], des_block(&ctx->ks[0], block)))
                            : des_block(&ctx->ks[0], block);
            result = plain ^ chain;
            chain = block;
        } else {
            uint64_t mixed = block ^ chain;
            result = ctx->triple
                         ? des_block(&ctx->ks[2], des_block(&ctx->ks[1], des_block(&ctx->ks[0], mixed)))
                         : des_block(&ctx->ks[0], mixed);
            chain = result;
        }
        store64(out + off, result);
    }
    if (whole != len && in != out) std::memcpy(out + whole, in + whole, len - whole);
    store64(ctx->iv, chain);
}

void desecb_block_encrypt(const unsigned char key8[8], const unsigned char in[8], unsigned char out[8]) {
    DES_KEY_SCHEDULE ks;
    deskey(key8, 0, &ks);
    des(&ks, in, out);
}

}  // extern "C"
