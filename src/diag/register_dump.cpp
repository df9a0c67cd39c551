#include "diag/register_dump.h"

#include <ucontext.h>

#include "diag/signal_print.h"

namespace pc::diag {

#if defined(__mips__)

uintptr_t context_pc(const void *uc) {
    return static_cast<uintptr_t>(static_cast<const ucontext_t *>(uc)->uc_mcontext.pc);
}
uintptr_t context_sp(const void *uc) {
    return static_cast<uintptr_t>(static_cast<const ucontext_t *>(uc)->uc_mcontext.gregs[29]);
}
void context_set_pc(void *uc, uintptr_t pc) { static_cast<ucontext_t *>(uc)->uc_mcontext.pc = pc; }

void print_registers(const void *ucontext) {
    const auto *uc = static_cast<const ucontext_t *>(ucontext);
    sig_write("regedits info:\n");
    for (int i = 0; i < 32; i += 4) {
        sig_printf("r%02d: %08x  r%02d: %08x  r%02d: %08x  r%02d: %08x\n", i,
                   static_cast<unsigned>(uc->uc_mcontext.gregs[i]), i + 1,
                   static_cast<unsigned>(uc->uc_mcontext.gregs[i + 1]), i + 2,
                   static_cast<unsigned>(uc->uc_mcontext.gregs[i + 2]), i + 3,
                   static_cast<unsigned>(uc->uc_mcontext.gregs[i + 3]));
    }
    sig_printf("pc : %08x  hi : %08x  lo : %08x\n", static_cast<unsigned>(uc->uc_mcontext.pc),
               static_cast<unsigned>(uc->uc_mcontext.mdhi), static_cast<unsigned>(uc->uc_mcontext.mdlo));
}

#elif defined(__x86_64__)

namespace {
constexpr const char *kNames[NGREG] = {"r8",  "r9",  "r10",    "r11", "r12",    "r13",     "r14", "r15",
                                       "rdi", "rsi", "rbp",    "rbx", "rdx",    "rax",     "rcx", "rsp",
                                       "rip", "efl", "csgsfs", "err", "trapno", "oldmask", "cr2"};
}  // namespace

uintptr_t context_pc(const void *uc) {
    return static_cast<uintptr_t>(static_cast<const ucontext_t *>(uc)->uc_mcontext.gregs[REG_RIP]);
}
uintptr_t context_sp(const void *uc) {
    return static_cast<uintptr_t>(static_cast<const ucontext_t *>(uc)->uc_mcontext.gregs[REG_RSP]);
}
void context_set_pc(void *uc, uintptr_t pc) {
    static_cast<ucontext_t *>(uc)->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(pc);
}

void print_registers(const void *ucontext) {
    const auto *uc = static_cast<const ucontext_t *>(ucontext);
    sig_write("regedits info:\n");
    for (int i = 0; i < NGREG; ++i) {
        sig_printf("%-7s: %016llx%s", kNames[i], static_cast<unsigned long long>(uc->uc_mcontext.gregs[i]),
                   (i % 4 == 3 || i == NGREG - 1) ? "\n" : "  ");
    }
}

#else

uintptr_t context_pc(const void *) { return 0; }
uintptr_t context_sp(const void *) { return 0; }
void context_set_pc(void *, uintptr_t) {}
void print_registers(const void *) { sig_write("regedits info:\n(not available on this CPU)\n"); }

#endif

}  // namespace pc::diag
