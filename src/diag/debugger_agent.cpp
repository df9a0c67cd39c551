// The debugger inside the process: the crash reporter's installation, the
// commands the tool posts (SIGUSR2) and the breakpoint report (SIGTRAP).
//
// A signal handler only notes that a command is waiting and wakes the
// "diagKit" thread, which runs it outside signal context: commands print
// with stdio, look symbols up and may call functions. The same thread puts
// the handlers back once a second, in case a library replaced them.
#include <dlfcn.h>
#include <link.h>
#include <semaphore.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "diag/code_ranges.h"
#include "diag/proc_files.h"
#include "diag/process_symbols.h"
#include "diag/register_dump.h"
#include "diag/signal_print.h"
#include "diag/stack_trace.h"
#include "platform_core/diag.h"
#include "platform_core/pal.h"

namespace {

constexpr unsigned kAgentStack = 32768;
constexpr unsigned kAgentPriority = 40;

sem_t g_command_sem;  // posted by the SIGUSR2 handler
std::once_flag g_init_once;
int g_init_result = -1;

void command_signal(int, siginfo_t *, void *) {
    int saved = errno;
    sem_post(&g_command_sem);
    errno = saved;
}

void crash_signal(int sig, siginfo_t *info, void *ctx) { dk_sigsegv(sig, info, ctx); }

// A breakpoint hit: report it, post it for the tool, and stop the process
// until the tool has put the instruction back and continued it.
void trap_signal(int, siginfo_t *, void *ctx) {
    int saved = errno;
    uintptr_t pc = pc::diag::context_pc(ctx);
#if defined(__x86_64__) || defined(__i386__)
    // int3 reports the address after itself; the instruction put back
    // there must run again.
    pc -= 1;
    pc::diag::context_set_pc(ctx, pc);
#endif
    Dl_info info{};
    const char *symbol = "??";
    if (dladdr(reinterpret_cast<void *>(pc), &info) != 0 && info.dli_sname != nullptr)
        symbol = info.dli_sname;
    pc::diag::sig_printf("breakpoint %s at 0x%08lx in thread(LWP)0x%08x \n", symbol,
                         static_cast<unsigned long>(pc), static_cast<unsigned>(syscall(SYS_gettid)));
    pc::diag::print_registers(ctx);
    pc::diag::print_stack(ctx);
    char text[32];
    snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(pc));
    dk_setSigCmd(DK_CMD_BREAK, text);
    kill(getpid(), SIGSTOP);
    errno = saved;
}

void install(int sig, void (*handler)(int, siginfo_t *, void *), int extra_flags) {
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | extra_flags;
    sa.sa_sigaction = handler;
    sigaction(sig, &sa, nullptr);
}

void install_request_handlers() {
    install(SIGUSR2, command_signal, SA_RESTART);
    pc::diag::install_stack_handler();
    install(SIGTRAP, trap_signal, SA_ONSTACK);
}

void agent_thread(void *) {
    for (;;) {
        install_request_handlers();
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 1;
        if (sem_timedwait(&g_command_sem, &deadline) != 0) continue;
        int code = 0;
        char text[DK_CMD_TEXT_LEN] = {};
        if (dk_getSigCmd(&code, text) == 0) dk_run_command(code, text);
        fflush(stdout);
    }
}

// "0x..." or a symbol name, without a trailing "()".
std::string call_target(const char *text) {
    std::string name(text);
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    if (name.size() >= 2 && name.compare(name.size() - 2, 2, "()") == 0) name.resize(name.size() - 2);
    return name;
}

// A symbol's address: from the objects' symbol tables (which hold the
// program's own functions), else from the dynamic loader.
void *symbol_address(const char *name) {
    if (auto addr = pc::diag::process_symbol_address(name)) return reinterpret_cast<void *>(*addr);
    return dlsym(RTLD_DEFAULT, name);
}

int print_object(dl_phdr_info *info, size_t, void *count) {
    printf("%s base 0x%08lx\n", info->dlpi_name && info->dlpi_name[0] ? info->dlpi_name : "(main program)",
           static_cast<unsigned long>(info->dlpi_addr));
    ++*static_cast<int *>(count);
    return 0;
}

int print_pal_thread(pal_thread_t id, const char *name, unsigned ss, int tid, void *) {
    printf("  %-16s id %p LWP %d stack %u\n", name, reinterpret_cast<void *>(static_cast<uintptr_t>(id)), tid,
           ss);
    return 0;
}

}  // namespace

extern "C" {

PC_API int dk_initation(void) {
    std::call_once(g_init_once, [] {
        pc::diag::prepare_crash_report();
        install(SIGSEGV, crash_signal, SA_ONSTACK);  // on the overflow guard's stack where there is one
        install(SIGABRT, crash_signal, SA_ONSTACK);
        install(SIGBUS, crash_signal, SA_ONSTACK);
        signal(SIGPIPE, SIG_IGN);
        sem_init(&g_command_sem, 0, 0);
        dk_regSigCmd();
        install_request_handlers();
        if (pal_thread_create("diagKit", kAgentStack, kAgentPriority, agent_thread, nullptr) ==
            PAL_THREAD_INVALID) {
            printf("can't create thread: %s\n", strerror(errno));
            return;
        }
        g_init_result = 0;
    });
    return g_init_result;
}

PC_API int dk_getSymbol(const char *name) {
    if (name == nullptr || *name == '\0') return -1;
    void *addr = symbol_address(name);
    if (addr == nullptr) {
        printf("symbol %s is not found\n", name);
        return -1;
    }
    printf("symbol %s at 0x%08lx\n", name, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(addr)));
    return 0;
}

PC_API int dk_list_threads(void) {
    printf("threads of process %d:\n", static_cast<int>(getpid()));
    for (int tid : pc::diag::numeric_entries("/proc/self/task")) {
        auto stat = pc::diag::read_task_stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        printf("  LWP %d %s\n", tid, stat ? stat->name.c_str() : "?");
    }
    printf("library threads:\n");
    pal_thread_traverse(print_pal_thread, nullptr);
    return 0;
}

PC_API int dk_callfunc(const char *text) {
    if (text == nullptr) return -1;
    std::string target = call_target(text);
    if (target.empty()) return -1;
    void *addr = nullptr;
    if (target.rfind("0x", 0) == 0) {
        addr =
            reinterpret_cast<void *>(static_cast<uintptr_t>(std::strtoul(target.c_str() + 2, nullptr, 16)));
    } else {
        addr = symbol_address(target.c_str());
    }
    // Only an address inside executable code is called: a typo must not
    // crash the process that is being debugged.
    static pc::diag::ProcessRanges ranges;
    if (addr == nullptr || !pc::diag::load_process_ranges(ranges) ||
        !ranges.is_code(reinterpret_cast<uintptr_t>(addr), 4)) {
        printf("can not call %s: not a function\n", target.c_str());
        return -1;
    }
    auto fn = reinterpret_cast<int (*)()>(addr);
    int rc = fn();
    printf("call %s return %d\n", target.c_str(), rc);
    return 0;
}

PC_API int dk_showSym(void) {
    int count = 0;
    dl_iterate_phdr(print_object, &count);
    return 0;
}

PC_API int dk_addrsym(const char *hexAddr) {
    if (hexAddr == nullptr) return -1;
    const char *digits = std::strncmp(hexAddr, "0x", 2) == 0 ? hexAddr + 2 : hexAddr;
    auto addr = static_cast<uintptr_t>(std::strtoul(digits, nullptr, 16));
    if (auto sym = pc::diag::process_symbol_at(addr)) {
        printf("0x%08lx: %s+0x%lx in %s\n", static_cast<unsigned long>(addr), sym->name.c_str(),
               static_cast<unsigned long>(addr - sym->start), sym->file.c_str());
        return 0;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(addr), &info) == 0) {
        printf("0x%08lx: no symbol\n", static_cast<unsigned long>(addr));
        return -1;
    }
    uintptr_t base = reinterpret_cast<uintptr_t>(info.dli_saddr);
    printf(
        "0x%08lx: %s+0x%lx in %s\n", static_cast<unsigned long>(addr), info.dli_sname ? info.dli_sname : "??",
        static_cast<unsigned long>(info.dli_saddr ? addr - base : 0), info.dli_fname ? info.dli_fname : "??");
    return 0;
}

PC_API int dk_showCpu(void) {
    long total = dk_mon_cpu_gettasktime(static_cast<int>(getpid()), DK_MON_TASK_PROCESS);
    printf("process %d cpu time: %ld ticks (%ld per second)\n", static_cast<int>(getpid()), total,
           sysconf(_SC_CLK_TCK));
    for (int tid : pc::diag::numeric_entries("/proc/self/task")) {
        auto stat = pc::diag::read_task_stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        if (stat)
            printf("  LWP %d %s: %llu ticks\n", tid, stat->name.c_str(),
                   static_cast<unsigned long long>(stat->cpu_time()));
    }
    return 0;
}

PC_API int dk_showMem(void) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Vm", 0) == 0) printf("%s\n", line.c_str());
    }
    return 0;
}

PC_API int dk_lnitso(void) {
    // The symbol tables of every object loaded now (libraries opened since
    // the last time too); what they miss, the dynamic loader answers.
    int count = 0;
    dl_iterate_phdr(print_object, &count);
    int read = pc::diag::reload_process_symbols();
    printf("%d objects loaded, symbol tables of %d read\n", count, read < 0 ? 0 : read);
    return 0;
}

PC_API int dk_run_command(int code, const char *text) {
    const char *arg = text ? text : "";
    switch (code) {
        case DK_CMD_SET:
        case DK_CMD_SYM_ADDR:
            return dk_getSymbol(arg);
        case DK_CMD_STACK: {
            const char *p = arg;
            while (*p != '\0' && !std::isdigit(static_cast<unsigned char>(*p))) ++p;
            return dk_getThreadStack(static_cast<int>(std::strtol(p, nullptr, 0)));
        }
        case DK_CMD_THREADS:
            return dk_list_threads();
        case DK_CMD_CALL:
            return dk_callfunc(arg);
        case DK_CMD_SHOW_SYMS:
            return dk_showSym();
        case DK_CMD_ADDR_SYM:
            return dk_addrsym(arg);
        case DK_CMD_CPU:
            return dk_showCpu();
        case DK_CMD_MEM:
            return dk_showMem();
        case DK_CMD_LOAD_SO:
            return dk_lnitso();
        default:
            return 0;  // 37, 43 and the tool's own commands do nothing here
    }
}

}  // extern "C"
