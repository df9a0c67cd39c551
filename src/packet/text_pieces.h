// Text printed through the packet service's print callbacks, kept as a list
// of pieces. The listings fill it under their locks and hand it to a UI or
// the web server only after those locks are released.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

namespace pc::packet {

// The text of one printf-style call, however long.
std::string format_text(const char *fmt, va_list ap);

// A print callback: appends the formatted text to the
// std::vector<std::string> that `pieces` points to; always 0.
int collect_piece(void *pieces, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace pc::packet
