#include "diag/stack_trace.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "diag/code_ranges.h"
#include "diag/mips_stack_walk.h"
#include "diag/signal_print.h"
#include "platform_core/diag.h"

namespace pc::diag {

namespace {

constexpr int kHostFrames = 32;
constexpr unsigned kAnswerWaitUs = 3000000;
constexpr unsigned kAnswerSliceUs = 10000;

std::mutex g_request_mutex;         // one stack request at a time
std::atomic<int> g_request_tid{0};  // the thread asked for its stack
std::atomic<bool> g_answered{false};

int own_tid() { return static_cast<int>(syscall(SYS_gettid)); }

#if defined(__mips__)
// The ranges the walks may read; refreshed by each walk. One walk at a time
// uses them (g_ranges_busy); a second one at the same moment prints only
// the pc and ra.
ProcessRanges g_ranges;
std::atomic_flag g_ranges_busy = ATOMIC_FLAG_INIT;

void resolve_addr(unsigned index, uint32_t addr) {
    Dl_info info{};
    const char *symbol = "??";
    const char *file = "??";
    if (dladdr(reinterpret_cast<void *>(static_cast<uintptr_t>(addr)), &info) != 0) {
        if (info.dli_sname != nullptr) symbol = info.dli_sname;
        if (info.dli_fname != nullptr) file = info.dli_fname;
    }
    sig_printf("<%u>:[0x%08x]:{%s}, in %s\r\n", index, addr, symbol, file);
}

void print_frames(const char *title, const std::vector<uint32_t> &frames) {
    sig_write(title);
    for (unsigned i = 0; i < frames.size(); ++i) resolve_addr(i, frames[i]);
}
#endif

}  // namespace

void print_stack(void *ucontext) {
    sig_write("Stack information:\r\n");
#if defined(__mips__)
    auto *uc = static_cast<ucontext_t *>(ucontext);
    if (uc == nullptr) return;
    MipsRegs regs;
    regs.pc = static_cast<uint32_t>(uc->uc_mcontext.pc);
    regs.ra = static_cast<uint32_t>(uc->uc_mcontext.gregs[31]);
    regs.sp = static_cast<uint32_t>(uc->uc_mcontext.gregs[29]);
    print_frames("Version 1 [pc ra]\r\n", mips_walk_pc_ra(regs));
    if (g_ranges_busy.test_and_set(std::memory_order_acquire)) return;
    load_process_ranges(g_ranges);
    MipsMemory mem;
    mem.read_code = [](uint32_t addr, uint32_t &word) {
        if (addr < kMipsCodeFloor || !g_ranges.is_code(addr, 4)) return false;
        word = *reinterpret_cast<const uint32_t *>(static_cast<uintptr_t>(addr));
        return true;
    };
    mem.read_data = [](uint32_t addr, uint32_t &word) {
        if ((addr & 3) != 0 || !g_ranges.is_readable(addr, 4)) return false;
        word = *reinterpret_cast<const uint32_t *>(static_cast<uintptr_t>(addr));
        return true;
    };
    print_frames("Version 2 [not leaf]\r\n", mips_walk_not_leaf(regs, mem));
    print_frames("Version 3 [leaf]\r\n", mips_walk_leaf(regs, mem));
    g_ranges_busy.clear(std::memory_order_release);
#else
    (void)ucontext;
    void *frames[kHostFrames];
    int n = backtrace(frames, kHostFrames);
    backtrace_symbols_fd(frames, n, STDOUT_FILENO);
#endif
}

void stack_request_handler(int, siginfo_t *, void *ctx) {
    int saved_errno = errno;
    int tid = own_tid();
    sig_printf("thread(LWP) %d:\n", tid);
    print_stack(ctx);
    if (g_request_tid.load(std::memory_order_acquire) == tid)
        g_answered.store(true, std::memory_order_release);
    errno = saved_errno;
}

void install_stack_handler() {
    static std::once_flag warm_up;
    // The first backtrace loads the unwinder, and the first call of each
    // function binds it: neither may happen inside a handler, on a thread
    // stack that may be small.
    std::call_once(warm_up, [] {
        void *frame[1];
        backtrace(frame, 1);
        sig_printf("%s", "");
        (void)own_tid();
        Dl_info info{};
        dladdr(reinterpret_cast<void *>(&install_stack_handler), &info);
    });
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    // On the thread's alternate stack where it has one (every library
    // thread does): the stack being printed may have little room left.
    sa.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sa.sa_sigaction = stack_request_handler;
    sigaction(SIGUSR1, &sa, nullptr);
}

}  // namespace pc::diag

extern "C" {

PC_API void dk_getStack(void *context) { pc::diag::print_stack(context); }

PC_API int dk_getThreadStack(int tid) {
    if (tid <= 0) return -1;
    std::lock_guard guard(pc::diag::g_request_mutex);
    pc::diag::install_stack_handler();
    pc::diag::g_answered.store(false, std::memory_order_release);
    pc::diag::g_request_tid.store(tid, std::memory_order_release);
    fflush(stdout);
    if (syscall(SYS_tgkill, getpid(), tid, SIGUSR1) != 0) return -1;
    for (unsigned waited = 0; waited < pc::diag::kAnswerWaitUs; waited += pc::diag::kAnswerSliceUs) {
        if (pc::diag::g_answered.load(std::memory_order_acquire)) return 0;
        usleep(pc::diag::kAnswerSliceUs);
    }
    return -1;
}

}  // extern "C"
