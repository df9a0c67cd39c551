// Hexadecimal helpers for the flash and crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pc::test {

inline std::vector<uint8_t> unhex(std::string_view text) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    }
    return out;
}

inline std::string hex(const uint8_t *p, size_t n) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

inline std::string hex(const std::vector<uint8_t> &v) { return hex(v.data(), v.size()); }

inline const unsigned char *bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

}  // namespace pc::test
