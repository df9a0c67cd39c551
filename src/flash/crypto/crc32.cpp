// CRC-32 register update, IEEE 802.3 polynomial in reflected form.
#include <array>

#include "platform_core/crypto.h"

namespace {

constexpr std::array<uint32_t, 256> make_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr auto kTable = make_table();

}  // namespace

extern "C" uint32_t crc32_no_comp(uint32_t crc, const unsigned char *data, unsigned int len) {
    if (data == nullptr) return crc;
    for (unsigned i = 0; i < len; ++i) crc = kTable[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return crc;
}
