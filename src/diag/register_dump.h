// The registers and the pc of a signal context, for the crash report and
// the breakpoint report. Signal-handler safe (writes with write(2)).
#pragma once

#include <cstdint>

namespace pc::diag {

// The pc, the stack pointer and the return address register (0 where the
// CPU has none) of a ucontext_t.
uintptr_t context_pc(const void *ucontext);
uintptr_t context_sp(const void *ucontext);
// Moves the pc of the context (to run an instruction again).
void context_set_pc(void *ucontext, uintptr_t pc);

// "regedits info:\n" and the registers, four to a line.
void print_registers(const void *ucontext);

}  // namespace pc::diag
