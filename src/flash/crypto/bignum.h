// Arbitrary-precision unsigned integers in 16-bit words, least significant
// word first, always trimmed (no leading zero words; zero is empty). The C
// API's RSA_Bignum (length word then the words) is converted at the edge.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pc::flash::bn {

using Num = std::vector<uint16_t>;

void trim(Num &a);
int cmp(const Num &a, const Num &b);
Num add(const Num &a, const Num &b);
// a - b for a >= b.
Num sub(const Num &a, const Num &b);
Num mul(const Num &a, const Num &b);
// Quotient and remainder of a / b; b must not be zero.
void divmod(const Num &a, const Num &b, Num *quot, Num *rem);
Num mod(const Num &a, const Num &m);
Num modpow(const Num &base, const Num &exp, const Num &m);
std::optional<Num> modinv(const Num &a, const Num &m);
Num from_be_bytes(const uint8_t *p, size_t n);
// Big-endian, exactly n bytes (the number must fit).
std::vector<uint8_t> to_be_bytes(const Num &a, size_t n);
int bitcount(const Num &a);

}  // namespace pc::flash::bn
