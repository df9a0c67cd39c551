// Numbers typed by the user: the whole text must be a decimal number in range.
#pragma once

#include <charconv>
#include <string_view>

namespace axcli {

inline bool parse_number(std::string_view text, long min, long max, long *value) {
    long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        return false;
    *value = v;
    return true;
}

}  // namespace axcli
