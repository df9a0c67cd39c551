#include "diag/signal_print.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pc::diag {

namespace {

void write_all(const char *p, size_t len) {
    while (len > 0) {
        ssize_t n = write(STDOUT_FILENO, p, len);
        if (n <= 0) return;
        p += n;
        len -= static_cast<size_t>(n);
    }
}

}  // namespace

void sig_write(const char *text) { write_all(text, std::strlen(text)); }

void sig_printf(const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    write_all(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

}  // namespace pc::diag
