/*
 * Cryptographic primitives and the password forms built on them.
 *
 * The library carries its own implementations of the published algorithms
 * (no crypto library is linked): MD5 and HMAC-MD5, SHA-1, SHA-512, AES
 * (table driven, one 16-byte block per call), DES and triple DES with a CBC
 * context, the reflected CRC-32 register update, arbitrary-precision integers
 * in 16-bit words with RSA signature verification, and base64.
 *
 * On top of them: the one-way 40-character password form, the reversible AES
 * form for secrets that must be read back, DES-CBC decryption of firmware
 * images and the check of a firmware signature against a public key blob.
 * The secret values (DES key and IV, AES key, MD5 key, firmware public key)
 * are this build's own and live in one source file of the library.
 *
 * Every call is reentrant: contexts belong to the caller; the AES tables are
 * built once, on first use, under a once-flag.
 */
#ifndef PLATFORM_CORE_CRYPTO_H
#define PLATFORM_CORE_CRYPTO_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* MD5 (RFC 1321). */
typedef struct {
    uint32_t state[4];
    uint32_t count[2]; /* bits processed, low word first */
    unsigned char buffer[64];
} SW_MD5_CTX;

PC_API void SWMD5Init(SW_MD5_CTX *ctx);
PC_API void SWMD5Update(SW_MD5_CTX *ctx, const unsigned char *data, unsigned int len);
PC_API void SWMD5Final(unsigned char digest[16], SW_MD5_CTX *ctx);
PC_API void md5_calc(unsigned char *digest16, const unsigned char *data, unsigned int len);

/* HMAC-MD5 (RFC 2104); a key longer than 64 bytes is replaced by its MD5. */
PC_API void hmac_md5(const unsigned char *data, int dataLen, const unsigned char *key, int keyLen,
                     unsigned char *digest16);

/* SHA-1 (FIPS 180). */
typedef struct {
    uint32_t h[5];
    unsigned char block[64];
    int blkused;
    uint32_t lenhi, lenlo; /* bytes processed, as a 64-bit count */
} SHA_State;

PC_API void SHA_Init(SHA_State *s);
PC_API void SHA_Bytes(SHA_State *s, const void *data, int len);
PC_API void SHA_Final(SHA_State *s, unsigned char *digest20);
PC_API void RSA_SHA_Simple(const void *data, int len, unsigned char *digest20);

/* SHA-512 (FIPS 180). */
typedef struct {
    uint64_t h[8];
    unsigned char block[128];
    int blkused;
    uint64_t lenlo, lenhi; /* bytes processed, as a 128-bit count */
} SHA512_State;

PC_API void RSA_SHA512_Init(SHA512_State *s);
PC_API void RSA_SHA512_Bytes(SHA512_State *s, const void *data, int len);
PC_API void RSA_SHA512_Final(SHA512_State *s, unsigned char *digest64);

/* AES (FIPS 197). Round keys as big-endian column words. */
typedef struct {
    uint32_t erk[64]; /* encryption round keys */
    uint32_t drk[64]; /* decryption round keys (equivalent inverse cipher) */
    int nr;           /* rounds: 10, 12 or 14 */
} aes_context;

PC_API extern uint32_t FSb[256], FT0[256], FT1[256], FT2[256], FT3[256];
PC_API extern uint32_t RSb[256], RT0[256], RT1[256], RT2[256], RT3[256];
PC_API extern uint32_t KT0[256], KT1[256], KT2[256], KT3[256];
PC_API extern uint32_t RCON[10];

PC_API void aes_gen_tables(void);
/* nbits 128, 192 or 256; returns 0 or -1. */
PC_API int aes_set_key(aes_context *ctx, const unsigned char *key, int nbits);
PC_API void aes_encrypt(const aes_context *ctx, const unsigned char in[16], unsigned char out[16]);
PC_API void aes_decrypt(const aes_context *ctx, const unsigned char in[16], unsigned char out[16]);

/* DES and triple DES (FIPS 46). A key schedule is 16 round keys of 48 bits. */
typedef struct {
    uint64_t k[16];
} DES_KEY_SCHEDULE;

typedef struct {
    DES_KEY_SCHEDULE ks[3]; /* ks[1], ks[2] used only when triple is set */
    unsigned char iv[8];    /* chaining block, updated by every call */
    int decrypt;
    int triple;
} DES_CBC_CTX;

/* Builds the schedule of an 8-byte key for encryption (decrypt 0) or
 * decryption (decrypt 1). Parity bits are ignored. */
PC_API void deskey(const unsigned char key[8], int decrypt, DES_KEY_SCHEDULE *ks);
PC_API void des(const DES_KEY_SCHEDULE *ks, const unsigned char in[8], unsigned char out[8]);
/* Three passes (E-D-E for encryption schedules built as ks1 enc, ks2 dec,
 * ks3 enc; the caller builds the schedules for the direction wanted). */
PC_API void des3(const DES_KEY_SCHEDULE *ks1, const DES_KEY_SCHEDULE *ks2, const DES_KEY_SCHEDULE *ks3,
                 const unsigned char in[8], unsigned char out[8]);
PC_API void descbc_init_context(DES_CBC_CTX *ctx, const unsigned char key8[8], int decrypt);
/* Triple DES with a 24-byte key (k1, k2, k3), E-D-E. */
PC_API void des3cbc_init_context(DES_CBC_CTX *ctx, const unsigned char key24[24], int decrypt);
PC_API void descbc_iv_context(DES_CBC_CTX *ctx, const unsigned char iv8[8]);
/* CBC over the whole 8-byte blocks of len; a trailing partial block is copied
 * unchanged. in and out may be the same buffer. */
PC_API void descbc_crypt(DES_CBC_CTX *ctx, const unsigned char *in, unsigned char *out, unsigned int len);
PC_API void desecb_block_encrypt(const unsigned char key8[8], const unsigned char in[8],
                                 unsigned char out[8]);

/* CRC-32, IEEE 802.3 reflected; no initial or final complement. */
PC_API uint32_t crc32_no_comp(uint32_t crc, const unsigned char *data, unsigned int len);

/* Arbitrary-precision integers: bn[0] is the number of 16-bit words that
 * follow, least significant first. Results are new numbers the caller frees
 * with RSA_freebn; null on bad input or allocation failure. */
typedef unsigned short *RSA_Bignum;

PC_API RSA_Bignum RSA_newbn(int words);
PC_API void RSA_freebn(RSA_Bignum b);
/* From big-endian bytes. */
PC_API RSA_Bignum RSA_bignum_from_bytes(const unsigned char *data, int nbytes);
PC_API RSA_Bignum RSA_bignum_from_long(unsigned long n);
/* Byte i, counted from the least significant (0 beyond the number). */
PC_API int RSA_bignum_byte(RSA_Bignum b, int i);
PC_API int RSA_bignum_bitcount(RSA_Bignum b);
/* -1, 0 or 1. */
PC_API int RSA_bignum_cmp(RSA_Bignum a, RSA_Bignum b);
/* a * b + addend (addend may be null). */
PC_API RSA_Bignum RSA_bigmuladd(RSA_Bignum a, RSA_Bignum b, RSA_Bignum addend);
PC_API RSA_Bignum RSA_bigmod(RSA_Bignum a, RSA_Bignum mod);
PC_API RSA_Bignum RSA_modmul(RSA_Bignum a, RSA_Bignum b, RSA_Bignum mod);
PC_API RSA_Bignum RSA_modpow(RSA_Bignum base, RSA_Bignum exp, RSA_Bignum mod);
/* The inverse of number modulo modulus; null when there is none. */
PC_API RSA_Bignum RSA_modinv(RSA_Bignum number, RSA_Bignum modulus);

/* Base64 (RFC 4648 alphabet, '=' padding). Encode writes a NUL-terminated
 * text of 4 * ceil(len / 3) characters into out (room for that plus one) and
 * returns its length. Decode accepts only the alphabet and final padding and
 * writes at most outSize bytes; it returns the byte count or -1. */
PC_API int base64_encode(const unsigned char *data, int len, char *out);
PC_API int base64_decode(const char *text, int len, unsigned char *out, int outSize);

/* RSA public-key blob verification: 1 for a good signature, 0 otherwise. */
PC_API int rsaVerifySign(const unsigned char *blob, int blobLen, const unsigned char *data, int dataLen,
                         const unsigned char *sig, int sigLen);
PC_API int rsaVerifySignByBase64EncodePublicKeyBlob(const char *keyText, int keyLen,
                                                    const unsigned char *data, int dataLen,
                                                    const unsigned char *sig, int sigLen);

/* Password forms. */
#define PWD_CIPHER_LEN 40
/* The one-way form: writes exactly PWD_CIPHER_LEN characters into out, no
 * terminator. */
PC_API int PwdCipher(char *out, const char *password, int len);
PC_API int IsCipherPwd(const char *text);
PC_API int IsPlainPwd(const char *text);
PC_API void Encrypt(const unsigned char in[16], unsigned char out[16]);
PC_API void Encrypt32(const unsigned char in[32], unsigned char out[32]);
PC_API void Decrypt(const unsigned char in[16], unsigned char out[16]);
PC_API void Decrypt32(const unsigned char in[32], unsigned char out[32]);
PC_API int swAesEncrypt(const unsigned char *plain, int len, unsigned char *out, int *outLen);
PC_API int swAesDecrypt(const unsigned char *cipher, int len, unsigned char *out, int *outLen);
PC_API int ConvertAesHexToStr(const unsigned char *bytes, int len, char *text);
PC_API int ConvertAesStrToHex(const char *text, int len, unsigned char *bytes, int *n);
PC_API int AesStrValid(const char *text);

/* Firmware image cipher with the built-in key and IV: 1, or 0 for a null
 * pointer. sysDesEncode is the inverse, used to build images. */
PC_API int sysDesDecode(const unsigned char *in, int len, unsigned char *out);
PC_API int sysDesEncode(const unsigned char *in, int len, unsigned char *out);
PC_API const unsigned char *sysGetMd5Key(void);

PC_END_DECLS

#endif
