// Stack traces of this process's threads.
//
// print_stack(context) prints the stack of the calling thread, which is
// the thread the signal context belongs to: on MIPS the three walks of
// mips_stack_walk.h over the live memory (code read only inside the
// executable mappings), elsewhere the C library's backtrace. A thread that
// receives SIGUSR1 prints its own stack this way; dk_getThreadStack asks a
// thread for it and waits for the answer.
#pragma once

#include <signal.h>

namespace pc::diag {

void print_stack(void *ucontext);
// Installs the SIGUSR1 handler (the debugger's request for a stack).
void install_stack_handler();
// Binds what the crash report calls, before any crash.
void prepare_crash_report();
// The SIGUSR1 handler itself.
void stack_request_handler(int sig, siginfo_t *info, void *ctx);

}  // namespace pc::diag
