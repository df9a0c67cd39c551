// The crash reporter: on a fatal signal it prints which signal, where, the
// registers, the stack, the memory map and the thread's name, and then
// keeps the faulting thread asleep so that the process can be inspected.
// It runs inside a signal handler, possibly on the small alternate stack
// of the stack-overflow guard: it writes with write(2) and keeps its
// buffers small.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

#include "diag/register_dump.h"
#include "diag/signal_print.h"
#include "diag/stack_trace.h"
#include "platform_core/app.h"
#include "platform_core/diag.h"
#include "platform_core/pal.h"

namespace {

// A fault this close below or above the stack pointer is taken for a stack
// overflow.
constexpr uintptr_t kOverflowReach = 204800;
constexpr unsigned kSleepSeconds = 2;

struct SignalName {
    int number;
    const char *name;
};
constexpr std::array kSignalNames{
    SignalName{SIGHUP, "SIGHUP"},       SignalName{SIGINT, "SIGINT"},   SignalName{SIGQUIT, "SIGQUIT"},
    SignalName{SIGILL, "SIGILL"},       SignalName{SIGTRAP, "SIGTRAP"}, SignalName{SIGABRT, "SIGABRT"},
    SignalName{SIGBUS, "SIGBUS"},       SignalName{SIGFPE, "SIGFPE"},   SignalName{SIGKILL, "SIGKILL"},
    SignalName{SIGUSR1, "SIGUSR1"},     SignalName{SIGSEGV, "SIGSEGV"}, SignalName{SIGUSR2, "SIGUSR2"},
    SignalName{SIGPIPE, "SIGPIPE"},     SignalName{SIGALRM, "SIGALRM"}, SignalName{SIGTERM, "SIGTERM"},
#ifdef SIGSTKFLT
    SignalName{SIGSTKFLT, "SIGSTKFLT"},
#endif
#ifdef SIGEMT
    SignalName{SIGEMT, "SIGEMT"},
#endif
    SignalName{SIGCHLD, "SIGCHLD"},     SignalName{SIGCONT, "SIGCONT"}, SignalName{SIGSTOP, "SIGSTOP"},
    SignalName{SIGTSTP, "SIGTSTP"},     SignalName{SIGTTIN, "SIGTTIN"}, SignalName{SIGTTOU, "SIGTTOU"},
    SignalName{SIGURG, "SIGURG"},       SignalName{SIGXCPU, "SIGXCPU"}, SignalName{SIGXFSZ, "SIGXFSZ"},
    SignalName{SIGVTALRM, "SIGVTALRM"}, SignalName{SIGPROF, "SIGPROF"}, SignalName{SIGWINCH, "SIGWINCH"},
    SignalName{SIGIO, "SIGIO"},         SignalName{SIGPWR, "SIGPWR"},   SignalName{SIGSYS, "SIGSYS"},
};

const char *signal_name(int sig) {
    for (const SignalName &s : kSignalNames) {
        if (s.number == sig) return s.name;
    }
    return "UNKNOWN";
}

void print_siginfo(int sig, const siginfo_t *info) {
    using pc::diag::sig_printf;

    sig_printf("si_signo = %d\n", info->si_signo);
    sig_printf("si_errno = %d\n", info->si_errno);
    sig_printf("si_code  = %d\n", info->si_code);
    if (info->si_code <= 0) {  // sent by a process
        sig_printf("si_pid   = %d\n", static_cast<int>(info->si_pid));
        sig_printf("si_uid   = %u\n", static_cast<unsigned>(info->si_uid));
        return;
    }
    switch (sig) {
        case SIGSEGV:
        case SIGBUS:
        case SIGILL:
        case SIGFPE:
        case SIGTRAP:
            sig_printf("si_addr  = %p\n", info->si_addr);
            break;
        case SIGCHLD:
            sig_printf("si_pid   = %d\n", static_cast<int>(info->si_pid));
            sig_printf("si_uid   = %u\n", static_cast<unsigned>(info->si_uid));
            sig_printf("si_status= %d\n", info->si_status);
            break;
        case SIGPOLL:
            sig_printf("si_band  = %ld\n", static_cast<long>(info->si_band));
            break;
        default:
            break;
    }
}

void print_memory_map() {
    pc::diag::sig_write("Memory map:\n\n");
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        ssize_t r = write(STDOUT_FILENO, buf, static_cast<size_t>(n));
        (void)r;
    }
    close(fd);
}

bool near_stack_pointer(uintptr_t fault, uintptr_t sp) {
    uintptr_t distance = fault > sp ? fault - sp : sp - fault;
    return distance < kOverflowReach;
}

}  // namespace

namespace pc::diag {

// Binds every function the report calls, so that the first crash does not
// bind them on the small alternate stack.
void prepare_crash_report() {
    char name[32] = {};
    prctl(PR_GET_NAME, name, 0, 0, 0);
    int fd = open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t n = read(fd, name, sizeof name - 1);
        (void)n;
        close(fd);
    }
    sig_printf("%s", "");
    (void)appProgramName();
}

}  // namespace pc::diag

extern "C" {

PC_API void dk_sigsegv(int sig, siginfo_t *info, void *ctx) {
    using pc::diag::sig_printf;
    using pc::diag::sig_write;
    sig_write("\n");
    sig_printf("Signal <%s> is caught.\n", signal_name(sig));
    if (info != nullptr && ctx != nullptr && (sig == SIGSEGV || sig == SIGBUS) &&
        near_stack_pointer(reinterpret_cast<uintptr_t>(info->si_addr), pc::diag::context_sp(ctx))) {
        sig_write("Possibly caused by stack overflow.\n");
    }
    if (ctx != nullptr) sig_printf("pc 0x%08lx \r\n", static_cast<unsigned long>(pc::diag::context_pc(ctx)));
    const char *program = appProgramName();
    char comm[32] = {};
    if (program == nullptr || program[0] == '\0') {
        int fd = open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t n = read(fd, comm, sizeof comm - 1);
            close(fd);
            if (n > 0 && comm[n - 1] == '\n') comm[n - 1] = '\0';
        }
        program = comm;
    }
    sig_printf("process name:[%s]\r\n", program);
    sig_write("segmentation fault trace:\n");
    if (info != nullptr) print_siginfo(sig, info);
    if (ctx != nullptr) {
        pc::diag::print_registers(ctx);
        pc::diag::print_stack(ctx);
    }
    print_memory_map();
    char thread_name[32] = {};
    prctl(PR_GET_NAME, thread_name, 0, 0, 0);
    sig_printf("thread name: %s\n", thread_name);
    for (;;) sleep(kSleepSeconds);
}

}  // extern "C"
