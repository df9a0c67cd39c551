#include "diag/proc_files.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pc::diag {

uint64_t TaskStat::field(unsigned n) const {
    if (n < 3 || n - 3 >= fields.size()) return 0;
    return std::strtoull(fields[n - 3].c_str(), nullptr, 10);
}

std::optional<TaskStat> read_task_stat(const std::string &path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    // The name may hold blanks and parentheses: it ends at the last ')'.
    size_t open = line.find('(');
    size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    TaskStat stat;
    stat.name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    while (rest >> field) stat.fields.push_back(field);
    return stat;
}

std::optional<CpuTotals> read_cpu_totals() {
    std::ifstream in("/proc/stat");
    std::string label;
    if (!(in >> label) || label != "cpu") return std::nullopt;
    uint64_t v[8] = {};
    for (uint64_t &x : v) {
        if (!(in >> x)) return std::nullopt;
    }
    CpuTotals t;
    for (uint64_t x : v) t.total += x;
    t.idle = v[3] + v[4];
    return t;
}

std::optional<MemTotals> read_mem_totals() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    long value = 0;
    std::string unit;
    long total = -1, available = -1, free_kb = 0, buffers = 0, cached = 0;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemTotal:") total = value;
        if (key == "MemAvailable:") available = value;
        if (key == "MemFree:") free_kb = value;
        if (key == "Buffers:") buffers = value;
        if (key == "Cached:") cached = value;
    }
    if (total <= 0) return std::nullopt;
    MemTotals t;
    t.total_kb = total;
    t.used_kb = total - (available >= 0 ? available : free_kb + buffers + cached);
    return t;
}

std::optional<ProcessMem> read_process_mem(const std::string &pid) {
    std::ifstream in("/proc/" + pid + "/status");
    if (!in) return std::nullopt;
    ProcessMem m;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Name:", 0) == 0) {
            size_t start = line.find_first_not_of(" \t", 5);
            m.name = start == std::string::npos ? "" : line.substr(start);
        } else if (line.rfind("VmRSS:", 0) == 0) {
            m.rss_kb = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return m;
}

std::vector<int> numeric_entries(const std::string &dir) {
    std::vector<int> ids;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return ids;
    while (dirent *e = readdir(d)) {
        char *end = nullptr;
        long id = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && id > 0) ids.push_back(static_cast<int>(id));
    }
    closedir(d);
    return ids;
}

std::string own_process_name() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

}  // namespace pc::diag
