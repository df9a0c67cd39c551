// The secrets this build carries: the firmware image DES key and IV, the AES
// key of the reversible password form, the MD5 key and the public key that
// firmware signatures are checked against.
//
// They were generated once for this build (random bytes; an RSA-1024 key
// pair). A product replaces every value here with its own, kept out of the
// public tree:
//   - des_key / des_iv: 8 random bytes each; images must be encrypted with
//     the same pair (tools/fwimage reads them through sysDesEncode).
//   - ckey: 20 printable characters; only the first 16 bytes key AES-128.
//     Changing it makes every stored reversible secret unreadable.
//   - md5key: 16 random bytes.
//   - firmware public key: base64 (200 characters) of the 148-byte public-key
//     blob of the product's RSA-1024 signing key: 06 02 00 00 00 a4 00 00,
//     "RSA1", the bit length 1024 and the exponent (little-endian), then the
//     modulus little-endian. The private half signs images and never enters
//     the tree; the test key pair's private half lives with the image tool.
#include "flash/crypto/builtin_secrets.h"

namespace pc::flash::secrets {

const unsigned char kDesKey[8] = {0x54, 0x90, 0x7b, 0x2b, 0x9e, 0x12, 0x8e, 0x05};
const unsigned char kDesIv[8] = {0x37, 0x10, 0xa3, 0xc4, 0x77, 0x52, 0x84, 0xcc};
const char kAesKeyText[21] = "8RF3R9o6ZvMllTLKB37B";
const unsigned char kMd5Key[16] = {0xe0, 0x0e, 0x4f, 0xff, 0xc9, 0x88, 0xc7, 0x90,
                                   0x35, 0x91, 0x52, 0xb4, 0x04, 0x80, 0x5e, 0x89};
const char kFirmwarePublicKey[] =
    "BgIAAACkAABSU0ExAAQAAAEAAQBhRVUZx32u0q8rjDNs3wc35QpPaG5kuuwCAl3SucnRIOwQ/MupTZ0IPK8ZnsYq"
    "beolSogW24w7n3RFSfTxtl+Df12WY7NWxDRsnSpbC4JuuczZrAYL+q1Ncf3lYyHFTAzPES9h1tOpwY3ah1r1L22W"
    "B3EQVNv6bCMw7lCJ1G8zrg==";

}  // namespace pc::flash::secrets
