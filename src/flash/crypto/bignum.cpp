// Schoolbook arithmetic on 16-bit words with 32-bit intermediates; division
// is Knuth's algorithm D, so a 1024-bit modular exponentiation stays cheap.
#include "flash/crypto/bignum.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform_core/crypto.h"

namespace pc::flash::bn {

void trim(Num &a) {
    while (!a.empty() && a.back() == 0) a.pop_back();
}

int cmp(const Num &a, const Num &b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

Num add(const Num &a, const Num &b) {
    Num r(std::max(a.size(), b.size()) + 1, 0);
    uint32_t carry = 0;
    for (size_t i = 0; i < r.size(); ++i) {
        uint32_t s = carry + (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        r[i] = static_cast<uint16_t>(s);
        carry = s >> 16;
    }
    trim(r);
    return r;
}

Num sub(const Num &a, const Num &b) {
    Num r(a.size(), 0);
    int32_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int32_t d = int32_t(a[i]) - (i < b.size() ? b[i] : 0) - borrow;
        borrow = d < 0 ? 1 : 0;
        r[i] = static_cast<uint16_t>(d + (borrow << 16));
    }
    trim(r);
    return r;
}

Num mul(const Num &a, const Num &b) {
    if (a.empty() || b.empty()) return {};
    Num r(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); ++i) {
        uint32_t carry = 0;
        for (size_t j = 0; j < b.size(); ++j) {
            uint32_t t = uint32_t(a[i]) * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<uint16_t>(t);
            carry = t >> 16;
        }
        r[i + b.size()] = static_cast<uint16_t>(carry);
    }
    trim(r);
    return r;
}

void divmod(const Num &a, const Num &b, Num *quot, Num *rem) {
    if (cmp(a, b) < 0) {
        if (quot) quot->clear();
        if (rem) *rem = a;
        return;
    }
    const size_t n = b.size(), m = a.size() - n;
    if (n == 1) {
        Num q(a.size(), 0);
        uint32_t r = 0;
        for (size_t i = a.size(); i-- > 0;) {
            uint32_t cur = (r << 16) | a[i];
            q[i] = static_cast<uint16_t>(cur / b[0]);
            r = cur % b[0];
        }
        trim(q);
        if (quot) *quot = q;
        if (rem) *rem = r ? Num{static_cast<uint16_t>(r)} : Num{};
        return;
    }
    // Normalise so the divisor's top word has its high bit set.
    int s = 0;
    while (!((b[n - 1] << s) & 0x8000)) ++s;
    Num vn(n), un(a.size() + 1);
    for (size_t i = n - 1; i > 0; --i) {
        vn[i] = static_cast<uint16_t>((b[i] << s) | (s ? b[i - 1] >> (16 - s) : 0));
    }
    vn[0] = static_cast<uint16_t>(b[0] << s);
    un[a.size()] = static_cast<uint16_t>(s ? a[a.size() - 1] >> (16 - s) : 0);
    for (size_t i = a.size() - 1; i > 0; --i) {
        un[i] = static_cast<uint16_t>((a[i] << s) | (s ? a[i - 1] >> (16 - s) : 0));
    }
    un[0] = static_cast<uint16_t>(a[0] << s);
    Num q(m + 1, 0);
    for (size_t j = m + 1; j-- > 0;) {
        uint32_t num = (uint32_t(un[j + n]) << 16) | un[j + n - 1];
        uint32_t qhat = num / vn[n - 1];
        uint32_t rhat = num % vn[n - 1];
        while (qhat >= 0x10000 || qhat * vn[n - 2] > ((rhat << 16) | un[j + n - 2])) {
            --qhat;
            rhat += vn[n - 1];
            if (rhat >= 0x10000) break;
        }
        int64_t borrow = 0;
        uint32_t carry = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t p = qhat * vn[i] + carry;
            carry = p >> 16;
            int64_t t = int64_t(un[i + j]) - (p & 0xffff) - borrow;
            un[i + j] = static_cast<uint16_t>(t);
            borrow = t < 0 ? 1 : 0;
        }
        int64_t t = int64_t(un[j + n]) - carry - borrow;
        un[j + n] = static_cast<uint16_t>(t);
        if (t < 0) {  // qhat was one too large: add the divisor back
            --qhat;
            uint32_t c = 0;
            for (size_t i = 0; i < n; ++i) {
                uint32_t sum = uint32_t(un[i + j]) + vn[i] + c;
                un[i + j] = static_cast<uint16_t>(sum);
                c = sum >> 16;
            }
            un[j + n] = static_cast<uint16_t>(un[j + n] + c);
        }
        q[j] = static_cast<uint16_t>(qhat);
    }
    trim(q);
    if (quot) *quot = q;
    if (rem) {
        Num r(n, 0);
        for (size_t i = 0; i < n; ++i) {
            r[i] = static_cast<uint16_t>((un[i] >> s) | (s ? uint32_t(un[i + 1]) << (16 - s) : 0));
        }
        trim(r);
        *rem = r;
    }
}

Num mod(const Num &a, const Num &m) {
    Num r;
    divmod(a, m, nullptr, &r);
    return r;
}

int bitcount(const Num &a) {
    if (a.empty()) return 0;
    int bits = static_cast<int>(a.size() - 1) * 16;
    for (uint16_t top = a.back(); top; top >>= 1) ++bits;
    return bits;
}

Num modpow(const Num &base, const Num &exp, const Num &m) {
    Num result{1};
    result = mod(result, m);
    Num b = mod(base, m);
    for (int bit = bitcount(exp) - 1; bit >= 0; --bit) {
        result = mod(mul(result, result), m);
        if ((exp[static_cast<size_t>(bit) / 16] >> (bit % 16)) & 1) result = mod(mul(result, b), m);
    }
    return result;
}

std::optional<Num> modinv(const Num &a, const Num &m) {
    if (m.empty()) return std::nullopt;
    // Extended Euclid, keeping the coefficient of a reduced modulo m.
    Num r0 = m, r1 = mod(a, m), t0{}, t1{1};
    while (!r1.empty()) {
        Num q, r;
        divmod(r0, r1, &q, &r);
        Num qt = mod(mul(q, t1), m);
        Num t2 = cmp(t0, qt) >= 0 ? sub(t0, qt) : sub(add(t0, m), qt);
        r0 = std::move(r1);
        r1 = std::move(r);
        t0 = std::move(t1);
        t1 = std::move(t2);
    }
    if (cmp(r0, Num{1}) != 0) return std::nullopt;
    return mod(t0, m);
}

Num from_be_bytes(const uint8_t *p, size_t n) {
    Num r((n + 1) / 2, 0);
    for (size_t i = 0; i < n; ++i) {
        size_t bytePos = n - 1 - i;  // from the least significant byte
        r[bytePos / 2] = static_cast<uint16_t>(r[bytePos / 2] | (uint16_t(p[i]) << (8 * (bytePos % 2))));
    }
    trim(r);
    return r;
}

std::vector<uint8_t> to_be_bytes(const Num &a, size_t n) {
    std::vector<uint8_t> out(n, 0);
    for (size_t i = 0; i < n; ++i) {
        size_t word = i / 2;
        if (word < a.size()) out[n - 1 - i] = static_cast<uint8_t>(a[word] >> (8 * (i % 2)));
    }
    return out;
}

}  // namespace pc::flash::bn

namespace {

using pc::flash::bn::Num;

Num to_num(RSA_Bignum b) {
    Num r(b + 1, b + 1 + b[0]);
    pc::flash::bn::trim(r);
    return r;
}

RSA_Bignum to_c(const Num &n) {
    RSA_Bignum b = RSA_newbn(static_cast<int>(n.size()));
    if (b) std::copy(n.begin(), n.end(), b + 1);
    return b;
}

}  // namespace

extern "C" {

RSA_Bignum RSA_newbn(int words) {
    if (words < 0 || words > 0xffff) return nullptr;
    auto *b = static_cast<RSA_Bignum>(std::calloc(static_cast<size_t>(words) + 1, sizeof(unsigned short)));
    if (b) b[0] = static_cast<unsigned short>(words);
    return b;
}

void RSA_freebn(RSA_Bignum b) { std::free(b); }

RSA_Bignum RSA_bignum_from_bytes(const unsigned char *data, int nbytes) {
    if (data == nullptr || nbytes < 0) return nullptr;
    return to_c(pc::flash::bn::from_be_bytes(data, static_cast<size_t>(nbytes)));
}

RSA_Bignum RSA_bignum_from_long(unsigned long n) {
    Num r;
    for (; n; n >>= 16) r.push_back(static_cast<uint16_t>(n));
    return to_c(r);
}

int RSA_bignum_byte(RSA_Bignum b, int i) {
    if (b == nullptr || i < 0 || i / 2 >= b[0]) return 0;
    return (b[1 + i / 2] >> (8 * (i % 2))) & 0xff;
}

int RSA_bignum_bitcount(RSA_Bignum b) { return b ? pc::flash::bn::bitcount(to_num(b)) : 0; }

int RSA_bignum_cmp(RSA_Bignum a, RSA_Bignum b) {
    if (a == nullptr || b == nullptr) return 0;
    return pc::flash::bn::cmp(to_num(a), to_num(b));
}

RSA_Bignum RSA_bigmuladd(RSA_Bignum a, RSA_Bignum b, RSA_Bignum addend) {
    if (a == nullptr || b == nullptr) return nullptr;
    Num r = pc::flash::bn::mul(to_num(a), to_num(b));
    if (addend) r = pc::flash::bn::add(r, to_num(addend));
    return to_c(r);
}

RSA_Bignum RSA_bigmod(RSA_Bignum a, RSA_Bignum m) {
    if (a == nullptr || m == nullptr) return nullptr;
    Num mm = to_num(m);
    if (mm.empty()) return nullptr;
    return to_c(pc::flash::bn::mod(to_num(a), mm));
}

RSA_Bignum RSA_modmul(RSA_Bignum a, RSA_Bignum b, RSA_Bignum m) {
    if (a == nullptr || b == nullptr || m == nullptr) return nullptr;
    Num mm = to_num(m);
    if (mm.empty()) return nullptr;
    return to_c(pc::flash::bn::mod(pc::flash::bn::mul(to_num(a), to_num(b)), mm));
}

RSA_Bignum RSA_modpow(RSA_Bignum base, RSA_Bignum exp, RSA_Bignum m) {
    if (base == nullptr || exp == nullptr || m == nullptr) return nullptr;
    Num mm = to_num(m);
    if (mm.empty()) return nullptr;
    return to_c(pc::flash::bn::modpow(to_num(base), to_num(exp), mm));
}

RSA_Bignum RSA_modinv(RSA_Bignum number, RSA_Bignum modulus) {
    if (number == nullptr || modulus == nullptr) return nullptr;
    auto r = pc::flash::bn::modinv(to_num(number), to_num(modulus));
    return r ? to_c(*r) : nullptr;
}

}  // extern "C"
