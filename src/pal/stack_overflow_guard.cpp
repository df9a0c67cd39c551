// The stack-overflow guard: SIGSEGV handled on an alternate stack, so a
// thread that ran off its stack can still be reported.
#include <csignal>
#include <cstring>

#include "platform_core/pal.h"

namespace {

constexpr size_t kAltStackSize = 8192;
// Each thread gets its own area: two threads faulting at once must not share one.
thread_local char t_alt_stack[kAltStackSize] __attribute__((aligned(16)));

}  // namespace

extern "C" {

PC_API void stkoflw_handler(int sig, siginfo_t *info, void *ctx) { dk_sigsegv(sig, info, ctx); }

PC_API int stkoflw_install(pal_sigsegv_handler_t handler) {
    stack_t ss{};
    ss.ss_sp = t_alt_stack;
    ss.ss_size = kAltStackSize;
    ss.ss_flags = 0;
    sigaltstack(&ss, nullptr);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sa.sa_sigaction = handler;
    return sigaction(SIGSEGV, &sa, nullptr);
}

}  // extern "C"
