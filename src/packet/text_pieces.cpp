#include "packet/text_pieces.h"

#include <cstdio>

namespace pc::packet {

std::string format_text(const char *fmt, va_list ap) {
    va_list again;
    va_copy(again, ap);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    std::string text;
    if (n >= static_cast<int>(sizeof small)) {
        text.resize(static_cast<size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    } else if (n > 0) {
        text.assign(small, static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

int collect_piece(void *pieces, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    static_cast<std::vector<std::string> *>(pieces)->push_back(format_text(fmt, ap));
    va_end(ap);
    return 0;
}

}  // namespace pc::packet
