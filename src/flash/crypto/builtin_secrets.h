// The secret values built into this build (see builtin_secrets.cpp).
#pragma once

namespace pc::flash::secrets {

extern const unsigned char kDesKey[8];
extern const unsigned char kDesIv[8];
// AES key text: the first 16 bytes are the AES-128 key.
extern const char kAesKeyText[21];
extern const unsigned char kMd5Key[16];
// Firmware public key: base64 of an RSA-1024 public-key blob.
extern const char kFirmwarePublicKey[];

}  // namespace pc::flash::secrets
