// The primitives against OpenSSL on random inputs (OpenSSL is a test oracle
// only; the library never links it).
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/des.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "flash/hex.h"
#include "platform_core/crypto.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

using pc::test::hex;

namespace {

std::mt19937 g_rng(20261210);

std::vector<uint8_t> random_bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(g_rng());
    return v;
}

std::vector<uint8_t> evp_digest(const EVP_MD *md, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

TEST(CryptoOracle, digests_and_hmac_on_random_inputs) {
    for (int i = 0; i < 200; ++i) {
        auto data = random_bytes(g_rng() % 700);
        std::vector<uint8_t> d(64);
        md5_calc(d.data(), data.data(), static_cast<unsigned>(data.size()));
        EXPECT_EQ(hex(d.data(), 16), hex(evp_digest(EVP_md5(), data)));
        RSA_SHA_Simple(data.data(), static_cast<int>(data.size()), d.data());
        EXPECT_EQ(hex(d.data(), 20), hex(evp_digest(EVP_sha1(), data)));
        SHA512_State s;
        RSA_SHA512_Init(&s);
        RSA_SHA512_Bytes(&s, data.data(), static_cast<int>(data.size()));
        RSA_SHA512_Final(&s, d.data());
        EXPECT_EQ(hex(d.data(), 64), hex(evp_digest(EVP_sha512(), data)));

        auto key = random_bytes(g_rng() % 100);
        unsigned char mine[16], theirs[16];
        unsigned theirLen = 0;
        hmac_md5(data.data(), static_cast<int>(data.size()), key.data(), static_cast<int>(key.size()), mine);
        HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), theirs,
             &theirLen);
        EXPECT_EQ(hex(mine, 16), hex(theirs, 16));
    }
}

TEST(CryptoOracle, aes_blocks_on_random_keys) {
    for (int bits : {128, 192, 256}) {
        for (int i = 0; i < 50; ++i) {
            auto key = random_bytes(static_cast<size_t>(bits / 8)), block = random_bytes(16);
            aes_context ctx;
            ASSERT_EQ(aes_set_key(&ctx, key.data(), bits), 0);
            unsigned char mine[16], back[16];
            aes_encrypt(&ctx, block.data(), mine);
            const EVP_CIPHER *c = bits == 128   ? EVP_aes_128_ecb()
                                  : bits == 192 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
            EVP_CIPHER_CTX *e = EVP_CIPHER_CTX_new();
            EVP_EncryptInit_ex(e, c, nullptr, key.data(), nullptr);
            EVP_CIPHER_CTX_set_padding(e, 0);
            unsigned char theirs[32];
            int n = 0;
            EVP_EncryptUpdate(e, theirs, &n, block.data(), 16);
            EVP_CIPHER_CTX_free(e);
            EXPECT_EQ(hex(mine, 16), hex(theirs, 16));
            aes_decrypt(&ctx, mine, back);
            EXPECT_EQ(hex(back, 16), hex(block));
        }
    }
}

TEST(CryptoOracle, des_and_3des_cbc_on_random_inputs) {
    for (int i = 0; i < 40; ++i) {
        auto key = random_bytes(24), iv = random_bytes(8), data = random_bytes(8 * (1 + g_rng() % 20));
        for (int triple : {0, 1}) {
            std::vector<uint8_t> mine(data.size()), theirs(data.size());
            DES_CBC_CTX ctx;
            if (triple) {
                des3cbc_init_context(&ctx, key.data(), 0);
            } else {
                descbc_init_context(&ctx, key.data(), 0);
            }
            descbc_iv_context(&ctx, iv.data());
            descbc_crypt(&ctx, data.data(), mine.data(), static_cast<unsigned>(data.size()));
            DES_cblock k1, k2, k3, ivc;
            std::memcpy(k1, key.data(), 8);
            std::memcpy(k2, key.data() + 8, 8);
            std::memcpy(k3, key.data() + 16, 8);
            std::memcpy(ivc, iv.data(), 8);
            DES_key_schedule s1, s2, s3;
            DES_set_key_unchecked(&k1, &s1);
            DES_set_key_unchecked(&k2, &s2);
            DES_set_key_unchecked(&k3, &s3);
            if (triple) {
                DES_ede3_cbc_encrypt(data.data(), theirs.data(), static_cast<long>(data.size()), &s1, &s2,
                                     &s3, &ivc, DES_ENCRYPT);
            } else {
                DES_ncbc_encrypt(data.data(), theirs.data(), static_cast<long>(data.size()), &s1, &ivc,
                                 DES_ENCRYPT);
            }
            EXPECT_EQ(hex(mine), hex(theirs)) << "triple=" << triple;
        }
    }
}

struct BnDeleter {
    void operator()(BIGNUM *b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn to_openssl(RSA_Bignum b) {
    std::vector<uint8_t> be;
    for (int i = RSA_bignum_bitcount(b) / 8; i >= 0; --i)
        be.push_back(static_cast<uint8_t>(RSA_bignum_byte(b, i)));
    return Bn(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}

TEST(CryptoOracle, bignum_modpow_and_modinv_on_random_numbers) {
    BN_CTX *bnctx = BN_CTX_new();
    for (int i = 0; i < 30; ++i) {
        auto bb = random_bytes(1 + g_rng() % 130), eb = random_bytes(1 + g_rng() % 130),
             mb = random_bytes(1 + g_rng() % 130);
        mb.back() |= 1;  // odd modulus, never zero
        RSA_Bignum base = RSA_bignum_from_bytes(bb.data(), static_cast<int>(bb.size()));
        RSA_Bignum exp = RSA_bignum_from_bytes(eb.data(), static_cast<int>(eb.size()));
        RSA_Bignum mod = RSA_bignum_from_bytes(mb.data(), static_cast<int>(mb.size()));
        RSA_Bignum mine = RSA_modpow(base, exp, mod);
        Bn theirs(BN_new());
        BN_mod_exp(theirs.get(), to_openssl(base).get(), to_openssl(exp).get(), to_openssl(mod).get(), bnctx);
        EXPECT_EQ(BN_cmp(to_openssl(mine).get(), theirs.get()), 0);

        RSA_Bignum prod = RSA_bigmuladd(base, exp, mod);
        Bn p(BN_new());
        BN_mul(p.get(), to_openssl(base).get(), to_openssl(exp).get(), bnctx);
        BN_add(p.get(), p.get(), to_openssl(mod).get());
        EXPECT_EQ(BN_cmp(to_openssl(prod).get(), p.get()), 0);

        RSA_Bignum inv = RSA_modinv(base, mod);
        Bn oinv(BN_mod_inverse(nullptr, to_openssl(base).get(), to_openssl(mod).get(), bnctx));
        ERR_clear_error();
        ASSERT_EQ(inv == nullptr, oinv == nullptr);
        if (inv) {
            EXPECT_EQ(BN_cmp(to_openssl(inv).get(), oinv.get()), 0);
        }
        for (RSA_Bignum x : {base, exp, mod, mine, prod, inv}) RSA_freebn(x);
    }
    BN_CTX_free(bnctx);
}

TEST(CryptoOracle, rsa_signatures_from_openssl_verify) {
    RSA *rsa = RSA_new();
    Bn e(BN_new());
    BN_set_word(e.get(), 65537);
    ASSERT_EQ(RSA_generate_key_ex(rsa, 1024, e.get(), nullptr), 1);
    const BIGNUM *n = nullptr;
    RSA_get0_key(rsa, &n, nullptr, nullptr);
    // The public-key blob: header, "RSA1", bits, exponent, modulus, all little-endian.
    std::vector<uint8_t> blob = {6, 2, 0, 0, 0, 0xa4, 0, 0, 'R', 'S', 'A', '1', 0, 4, 0, 0, 1, 0, 1, 0};
    std::vector<uint8_t> mod(128);
    BN_bn2binpad(n, mod.data(), 128);
    blob.insert(blob.end(), mod.rbegin(), mod.rend());
    char text[260];
    base64_encode(blob.data(), static_cast<int>(blob.size()), text);

    for (int i = 0; i < 10; ++i) {
        auto data = random_bytes(g_rng() % 300);
        unsigned char digest[20];
        SHA1(data.data(), data.size(), digest);
        std::vector<uint8_t> sig(128);
        unsigned sigLen = 0;
        ASSERT_EQ(RSA_sign(NID_sha1, digest, 20, sig.data(), &sigLen, rsa), 1);
        std::reverse(sig.begin(), sig.end());  // the blob form is little-endian
        EXPECT_EQ(rsaVerifySignByBase64EncodePublicKeyBlob(text, static_cast<int>(strlen(text)), data.data(),
                                                           static_cast<int>(data.size()), sig.data(), 128),
                  1);
        sig[g_rng() % 128] ^= static_cast<uint8_t>(1 + g_rng() % 255);
        EXPECT_EQ(rsaVerifySign(blob.data(), static_cast<int>(blob.size()), data.data(),
                                static_cast<int>(data.size()), sig.data(), 128),
                  0);
    }
    RSA_free(rsa);
}

}  // namespace
