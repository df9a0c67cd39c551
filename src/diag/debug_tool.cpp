// The debugging tool's side: breakpoints and memory through ptrace, the
// requests it posts to its target, and the "dk>" command loop.
//
// The tool attaches to its target only for each memory operation and
// detaches right after, so the target runs (and answers SIGUSR2 requests,
// and stops itself at a breakpoint) between commands. A breakpoint is the
// trap instruction of the CPU the tool and its target run on: the word
// 0x0005000D on MIPS, the byte 0xCC (int3) on x86.
#include <elf.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform_core/diag.h"

namespace {

constexpr unsigned kSettleSeconds = 5;  // the target loads its symbols meanwhile

struct Breakpoint {
    unsigned long addr;
    long saved;  // the word (of ptrace's width) found there
    bool in_use;
};
// The tool's breakpoint table (gEpMng); one tool, one thread.
std::array<Breakpoint, DK_BP_MAX> gEpMng{};

using ToolFn = int (*)(int pid, const char *arg);
struct ToolCommand {
    int code;
    const char *name;
    const char *help;
    ToolFn run;
};
constexpr std::array<ToolCommand, 15> kCommands{{
    {DK_CMD_BREAK, "b", "put a breakpoint, eg: b:0x12345678", dk_setBP},
    {DK_CMD_SHOW_BP, "ib", "infomation of breakpoints, eg: ib", dk_showBP},
    {DK_CMD_CONTINUE, "c", "continue run, eg: c", dk_c},
    {DK_CMD_DUMP, "x", "dump mem content, eg: x:0x12345678:16", dk_x},
    {DK_CMD_SET, "set", "set mem content, eg: set:0x12345678:1", dk_p},
    {DK_CMD_STACK, "tt", "dump function stack, eg: tt:(LWP)", dk_bt},
    {DK_CMD_REGS, "ir", "info of registers, eg: ir", dk_showReg},
    {DK_CMD_SYM_ADDR, "ia", "info of address of symbol, eg: ia:symbol", dk_sym_addr},
    {DK_CMD_THREADS, "it", "info of threads,eg:it", dk_thread},
    {DK_CMD_CALL, "call", "call a function,eg: call:test() or call:0x1234567()", dk_call},
    {DK_CMD_CPU, "cpu", "show cpu info,eg: cpu", dk_cmd_cpu},
    {DK_CMD_MEM, "mem", "show mem info, eg: mem", dk_cmd_mem},
    {DK_CMD_ADDR_SYM, "is", "info of symbol by address, eg: is:0x1234567", dk_cmd_addrsym},
    {DK_CMD_QUIT, "q", "quit, eg: q", dk_Quit},
    {DK_CMD_HELP, "?", "help infomation", dk_print_help},
}};

long break_word(long original) {
#if defined(__mips__)
    (void)original;
    return static_cast<long>(DK_BREAK_WORD);
#elif defined(__x86_64__) || defined(__i386__)
    // The first byte in memory is the low byte on x86.
    return static_cast<long>((static_cast<unsigned long>(original) & ~0xFFUL) | 0xCCUL);
#else
#error "no breakpoint instruction for this CPU"
#endif
}

// "0x<hex>" at the start of text; the rest after it in *rest.
bool parse_hex_address(const char *text, unsigned long *addr, const char **rest) {
    if (text == nullptr || std::strncmp(text, "0x", 2) != 0) return false;
    char *end = nullptr;
    errno = 0;
    *addr = std::strtoul(text + 2, &end, 16);
    if (end == text + 2 || errno != 0) return false;
    if (rest != nullptr) *rest = end;
    return true;
}

// "0x<hex>:<decimal>"
bool parse_address_and_number(const char *text, unsigned long *addr, long *number) {
    const char *rest = nullptr;
    if (!parse_hex_address(text, addr, &rest) || *rest != ':') return false;
    char *end = nullptr;
    errno = 0;
    *number = std::strtol(rest + 1, &end, 10);
    return end != rest + 1 && errno == 0;
}

bool peek(int pid, unsigned long addr, long *word) {
    errno = 0;
    long v = ptrace(PTRACE_PEEKTEXT, pid, reinterpret_cast<void *>(addr), nullptr);
    if (errno != 0) return false;
    *word = v;
    return true;
}

bool poke(int pid, unsigned long addr, long word) {
    return ptrace(PTRACE_POKETEXT, pid, reinterpret_cast<void *>(addr), reinterpret_cast<void *>(word)) == 0;
}

// The 32-bit word at addr, as the target sees it in memory.
bool peek32(int pid, unsigned long addr, uint32_t *word) {
    long v = 0;
    if (!peek(pid, addr, &v)) return false;
    std::memcpy(word, &v, sizeof *word);
    return true;
}

bool poke32(int pid, unsigned long addr, uint32_t word) {
    long v = 0;
    if (!peek(pid, addr, &v)) return false;
    std::memcpy(&v, &word, sizeof word);
    return poke(pid, addr, v);
}

// Attached for the lifetime of the object.
class Attached {
public:
    explicit Attached(int pid) : pid_(pid), ok_(dk_attach(pid) == 0) {}
    ~Attached() {
        if (ok_) dk_detach(pid_);
    }
    Attached(const Attached &) = delete;
    Attached &operator=(const Attached &) = delete;
    bool ok() const { return ok_; }

private:
    int pid_;
    bool ok_;
};

int post(int pid, int code, const char *arg) {
    if (dk_setSigCmd(code, arg) != 0) return -1;
    if (kill(pid, SIGUSR2) != 0) {
        printf("send command to process %d failed: %s\n", pid, strerror(errno));
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

PC_API int dk_attach(int pid) {
    if (ptrace(PTRACE_ATTACH, pid, nullptr, nullptr) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, __WALL) < 0) {
        if (errno != EINTR) {
            ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
            return -1;
        }
    }
    return WIFSTOPPED(status) ? 0 : -1;
}

PC_API int dk_detach(int pid) { return ptrace(PTRACE_DETACH, pid, nullptr, nullptr) == 0 ? 0 : -1; }

PC_API int dk_setbreakpoint(int pid, unsigned long addr) {
    Breakpoint *free_slot = nullptr;
    for (Breakpoint &bp : gEpMng) {
        if (bp.in_use && bp.addr == addr) {
            printf("breakpoint 0x%lx is existent already\n", addr);
            return -1;
        }
        if (!bp.in_use && free_slot == nullptr) free_slot = &bp;
    }
    if (free_slot == nullptr) {
        printf("breakpoints are full (%d), can not set 0x%lx\n", DK_BP_MAX, addr);
        return -1;
    }
    Attached attached(pid);
    if (!attached.ok()) {
        printf("attach process %d failed!\r\n", pid);
        return -1;
    }
    long saved = 0;
    if (!peek(pid, addr, &saved) || !poke(pid, addr, break_word(saved))) {
        printf("can not put a breakpoint at 0x%lx: %s\n", addr, strerror(errno));
        return -1;
    }
    *free_slot = {addr, saved, true};
    uint32_t now = 0;
    peek32(pid, addr, &now);
    printf("After trap, data at 0x%08lx: 0x%08x\n", addr, now);
    printf("set point 0x%lx sucess, press 'c' to continue\n", addr);
    return 0;
}

PC_API int dk_setBP(int pid, const char *arg) {
    unsigned long addr = 0;
    if (!parse_hex_address(arg, &addr, nullptr)) {
        printf("bad address, eg: b:0x12345678\n");
        return -1;
    }
    return dk_setbreakpoint(pid, addr);
}

PC_API int dk_showBP(int, const char *) {
    int shown = 0;
    for (size_t i = 0; i < gEpMng.size(); ++i) {
        if (!gEpMng[i].in_use) continue;
        printf("breakpoint %zu: 0x%08lx\n", i, gEpMng[i].addr);
        ++shown;
    }
    if (shown == 0) printf("no breakpoint\n");
    return 0;
}

PC_API int dk_c(int pid, const char *) {
    int code = 0;
    char text[DK_CMD_TEXT_LEN] = {};
    if (dk_getSigCmd(&code, text) == 0 && code == DK_CMD_BREAK) {
        unsigned long addr = 0;
        parse_hex_address(text, &addr, nullptr);
        for (Breakpoint &bp : gEpMng) {
            if (!bp.in_use || bp.addr != addr) continue;
            Attached attached(pid);
            if (!attached.ok() || !poke(pid, bp.addr, bp.saved)) {
                printf("can not remove breakpoint 0x%lx\n", bp.addr);
                return -1;
            }
            bp = {};
        }
        dk_setSigCmd(0, "");
    }
    return kill(pid, SIGCONT) == 0 ? 0 : -1;
}

PC_API int dk_x(int pid, const char *arg) {
    unsigned long addr = 0;
    long count = 0;
    if (!parse_address_and_number(arg, &addr, &count) || count < 0) {
        printf("bad argument, eg: x:0x12345678:16\n");
        return -1;
    }
    long words = count / 4 > 0 ? count / 4 : 1;
    Attached attached(pid);
    if (!attached.ok()) {
        printf("attach process %d failed!\r\n", pid);
        return -1;
    }
    for (long i = 0; i < words; ++i) {
        unsigned long at = addr + static_cast<unsigned long>(i) * 4;
        if (i % 4 == 0) printf("%s<0x%08lx>: ", i ? "\n" : "", at);
        uint32_t word = 0;
        if (peek32(pid, at, &word)) {
            printf("%08x  ", word);
        } else {
            printf("????????  ");
        }
    }
    printf("\n");
    return 0;
}

PC_API int dk_p(int pid, const char *arg) {
    unsigned long addr = 0;
    long value = 0;
    if (!parse_address_and_number(arg, &addr, &value)) {
        printf("bad argument, eg: set:0x12345678:1\n");
        return -1;
    }
    Attached attached(pid);
    if (!attached.ok() || !poke32(pid, addr, static_cast<uint32_t>(value))) {
        printf("set memory addr 0x%lx failed\n", addr);
        return -1;
    }
    printf("set memory addr 0x%lx value %ld\n", addr, value);
    return 0;
}

PC_API int dk_bt(int pid, const char *arg) { return post(pid, DK_CMD_STACK, arg); }

PC_API int dk_showReg(int pid, const char *) {
    Attached attached(pid);
    if (!attached.ok()) {
        printf("attach process %d failed!\r\n", pid);
        return -1;
    }
    unsigned long regs[64] = {};
    iovec io{regs, sizeof regs};
    if (ptrace(PTRACE_GETREGSET, pid, reinterpret_cast<void *>(NT_PRSTATUS), &io) != 0) {
        printf("read registers failed: %s\n", strerror(errno));
        return -1;
    }
    size_t n = io.iov_len / sizeof regs[0];
    for (size_t i = 0; i < n; ++i) {
        printf("r%02zu: %0*lx%s", i, static_cast<int>(2 * sizeof(unsigned long)), regs[i],
               i % 4 == 3 ? "\n" : "  ");
    }
    printf("\n");
    return 0;
}

PC_API int dk_sym_addr(int pid, const char *arg) { return post(pid, DK_CMD_SYM_ADDR, arg); }
PC_API int dk_thread(int pid, const char *arg) { return post(pid, DK_CMD_THREADS, arg); }
PC_API int dk_call(int pid, const char *arg) { return post(pid, DK_CMD_CALL, arg); }
PC_API int dk_cmd_cpu(int pid, const char *arg) { return post(pid, DK_CMD_CPU, arg); }
PC_API int dk_cmd_mem(int pid, const char *arg) { return post(pid, DK_CMD_MEM, arg); }
PC_API int dk_cmd_addrsym(int pid, const char *arg) { return post(pid, DK_CMD_ADDR_SYM, arg); }
PC_API int dk_Quit(int, const char *) { return 0; }

PC_API int dk_print_help(int, const char *) {
    for (const ToolCommand &c : kCommands) printf("  %-5s %s\n", c.name, c.help);
    return 0;
}

PC_API int dk_cmd_find(const char *line, const char **arg) {
    if (line == nullptr) return -1;
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    size_t end = text.find_first_of(" :");
    std::string_view name = text.substr(0, end);
    if (arg != nullptr) {
        size_t colon = std::string_view(line).find(':');
        *arg = colon == std::string_view::npos ? "" : line + colon + 1;
    }
    for (const ToolCommand &c : kCommands) {
        if (name == c.name) return c.code;
    }
    return -1;
}

PC_API int dk_dbg_proc(int pid) {
    if (dk_attach(pid) != 0) {
        printf("attach process %d failed!\r\n", pid);
        return -1;
    }
    dk_detach(pid);
    post(pid, DK_CMD_LOAD_SO, "");
    sleep(kSettleSeconds);
    if (isatty(STDIN_FILENO)) {
        int rc = system("stty erase ^H");
        (void)rc;
    }
    char *line = nullptr;
    size_t cap = 0;
    for (;;) {
        printf("dk>");
        fflush(stdout);
        if (getline(&line, &cap, stdin) < 0) break;
        // The argument ends at the line's end.
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0') continue;
        const char *arg = nullptr;
        int code = dk_cmd_find(line, &arg);
        if (code < 0) {
            printf("unknown cmd, input '?' for help\n");
            continue;
        }
        if (code == DK_CMD_QUIT) break;
        for (const ToolCommand &c : kCommands) {
            if (c.code == code) c.run(pid, arg);
        }
    }
    std::free(line);
    return 0;
}

PC_API int dk_tool_main(int argc, char **argv) {
    printf("diagKit: the switch's process debugger\n");
    if (argc < 2) {
        printf("Usage: diagkit <pid> - process id to be traced.\n");
        printf("                ps   - show process information.\n\n");
        return 1;
    }
    if (std::strcmp(argv[1], "ps") == 0) return system("ps aux") == 0 ? 0 : 1;
    char *end = nullptr;
    long pid = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || pid <= 0) {
        printf("pid is invalid.\n");
        return 1;
    }
    return dk_dbg_proc(static_cast<int>(pid)) == 0 ? 0 : 1;
}

}  // extern "C"
