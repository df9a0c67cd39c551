// The CPU monitor: the machine's CPU use from /proc/stat every interval and
// the busiest threads of this process (or processes of the machine) when it
// crosses the high water.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "diag/monitor_runner.h"
#include "diag/proc_files.h"
#include "platform_core/diag.h"

namespace {

using pc::diag::MonitorLock;

struct TaskUsage {
    int id = 0;
    std::string name;
    double usage = 0;  // percent of the machine over the last interval
};

struct CpuOptions {
    int interval = DK_MON_DEFAULT_INTERVAL;
    int top_num = 10;
    int kind = DK_MON_TASK_THREAD;
    int high_water = 90;
};

void cpu_check();
pc::diag::MonitorRunner g_runner("cpu_monitor", "CpuMonMutex", cpu_check);

// All guarded by g_runner's mutex ("CpuMonMutex").
CpuOptions g_options;
pc::diag::CpuTotals g_last_totals;
bool g_have_totals = false;
double g_usage = 0;
std::map<int, uint64_t> g_task_times;  // task id -> cpu time at the last check
std::vector<TaskUsage> g_top;          // busiest first, at most top_num

std::string task_stat_path(int task, int kind) {
    char path[64];
    if (kind == DK_MON_TASK_THREAD) {
        snprintf(path, sizeof path, "%s/%d/task/%d/stat", "/proc", static_cast<int>(getpid()), task);
    } else {
        snprintf(path, sizeof path, "%s/%d/stat", "/proc", task);
    }
    return path;
}

void print_task(const TaskUsage &t, int kind, const char *now, const std::string &process) {
    if (kind == DK_MON_TASK_THREAD) {
        printf("<diagKit: %s> thread %s(%d) in process %s(%d), cpu usage: %5.2f%%.\n", now, t.name.c_str(),
               t.id, process.c_str(), static_cast<int>(getpid()), t.usage);
    } else {
        printf("<diagKit: %s> process %d(%s), cpu usage: %5.2f%%.\n", now, t.id, t.name.c_str(), t.usage);
    }
}

void print_top_locked(const char *now) {
    std::string process = pc::diag::own_process_name();
    for (const TaskUsage &t : g_top) print_task(t, g_options.kind, now, process);
}

// Under the monitor's mutex: the per-task times since the last check.
void refresh_tasks_locked(uint64_t delta_total) {
    std::vector<int> ids = g_options.kind == DK_MON_TASK_THREAD ? pc::diag::numeric_entries("/proc/self/task")
                                                                : pc::diag::numeric_entries("/proc");
    std::map<int, uint64_t> times;
    std::vector<TaskUsage> usages;
    for (int id : ids) {
        auto stat = pc::diag::read_task_stat(task_stat_path(id, g_options.kind));
        if (!stat) continue;  // ended meanwhile
        uint64_t now = stat->cpu_time();
        times[id] = now;
        auto last = g_task_times.find(id);
        uint64_t delta = last != g_task_times.end() && now >= last->second ? now - last->second : 0;
        double usage =
            delta_total ? 100.0 * static_cast<double>(delta) / static_cast<double>(delta_total) : 0;
        usages.push_back({id, stat->name, usage});
    }
    std::stable_sort(usages.begin(), usages.end(),
                     [](const TaskUsage &a, const TaskUsage &b) { return a.usage > b.usage; });
    if (usages.size() > static_cast<size_t>(g_options.top_num))
        usages.resize(static_cast<size_t>(g_options.top_num));
    g_task_times.swap(times);
    g_top.swap(usages);
}

void cpu_check() {
    auto totals = pc::diag::read_cpu_totals();
    if (!totals) return;
    MonitorLock guard(g_runner);
    uint64_t delta_total = 0;
    if (g_have_totals && totals->total > g_last_totals.total) {
        delta_total = totals->total - g_last_totals.total;
        uint64_t delta_idle = totals->idle >= g_last_totals.idle ? totals->idle - g_last_totals.idle : 0;
        g_usage = 100.0 * (1.0 - static_cast<double>(delta_idle) / static_cast<double>(delta_total));
        if (g_usage < 0) g_usage = 0;
    }
    g_last_totals = *totals;
    g_have_totals = true;
    refresh_tasks_locked(delta_total);
    if (delta_total != 0 && g_usage > g_options.high_water) {
        auto now = pc::diag::diag_now();
        printf("\n<diagKit: %s> cpu usage overflow, current usage: %5.2f%%.\n", now.text, g_usage);
        print_top_locked(now.text);
        fflush(stdout);
    }
}

}  // namespace

extern "C" {

PC_API int dk_mon_cpu_init(void) {
    if (g_runner.on()) {
        printf("DO NOT open cpu monitor twice, it's on already!\n");
        return -1;
    }
    {
        MonitorLock guard(g_runner);
        g_have_totals = false;
        g_usage = 0;
        g_task_times.clear();
        g_top.clear();
        g_runner.set_interval(g_options.interval);
    }
    if (g_runner.start() != 0) {
        if (g_runner.on()) printf("DO NOT open cpu monitor twice, it's on already!\n");
        return -1;
    }
    return 0;
}

PC_API int dk_mon_cpu_deinit(void) {
    if (g_runner.stop() != 0) {
        printf("DO NOT close cpu monitor twice, it's off already!\n");
        return -1;
    }
    printf("CPU monitor is off.\n");
    return 0;
}

PC_API int dk_mon_cpu_restart(void) {
    if (g_runner.on()) dk_mon_cpu_deinit();
    return dk_mon_cpu_init();
}

PC_API int dk_mon_cpu_options_set(int option, int value) {
    MonitorLock guard(g_runner);
    bool valid = false;
    switch (option) {
        case DK_MON_CPU_OPT_INTERVAL:
            valid = value > 0;
            if (valid) {
                g_options.interval = value;
                g_runner.set_interval(value);
            }
            break;
        case DK_MON_CPU_OPT_TOP_NUM:
            valid = value > 0;
            if (valid) g_options.top_num = value;
            break;
        case DK_MON_CPU_OPT_TASK_KIND:
            valid = value == DK_MON_TASK_THREAD || value == DK_MON_TASK_PROCESS;
            if (valid && value != g_options.kind) {
                g_options.kind = value;
                g_task_times.clear();  // ids of the other kind mean other tasks
                g_top.clear();
            }
            break;
        case DK_MON_CPU_OPT_HIGH_WATER:
            valid = value >= 0 && value <= 100;
            if (valid) g_options.high_water = value;
            break;
        default:
            printf("Set cpu monitor failed, invalid option!\n");
            return -1;
    }
    if (!valid) {
        printf("Set cpu monitor failed, invalid value!\n");
        return -1;
    }
    return 0;
}

PC_API double dk_mon_cpu_usage_get(void) {
    MonitorLock guard(g_runner);
    return g_runner.on() ? g_usage : -1.0;
}

PC_API int dk_mon_cpu_printusage(void) {
    MonitorLock guard(g_runner);
    if (!g_runner.on()) {
        printf("CPU monitor is off, can NOT get cpu usage!\n");
        return -1;
    }
    printf("<diagKit: %s> cpu usage: %5.2f%%.\n", pc::diag::diag_now().text, g_usage);
    return 0;
}

PC_API int dk_mon_cpu_printtop(void) {
    MonitorLock guard(g_runner);
    if (!g_runner.on()) {
        printf("CPU monitor is off, can NOT get cpu usage!\n");
        return -1;
    }
    print_top_locked(pc::diag::diag_now().text);
    return 0;
}

PC_API long dk_mon_cpu_gettasktime(int task, int kind) {
    if (task <= 0 || (kind != DK_MON_TASK_THREAD && kind != DK_MON_TASK_PROCESS)) return -1;
    auto stat = pc::diag::read_task_stat(task_stat_path(task, kind));
    return stat ? static_cast<long>(stat->cpu_time()) : -1;
}

}  // extern "C"
