// The crash reporter: says which thread faulted and where, then ends the
// process. It runs inside a signal handler, so it writes with write(2) only.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>

#include "platform_core/pal.h"

namespace {

void put(const char *s) {
    ssize_t r = write(STDERR_FILENO, s, std::strlen(s));
    (void)r;
}

void put_hex(unsigned long v) {
    char buf[2 + 2 * sizeof(unsigned long) + 1];
    char *p = buf + sizeof buf - 1;
    *p = '\0';
    do {
        *--p = "0123456789abcdef"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    *--p = 'x';
    *--p = '0';
    put(p);
}

}  // namespace

extern "C" {

PC_API void dk_sigsegv(int sig, siginfo_t *info, void *ctx) {
    (void)ctx;
    char thread_name[32] = {};
    prctl(PR_GET_NAME, thread_name, 0, 0, 0);
    put("\n*** fatal signal ");
    put_hex(static_cast<unsigned long>(sig));
    put(" in thread \"");
    put(thread_name);
    put("\" at address ");
    put_hex(info ? reinterpret_cast<unsigned long>(info->si_addr) : 0UL);
    put(" ***\n");
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(128 + sig);
}

}  // extern "C"
