// Base64 (RFC 4648): standard alphabet, '=' padding, nothing else accepted.
#include "platform_core/crypto.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

extern "C" {

int base64_encode(const unsigned char *data, int len, char *out) {
    if (data == nullptr || out == nullptr || len < 0) return -1;
    int o = 0;
    for (int i = 0; i < len; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < len) v |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < len) v |= data[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
        out[o++] = i + 2 < len ? kAlphabet[v & 63] : '=';
    }
    out[o] = '\0';
    return o;
}

int base64_decode(const char *text, int len, unsigned char *out, int outSize) {
    if (text == nullptr || out == nullptr || len < 0 || len % 4 != 0) return -1;
    int o = 0;
    for (int i = 0; i < len; i += 4) {
        int pad = 0;
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            int d;
            if (c == '=' && i + 4 == len && k >= 2) {
                ++pad;
                d = 0;
            } else {
                d = pad ? -1 : value_of(c);  // no data after padding
                if (d < 0) return -1;
            }
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        int bytes = 3 - pad;
        if (o + bytes > outSize) return -1;
        for (int k = 0; k < bytes; ++k) out[o++] = static_cast<unsigned char>(v >> (16 - 8 * k));
    }
    return o;
}

}  // extern "C"
