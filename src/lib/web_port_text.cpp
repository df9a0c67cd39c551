// Port lists between the CLI's text and the web pages' JSON arrays (see
// platform_core/web_port_text.h).
#include "platform_core/web_port_text.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string_view>

namespace {

// Appends text at *cursor and advances it.
void put(char *&cursor, std::string_view text) {
    std::memcpy(cursor, text.data(), text.size());
    cursor += text.size();
}

// The inside of a JSON array text without its brackets and outer blanks;
// empty for "", "[]" or "[ ]".
std::string_view array_body(std::string_view text) {
    auto trim = [](std::string_view s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
        return s;
    };
    text = trim(text);
    if (!text.empty() && text.front() == '[') text.remove_prefix(1);
    if (!text.empty() && text.back() == ']') text.remove_suffix(1);
    return trim(text);
}

}  // namespace

extern "C" {

PC_API int web_change_portStr_to_jsonStr(const char *in, char *out) {
    if (in == nullptr || out == nullptr) return -1;
    char *cursor = out;
    put(cursor, "[\"");
    for (const char *p = in; *p != '\0'; ++p) {
        if (*p == ',') {
            put(cursor, "\",\"");
        } else {
            *cursor++ = *p;
        }
    }
    put(cursor, "\"]");
    *cursor = '\0';
    return 0;
}

PC_API int web_change_jsonStr_to_portStr(const char *in, char *out) {
    if (in == nullptr || out == nullptr) return -1;
    char *cursor = out;
    for (const char *p = in; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == '2' && p[2] == 'F') {
            *cursor++ = '/';
            p += 2;
            continue;
        }
        if (std::strchr("[]\\\" ", *p) != nullptr) continue;
        *cursor++ = *p;
    }
    *cursor = '\0';
    return 0;
}

PC_API int web_string_to_array(const char *in, char *out) {
    if (in == nullptr || out == nullptr) return -1;
    char *cursor = out;
    put(cursor, "[");
    put(cursor, in);
    put(cursor, "]");
    *cursor = '\0';
    return 0;
}

PC_API int web_edit_respond_string(const char *in, char *out) {
    if (in == nullptr || out == nullptr) return -1;
    char *cursor = out;
    put(cursor, "\"");
    put(cursor, in);
    put(cursor, "\"");
    *cursor = '\0';
    return 0;
}

PC_API int web_connect_str(char *dst, const char *src) {
    if (dst == nullptr || src == nullptr) return -1;
    char *cursor = dst + std::strlen(dst);
    put(cursor, "\"");
    put(cursor, src);
    put(cursor, "\",");
    *cursor = '\0';
    return 0;
}

PC_API int web_connect_jsonStr(const char *a, const char *b, const char *c, char *out) {
    if (a == nullptr || b == nullptr || c == nullptr || out == nullptr) return -1;
    char *cursor = out;
    bool first = true;
    put(cursor, "[");
    for (const char *text : {a, b, c}) {
        std::string_view body = array_body(text);
        if (body.empty()) continue;
        if (!first) put(cursor, ",");
        put(cursor, body);
        first = false;
    }
    put(cursor, "]");
    *cursor = '\0';
    return 0;
}

PC_API int web_portStr_is_lag(const char *text) {
    if (text == nullptr) return -1;
    return std::strncmp(text, "LAG", 3) == 0 ? 1 : 0;
}

PC_API int web_get_num_from_name(const char *text, int *n) {
    if (text == nullptr || n == nullptr) return -1;
    const char *underscore = std::strrchr(text, '_');
    if (underscore == nullptr) return -1;
    long long value = 0;
    for (const char *p = underscore + 1; *p != '\0'; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) continue;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return -1;
    }
    *n = static_cast<int>(value);
    return 0;
}

PC_API int web_str_to_lower(char *text) {
    if (text == nullptr) return -1;
    for (char *p = text; *p != '\0'; ++p)
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return 0;
}

PC_API int str_replace(char *at, int oldLen, const char *newText) {
    if (at == nullptr || newText == nullptr || oldLen < 0) return -1;
    size_t len = std::strlen(at);
    size_t old_len = static_cast<size_t>(oldLen);
    if (old_len > len) return -1;  // the old text must lie inside the string
    size_t new_len = std::strlen(newText);
    std::memmove(at + new_len, at + old_len, len - old_len + 1);
    std::memcpy(at, newText, new_len);
    return 0;
}

}  // extern "C"
