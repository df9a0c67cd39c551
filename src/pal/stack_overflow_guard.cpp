// The stack-overflow guard: SIGSEGV handled on an alternate stack, so a
// thread that ran off its stack can still be reported.
#include <csignal>
#include <cstring>

#include "platform_core/pal.h"

namespace {

constexpr size_t kAltStackSize = 8192;
// Each thread gets its own area: two threads faulting at once must not share one.
thread_local char t_alt_stack[kAltStackSize] __attribute__((aligned(16)));

// Takes the area out of use when its thread ends, before the thread's
// storage goes away; nothing else may then treat it as its own (a runtime
// that unmaps the alternate stack it finds at thread exit, for one).
struct AltStackRelease {
    bool installed = false;
    ~AltStackRelease() {
        if (!installed) return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0 || current.ss_sp != t_alt_stack) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
    }
};
thread_local AltStackRelease t_alt_stack_release;

}  // namespace

extern "C" {

PC_API void stkoflw_handler(int sig, siginfo_t *info, void *ctx) { dk_sigsegv(sig, info, ctx); }

PC_API int stkoflw_install(pal_sigsegv_handler_t handler) {
    stack_t ss{};
    ss.ss_sp = t_alt_stack;
    ss.ss_size = kAltStackSize;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, nullptr) == 0) t_alt_stack_release.installed = true;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sa.sa_sigaction = handler;
    return sigaction(SIGSEGV, &sa, nullptr);
}

}  // extern "C"
