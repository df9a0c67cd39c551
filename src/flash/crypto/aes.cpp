// AES (FIPS 197), table driven. State columns are big-endian 32-bit words:
// byte 0 of a column is its most significant byte. FT0[x] is the column
// that MixColumns makes of S[x] in row 0, FT1..FT3 the same rotated for rows
// 1..3; RT0..RT3 do the same for the inverse cipher, and KT0..KT3 apply
// InvMixColumns to a key word for the equivalent inverse cipher's schedule.
#include <mutex>

#include "platform_core/crypto.h"

uint32_t FSb[256], FT0[256], FT1[256], FT2[256], FT3[256];
uint32_t RSb[256], RT0[256], RT1[256], RT2[256], RT3[256];
uint32_t KT0[256], KT1[256], KT2[256], KT3[256];
uint32_t RCON[10];

namespace {

std::once_flag g_tables_once;

constexpr uint32_t rotr8(uint32_t x) { return (x >> 8) | (x << 24); }

uint8_t xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

void build_tables() {
    // Powers and logarithms of the generator 3 give inverses in GF(2^8).
    uint8_t pow[256], log[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 256; ++i) {
        pow[i] = x;
        log[x] = static_cast<uint8_t>(i);
        x = static_cast<uint8_t>(x ^ xtime(x));
    }
    uint8_t rc = 1;
    for (int i = 0; i < 10; ++i) {
        RCON[i] = uint32_t(rc) << 24;
        rc = xtime(rc);
    }
    for (int i = 0; i < 256; ++i) {
        uint8_t inv = i == 0 ? 0 : pow[255 - log[i]];
        uint8_t s = inv;
        uint8_t y = inv;
        for (int k = 0; k < 4; ++k) {
            y = static_cast<uint8_t>((y << 1) | (y >> 7));
            s ^= y;
        }
        s ^= 0x63;
        FSb[i] = s;
        RSb[s] = static_cast<uint32_t>(i);
    }
    for (int i = 0; i < 256; ++i) {
        uint8_t s = static_cast<uint8_t>(FSb[i]);
        uint32_t f = uint32_t(gmul(s, 2)) << 24 | uint32_t(s) << 16 | uint32_t(s) << 8 | gmul(s, 3);
        FT0[i] = f;
        FT1[i] = rotr8(f);
        FT2[i] = rotr8(FT1[i]);
        FT3[i] = rotr8(FT2[i]);
        uint8_t r = static_cast<uint8_t>(RSb[i]);
        uint32_t g = uint32_t(gmul(r, 14)) << 24 | uint32_t(gmul(r, 9)) << 16 | uint32_t(gmul(r, 13)) << 8 |
                     gmul(r, 11);
        RT0[i] = g;
        RT1[i] = rotr8(g);
        RT2[i] = rotr8(RT1[i]);
        RT3[i] = rotr8(RT2[i]);
    }
    for (int i = 0; i < 256; ++i) {
        KT0[i] = RT0[FSb[i]];
        KT1[i] = RT1[FSb[i]];
        KT2[i] = RT2[FSb[i]];
        KT3[i] = RT3[FSb[i]];
    }
}

uint32_t load_be(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void store_be(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

uint32_t sub_word(uint32_t w) {
    return FSb[w >> 24] << 24 | FSb[(w >> 16) & 0xff] << 16 | FSb[(w >> 8) & 0xff] << 8 | FSb[w & 0xff];
}

}  // namespace

extern "C" {

void aes_gen_tables(void) { std::call_once(g_tables_once, build_tables); }

int aes_set_key(aes_context *ctx, const unsigned char *key, int nbits) {
    if (ctx == nullptr || key == nullptr) return -1;
    int nk;
    switch (nbits) {
        case 128:
            nk = 4;
            break;
        case 192:
            nk = 6;
            break;
        case 256:
            nk = 8;
            break;
        default:
            return -1;
    }
    aes_gen_tables();
    ctx->nr = nk + 6;
    int total = 4 * (ctx->nr + 1);
    uint32_t *w = ctx->erk;
    for (int i = 0; i < nk; ++i) w[i] = load_be(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = sub_word((t << 8) | (t >> 24)) ^ RCON[i / nk - 1];
        } else if (nk > 6 && i % nk == 4) {
            t = sub_word(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    // Equivalent inverse cipher: round keys in reverse order, the inner
    // ones passed through InvMixColumns.
    for (int r = 0; r <= ctx->nr; ++r) {
        for (int c = 0; c < 4; ++c) {
            uint32_t k = w[4 * (ctx->nr - r) + c];
            if (r != 0 && r != ctx->nr) {
                k = KT0[k >> 24] ^ KT1[(k >> 16) & 0xff] ^ KT2[(k >> 8) & 0xff] ^ KT3[k & 0xff];
            }
            ctx->drk[4 * r + c] = k;
        }
    }
    return 0;
}

void aes_encrypt(const aes_context *ctx, const unsigned char in[16], unsigned char out[16]) {
    const uint32_t *rk = ctx->erk;
    uint32_t x[4], y[4];
    for (int c = 0; c < 4; ++c) x[c] = load_be(in + 4 * c) ^ rk[c];
    for (int r = 1; r < ctx->nr; ++r) {
        rk += 4;
        for (int c = 0; c < 4; ++c) {
            y[c] = rk[c] ^ FT0[x[c] >> 24] ^ FT1[(x[(c + 1) & 3] >> 16) & 0xff] ^
                   FT2[(x[(c + 2) & 3] >> 8) & 0xff] ^ FT3[x[(c + 3) & 3] & 0xff];
        }
        for (int c = 0; c < 4; ++c) x[c] = y[c];
    }
    rk += 4;
    for (int c = 0; c < 4; ++c) {
        y[c] = rk[c] ^ (FSb[x[c] >> 24] << 24 | FSb[(x[(c + 1) & 3] >> 16) & 0xff] << 16 |
                        FSb[(x[(c + 2) & 3] >> 8) & 0xff] << 8 | FSb[x[(c + 3) & 3] & 0xff]);
        store_be(out + 4 * c, y[c]);
    }
}

void aes_decrypt(const aes_context *ctx, const unsigned char in[16], unsigned char out[16]) {
    const uint32_t *rk = ctx->drk;
    uint32_t x[4], y[4];
    for (int c = 0; c < 4; ++c) x[c] = load_be(in + 4 * c) ^ rk[c];
    for (int r = 1; r < ctx->nr; ++r) {
        rk += 4;
        for (int c = 0; c < 4; ++c) {
            y[c] = rk[c] ^ RT0[x[c] >> 24] ^ RT1[(x[(c + 3) & 3] >> 16) & 0xff] ^
                   RT2[(x[(c + 2) & 3] >> 8) & 0xff] ^ RT3[x[(c + 1) & 3] & 0xff];
        }
        for (int c = 0; c < 4; ++c) x[c] = y[c];
    }
    rk += 4;
    for (int c = 0; c < 4; ++c) {
        y[c] = rk[c] ^ (RSb[x[c] >> 24] << 24 | RSb[(x[(c + 3) & 3] >> 16) & 0xff] << 16 |
                        RSb[(x[(c + 2) & 3] >> 8) & 0xff] << 8 | RSb[x[(c + 1) & 3] & 0xff]);
        store_be(out + 4 * c, y[c]);
    }
}

}  // extern "C"
