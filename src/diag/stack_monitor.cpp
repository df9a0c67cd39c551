// The stack monitor: how deep each thread of the PAL registry has gone
// into its stack.
//
// Every interval each registered thread gets (or keeps) a record in a
// red-black tree keyed by its thread identifier: the stack's base (its high
// end: the address plus the size from the thread's attributes), its size,
// the current top and the peak (the lowest top seen). The top is the
// thread's stack pointer from field 29 of its stat file. Kernels that keep
// that field 0 for a running thread (or a value far from the stack) give no
// top; the monitor then takes the
// lowest word of the stack that was ever written (stack pages start out
// zero) as the top, which makes top and peak the deepest use so far.
// Records of threads that ended are dropped at the next check.
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "diag/monitor_runner.h"
#include "diag/proc_files.h"
#include "platform_core/diag.h"
#include "platform_core/gdsl_rbtree.h"

namespace {

using pc::diag::MonitorLock;

constexpr unsigned kStackTopField = 29;
constexpr unsigned kGuardBytes = 4096;

struct StackRecord {
    pal_thread_t id;
    int tid;
    char name[16];
    uintptr_t base;   // high end of the stack
    unsigned size;    // bytes from the thread's attributes
    unsigned usable;  // size - 4096
    uintptr_t top;
    uintptr_t peak;  // lowest top seen
    bool seen;       // found in the registry by the current check
};

void stack_check();
pc::diag::MonitorRunner g_runner("stack_monitor", "StackMonMutex", stack_check);

// Guarded by g_runner's mutex ("StackMonMutex").
RbTree *g_records = nullptr;
int g_high_water = 90;
int g_interval = DK_MON_DEFAULT_INTERVAL;

int compare_records(void *a, void *b) {
    auto x = static_cast<uintptr_t>(static_cast<StackRecord *>(a)->id);
    auto y = static_cast<uintptr_t>(static_cast<StackRecord *>(b)->id);
    return x < y ? -1 : x > y ? 1 : 0;
}
int compare_key(void *key, void *data) {
    auto x = static_cast<uintptr_t>(*static_cast<pal_thread_t *>(key));
    auto y = static_cast<uintptr_t>(static_cast<StackRecord *>(data)->id);
    return x < y ? -1 : x > y ? 1 : 0;
}
void destroy_record(void *data) { delete static_cast<StackRecord *>(data); }

// The lowest word of [low, high) that is not zero; high when none is.
// Reads another thread's stack, which the sanitizers would take for a bug.
__attribute__((no_sanitize("address", "thread"))) uintptr_t lowest_written(uintptr_t low, uintptr_t high) {
    for (uintptr_t p = low; p + sizeof(uintptr_t) <= high; p += sizeof(uintptr_t)) {
        if (*reinterpret_cast<const volatile uintptr_t *>(p) != 0) return p;
    }
    return high;
}

double usage_of(uintptr_t base, uintptr_t top, unsigned size) {
    uintptr_t used = base > top ? base - top : top - base;
    return size ? 100.0 * static_cast<double>(used) / static_cast<double>(size) : 0;
}

void print_record(const StackRecord &r, const char *process) {
    printf("  kernel id   : %d\n", r.tid);
    printf("  process     : %s(%d)\n", process, static_cast<int>(getpid()));
    printf("  stack size  : %u (usable %u)\n", r.size, r.usable);
    printf("  in use      : %lu\n", static_cast<unsigned long>(r.base > r.top ? r.base - r.top : 0));
    printf("  base        : %p\n", reinterpret_cast<void *>(r.base));
    printf("  top         : %p\n", reinterpret_cast<void *>(r.top));
    printf("  peak        : %p\n", reinterpret_cast<void *>(r.peak));
    printf("  peak usage  : %.2f%%\n", usage_of(r.base, r.peak, r.size));
}

// Runs under the thread registry's lock: the thread cannot end meanwhile.
int visit_thread(pal_thread_t id, const char *name, unsigned, int tid, void *) {
    pthread_attr_t attr;
    if (pthread_getattr_np(id, &attr) != 0) return 0;
    void *addr = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || addr == nullptr || size == 0) return 0;

    auto *r = static_cast<StackRecord *>(rbtreeSearch(g_records, &id));
    if (r == nullptr) {
        r = new (std::nothrow) StackRecord{};
        if (r == nullptr) return 0;
        r->id = id;
        r->peak = UINTPTR_MAX;
        if (rbtreeInsert(g_records, r) != 0) {
            delete r;
            return 0;
        }
    }
    r->tid = tid;
    std::snprintf(r->name, sizeof r->name, "%s", name ? name : "");
    auto low = reinterpret_cast<uintptr_t>(addr);
    r->base = low + size;
    r->size = static_cast<unsigned>(size);
    r->usable = r->size > kGuardBytes ? r->size - kGuardBytes : 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", tid);
    auto stat = pc::diag::read_task_stat(path);
    uintptr_t top = stat ? static_cast<uintptr_t>(stat->field(kStackTopField)) : 0;
    // A top far from the stack is no reading of it (the kernel hides the
    // value, or an emulator shows its own); one just above the base is.
    if (top < low || top > r->base + size) top = lowest_written(low, r->base);
    r->top = top;
    if (top < r->peak) r->peak = top;
    r->seen = true;
    return 0;
}

int report_visit(void *ctx, void *data) {
    auto *r = static_cast<StackRecord *>(data);
    const auto *process = static_cast<const std::string *>(ctx);
    double usage = usage_of(r->base, r->top, r->size);
    bool inverted = r->base < r->top;
    if (usage >= g_high_water || inverted) {
        printf("\n<diagKit: %s> thread (%s/%p) has STACK OVERFLOW risk, usage: %.2f%%.\n",
               pc::diag::diag_now().text, r->name, reinterpret_cast<void *>(r->id), usage);
        print_record(*r, process->c_str());
        if (inverted) printf("WARNING: stack base < stack top.\n");
    }
    return GDSL_RET_OK;
}

int drop_unseen(RbTree *tree, RbTreeNode *node, void *) {
    auto *r = static_cast<StackRecord *>(node->data);
    if (!r->seen) {
        pal_thread_t id = r->id;
        rbtreeRemove(tree, &id);
    } else {
        r->seen = false;
    }
    return GDSL_RET_OK;
}

void stack_check() {
    std::string process = pc::diag::own_process_name();
    MonitorLock guard(g_runner);
    if (g_records == nullptr) return;
    pal_thread_traverse(visit_thread, nullptr);
    rbtreeTraverse(g_records, report_visit, &process);
    rbtreeTraverseSafe(g_records, drop_unseen, nullptr);
    fflush(stdout);
}

const char *process_name_for_lines() {
    static thread_local std::string name;
    name = pc::diag::own_process_name();
    return name.c_str();
}

}  // namespace

extern "C" {

PC_API int dk_mon_stack_init(void) {
    if (g_runner.on()) {
        printf("Process %s/%d: DO NOT open stack monitor twice, it's on already!\n", process_name_for_lines(),
               static_cast<int>(getpid()));
        return -1;
    }
    {
        MonitorLock guard(g_runner);
        if (g_records == nullptr) g_records = rbtreeInit(compare_records, compare_key, destroy_record);
        if (g_records == nullptr) return -1;
        rbtreeDeleteAll(g_records);
        g_runner.set_interval(g_interval);
    }
    return g_runner.start();
}

PC_API int dk_mon_stack_deinit(void) {
    if (g_runner.stop() != 0) {
        printf("Process %s/%d: DO NOT close stack monitor twice, it's off already!\n",
               process_name_for_lines(), static_cast<int>(getpid()));
        return -1;
    }
    printf("Process %s/%d: Stack monitor is off.\n", process_name_for_lines(), static_cast<int>(getpid()));
    return 0;
}

PC_API int dk_mon_stack_restart(void) {
    if (g_runner.on()) dk_mon_stack_deinit();
    return dk_mon_stack_init();
}

PC_API int dk_mon_stack_options_set(int option, int value) {
    MonitorLock guard(g_runner);
    if (option == DK_MON_STACK_OPT_INTERVAL && value > 0) {
        g_interval = value;
        g_runner.set_interval(value);
        return 0;
    }
    if (option == DK_MON_STACK_OPT_HIGH_WATER && value >= 0 && value <= 100) {
        g_high_water = value;
        return 0;
    }
    return -1;
}

PC_API int dk_mon_stack_printall(void) {
    MonitorLock guard(g_runner);
    if (!g_runner.on() || g_records == nullptr) {
        printf("Stack monitor is off, can NOT get stack infos!\n");
        return -1;
    }
    std::string process = pc::diag::own_process_name();
    rbtreeTraverse(
        g_records,
        [](void *ctx, void *data) {
            auto *r = static_cast<StackRecord *>(data);
            printf("thread %s/%p, usage: %.2f%%\n", r->name, reinterpret_cast<void *>(r->id),
                   usage_of(r->base, r->top, r->size));
            print_record(*r, static_cast<const std::string *>(ctx)->c_str());
            return static_cast<int>(GDSL_RET_OK);
        },
        &process);
    return 0;
}

PC_API int dk_mon_stack_getbytid(int tid) {
    MonitorLock guard(g_runner);
    if (!g_runner.on() || g_records == nullptr) {
        printf("Stack monitor is off, can NOT get stack infos!\n");
        return -1;
    }
    struct Find {
        int tid;
        StackRecord *found;
    } find{tid, nullptr};
    rbtreeTraverse(
        g_records,
        [](void *ctx, void *data) {
            auto *f = static_cast<Find *>(ctx);
            auto *r = static_cast<StackRecord *>(data);
            if (r->tid != f->tid) return static_cast<int>(GDSL_RET_OK);
            f->found = r;
            return static_cast<int>(GDSL_RET_STOP);
        },
        &find);
    if (find.found == nullptr) return -1;
    printf("thread %s/%p, usage: %.2f%%\n", find.found->name, reinterpret_cast<void *>(find.found->id),
           usage_of(find.found->base, find.found->top, find.found->size));
    print_record(*find.found, pc::diag::own_process_name().c_str());
    return 0;
}

}  // extern "C"
