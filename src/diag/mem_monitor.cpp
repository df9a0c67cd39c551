// The memory monitor: the machine's memory in use from /proc/meminfo every
// interval and the largest processes (resident memory, VmRSS) when it
// crosses the high water.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "diag/monitor_runner.h"
#include "diag/proc_files.h"
#include "platform_core/diag.h"

namespace {

using pc::diag::MonitorLock;

struct ProcessUsage {
    int pid = 0;
    std::string name;
    long rss_kb = 0;
};

struct MemOptions {
    int interval = DK_MON_DEFAULT_INTERVAL;
    int high_water = 80;
    int top_num = 5;
};

void mem_check();
pc::diag::MonitorRunner g_runner("memory_monitor", "MemMonMutex", mem_check);

// All guarded by g_runner's mutex ("MemMonMutex").
MemOptions g_options;
pc::diag::MemTotals g_totals;
double g_usage = 0;
std::vector<ProcessUsage> g_top;  // largest first, at most top_num

void print_top_locked(const char *now) {
    for (const ProcessUsage &p : g_top) {
        double share = g_totals.total_kb
                           ? 100.0 * static_cast<double>(p.rss_kb) / static_cast<double>(g_totals.total_kb)
                           : 0;
        printf("<diagKit: %s> process %s(%d), memory use: %ldKB(%.2f%%).\n", now, p.name.c_str(), p.pid,
               p.rss_kb, share);
    }
}

void mem_check() {
    auto totals = pc::diag::read_mem_totals();
    if (!totals) return;
    std::vector<ProcessUsage> processes;
    for (int pid : pc::diag::numeric_entries("/proc")) {
        auto mem = pc::diag::read_process_mem(std::to_string(pid));
        if (mem) processes.push_back({pid, mem->name, mem->rss_kb});
    }
    std::stable_sort(processes.begin(), processes.end(),
                     [](const ProcessUsage &a, const ProcessUsage &b) { return a.rss_kb > b.rss_kb; });
    MonitorLock guard(g_runner);
    if (processes.size() > static_cast<size_t>(g_options.top_num))
        processes.resize(static_cast<size_t>(g_options.top_num));
    g_totals = *totals;
    g_usage = 100.0 * static_cast<double>(totals->used_kb) / static_cast<double>(totals->total_kb);
    g_top.swap(processes);
    if (g_usage > g_options.high_water) {
        auto now = pc::diag::diag_now();
        printf("\n<diagKit: %s> memory usage overflow, total: %ldKB, current use: %ldKB(%.2f%%).\n", now.text,
               g_totals.total_kb, g_totals.used_kb, g_usage);
        print_top_locked(now.text);
        fflush(stdout);
    }
}

}  // namespace

extern "C" {

PC_API int dk_mon_mem_init(void) {
    if (g_runner.on()) {
        printf("DO NOT open memory monitor twice, it's on already!\n");
        return -1;
    }
    {
        MonitorLock guard(g_runner);
        g_usage = 0;
        g_top.clear();
        g_runner.set_interval(g_options.interval);
    }
    if (g_runner.start() != 0) {
        if (g_runner.on()) printf("DO NOT open memory monitor twice, it's on already!\n");
        return -1;
    }
    return 0;
}

PC_API int dk_mon_mem_deinit(void) {
    if (g_runner.stop() != 0) {
        printf("DO NOT close memory monitor twice, it's off already!\n");
        return -1;
    }
    printf("Memory monitor is off.\n");
    return 0;
}

PC_API int dk_mon_mem_restart(void) {
    if (g_runner.on()) dk_mon_mem_deinit();
    return dk_mon_mem_init();
}

PC_API int dk_mon_mem_options_set(int option, int value) {
    MonitorLock guard(g_runner);
    bool valid = false;
    switch (option) {
        case DK_MON_MEM_OPT_INTERVAL:
            valid = value > 0;
            if (valid) {
                g_options.interval = value;
                g_runner.set_interval(value);
            }
            break;
        case DK_MON_MEM_OPT_HIGH_WATER:
            valid = value >= 0 && value <= 100;
            if (valid) g_options.high_water = value;
            break;
        case DK_MON_MEM_OPT_TOP_NUM:
            valid = value > 0;
            if (valid) g_options.top_num = value;
            break;
        default:
            printf("Set memory monitor failed, invalid option!\n");
            return -1;
    }
    if (!valid) {
        printf("Set memory monitor failed, invalid value!\n");
        return -1;
    }
    return 0;
}

PC_API double dk_mon_mem_usage_get(void) {
    MonitorLock guard(g_runner);
    return g_runner.on() ? g_usage : -1.0;
}

PC_API int dk_mon_mem_printusage(void) {
    MonitorLock guard(g_runner);
    if (!g_runner.on()) {
        printf("Memory monitor is off, can NOT get memory usage!\n");
        return -1;
    }
    printf("<diagKit: %s> memory total: %ldKB, current use: %ldKB(%.2f%%).\n", pc::diag::diag_now().text,
           g_totals.total_kb, g_totals.used_kb, g_usage);
    return 0;
}

PC_API int dk_mon_mem_printtop(void) {
    MonitorLock guard(g_runner);
    if (!g_runner.on()) {
        printf("Memory monitor is off, can NOT get memory usage!\n");
        return -1;
    }
    print_top_locked(pc::diag::diag_now().text);
    return 0;
}

}  // extern "C"
