// Decimal fields of the port and unit text.
#include <cstdint>

#include "up/up_text_tables.h"

namespace pc::up {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether appending k >= 1 digits to `value` can reach [min, max].
bool may_grow_into_range(uint64_t value, uint32_t min, uint32_t max) {
    for (uint64_t scale = 10; value * scale <= max; scale *= 10)
        if (value * scale + scale - 1 >= min) return true;
    return false;
}

}  // namespace

Decimal parse_decimal(std::string_view text, uint32_t min, uint32_t max) {
    Decimal d;
    if (text.empty()) {
        d.status = DecimalStatus::Incomplete;
        return d;
    }
    if (!is_digit(text[0])) return d;
    if (text[0] == '0' && text.size() > 1 && is_digit(text[1])) return d;
    uint64_t value = 0;
    size_t n = 0;
    while (n < text.size() && is_digit(text[n])) {
        value = value * 10 + static_cast<uint64_t>(text[n] - '0');
        ++n;
        if (value > max) return d;
    }
    d.value = static_cast<uint32_t>(value);
    d.length = n;
    if (value >= min) {
        d.status = DecimalStatus::Ok;
    } else if (n == text.size() && may_grow_into_range(value, min, max)) {
        d.status = DecimalStatus::Incomplete;
    }
    return d;
}

}  // namespace pc::up
