// Password forms: the one-way 40-character form, the reversible AES form and
// their text checks; the firmware image cipher with the built-in DES key.
#include <cstdio>
#include <cstring>

#include "flash/crypto/builtin_secrets.h"
#include "platform_core/crypto.h"
#include "platform_core/platform.h"

namespace {

constexpr char kCipherPrefix[] = "$1$";
constexpr char kTailChars[] = "!$%'()*,-./[]{|}";
constexpr char kPlainSpecials[] = "!$%'()*,-./[]_{|}";
constexpr int kPlainMax = 32;
constexpr int kAesMaxPlain = 31;

void aes_ctx(aes_context *ctx) {
    aes_set_key(ctx, reinterpret_cast<const unsigned char *>(pc::flash::secrets::kAesKeyText), 128);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int des_image(const unsigned char *in, int len, unsigned char *out, int decrypt) {
    if (in == nullptr || out == nullptr || len < 0) return 0;
    DES_CBC_CTX ctx;
    descbc_init_context(&ctx, pc::flash::secrets::kDesKey, decrypt);
    descbc_iv_context(&ctx, pc::flash::secrets::kDesIv);
    descbc_crypt(&ctx, in, out, static_cast<unsigned>(len));
    return 1;
}

}  // namespace

extern "C" {

// Writes exactly PWD_CIPHER_LEN characters and no terminator: a caller's
// buffer of that size is enough.
int PwdCipher(char *out, const char *password, int len) {
    if (out == nullptr) {
        PFM_ENSURE_FAILED(MID_IMAGE, "NULL != cphrPwd");
        return -1;
    }
    if (password == nullptr || len < 0) {
        PFM_ENSURE_FAILED(MID_IMAGE, "NULL != plnPwd");
        return -1;
    }
    unsigned char d[16];
    md5_calc(d, reinterpret_cast<const unsigned char *>(password), static_cast<unsigned>(len));
    std::memcpy(out, kCipherPrefix, 3);
    int o = 3;
    for (unsigned char b : d) {
        out[o++] = static_cast<char>((b >> 4) + '@');
        out[o++] = static_cast<char>((b & 15) + '/');
    }
    for (int i = 0; i < 5; ++i) out[o++] = kTailChars[d[i] & 15];
    return 0;
}

int IsCipherPwd(const char *text) {
    if (text == nullptr) return -1;
    return std::strlen(text) == PWD_CIPHER_LEN && std::strncmp(text, kCipherPrefix, 3) == 0 ? 0 : -1;
}

int IsPlainPwd(const char *text) {
    if (text == nullptr) return -1;
    size_t n = std::strlen(text);
    if (n >= kPlainMax) return -1;
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::strchr(kPlainSpecials, c) != nullptr;
        if (!ok) return -1;
    }
    return 0;
}

void Encrypt(const unsigned char in[16], unsigned char out[16]) {
    aes_context ctx;
    aes_ctx(&ctx);
    aes_encrypt(&ctx, in, out);
}

void Encrypt32(const unsigned char in[32], unsigned char out[32]) {
    Encrypt(in, out);
    Encrypt(in + 16, out + 16);
}

void Decrypt(const unsigned char in[16], unsigned char out[16]) {
    aes_context ctx;
    aes_ctx(&ctx);
    aes_decrypt(&ctx, in, out);
}

void Decrypt32(const unsigned char in[32], unsigned char out[32]) {
    Decrypt(in, out);
    Decrypt(in + 16, out + 16);
}

int swAesEncrypt(const unsigned char *plain, int len, unsigned char *out, int *outLen) {
    if (plain == nullptr || out == nullptr || outLen == nullptr || len < 1 || len > kAesMaxPlain) return -1;
    unsigned char block[32] = {};
    block[0] = static_cast<unsigned char>(len);
    std::memcpy(block + 1, plain, static_cast<size_t>(len));
    if (len < 16) {
        Encrypt(block, out);
        *outLen = 16;
    } else {
        Encrypt32(block, out);
        *outLen = 32;
    }
    return 0;
}

int swAesDecrypt(const unsigned char *cipher, int len, unsigned char *out, int *outLen) {
    if (cipher == nullptr || out == nullptr || outLen == nullptr || (len != 16 && len != 32)) return -1;
    unsigned char block[32];
    if (len == 16) {
        Decrypt(cipher, block);
    } else {
        Decrypt32(cipher, block);
    }
    int n = block[0];
    if (n < 1 || n > kAesMaxPlain || (len == 16 && n >= 16)) return -1;
    std::memcpy(out, block + 1, static_cast<size_t>(n));
    *outLen = n;
    return 0;
}

int ConvertAesHexToStr(const unsigned char *bytes, int len, char *text) {
    if (bytes == nullptr || text == nullptr || (len != 16 && len != 32)) return -1;
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < len; ++i) {
        text[2 * i] = kHex[bytes[i] >> 4];
        text[2 * i + 1] = kHex[bytes[i] & 15];
    }
    text[2 * len] = '\0';
    return 0;
}

int ConvertAesStrToHex(const char *text, int len, unsigned char *bytes, int *n) {
    if (text == nullptr || bytes == nullptr || n == nullptr || (len != 32 && len != 64)) return -1;
    for (int i = 0; i < len; i += 2) {
        int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) return -1;
        bytes[i / 2] = static_cast<unsigned char>(hi << 4 | lo);
    }
    *n = len / 2;
    return 0;
}

int AesStrValid(const char *text) {
    if (text == nullptr) return -1;
    size_t n = std::strlen(text);
    if (n != 32 && n != 64) return -1;
    for (size_t i = 0; i < n; ++i) {
        if (hex_digit(text[i]) < 0) return -1;
    }
    return 0;
}

int sysDesDecode(const unsigned char *in, int len, unsigned char *out) { return des_image(in, len, out, 1); }

int sysDesEncode(const unsigned char *in, int len, unsigned char *out) { return des_image(in, len, out, 0); }

const unsigned char *sysGetMd5Key(void) { return pc::flash::secrets::kMd5Key; }

}  // extern "C"
