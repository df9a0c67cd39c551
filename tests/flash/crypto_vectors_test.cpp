// The primitives against published test vectors, and the password forms.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "flash/hex.h"
#include "platform_core/crypto.h"
#include "support/capture_stdout.h"

using pc::test::bytes;
using pc::test::hex;
using pc::test::unhex;

namespace {

struct DigestCase {
    std::string input;
    const char *expected;
};

std::string md5_hex(const std::string &s) {
    unsigned char d[16];
    md5_calc(d, bytes(s), static_cast<unsigned>(s.size()));
    return hex(d, 16);
}

TEST(CryptoVectors, md5_rfc1321_suite) {
    const DigestCase cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) EXPECT_EQ(md5_hex(c.input), c.expected) << c.input;

    // Fed in uneven pieces, the context gives the same digest.
    const std::string text = cases[5].input;
    SW_MD5_CTX ctx;
    SWMD5Init(&ctx);
    for (size_t off = 0, step = 1; off < text.size(); off += step, step = step * 2 + 1) {
        SWMD5Update(&ctx, bytes(text) + off, static_cast<unsigned>(std::min(step, text.size() - off)));
    }
    unsigned char d[16];
    SWMD5Final(d, &ctx);
    EXPECT_EQ(hex(d, 16), cases[5].expected);
}

TEST(CryptoVectors, hmac_md5_rfc2202) {
    struct Case {
        std::vector<uint8_t> key;
        std::string data;
        const char *expected;
    } cases[] = {
        {std::vector<uint8_t>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::vector<uint8_t>(80, 0xaa),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto &c : cases) {
        unsigned char d[16];
        hmac_md5(bytes(c.data), static_cast<int>(c.data.size()), c.key.data(), static_cast<int>(c.key.size()),
                 d);
        EXPECT_EQ(hex(d, 16), c.expected) << c.data;
    }
}

TEST(CryptoVectors, sha1_fips180) {
    const DigestCase cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto &c : cases) {
        unsigned char d[20];
        RSA_SHA_Simple(c.input.data(), static_cast<int>(c.input.size()), d);
        EXPECT_EQ(hex(d, 20), c.expected) << c.input.substr(0, 20);
    }
}

TEST(CryptoVectors, sha512_fips180) {
    const DigestCase cases[] = {
        {"",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
         "63b931bd47417a81a538327af927da3e"},
        {"abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "p"
         "qrstnopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d"
         "329"
         "eeb6dd26545e96e55b874be909"},
    };
    for (const auto &c : cases) {
        SHA512_State s;
        RSA_SHA512_Init(&s);
        RSA_SHA512_Bytes(&s, c.input.data(), static_cast<int>(c.input.size()));
        unsigned char d[64];
        RSA_SHA512_Final(&s, d);
        EXPECT_EQ(hex(d, 64), c.expected) << c.input;
    }
}

TEST(CryptoVectors, aes_fips197_appendix_c) {
    struct Case {
        const char *key, *cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    auto plain = unhex("00112233445566778899aabbccddeeff");
    for (const auto &c : cases) {
        auto key = unhex(c.key);
        aes_context ctx;
        ASSERT_EQ(aes_set_key(&ctx, key.data(), static_cast<int>(key.size() * 8)), 0);
        unsigned char out[16], back[16];
        aes_encrypt(&ctx, plain.data(), out);
        EXPECT_EQ(hex(out, 16), c.cipher);
        aes_decrypt(&ctx, out, back);
        EXPECT_EQ(hex(back, 16), hex(plain));
    }
    aes_context ctx;
    EXPECT_EQ(aes_set_key(&ctx, plain.data(), 100), -1);
    EXPECT_EQ(FSb[0], 0x63u);
    EXPECT_EQ(RSb[0x63], 0u);
}

TEST(CryptoVectors, des_and_triple_des) {
    struct Case {
        const char *key, *plain, *cipher;
    } cases[] = {
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},  // variable-plaintext known answer
    };
    for (const auto &c : cases) {
        auto key = unhex(c.key), plain = unhex(c.plain);
        unsigned char out[8], back[8];
        desecb_block_encrypt(key.data(), plain.data(), out);
        EXPECT_EQ(hex(out, 8), c.cipher);
        DES_KEY_SCHEDULE dec;
        deskey(key.data(), 1, &dec);
        des(&dec, out, back);
        EXPECT_EQ(hex(back, 8), c.plain);
    }
    // SP 800-67 example: three keys, ECB over three blocks.
    auto k = unhex("0123456789abcdef23456789abcdef01456789abcdef0123");
    DES_KEY_SCHEDULE k1, k2, k3;
    deskey(k.data(), 0, &k1);
    deskey(k.data() + 8, 1, &k2);
    deskey(k.data() + 16, 0, &k3);
    const std::string text = "The qufck brown fox jump";
    std::string got;
    for (int i = 0; i < 3; ++i) {
        unsigned char out[8];
        des3(&k1, &k2, &k3, bytes(text) + 8 * i, out);
        got += hex(out, 8);
    }
    EXPECT_EQ(got, "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
}

TEST(CryptoVectors, des_cbc_round_trip_keeps_partial_tail) {
    auto key = unhex("0123456789abcdef"), iv = unhex("1234567890abcdef");
    // FIPS 81 CBC example.
    const std::string text = "Now is the time for all ";
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back('X');  // a partial block stays as it is
    std::vector<uint8_t> enc(data.size());
    DES_CBC_CTX ctx;
    descbc_init_context(&ctx, key.data(), 0);
    descbc_iv_context(&ctx, iv.data());
    descbc_crypt(&ctx, data.data(), enc.data(), static_cast<unsigned>(data.size()));
    EXPECT_EQ(hex(enc.data(), 24), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    EXPECT_EQ(enc.back(), 'X');
    descbc_init_context(&ctx, key.data(), 1);
    descbc_iv_context(&ctx, iv.data());
    descbc_crypt(&ctx, enc.data(), enc.data(), static_cast<unsigned>(enc.size()));
    EXPECT_EQ(enc, data);
}

TEST(CryptoVectors, crc32_check_value) {
    const std::string s = "123456789";
    EXPECT_EQ(~crc32_no_comp(0xffffffffu, bytes(s), 9), 0xcbf43926u);
    // The register carries over between pieces.
    uint32_t r = crc32_no_comp(0xffffffffu, bytes(s), 4);
    EXPECT_EQ(~crc32_no_comp(r, bytes(s) + 4, 5), 0xcbf43926u);
}

TEST(CryptoVectors, base64_rfc4648) {
    const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
    for (const auto &[plain, text] : cases) {
        char out[16];
        EXPECT_EQ(base64_encode(bytes(plain), static_cast<int>(plain.size()), out),
                  static_cast<int>(text.size()));
        EXPECT_EQ(std::string(out), text);
        unsigned char back[16];
        ASSERT_EQ(base64_decode(text.data(), static_cast<int>(text.size()), back, sizeof back),
                  static_cast<int>(plain.size()));
        EXPECT_EQ(std::string(reinterpret_cast<char *>(back), plain.size()), plain);
    }
    unsigned char out[16];
    for (const char *bad : {"Zm9*", "Zm=v", "Zg==Zg==", "Zm9", "Z==="}) {
        EXPECT_EQ(base64_decode(bad, static_cast<int>(std::strlen(bad)), out, sizeof out), -1) << bad;
    }
    EXPECT_EQ(base64_decode("Zm9vYmFy", 8, out, 5), -1);  // no room
}

TEST(CryptoVectors, bignum_arithmetic) {
    auto num = [](const char *h) {
        auto b = unhex(h);
        return RSA_bignum_from_bytes(b.data(), static_cast<int>(b.size()));
    };
    auto text = [](RSA_Bignum b) {
        std::string s;
        for (int i = RSA_bignum_bitcount(b) / 8; i >= 0; --i) {
            char t[3];
            snprintf(t, sizeof t, "%02x", RSA_bignum_byte(b, i));
            s += t;
        }
        return s;
    };
    RSA_Bignum a = num("0123456789abcdef0123"), b = num("fedcba98"), m = num("0100000000000000000d");
    RSA_Bignum seven = RSA_bignum_from_long(7);
    RSA_Bignum p = RSA_bigmuladd(a, b, seven);
    EXPECT_EQ(text(p), "0121fa00acf13578ae27a0d01acf");  // computed independently
    RSA_Bignum r = RSA_bigmod(p, b);
    EXPECT_EQ(text(r), "07");
    EXPECT_EQ(RSA_bignum_cmp(a, b), 1);
    EXPECT_EQ(RSA_bignum_cmp(b, a), -1);
    EXPECT_EQ(RSA_bignum_bitcount(seven), 3);
    // 3^-1 mod 7 = 5; 2 has no inverse mod 4.
    RSA_Bignum three = RSA_bignum_from_long(3), four = RSA_bignum_from_long(4), two = RSA_bignum_from_long(2);
    RSA_Bignum inv = RSA_modinv(three, seven);
    ASSERT_NE(inv, nullptr);
    EXPECT_EQ(text(inv), "05");
    EXPECT_EQ(RSA_modinv(two, four), nullptr);
    // Fermat: a^(m-1) = 1 for the prime 7.
    RSA_Bignum six = RSA_bignum_from_long(6);
    RSA_Bignum one = RSA_modpow(three, six, seven);
    EXPECT_EQ(text(one), "01");
    for (RSA_Bignum x : {a, b, m, seven, p, r, three, four, two, inv, six, one}) RSA_freebn(x);
}

TEST(Password, one_way_form) {
    // Exactly 40 characters and nothing after them: the guard byte stays.
    char out[41];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(PwdCipher(out, "", 0), 0);
    EXPECT_EQ(std::string(out, 40), "$1$M3A<H;M8H>@/K1@3N8H/@8I7N;O7D1G=({].}");
    EXPECT_EQ(out[40], '#');
    out[40] = '\0';
    EXPECT_EQ(IsCipherPwd(out), 0);
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(PwdCipher(out, "admin", 5), 0);
    EXPECT_EQ(out[40], '#');
    EXPECT_EQ(std::string(out, 3), "$1$");
    EXPECT_EQ(IsCipherPwd("$1$short"), -1);
    EXPECT_EQ(IsCipherPwd("$2$M3A<H;M8H>@/K1@3N8H/@8I7N;O7D1G=({].}"), -1);
    // A refused argument is logged as the other checks are.
    const std::pair<std::function<int()>, const char *> refused[] = {
        {[] { return PwdCipher(nullptr, "a", 1); }, "Ensure NULL != cphrPwd failed."},
        {[&] { return PwdCipher(out, nullptr, 1); }, "Ensure NULL != plnPwd failed."},
    };
    for (const auto &[call, line] : refused) {
        pc::test::CaptureStdout captured;
        EXPECT_EQ(call(), -1);
        std::string text = captured.text();
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_NE(text.find("PwdCipher()"), std::string::npos) << text;  // the log line's source
    }
}

TEST(Password, plain_form_characters) {
    const std::pair<const char *, int> cases[] = {
        {"abc_XYZ09", 0},
        {"!$%'()*,-./[]{|}", 0},
        {"has space", -1},
        {"semi;colon", -1},
        {"0123456789012345678901234567890", 0},
        {"01234567890123456789012345678901", -1},
        {"", 0},
    };
    for (const auto &[text, want] : cases) EXPECT_EQ(IsPlainPwd(text), want) << text;
}

TEST(Password, reversible_aes_form) {
    unsigned char out[32], back[32];
    int outLen = 0, backLen = 0;
    for (int len : {1, 15, 16, 31}) {
        std::string plain(static_cast<size_t>(len), 'k');
        ASSERT_EQ(swAesEncrypt(bytes(plain), len, out, &outLen), 0);
        EXPECT_EQ(outLen, len < 16 ? 16 : 32);
        char text[65];
        ASSERT_EQ(ConvertAesHexToStr(out, outLen, text), 0);
        EXPECT_EQ(AesStrValid(text), 0);
        unsigned char parsed[32];
        int n = 0;
        ASSERT_EQ(ConvertAesStrToHex(text, outLen * 2, parsed, &n), 0);
        ASSERT_EQ(swAesDecrypt(parsed, n, back, &backLen), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(back), static_cast<size_t>(backLen)), plain);
    }
    EXPECT_EQ(swAesEncrypt(bytes("x"), 32, out, &outLen), -1);
    EXPECT_EQ(swAesEncrypt(bytes("x"), 0, out, &outLen), -1);
    // A 16-byte block whose length byte says 16 or more is refused.
    unsigned char block[16] = {16}, enc[16];
    Encrypt(block, enc);
    EXPECT_EQ(swAesDecrypt(enc, 16, back, &backLen), -1);
    EXPECT_EQ(swAesDecrypt(enc, 20, back, &backLen), -1);
    unsigned char bytesOut[32];
    int n = 0;
    EXPECT_EQ(ConvertAesStrToHex("0123456789ABCDEF0123456789abcdef", 32, bytesOut, &n), -1);
    EXPECT_EQ(AesStrValid("0123"), -1);
}

}  // namespace
