// The private half of the test key pair whose public half is built into
// the library (see src/flash/crypto/builtin_secrets.cpp). A product never
// ships this: its own signing key stays off the tree.
#pragma once

namespace pc::tools {

// RSA-1024 modulus and private exponent, big-endian hexadecimal.
extern const char kTestKeyModulus[];
extern const char kTestKeyPrivateExponent[];

}  // namespace pc::tools
