// Unit lists as text: number ["-" number] {"," number ["-" number]}.
#include <string_view>

#include "platform_core/platform.h"
#include "platform_core/up_platform.h"
#include "platform_core/up_text.h"
#include "up/up_text_tables.h"

namespace {

// A unit number at the start of `text`; a number that could only become
// legal by typing more digits is refused, since nothing is typed here.
int read_unit(std::string_view text, uint32_t min, uint32_t max, uint32_t *value, size_t *length,
              const char *call) {
    pc::up::Decimal d = pc::up::parse_decimal(text, min, max);
    if (d.status != pc::up::DecimalStatus::Ok) {
        PFM_CALL_FAILED(MID_UP, -1, call);
        return -1;
    }
    *value = d.value;
    *length = d.length;
    return 0;
}

}  // namespace

extern "C" {

PC_API int usStr2UnitList(const char *string, unit_list *l) {
    PFM_ENSURE_RET(MID_UP, NULL != string, -1);
    PFM_ENSURE_RET(MID_UP, l != NULL, -1);
    int unit_min = getUnitIDMin();
    int unit_max = getUnitIDMax();
    if (unit_min < 1 || unit_max < unit_min || unit_max > 31) return -1;
    const auto min = static_cast<uint32_t>(unit_min);
    const auto max = static_cast<uint32_t>(unit_max);
    std::string_view text(string);
    size_t pos = 0;
    unit_list found = 0;
    for (;;) {
        uint32_t v1 = 0, v2 = 0;
        size_t n = 0;
        if (int rc = read_unit(text.substr(pos), min, max, &v1, &n,
                               "_parseDecimal((char*)(&str[pos]), str_len,unitMin,unitMax,&val1,&num_len)");
            rc != 0)
            return rc;
        pos += n;
        v2 = v1;
        if (pos < text.size() && text[pos] == '-') {
            ++pos;
            if (int rc =
                    read_unit(text.substr(pos), min, max, &v2, &n,
                              "_parseDecimal((char*)(&str[pos]), str_len,unitMin,unitMax,&val2,&num_len)");
                rc != 0)
                return rc;
            pos += n;
        }
        uint32_t lo = v1 < v2 ? v1 : v2, hi = v1 < v2 ? v2 : v1;
        for (uint32_t u = lo; u <= hi; ++u) found |= 1u << u;
        if (pos == text.size()) break;
        if (text[pos] != ',') return -1;
        ++pos;
    }
    // Only unit 1 exists in this build.
    if (found & (1u << UNIT_1)) *l |= 1u << UNIT_1;
    return 0;
}

PC_API int usUnitlist2Str(unit_list l, char *str) {
    PFM_ENSURE_RET(MID_UP, str != NULL, -1);
    if (l & (1u << UNIT_1)) {
        str[0] = '1';
        str[1] = '\0';
    } else {
        str[0] = '\0';
    }
    return 0;
}

}  // extern "C"
