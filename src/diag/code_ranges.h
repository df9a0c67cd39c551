// The mappings of this process, read from /proc/self/maps without stdio or
// allocation, so a signal handler may refresh them: up to 128 executable
// ranges (valid_addr_range, where a stack walk may read code) and up to 128
// readable ones (where it may read stack words).
#pragma once

#include <cstdint>

namespace pc::diag {

inline constexpr unsigned kMaxRanges = 128;

struct AddrRange {
    uintptr_t start;
    uintptr_t end;  // one past the last byte
    char file[64];
};

struct ProcessRanges {
    AddrRange exec[kMaxRanges];
    unsigned exec_count;
    AddrRange readable[kMaxRanges];
    unsigned readable_count;

    bool is_code(uintptr_t addr, unsigned len) const;
    bool is_readable(uintptr_t addr, unsigned len) const;
};

// Reads /proc/self/maps into `out`; false when it cannot be read.
bool load_process_ranges(ProcessRanges &out);

}  // namespace pc::diag
