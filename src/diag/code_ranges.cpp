#include "diag/code_ranges.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace pc::diag {

namespace {

bool within(const AddrRange *ranges, unsigned count, uintptr_t addr, unsigned len) {
    for (unsigned i = 0; i < count; ++i) {
        if (addr >= ranges[i].start && addr + len <= ranges[i].end && addr + len >= addr) return true;
    }
    return false;
}

uintptr_t parse_hex(const char *&p, const char *end) {
    uintptr_t v = 0;
    for (; p < end; ++p) {
        char c = *p;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = v * 16 + static_cast<uintptr_t>(d);
    }
    return v;
}

// One line: "start-end perms offset dev inode   path".
void parse_line(const char *p, const char *end, ProcessRanges &out) {
    AddrRange r{};
    r.start = parse_hex(p, end);
    if (p >= end || *p != '-') return;
    ++p;
    r.end = parse_hex(p, end);
    if (p + 5 > end || *p != ' ') return;
    bool readable = p[1] == 'r';
    bool exec = p[3] == 'x';
    // The path is the text after the fifth field, if any.
    int fields = 0;
    while (p < end && fields < 5) {
        while (p < end && *p == ' ') ++p;
        while (p < end && *p != ' ') ++p;
        ++fields;
    }
    while (p < end && *p == ' ') ++p;
    size_t len = static_cast<size_t>(end - p);
    if (len >= sizeof r.file) len = sizeof r.file - 1;
    std::memcpy(r.file, p, len);
    r.file[len] = '\0';
    if (exec && out.exec_count < kMaxRanges) out.exec[out.exec_count++] = r;
    if (readable && out.readable_count < kMaxRanges) out.readable[out.readable_count++] = r;
}

}  // namespace

bool ProcessRanges::is_code(uintptr_t addr, unsigned len) const {
    return within(exec, exec_count, addr, len);
}
bool ProcessRanges::is_readable(uintptr_t addr, unsigned len) const {
    return within(readable, readable_count, addr, len);
}

bool load_process_ranges(ProcessRanges &out) {
    out.exec_count = 0;
    out.readable_count = 0;
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    char line[512];
    size_t line_len = 0;
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                parse_line(line, line + line_len, out);
                line_len = 0;
            } else if (line_len < sizeof line) {
                line[line_len++] = buf[i];
            }
        }
    }
    if (line_len > 0) parse_line(line, line + line_len, out);
    close(fd);
    return true;
}

}  // namespace pc::diag
