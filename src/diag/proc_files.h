// Readers of the /proc files the monitors look at. Every reader copes with
// a file that vanished (a task that ended) by reporting failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pc::diag {

// One task's stat line: the name between the parentheses and the fields
// after them (fields[0] is field 3, the state).
struct TaskStat {
    std::string name;
    std::vector<std::string> fields;

    // Field n as numbered in proc(5) (1 pid, 2 comm, 3 state, ...), or 0.
    uint64_t field(unsigned n) const;
    // utime + stime (fields 14 and 15), in clock ticks.
    uint64_t cpu_time() const { return field(14) + field(15); }
};

std::optional<TaskStat> read_task_stat(const std::string &path);

// The eight counters of the first line of /proc/stat.
struct CpuTotals {
    uint64_t total = 0;
    uint64_t idle = 0;  // idle + iowait
};
std::optional<CpuTotals> read_cpu_totals();

// MemTotal and the memory in use (MemTotal - MemAvailable, or without
// MemAvailable MemTotal - MemFree - Buffers - Cached), in kB.
struct MemTotals {
    long total_kb = 0;
    long used_kb = 0;
};
std::optional<MemTotals> read_mem_totals();

// A process's name and resident memory (Name and VmRSS of its status file).
struct ProcessMem {
    std::string name;
    long rss_kb = 0;
};
std::optional<ProcessMem> read_process_mem(const std::string &pid);

// The numeric entries of a /proc directory ("/proc", "/proc/self/task").
std::vector<int> numeric_entries(const std::string &dir);

// The name (comm) of this process.
std::string own_process_name();

}  // namespace pc::diag
